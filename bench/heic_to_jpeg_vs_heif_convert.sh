#!/usr/bin/env bash
# HEIC to JPEG export against heif-convert alone on the same files, in one run.
#   bench/heic_to_jpeg_vs_heif_convert.sh [BUILD_DIR] [FILES] [WIDTH] [HEIGHT]
# Makes FILES camera pictures of WIDTH x HEIGHT (heif-enc), then times
#   (a) heif-convert on each file (JPEG quality 90, its default) and
#   (b) corvane-cli photos export --heic-to-jpeg of the same files as a phone's camera roll
#       (served by the simulated device, so the copy off the device is counted too),
# and prints both times and their ratio. Target: (b) at most 1.2 times (a).
set -euo pipefail
build="${1:-build}"
files="${2:-12}"
width="${3:-4032}"
height="${4:-3024}"
cli="$build/corvane-cli"
for tool in heif-enc heif-convert python3 "$cli"; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/phone/DCIM/100APPLE" "$work/convert" "$work/export"

# A picture with detail everywhere, as a photo has, so that neither encoder gets it cheap.
python3 - "$work/source.png" "$width" "$height" <<'PY'
import struct, sys, zlib, random
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(7)
rows = bytearray()
noise = bytes(random.getrandbits(8) for _ in range(w * 3 + 97))
for y in range(h):
    rows.append(0)
    off = (y * 31) % 97
    line = bytearray(noise[off:off + w * 3])
    for x in range(0, w * 3, 3):
        line[x] = (line[x] // 4 + (x // 3 + y) // 16) & 255
    rows += line
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(bytes(rows), 1)) + chunk(b"IEND", b"")
open(path, "wb").write(png)
PY
heif-enc -q 80 -o "$work/one.heic" "$work/source.png" >/dev/null
for i in $(seq -w 1 "$files"); do
    cp "$work/one.heic" "$work/phone/DCIM/100APPLE/IMG_00$i.HEIC"
done

now() { date +%s.%N; }
start=$(now)
for f in "$work"/phone/DCIM/100APPLE/*.HEIC; do
    heif-convert "$f" "$work/convert/$(basename "${f%.*}").jpg" >/dev/null
done
reference=$(echo "$(now) - $start" | bc)

start=$(now)
"$cli" photos export --device "$work/phone" --camera-roll --heic-to-jpeg --flat \
    --to "$work/export" >/dev/null
ours=$(echo "$(now) - $start" | bc)

written=$(find "$work/export" -name '*.jpg' | wc -l)
[ "$written" -eq "$files" ] || { echo "export wrote $written of $files JPEG files" >&2; exit 1; }
printf 'files: %d of %dx%d\nheif-convert: %.2f s\ncorvane-cli export: %.2f s\nratio: %.2f\n' \
    "$files" "$width" "$height" "$reference" "$ours" "$(echo "$ours / $reference" | bc -l)"
