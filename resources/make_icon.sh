#!/usr/bin/env bash
# Draws the program icon: a round amber badge bearing 轉 in blue, 48 x 48 with
# alpha. Drawn at four times the size and scaled down, so the edge is smooth.
# Writes icon.png (window and tray icon), badge.png (the floating badge),
# badge@2x.png (the badge for scaled screens, 96 x 96, brought to the scale) and
# namewheel.ico (the Windows executable's icon) beside this script.
# Needs ImageMagick and fonts-wqy-microhei.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
font=${ICON_FONT:-/usr/share/fonts/truetype/wqy/wqy-microhei.ttc}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 192x192 xc:none \
  \( -size 192x192 radial-gradient:'#ffd54f'-'#f08c00' \) -compose over -composite \
  "$work/gradient.png"
convert -size 192x192 xc:none -fill white -draw 'circle 96,96 96,4' "$work/disc.png"
convert "$work/gradient.png" "$work/disc.png" -compose DstIn -composite \
  -fill none -stroke '#c96a00' -strokewidth 8 -draw 'circle 96,96 96,9' \
  -fill none -stroke '#ffe9a8' -strokewidth 3 -draw 'circle 96,96 96,17' \
  "$work/badge.png"
convert "$work/badge.png" \
  -font "$font" -pointsize 118 -gravity center \
  -fill '#0d3c8c' -annotate +3+1 '轉' \
  -fill '#1565c0' -stroke '#1565c0' -strokewidth 3 -annotate +0-2 '轉' \
  "$work/big.png"
convert "$work/big.png" -filter Lanczos -resize 48x48 -depth 8 -define png:color-type=6 "$here/icon.png"
cp "$here/icon.png" "$here/badge.png"
convert "$work/big.png" -filter Lanczos -resize 96x96 -depth 8 -define png:color-type=6 "$here/badge@2x.png"
convert "$here/icon.png" \( -clone 0 -resize 32x32 \) \( -clone 0 -resize 16x16 \) "$here/namewheel.ico"
