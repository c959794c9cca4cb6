#!/usr/bin/env bash
# Developer entry point: deps | build [asan] | test [asan] | run | screenshots
#                        | bench [phone|previews|music] | fuzz [SECONDS] | format [check] | package
# CORVANE_WERROR=ON in the environment makes every compiler warning an error (CI sets it).
set -euo pipefail
cd "$(dirname "$0")"

# Every Debian package the project builds, tests or runs with.
PACKAGES=(
    build-essential cmake ninja-build pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    libimobiledevice-dev libplist-dev libimobiledevice6 libplist3
    libsqlite3-dev zlib1g-dev libdeflate-dev libxml2-dev
    libjpeg62-turbo-dev libpng-dev libgif-dev libexif-dev libzip-dev libheif-dev
    libheif-examples
    qt6-base-dev libgl-dev xvfb xauth fonts-dejavu-core
    python3 openssl
    libmpdclient-dev mpd libtag1-dev python3-mutagen
    clang-format
    appstream desktop-file-utils man-db groff-base file dpkg-dev lintian
)
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The screenshots: a window manager, the dark theme, and lossless PNG recompression.
SCREENSHOT_PACKAGES=(openbox adwaita-qt6 optipng)
# The other tools the benchmarks compare against, and what makes their files.
BENCH_PACKAGES=(libjpeg-turbo-progs libimage-exiftool-perl libvips-tools bc libgpod-dev)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

build_dir() {
    case "${1:-normal}" in
        normal) echo build ;;
        asan) echo build-asan ;;
        bench) echo build-bench ;;
        package) echo build-package ;;
        *) echo "unknown build kind: $1 (normal, asan)" >&2; exit 2 ;;
    esac
}

build() {
    local kind="${1:-normal}" dir
    dir=$(build_dir "$kind")
    local flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
    [ "$kind" = asan ] && flags=(-DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON)
    # -O2 as Debian builds its packages (GCC 12 at -O3 warns falsely about string copies), so
    # the benchmarks measure what is shipped.
    [ "$kind" = bench ] && flags=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"
                                  -DCORVANE_TESTS=OFF -DCORVANE_BENCH=ON)
    [ "$kind" = package ] && flags=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"
                                    -DCORVANE_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr)
    flags+=(-DCORVANE_WERROR="${CORVANE_WERROR:-OFF}")
    cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

cli_demo() {
    echo "== Demo disk-mode iPod (demo/ipod)"
    build/corvane-cli devices --device demo/ipod || true
    echo
    echo "== Demo iPhone served by the simulated device (demo/iphone)"
    build/corvane-cli devices --device demo/iphone
    echo
    echo "== Music on the demo iPod"
    build/corvane-cli music list --device demo/ipod
    echo
    echo "== Music on the demo iPhone"
    build/corvane-cli music list --device demo/iphone
    echo
    echo "== Photos on the demo iPod"
    build/corvane-cli photos list --device demo/ipod
    echo
    echo "== Photos on the demo iPhone"
    build/corvane-cli photos list --device demo/iphone
    echo
    echo
    echo "== Export of the demo iPod into demo-export/ipod (music with playlist files and album covers, photos by album, camera roll)"
    rm -rf demo-export demo-previews
    build/corvane-cli music export --device demo/ipod --to demo-export/ipod/Music --scheme 0 --m3u --covers
    build/corvane-cli photos export --device demo/ipod --to demo-export/ipod/Pictures --camera-roll
    echo
    echo "== Export of the demo iPhone into demo-export/iphone"
    build/corvane-cli music export --device demo/iphone --to demo-export/iphone/Music --m3u
    build/corvane-cli photos export --device demo/iphone --to demo-export/iphone/Pictures --camera-roll
    echo
    echo "== Previews as the program shows them, as PNG files in demo-previews/"
    build/corvane-cli photos previews --device demo/ipod --to demo-previews/ipod
    build/corvane-cli photos previews --device demo/iphone --to demo-previews/iphone
    echo
    echo "Exported files:"
    find demo-export -type f | sort
}

