#!/usr/bin/env python3
"""Copy speed from an emulated iPhone over the real mobile-device library: the program's
file service against a plain loop of the library's own afc_file_read, on the same 200 MB file.

usage: phone_copy_bench.py BUILD_DIR [MEGABYTES] [ROUNDS]
Prints each side's best time and throughput, and their ratio (program / reference speed).
"""

import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "emulator"))
from phone_fixture import EmulatedPhone  # noqa: E402


def timed(command, env, target, size):
    if os.path.exists(target):
        os.unlink(target)
    started = time.perf_counter()
    subprocess.run(command, env=env, check=True)
    elapsed = time.perf_counter() - started
    assert os.path.getsize(target) == size
    os.unlink(target)
    return elapsed


def best_of_both(folder, device_path, size, build, rounds, work):
    with EmulatedPhone(folder) as phone:
        env = phone.env()
        target = os.path.join(work, "copy.bin")
        sides = {"reference": [os.path.join(build, "corvane_afc_reference"), device_path,
                               target],
                 "program": [os.path.join(build, "corvane_mobile_copy"), device_path, target]}
        # Taken in turns, best of each: the machine's other load hits both alike.
        best = {}
        for _ in range(rounds):
            for side, command in sides.items():
                elapsed = timed(command, env, target, size)
                best[side] = min(best.get(side, elapsed), elapsed)
        return best["reference"], best["program"]


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build-bench"
    megabytes = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    with tempfile.TemporaryDirectory(prefix="corvane-phone-bench-") as work:
        folder = os.path.join(work, "phone")
        os.makedirs(os.path.join(folder, "iTunes_Control", "Music", "F00"))
        device_path = "/iTunes_Control/Music/F00/LONG.m4v"
        with open(folder + device_path, "wb") as f:
            block = os.urandom(1 << 20)
            for _ in range(megabytes):
                f.write(block)
        size = megabytes << 20
        with open(os.path.join(folder, "iTunes_Control", "tiny"), "wb") as f:
            f.write(b"x")
        reference, program = best_of_both(folder, device_path, size, build, rounds, work)
        # Starting the process and the session, measured on a one-byte file.
        reference_setup, program_setup = best_of_both(
            folder, "/iTunes_Control/tiny", 1, build, rounds, work)
    for name, seconds in (("afc_file_read loop", reference), ("file service", program)):
        print("%-20s %6.3f s  %7.1f MB/s" % (name, seconds, megabytes / seconds))
    print("ratio (program speed / reference speed): %.2f (target >= 0.9)" % (reference / program))
    print("start and session alone: %.3f s (reference), %.3f s (program)"
          % (reference_setup, program_setup))
    print("ratio of the copying alone: %.2f"
          % ((reference - reference_setup) / (program - program_setup)))


if __name__ == "__main__":
    main()
