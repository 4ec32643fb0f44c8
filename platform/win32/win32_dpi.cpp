#include "platform/win32/win32_dpi.h"

#include <string>

#include "platform/win32/gdi.h"

namespace platform::win32 {

namespace {

// A function of a system DLL, or nothing where this Windows lacks it. Never
// imported: Windows 7 would refuse to start a program that names one it has not.
template <typename Function>
Function Lookup(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HMODULE User32() { return GetModuleHandleW(L"user32.dll"); }

// Windows 8.1 and later. Loaded from the system folder by its full name, so
// that a file of that name beside the program is never taken instead.
HMODULE Shcore() {
    static const HMODULE module = [] {
        wchar_t folder[MAX_PATH];
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return HMODULE{};
        const std::wstring path = std::wstring(folder, length) + L"\\shcore.dll";
        return LoadLibraryW(path.c_str());
    }();
    return module;
}

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
using EnableNonClientDpiScalingFunction = BOOL(WINAPI*)(HWND);

constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI: the scale the user chose

// Windows 7 and 8: one DPI for every monitor, fixed until the user logs off.
UINT SystemDpi() {
    const ScreenDcHandle screen(GetDC(nullptr));
    const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : kLayoutDpi;
}

UINT MonitorDpi(HMONITOR monitor) {
    static const auto getDpiForMonitor = Lookup<GetDpiForMonitorFunction>(Shcore(), "GetDpiForMonitor");
    UINT x = 0;
    UINT y = 0;
    if (getDpiForMonitor != nullptr && monitor != nullptr &&
        SUCCEEDED(getDpiForMonitor(monitor, kEffectiveDpi, &x, &y)) && y > 0) {
        return y;
    }
    return SystemDpi();
}

}  // namespace

UINT PrimaryScreenDpi() { return MonitorDpi(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY)); }

UINT WindowDpi(HWND hwnd) {
    static const auto getDpiForWindow = Lookup<GetDpiForWindowFunction>(User32(), "GetDpiForWindow");
    if (getDpiForWindow != nullptr) {
        const UINT dpi = getDpiForWindow(hwnd);
        if (dpi > 0) return dpi;
    }
    return MonitorDpi(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY));
}

SIZE OuterSize(SIZE client, DWORD style, DWORD exStyle, UINT dpi) {
    static const auto adjustForDpi =
        Lookup<AdjustWindowRectExForDpiFunction>(User32(), "AdjustWindowRectExForDpi");
    RECT outer{0, 0, client.cx, client.cy};
    // Before Windows 10 1607 the frame is drawn at the system's DPI whatever
    // the monitor's: that is what AdjustWindowRectEx measures.
    if (adjustForDpi == nullptr || !adjustForDpi(&outer, style, FALSE, exStyle, dpi)) {
        AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    }
    return SIZE{outer.right - outer.left, outer.bottom - outer.top};
}

void ScaleCaptionAndFrame(HWND hwnd) {
    static const auto enable = Lookup<EnableNonClientDpiScalingFunction>(User32(), "EnableNonClientDpiScaling");
    if (enable != nullptr) enable(hwnd);
}

}  // namespace platform::win32