# Every C++ file git tracks (or would track), as .clang-format wants it: in place, or with
# "check" only reported, failing on the first file that differs.
format_sources() {
    local files=()
    mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
    [ ${#files[@]} -eq 0 ] && return 0
    if [ "${1:-}" = check ]; then
        clang-format --dry-run -Werror "${files[@]}"
    else
        clang-format -i "${files[@]}"
    fi
}

# The Debian package: what it describes is checked first (AppStream, desktop entry, manual
# pages), then CPack packs the installation; lintian's findings are shown, not fatal.
package() {
    local dir deb page warnings
    dir=$(build_dir package)
    build package
    appstreamcli validate --no-net --pedantic resources/packaging/*.metainfo.xml
    desktop-file-validate resources/corvane.desktop
    for page in docs/man/*.1; do
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
        if [ -n "$warnings" ]; then
            echo "$page: $warnings" >&2
            exit 1
        fi
    done
    rm -f "$dir"/corvane_*.deb
    (cd "$dir" && cpack -G DEB >/dev/null)
    deb=$(ls "$dir"/corvane_*.deb)
    lintian --tag-display-limit 0 "$deb" || true
    echo "Package: $deb"
    echo "Install it with: sudo apt install ./$deb"
}

demo() {
    rm -rf demo
    build/corvane-demo-device demo
}

case "${1:-}" in
    deps)
        install_packages "${PACKAGES[@]}"
        ;;
    build)
        install_packages "${PACKAGES[@]}"
        build "${2:-normal}"
        ;;
    test)
        install_packages "${PACKAGES[@]}"
        kind="${2:-normal}"
        build "$kind"
        export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
        export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
        ctest --test-dir "$(build_dir "$kind")" --output-on-failure -j "$(nproc)"
        ;;
    run)
        install_packages "${PACKAGES[@]}"
        build normal
        demo
        if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
            echo "Starting the desktop program with the demo iPod attached (CORVANE_DEVICE=demo/ipod)."
            echo "Close its window to end; CORVANE_DEVICE=demo/iphone build/corvane serves the demo iPhone."
            CORVANE_DEVICE="$PWD/demo/ipod" build/corvane
        else
            echo "No display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the desktop"
            echo "program cannot open its window; running the command-line demo instead."
            echo "docs/screenshots/ shows the desktop program on the same demo devices."
            echo
            cli_demo
        fi
        ;;
    screenshots)
        install_packages "${PACKAGES[@]}" "${SCREENSHOT_PACKAGES[@]}"
        build normal
        tools/screenshots.sh
        ;;
    bench)
        install_packages "${PACKAGES[@]}"
        install_packages "${BENCH_PACKAGES[@]}" || echo "(the comparisons that need them are skipped)"
        build bench
        if [ "${2:-}" = phone ]; then
            # Copy speed from the emulated iPhone: ./dev.sh bench phone [MEGABYTES] [ROUNDS]
            python3 bench/phone/phone_copy_bench.py build-bench "${@:3}"
        elif [ "${2:-}" = previews ]; then
            # Camera-roll previews against exiftool and vipsthumbnail: ./dev.sh bench previews [ROUNDS]
            bench/camera_previews_vs_exiftool.sh build-bench "${3:-5}"
        elif [ "${2:-}" = music ]; then
            # music list against libgpod's reader only: ./dev.sh bench music [--rounds N] [--tracks ...]
            python3 bench/music_vs_reference.py build-bench "${@:3}"
        else
            build-bench/corvane_bench "${@:2}"
            # The comparisons with the other tools follow a whole run, not one given a filter.
            if [ $# -lt 2 ]; then
                python3 bench/music_vs_reference.py build-bench
                bench/camera_previews_vs_exiftool.sh build-bench 5
            fi
        fi
        ;;
    fuzz)
        install_packages "${PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
        CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCORVANE_TESTS=OFF -DCORVANE_FUZZ=ON -DCORVANE_GUI=OFF \
            -DCORVANE_WERROR="${CORVANE_WERROR:-OFF}" >/dev/null
        cmake --build build-fuzz -j "$(nproc)"
        seconds="${2:-60}"
        for target in build-fuzz/*_fuzz; do
            [ -x "$target" ] || continue
            corpus="fuzz/corpus/$(basename "$target")"
            mkdir -p "$corpus"
            if [ "$seconds" = 0 ]; then
                # Replays the committed corpus once: every crash ever found stays fixed.
                echo "== $(basename "$target"): replaying $corpus"
                "$target" -runs=0 "$corpus"
            else
                echo "== $(basename "$target") for ${seconds}s"
                work=$(mktemp -d)
                "$target" -max_total_time="$seconds" "$work" "$corpus"
                rm -rf "$work"
            fi
        done
        ;;
    format)
        install_packages clang-format
        format_sources "${2:-}"
        ;;
    package)
        install_packages "${PACKAGES[@]}"
        package
        ;;
    *)
        echo "usage: ./dev.sh deps | build [asan] | test [asan] | run | screenshots | bench [phone|music] | fuzz [SECONDS, 0 = replay corpus] | format [check] | package" >&2
        exit 2
        ;;
esac
