#!/usr/bin/env python3
"""`corvane-cli music list --json` against libgpod's reader dumping the same fields as JSON
(bench/reference/itdb_reference.c), on libgpod-written libraries of 50,000 and 200,000 tracks
with 201 playlists, plain (iTunesDB) and compressed (iTunesCDB), in one run.

usage: music_vs_reference.py [BUILD_DIR] [--rounds N] [--tracks 50000,200000]

Whole processes with a warm page cache, taken in turns (the machine's other load hits both
alike); medians of wall time and of CPU time (user + system), and the peak resident set of
each (the kernel's figure for the finished child, the one /usr/bin/time -v prints). The
libraries are written once into BUILD_DIR/music-libraries and kept. A child's peak resident
set starts from its parent's, so this script's own large steps (compressing, comparing the
two outputs) run in forked children and leave it small. Without libgpod (Debian:
libgpod-dev) or a C compiler the comparison is skipped with a message.
"""

import argparse
import json
import os
import shutil
import statistics
import struct
import subprocess
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
REFERENCE_SOURCE = os.path.join(HERE, "reference", "itdb_reference.c")
PLAYLISTS = 200  # besides the master playlist
ENTRIES = 750  # per playlist
TARGETS = {"iTunesDB": 4.0, "iTunesCDB": 3.0}  # times faster than the reference
GROWTH_SLACK = 1.10  # 200,000 tracks may take at most 4 x 1.10 the time of 50,000
MEMORY_ALLOWANCE = 1.60  # peak resident set per byte of (inflated) database


def skip(reason):
    print(f"music list against libgpod: skipped, {reason}")
    sys.exit(0)


def build_reference(build):
    if shutil.which("pkg-config") is None or subprocess.run(
            ["pkg-config", "--exists", "libgpod-1.0"]).returncode != 0:
        skip("libgpod is not installed (apt-get install libgpod-dev)")
    compiler = shutil.which("cc") or shutil.which("gcc")
    if compiler is None:
        skip("no C compiler")
    binary = os.path.join(build, "itdb_reference")
    if (not os.path.exists(binary)
            or os.path.getmtime(binary) < os.path.getmtime(REFERENCE_SOURCE)):
        flags = subprocess.run(["pkg-config", "--cflags", "--libs", "libgpod-1.0"],
                               check=True, capture_output=True, text=True).stdout.split()
        subprocess.run([compiler, "-O2", "-o", binary, REFERENCE_SOURCE] + flags, check=True)
    return binary


def compress(plain_path, compressed_path):
    """The iTunesCDB form: the mhbd header as it stands (its byte 0xA8 set to 1, which marks a
    compressed database for libgpod), then the data sets as one zlib stream."""
    with open(plain_path, "rb") as source:
        data = bytearray(source.read())
    header_length = struct.unpack_from("<I", data, 4)[0]
    data[0xA8] = 1
    with open(compressed_path + ".part", "wb") as target:
        target.write(bytes(data[:header_length]))
        target.write(zlib.compress(bytes(data[header_length:]), 6))
    os.replace(compressed_path + ".part", compressed_path)
    return True


def libraries(build, reference, tracks):
    """The device folders of one size: {"iTunesDB": folder, "iTunesCDB": folder}."""
    root = os.path.join(build, "music-libraries")
    plain = os.path.join(root, f"plain-{tracks}-{PLAYLISTS}-{ENTRIES}")
    packed = os.path.join(root, f"compressed-{tracks}-{PLAYLISTS}-{ENTRIES}")
    plain_db = os.path.join(plain, "iPod_Control", "iTunes", "iTunesDB")
    packed_db = os.path.join(packed, "iPod_Control", "iTunes", "iTunesCDB")
    if not os.path.exists(plain_db):
        print(f"writing a {tracks}-track library with libgpod ...", flush=True)
        os.makedirs(os.path.dirname(plain_db), exist_ok=True)
        subprocess.run([reference, "write", plain, str(tracks), str(PLAYLISTS), str(ENTRIES)],
                       check=True)
    if not os.path.exists(packed_db):
        os.makedirs(os.path.dirname(packed_db), exist_ok=True)
        if in_child(compress, plain_db, packed_db) != 0:
            raise SystemExit(f"could not write {packed_db}")
    return {"iTunesDB": plain, "iTunesCDB": packed}, os.path.getsize(plain_db)


