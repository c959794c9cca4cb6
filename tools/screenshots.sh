#!/usr/bin/env bash
# Takes the pictures of the desktop program shown in the README (docs/screenshots/): the
# program walks through its windows by itself under a virtual X display with a window manager,
# with the demo devices attached, and saves each window as it looks then. Settings go to a
# throw-away folder. Three looks: the light theme (Fusion) on a 1366 x 768 screen, the dark
# theme (Adwaita-Dark) and twice the scale on a 1920 x 1080 screen ("-dark", "-2x" pictures).
set -euo pipefail
cd "$(dirname "$0")/.."

out="${1:-docs/screenshots}"
[ -x build/corvane ] || { echo "build first: ./dev.sh build" >&2; exit 2; }
mkdir -p "$out"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Demo devices written by this build, so that the pictures show what it reads.
build/corvane-demo-device "$work/demo" >/dev/null
demo="$work/demo"

# walk NAME DEVICE STYLE SCALE SCREEN DIR: one walk of the program, its pictures into DIR.
walk() {
    local name="$1" device="$2" style="$3" scale="$4" screen="$5" dir="$6"
    echo "== $name ($style, scale $scale, screen $screen)"
    mkdir -p "$dir" "$work/config"
    XDG_CONFIG_HOME="$work/config" CORVANE_DEVICE="$device" QT_STYLE_OVERRIDE="$style" \
        QT_SCALE_FACTOR="$scale" \
        xvfb-run -a -s "-screen 0 ${screen}x24 -dpi 96" \
        sh -c 'openbox >/dev/null 2>&1 & wm=$!; sleep 0.5; "$@"; status=$?; kill $wm; exit $status' \
        sh build/corvane --screenshot-tour "$name" "$dir"
}

# The light theme: every window of the walks.
light="$work/light"
walk idle "" Fusion 1 1366x768 "$light"
walk music "$demo/ipod" Fusion 1 1366x768 "$light"
walk photo "$demo/ipod" Fusion 1 1366x768 "$light"
walk photo-iphone "$demo/iphone" Fusion 1 1366x768 "$light"
cp "$light"/*.png "$out"/

# The dark theme and twice the scale: the two views and the dialogs that show their colours.
for look in dark 2x; do
    style=Fusion scale=1 screen=1366x768
    [ "$look" = dark ] && style=Adwaita-Dark
    [ "$look" = 2x ] && scale=2 screen=1920x1080
    dir="$work/$look"
    walk music "$demo/ipod" "$style" "$scale" "$screen" "$dir"
    walk photo "$demo/ipod" "$style" "$scale" "$screen" "$dir"
    pictures=(music-view photo-view)
    [ "$look" = dark ] && pictures+=(options-music progress-done)
    for picture in "${pictures[@]}"; do
        cp "$dir/$picture.png" "$out/$picture-$look.png"
    done
done

# Lossless recompression: the pictures go into the repository.
if command -v optipng >/dev/null; then
    optipng -quiet -o2 -strip all "$out"/*.png
fi
echo "Pictures in $out:"
ls -1s "$out"
