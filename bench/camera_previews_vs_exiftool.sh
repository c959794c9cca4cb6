#!/usr/bin/env bash
# Camera-roll previews against other tools on the same files, in one run.
#   bench/camera_previews_vs_exiftool.sh [BUILD_DIR] [ROUNDS] [BASELINE_CLI]
# Makes a camera roll of 200 JPEG files of 4000 x 3000 (150 with an EXIF thumbnail of
# 160 x 120, 50 with EXIF data but no thumbnail; a quarter of each turned by Orientation 6),
# then times, page cache warm, as whole processes, the median of ROUNDS runs of
#   (a) corvane-cli photos previews of the files as a disk-mode iPod's camera roll,
#   (b) the same as a phone's camera roll (served by the simulated device),
#   (c) exiftool -b -ThumbnailImage over the folder (reading the thumbnails and no more),
#   (d) vipsthumbnail --rotate to the same cell size,
#   (e) BASELINE_CLI, when given: another build of corvane-cli on (a), for "before and after";
#   (f) the time of the build before ranged preview reads on this folder, scaled by (d),
#   (g) like with like: (a) and (c) on a camera roll of only the 150 files with a thumbnail,
#       where both read the same thumbnails and neither decodes a whole picture (on the
#       mixed folder (a) also decodes the 50 big pictures that (c) passes over).
# and prints the times and the ratios. Targets: (a) within 2x of (c); (a) at least 2x faster
# than the build before ranged preview reads. A tool that is not installed is skipped.
# Needs python3 and cjpeg (libjpeg-turbo-progs) and exiftool (libimage-exiftool-perl) to make
# the files.
set -euo pipefail
build="${1:-build}"
rounds="${2:-5}"
baseline="${3:-}"
cli="$build/corvane-cli"
files=200
no_thumb=50
width=4000
height=3000
for tool in python3 cjpeg exiftool "$cli"; do
    command -v "$tool" >/dev/null || { echo "needs $tool to make the camera roll" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ipod="$work/ipod"
phone="$work/phone"
thumbed="$work/thumbed"
mkdir -p "$ipod/iPod_Control/iTunes" "$ipod/DCIM/100APPLE" "$phone/DCIM/100APPLE" "$work/gen" \
    "$thumbed/iPod_Control/iTunes" "$thumbed/DCIM/100APPLE"

# A photo-like picture: smooth shading under fine noise, so that the file is about the size a
# phone's 12 MP JPEG is (3 to 4 MB) and its decoding costs what a real one does.
python3 - "$work/gen" "$width" "$height" <<'PY'
import os, random, sys
out, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(11)
noise = bytes(random.getrandbits(4) for _ in range(w * 3 + 211))
def picture(path, w, h, tint):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h))
        for y in range(h):
            base = 40 + (y * 150) // h
            table = bytes(min(255, base + tint + (v * 3) // 2) for v in range(256))
            off = (y * 37) % 211
            f.write(noise[off:off + w * 3].translate(table))
for k in range(4):
    picture(os.path.join(out, "big%d.ppm" % k), w, h, 10 * k)
picture(os.path.join(out, "small.ppm"), 160, 120, 20)
PY
cjpeg -quality 75 -outfile "$work/gen/thumb.jpg" "$work/gen/small.ppm"
for k in 0 1 2 3; do
    cjpeg -quality 93 -outfile "$work/gen/big$k.jpg" "$work/gen/big$k.ppm"
    rm "$work/gen/big$k.ppm"
    cp "$work/gen/big$k.jpg" "$work/gen/plain$k.jpg"
    orientation=1
    [ "$k" = 3 ] && orientation=6
    exiftool -q -overwrite_original -n -Orientation="$orientation" -Make=Bench -Model=Roll \
        "-ThumbnailImage<=$work/gen/thumb.jpg" "$work/gen/big$k.jpg"
    exiftool -q -overwrite_original -n -Orientation="$orientation" -Make=Bench -Model=Roll \
        "$work/gen/plain$k.jpg"
done
for i in $(seq 1 "$files"); do
    name=$(printf 'IMG_%04d.JPG' "$i")
    if [ "$i" -le $((files - no_thumb)) ]; then
        source="$work/gen/big$((i % 4)).jpg"
        cp "$source" "$thumbed/DCIM/100APPLE/$name"
    else
        source="$work/gen/plain$((i % 4)).jpg"
    fi
    cp "$source" "$ipod/DCIM/100APPLE/$name"
    cp "$source" "$phone/DCIM/100APPLE/$name"
done
bytes=$(du -sb "$ipod/DCIM" | cut -f1)

now() { date +%s.%N; }
# Median seconds of $rounds runs of "$@" after one warm-up run; stdout and stderr dropped.
median() {
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    local times=()
    for _ in $(seq 1 "$rounds"); do
        local start
        start=$(now)
        "$@" >/dev/null 2>&1
        times+=("$(echo "$(now) - $start" | bc)")
    done
    printf '%s\n' "${times[@]}" | sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}
previews() {  # CLI DEVICE: every camera-roll preview of DEVICE as PNG files in a fresh folder
    rm -rf "$work/previews"
    "$1" photos previews --device "$2" --to "$work/previews"
}
exif_thumbnails() {  # [DEVICE]
    rm -rf "$work/thumbs" && mkdir "$work/thumbs"
    exiftool -q -b -ThumbnailImage -w "$work/thumbs/%f.jpg" "${1:-$ipod}/DCIM/100APPLE"
}
vips_previews() {
    rm -rf "$work/vips" && mkdir "$work/vips"
    vipsthumbnail --rotate -s 120 -o "$work/vips/%s.jpg" "$ipod"/DCIM/100APPLE/*.JPG
}

printf 'camera roll: %d JPEG files of %dx%d, %d without an EXIF thumbnail, %d MB; median of %d\n' \
    "$files" "$width" "$height" "$no_thumb" $((bytes / 1000000)) "$rounds"
disk=$(median previews "$cli" "$ipod")
written=$(find "$work/previews" -name '*.png' | wc -l)
[ "$written" -eq "$files" ] || { echo "previews: $written of $files written" >&2; exit 1; }
phone_time=$(median previews "$cli" "$phone")
exif=$(median exif_thumbnails)
thumbs=$(find "$work/thumbs" -name '*.jpg' | wc -l)
printf 'corvane-cli photos previews, disk mode:    %6.2f s\n' "$disk"
printf 'corvane-cli photos previews, phone:        %6.2f s\n' "$phone_time"
printf 'exiftool -b -ThumbnailImage (%d thumbnails): %6.2f s   corvane disk mode is %.2fx of it (target <= 2)\n' \
    "$thumbs" "$exif" "$(echo "$disk / $exif" | bc -l)"
thumbed_disk=$(median previews "$cli" "$thumbed")
thumbed_exif=$(median exif_thumbnails "$thumbed")
printf 'like with like, the %d files with a thumbnail: corvane %.2f s, exiftool %.2f s   corvane is %.2fx of it\n' \
    "$((files - no_thumb))" "$thumbed_disk" "$thumbed_exif" "$(echo "$thumbed_disk / $thumbed_exif" | bc -l)"
if command -v vipsthumbnail >/dev/null; then
    vips=$(median vips_previews)
    printf 'vipsthumbnail --rotate -s 120:             %6.2f s   corvane disk mode is %.2fx faster\n' \
        "$vips" "$(echo "$vips / $disk" | bc -l)"
else
    echo "vipsthumbnail: not installed (libvips-tools), comparison skipped"
fi
if [ -n "${vips:-}" ]; then
    # The whole-file build took 2.27 s on this folder while
    # vipsthumbnail took 8.74 s; scaled by vipsthumbnail's time now, for a machine as loaded.
    before=$(echo "2.27 * $vips / 8.74" | bc -l)
    printf 'whole-file reads (2.27 s when vips took 8.74 s), now %6.2f s   this build is %.2fx faster (target >= 2)\n' \
        "$before" "$(echo "$before / $disk" | bc -l)"
fi
if [ -n "$baseline" ]; then
    before=$(median previews "$baseline" "$ipod")
    printf 'baseline %s, disk mode: %6.2f s   this build is %.2fx faster (target >= 2)\n' \
        "$baseline" "$before" "$(echo "$before / $disk" | bc -l)"
fi
