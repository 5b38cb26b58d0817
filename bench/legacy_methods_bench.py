#!/usr/bin/env python3
"""Times the PKZIP 1.x decoders against 7-Zip on the same archives.

For each method one corpus archive whose data is nearly all of that method:
the driver decodes every member from memory with its CRC checked, `7z x -so`
extracts the same archive to /dev/null. Both run as fresh processes, ROUNDS
times each, interleaved; the medians and their ratio are printed. 7-Zip does
not read Reduce, so that line has no peer figure.

  bench/legacy_methods_bench.py [BUILD_DIR] [ROUNDS]
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "native")
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 15
CORPUS = os.environ.get("QUINDO_CORPUS", os.path.join(ROOT, "..", "shared", "corpus"))
PKZIP = os.path.join(CORPUS, "zip-legacy", "pkzip")
CASES = [
    ("shrink", "PKZ80A1.ZIP", True),   # PKZIP 0.80, 8 shrunk members (3.2 MB out)
    ("implode", "PKZ110EI.ZIP", True),  # PKZIP 1.10, 7 imploded, 4 KiB, 2 trees
    ("reduce4", "PKZ80B4.ZIP", False),  # PKZIP 0.80, factor 4
    ("reduce1", "PKZ80B1.ZIP", False),  # PKZIP 0.80, factor 1
]


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def main():
    driver = os.path.join(BUILD, "bench", "legacy_methods_bench")
    if not os.path.exists(driver):
        sys.exit(f"no driver at {driver}: build the bench targets first")
    if not os.path.isdir(PKZIP):
        sys.exit(f"no corpus at {PKZIP}")
    seven = shutil.which("7z")
    print(f"{'method':8} {'archive':13} {'quindo ms':>10} {'7z x ms':>10} {'7z/quindo':>10}")
    for method, name, peer in CASES:
        archive = os.path.join(PKZIP, name)
        ours, theirs = [], []
        for _ in range(ROUNDS):
            ours.append(timed([driver, archive]))
            if peer and seven:
                theirs.append(timed([seven, "x", "-so", "-y", archive]))
        mine = statistics.median(ours) * 1000
        if theirs:
            other = statistics.median(theirs) * 1000
            print(f"{method:8} {name:13} {mine:10.1f} {other:10.1f} {other / mine:10.2f}")
        else:
            print(f"{method:8} {name:13} {mine:10.1f} {'-':>10} {'-':>10}")


if __name__ == "__main__":
    main()