def in_child(function, *args):
    """function(*args) in a forked process, whose memory goes with it: a child's peak resident
    set counts its parent's from before the exec, so this process stays small for the figures
    of the processes it measures."""
    pid = os.fork()
    if pid == 0:
        code = 2
        try:
            code = 0 if function(*args) else 1
        finally:
            os._exit(code)
    _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status)


def run(command):
    """Wall seconds, CPU seconds and peak resident set (bytes) of one whole process."""
    with open(os.devnull, "wb") as sink:
        started = time.perf_counter()
        process = subprocess.Popen(command, stdout=sink, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - started
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise SystemExit(f"{' '.join(command)} failed ({process.returncode})")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss * 1024


def same_output(ours, theirs):
    """Both sides print the same library (the log text is ours alone)."""
    mine = json.loads(subprocess.run(ours, check=True, capture_output=True).stdout)
    other = json.loads(subprocess.run(theirs, check=True, capture_output=True).stdout)
    other["log"] = mine["log"]
    return mine == other


def measure(commands, rounds):
    samples = {side: [] for side in commands}
    for side, command in commands.items():
        run(command)  # the page cache warm, the libraries loaded once
    for index in range(rounds):
        order = list(commands) if index % 2 == 0 else list(reversed(commands))
        for side in order:
            samples[side].append(run(commands[side]))
    return {side: (statistics.median(s[0] for s in values),
                   statistics.median(s[1] for s in values),
                   max(s[2] for s in values)) for side, values in samples.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build-bench")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--tracks", default="50000,200000")
    args = parser.parse_args()
    cli = os.path.join(args.build, "corvane-cli")
    if not os.path.exists(cli):
        raise SystemExit(f"{cli} is missing: build first")
    reference = build_reference(args.build)
    sizes = [int(n) for n in args.tracks.split(",")]

    results = {}
    for tracks in sizes:
        folders, plain_size = libraries(args.build, reference, tracks)
        for kind, folder in folders.items():
            ours = [cli, "music", "list", "--json", "--device", folder]
            theirs = [reference, "dump", folder]
            if in_child(same_output, ours, theirs) != 0:
                raise SystemExit(f"the two readers disagree on {folder}")
            results[(tracks, kind)] = measure({"corvane": ours, "libgpod": theirs},
                                              args.rounds), plain_size

    print(f"\nmusic list --json against libgpod: medians of {args.rounds} runs each, warm")
    print(f"{'library':<26} {'Corvane':>16} {'libgpod':>16} {'faster':>7} {'target':>7}"
          f" {'peak RSS':>9} {'DB':>7} {'RSS/DB':>7}")
    misses = []
    for (tracks, kind), (sides, plain_size) in results.items():
        ours, theirs = sides["corvane"], sides["libgpod"]
        ratio = theirs[0] / ours[0]
        rss = ours[2] / plain_size
        target = TARGETS[kind] if tracks == sizes[0] else None
        print(f"{tracks:>7,} tracks, {kind:<10} {ours[0]:7.3f}s ({ours[1]:.3f})"
              f" {theirs[0]:7.3f}s ({theirs[1]:.3f}) {ratio:6.2f}x"
              f" {(f'{target:.0f}x' if target else '-'):>7} {ours[2] / 2**20:7.0f}MB"
              f" {plain_size / 2**20:5.0f}MB {rss:6.2f}x")
        print(f"{'':<26} {'libgpod peak RSS':>33} {theirs[2] / 2**20:.0f}MB")
        if target and ratio < target:
            misses.append(f"{kind} {ratio:.2f}x faster, target {target:.0f}x")
        if rss > MEMORY_ALLOWANCE:
            misses.append(f"{tracks} {kind}: peak RSS {rss:.2f}x the database")
    print("(wall time, CPU time in parentheses; RSS/DB: Corvane's peak resident set per byte"
          " of the plain or inflated database)")
    if len(sizes) > 1:
        small, large = sizes[0], sizes[-1]
        for kind in TARGETS:
            growth = results[(large, kind)][0]["corvane"][0] / results[(small, kind)][0][
                "corvane"][0]
            linear = large / small
            print(f"growth {small:,} -> {large:,} tracks, {kind}: {growth:.2f}x the time for"
                  f" {linear:.0f}x the tracks ({growth / linear:.2f} of linear)")
            if growth > linear * GROWTH_SLACK:
                misses.append(f"{kind} grows {growth / linear:.2f} of linear")
    print("targets met" if not misses else "targets missed: " + "; ".join(misses))


if __name__ == "__main__":
    main()
