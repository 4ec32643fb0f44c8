#!/usr/bin/env bash
# Runs an end-to-end script on the program of the unpacked release archive.
# Skipped when there is none: the archive could not be built on this machine
# (release.portable.archive says why).
#   portable.sh SCRIPT PATH/TO/unpacked/namewheel [ARGUMENT...]
if [ ! -x "$2" ]; then
    echo "SKIP: no unpacked release archive at $2 (see release.portable.archive)"
    exit 77
fi
NAMEWHEEL_EXE=$2 exec bash "$1" "${@:2}"
