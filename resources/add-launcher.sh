#!/bin/sh
# Puts namewheel into the desktop's application menu, started from the folder
# this script is in (where its cs.db lives).
#   add-launcher.sh                 the application menu
#   add-launcher.sh --autostart     the menu, and the program starts with the
#                                   desktop session (an XDG autostart entry)
#   add-launcher.sh --no-autostart  it no longer starts with the session
# Run it again after moving the folder.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
data=${XDG_DATA_HOME:-$HOME/.local/share}
autostart=${XDG_CONFIG_HOME:-$HOME/.config}/autostart/namewheel.desktop

usage() {
    echo "usage: $0 [--autostart | --no-autostart]" >&2
    exit 2
}

# The program's path as one argument of an Exec line: quoted, with the
# characters that are special inside the quotes escaped, then every backslash
# doubled as the file's string values want, and % doubled for the field codes.
exec_line() {
    printf '%s' "$1" | sed -e 's/[\\"`$]/\\&/g' -e 's/\\/\\\\/g' -e 's/%/%%/g' -e 's/^/Exec="/' -e 's/$/"/'
}

# entry FILE: the launcher as a desktop entry that starts this folder's program.
entry() {
    mkdir -p "$(dirname "$1")"
    {
        grep -v '^Exec=' "$here/namewheel.desktop"
        exec_line "$here/namewheel"
        echo
    } >"$1.tmp"
    mv "$1.tmp" "$1"
}

case "${1:-}" in
    "" | --autostart) ;;
    --no-autostart)
        [ $# -eq 1 ] || usage
        rm -f "$autostart"
        echo "namewheel no longer starts with the desktop session"
        exit 0
        ;;
    *) usage ;;
esac
[ $# -le 1 ] || usage

mkdir -p "$data/icons/hicolor/48x48/apps"
cp "$here/namewheel.png" "$data/icons/hicolor/48x48/apps/namewheel.png"
entry "$data/applications/namewheel.desktop"
echo "namewheel is in the application menu now: $data/applications/namewheel.desktop"
if [ "${1:-}" = --autostart ]; then
    entry "$autostart"
    echo "namewheel starts with the desktop session now: $autostart"
fi
