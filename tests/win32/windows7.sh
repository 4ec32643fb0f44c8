#!/bin/bash
# Checks that a Windows executable asks nothing of Windows that Windows 7 SP1
# lacks: the PE header's system versions, the DLLs it imports (all present on
# Windows 7, none of the api-ms-win-* sets) and no function from the list of
# those that came with Windows 8 or later in the DLLs it may import.
#   windows7.sh FILE.exe OBJDUMP
# Prints one PASS or FAIL line per check; exits non-zero on a FAIL.
set -uo pipefail
# shellcheck source=scripts/desktop.sh
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/desktop.sh"
exe=$1
objdump=$2

header=$("$objdump" -p "$exe") || die "$objdump cannot read $exe"
name=$(basename "$exe")

# Windows refuses to start a program whose header asks for a later system.
version_of() { awk -v key="$1" '$1 == key { print $2; exit }' <<<"$header"; }
for kind in OSystem Subsystem; do
    major=$(version_of "Major${kind}Version")
    minor=$(version_of "Minor${kind}Version")
    if [[ -z $major || -z $minor ]]; then
        fail "$name: no ${kind} version in the PE header"
    elif ((10#$major < 6 || (10#$major == 6 && 10#$minor <= 1))); then
        pass "$name: ${kind} version $major.$minor is at most Windows 7's 6.1"
    else
        fail "$name: ${kind} version $major.$minor is later than Windows 7's 6.1"
    fi
done

# DLL!function, one a line, from the import tables.
imports=$(awk '
    /^[[:space:]]*DLL Name:/ { dll = tolower($3); next }
    /^[[:space:]]*$/ { dll = "" }
    dll != "" && NF >= 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print dll "!" $3 }
' <<<"$header" | sort -u)
dlls=$(cut -d'!' -f1 <<<"$imports" | sort -u | tr '\n' ' ')

# Every one of these is part of Windows 7 SP1.
unexpected=
for dll in $dlls; do
    case $dll in
        kernel32.dll | user32.dll | gdi32.dll | shell32.dll | comctl32.dll | comdlg32.dll | ole32.dll | oleaut32.dll | \
            msvcrt.dll | advapi32.dll | windowscodecs.dll | version.dll | msimg32.dll | winmm.dll | shlwapi.dll | uuid.dll) ;;
        *) unexpected+="$dll " ;;
    esac
done
if [[ -n $dlls && -z $unexpected ]]; then
    pass "$name: imports $(wc -l <<<"$imports") functions from DLLs that Windows 7 has: $dlls"
else
    fail "$name: imports from DLLs Windows 7 may lack: ${unexpected:-(no imports found)}"
fi

# Functions of these DLLs that Windows 8, 8.1, 10 or 11 brought: the ones a
# C++ runtime, a threads library or desktop code is likely to reach for.
later='
kernel32.dll!AddDllDirectory kernel32.dll!RemoveDllDirectory kernel32.dll!SetDefaultDllDirectories
kernel32.dll!GetSystemTimePreciseAsFileTime kernel32.dll!CreateFile2 kernel32.dll!CopyFile2
kernel32.dll!GetOverlappedResultEx kernel32.dll!PrefetchVirtualMemory kernel32.dll!GetCurrentThreadStackLimits
kernel32.dll!SetThreadInformation kernel32.dll!GetThreadInformation kernel32.dll!SetProcessInformation
kernel32.dll!GetProcessInformation kernel32.dll!SetThreadDescription kernel32.dll!GetThreadDescription
kernel32.dll!WaitOnAddress kernel32.dll!WakeByAddressSingle kernel32.dll!WakeByAddressAll
kernel32.dll!InitializeSynchronizationBarrier kernel32.dll!EnterSynchronizationBarrier
kernel32.dll!DeleteSynchronizationBarrier kernel32.dll!CreateFileMappingFromApp kernel32.dll!MapViewOfFileFromApp
kernel32.dll!VirtualAllocFromApp kernel32.dll!VirtualAlloc2 kernel32.dll!MapViewOfFile3
kernel32.dll!GetCurrentPackageId kernel32.dll!GetCurrentPackageFullName kernel32.dll!GetPackageFamilyName
kernel32.dll!GetFirmwareType kernel32.dll!GetSystemCpuSetInformation kernel32.dll!SetThreadSelectedCpuSets
kernel32.dll!QueryInterruptTime kernel32.dll!QueryInterruptTimePrecise kernel32.dll!QueryUnbiasedInterruptTimePrecise
kernel32.dll!GetSystemTimeAdjustmentPrecise kernel32.dll!GetFileInformationByName kernel32.dll!GetTempPath2W
kernel32.dll!GetTempPath2A kernel32.dll!CreatePseudoConsole kernel32.dll!SetProcessMitigationPolicy
kernel32.dll!GetProcessMitigationPolicy kernel32.dll!GetNumaNodeProcessorMask2
user32.dll!GetDpiForWindow user32.dll!GetDpiForSystem user32.dll!SetProcessDpiAwarenessContext
user32.dll!SetThreadDpiAwarenessContext user32.dll!GetThreadDpiAwarenessContext user32.dll!GetWindowDpiAwarenessContext
user32.dll!AreDpiAwarenessContextsEqual user32.dll!GetAwarenessFromDpiAwarenessContext
user32.dll!AdjustWindowRectExForDpi user32.dll!GetSystemMetricsForDpi user32.dll!SystemParametersInfoForDpi
user32.dll!EnableNonClientDpiScaling user32.dll!GetPointerType user32.dll!GetPointerInfo
user32.dll!EnableMouseInPointer user32.dll!IsMouseInPointerEnabled user32.dll!GetCurrentInputMessageSource
user32.dll!GetDisplayAutoRotationPreferences user32.dll!SetDisplayAutoRotationPreferences
user32.dll!IsImmersiveProcess user32.dll!RegisterTouchHitTestingWindow user32.dll!GetDialogDpiChangeBehavior
user32.dll!SetDialogDpiChangeBehavior user32.dll!LogicalToPhysicalPointForPerMonitorDPI
ole32.dll!CoIncrementMTAUsage ole32.dll!CoDecrementMTAUsage ole32.dll!RoGetAgileReference
gdi32.dll!D3DKMTOpenAdapterFromLuid
'
found=
for entry in $later; do
    grep -qixF "$entry" <<<"$imports" && found+="$entry "
done
if [[ -z $found ]]; then
    pass "$name: none of the functions that came after Windows 7"
else
    fail "$name: imports functions Windows 7 lacks: $found"
fi
finish
