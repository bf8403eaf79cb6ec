#!/bin/bash
# Regenerates the application icon: orvik-updater.ico (for the .exe) and icons/*.png (hicolor theme).
# Usage: resources/make-icon.sh   (needs ImageMagick 6 at /usr/bin/convert)
set -euo pipefail

# /usr/local/bin may hold a wrapper that is not ImageMagick; use the real one.
CONVERT=${CONVERT:-/usr/bin/convert}
cd "$(dirname "$0")"
mkdir -p icons

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
master=$work/master.png

# Drawn once at 1024 so every size is a clean downscale: dark rounded tile,
# teal chip with pins, white arrow into a bar ("write to device").
teal='#2ec4b6'
pins=""
for c in 344 456 568 680; do
    pins+=" rectangle $((c - 24)),196 $((c + 23)),271"   # top
    pins+=" rectangle $((c - 24)),752 $((c + 23)),827"   # bottom
    pins+=" rectangle 196,$((c - 24)) 271,$((c + 23))"   # left
    pins+=" rectangle 752,$((c - 24)) 827,$((c + 23))"   # right
done
"$CONVERT" -size 1024x1024 xc:none \
    -fill '#1b2230' -draw 'roundrectangle 32,32 991,991 200,200' \
    -fill "$teal" -draw "$pins" \
    -fill '#24303f' -stroke "$teal" -strokewidth 40 \
    -draw 'roundrectangle 272,272 751,751 56,56' \
    -stroke none -fill white \
    -draw 'rectangle 474,330 549,530' \
    -draw 'polygon 372,512 651,512 512,652' \
    -draw 'roundrectangle 372,674 651,714 20,20' \
    "$master"

sizes=(16 32 48 72 128 256)
for n in "${sizes[@]}"; do
    # No timestamps or other metadata, so regenerating gives identical files.
    "$CONVERT" "$master" -filter Lanczos -resize "${n}x${n}" -strip \
        -define png:exclude-chunks=date,time "PNG32:icons/orvik-updater-$n.png"
done

# ImageMagick stores an entry as PNG only at 256 and above, so 16..128 become
# 32-bit BMP/DIB (-type TrueColorAlpha keeps alpha and prevents a palette).
pngs=()
for n in "${sizes[@]}"; do pngs+=("icons/orvik-updater-$n.png"); done
"$CONVERT" "${pngs[@]}" -type TrueColorAlpha orvik-updater.ico

echo "wrote $(pwd)/orvik-updater.ico and icons/orvik-updater-{$(IFS=,; echo "${sizes[*]}")}.png"
