#!/bin/sh
# Puts namewheel into the desktop's application menu, started from the folder
# this script is in (where its cs.db lives).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
data=${XDG_DATA_HOME:-$HOME/.local/share}
mkdir -p "$data/applications" "$data/icons/hicolor/48x48/apps"
cp "$here/namewheel.png" "$data/icons/hicolor/48x48/apps/namewheel.png"
sed -e "s|^Exec=.*|Exec=\"$here/namewheel\"|" "$here/namewheel.desktop" >"$data/applications/namewheel.desktop"
echo "namewheel is in the application menu now: $data/applications/namewheel.desktop"
