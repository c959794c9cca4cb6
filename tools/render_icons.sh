#!/bin/sh
# Renders the program's icons from resources/icons-src/*.svg to resources/icons/*.png at the
# sizes the program uses. A developer tool: the build uses the committed PNGs.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
src="$root/resources/icons-src"
out="$root/resources/icons"

if ! command -v rsvg-convert >/dev/null 2>&1; then
    echo "rsvg-convert not found: apt-get install librsvg2-bin" >&2
    exit 1
fi

# name width height
sizes="
corvane 256 256
connect-device 240 180
library 20 20
music 20 20
movies 20 20
books 20 20
tones 20 20
playlist 20 20
smart-playlist 20 20
albums 20 20
album 20 20
camera-roll 20 20
mark-red 10 10
mark-green 10 10
mark-blue 10 10
product-music 48 48
product-photo 48 48
product-other 48 48
product 24 24
transfer 24 24
more 24 24
find-next 24 24
folder 16 16
"

mkdir -p "$out"
echo "$sizes" | while read -r name width height; do
    [ -n "$name" ] || continue
    rsvg-convert --width "$width" --height "$height" --output "$out/$name.png" "$src/$name.svg"
    echo "$name.png ${width}x$height"
done
