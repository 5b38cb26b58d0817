#!/usr/bin/env python3
"""Times the Deflate64 decoder against 7-Zip on the same archive.

Builds a sample (the system's libraries, include and documentation trees as
one tar stream, cut to SIZE_MB, 100 by default), packs it with
`7z a -tzip -mm=Deflate64`, then runs the driver (reads the archive, decodes
every member in memory, CRC checked) and `7z x -so` into /dev/null as fresh
processes,
ROUNDS times each, interleaved, on tmpfs and on disk. Prints the medians of
wall and CPU time and their ratios.

  bench/inflate64_bench.py [BUILD_DIR] [ROUNDS] [SIZE_MB]
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "native")
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 7
SIZE_MB = int(sys.argv[3]) if len(sys.argv) > 3 else 100
TREES = ["/usr/lib/x86_64-linux-gnu", "/usr/include", "/usr/share/doc"]


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(command):
    """Wall and CPU seconds of one run (CPU time is steadier on a shared machine)."""
    cpu = cpu_seconds()
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start, cpu_seconds() - cpu


def make_archive(folder):
    sample = os.path.join(folder, "sample.tar")
    trees = [t for t in TREES if os.path.isdir(t)]
    with open(sample, "wb") as out:
        tar = subprocess.Popen(["tar", "cf", "-"] + trees, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        left = SIZE_MB << 20
        while left > 0:
            chunk = tar.stdout.read(min(left, 1 << 20))
            if not chunk:
                break
            out.write(chunk)
            left -= len(chunk)
        tar.kill()
        tar.wait()
    archive = os.path.join(folder, "sample.zip")
    subprocess.run(["7z", "a", "-tzip", "-mm=Deflate64", archive, sample],
                   stdout=subprocess.DEVNULL, check=True)
    os.remove(sample)
    return archive


def main():
    driver = os.path.join(BUILD, "bench", "inflate64_bench")
    if not os.path.exists(driver):
        sys.exit(f"no driver at {driver}: build the bench targets first")
    if not shutil.which("7z"):
        sys.exit("7z is missing")
    places = [("tmpfs", "/dev/shm"), ("disk", tempfile.gettempdir())]
    print(f"{'where':6} {'archive MB':>10} {'quindo ms':>10} {'7z x ms':>10} {'quindo/7z':>10}"
          f" {'quindo cpu':>10} {'7z cpu':>10} {'cpu ratio':>10}")
    for label, parent in places:
        if not os.path.isdir(parent):
            continue
        folder = tempfile.mkdtemp(prefix="quindo-inflate64-", dir=parent)
        try:
            archive = make_archive(folder)
            subprocess.run([driver, archive], stdout=subprocess.DEVNULL, check=True)  # decodes right
            ours, theirs = [], []
            for i in range(ROUNDS):
                pair = [(ours, [driver, archive]), (theirs, ["7z", "x", "-so", archive])]
                for times, command in (pair if i % 2 == 0 else pair[::-1]):
                    times.append(timed(command))
            mine = statistics.median(t[0] for t in ours) * 1000
            other = statistics.median(t[0] for t in theirs) * 1000
            mine_cpu = statistics.median(t[1] for t in ours) * 1000
            other_cpu = statistics.median(t[1] for t in theirs) * 1000
            size = os.path.getsize(archive) / 1e6
            print(f"{label:6} {size:10.1f} {mine:10.0f} {other:10.0f} {mine / other:10.2f}"
                  f" {mine_cpu:10.0f} {other_cpu:10.0f} {mine_cpu / other_cpu:10.2f}")
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
