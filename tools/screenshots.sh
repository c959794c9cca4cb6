#!/usr/bin/env bash
# Takes the pictures of the desktop program shown in the README (docs/screenshots/): the
# program walks through its windows by itself under a virtual X display, with the demo devices
# attached, and saves each window as it looks then. Settings go to a throw-away folder.
set -euo pipefail
cd "$(dirname "$0")/.."

out="${1:-docs/screenshots}"
[ -x build/corvane ] || { echo "build first: ./dev.sh build" >&2; exit 2; }
[ -d demo/ipod ] || build/corvane-demo-device demo
mkdir -p "$out"

config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT

walk() {
    local name="$1" device="$2"
    echo "== $name"
    XDG_CONFIG_HOME="$config" CORVANE_DEVICE="$device" \
        xvfb-run -a -s "-screen 0 1440x1000x24 -dpi 96" \
        build/corvane --screenshot-tour "$name" "$out"
}

walk idle ""
walk music "$PWD/demo/ipod"
walk photo "$PWD/demo/ipod"
walk photo-iphone "$PWD/demo/iphone"
echo "Pictures in $out:"
ls -1 "$out"
