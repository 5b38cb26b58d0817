#!/usr/bin/env python3
"""Compressing with every core: `quindo` at its normal level (ZIP_LEVEL 1,
DEFLATE level 6, THREADS 0 = every core) against `zip -6` and `7z a -tzip
-mx5` (on the tree) on the same input, in the same run, on a RAM disk (tmpfs) and on the
ordinary disk.

Two inputs: a copy of a tree (the system's C include tree by default) and one
large file (cc1plus concatenated with itself eight times, then random bytes up
to 300 MB). The tree is copied with its symbolic links resolved: zip follows
a link to a folder and quindo stores it as an empty folder, so only a tree
without links gives both the same input. Each tool runs once to warm the file
cache, then the tools take turns for the given number of rounds. Reported per
place and input: the median wall time of each tool, the ratios of quindo's
time and archive size to each peer's, and quindo's peak resident memory as
/usr/bin/time -v measures it, against 16 MiB plus 8 MiB per thread.

    bench/compress_bench.py [--quindo build/native/quindo] [--tree /usr/include]
                            [--rounds 5] [--places tmpfs,disk] [--inputs tree,big]

Targets: on the tree, time at most 0.33 of zip's and size at most 1.0 of
zip's; on the large file, time at most 0.45 and size at most 1.005 of zip's;
peak memory within the limit. The exit status is 0 when all of them hold.
"""
import argparse
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

BIG_SIZE = 300_000_000
TARGETS = {"tree": (0.33, 1.0), "big": (0.45, 1.005)}


def timed(command, env=None, cwd=None):
    """Wall time, processor time and peak resident kilobytes of one run."""
    start = time.perf_counter()
    r = subprocess.run(["/usr/bin/time", "-v", *command], env=env, cwd=cwd,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit(f"{command[0]} failed: {r.stderr.decode(errors='replace')[-2000:]}")
    peak = re.search(rb"Maximum resident set size \(kbytes\): (\d+)", r.stderr)
    cpu = sum(float(m) for m in re.findall(rb"(?:User|System) time \(seconds\): ([0-9.]+)", r.stderr))
    return elapsed, cpu, int(peak.group(1)) if peak else 0


def member_data_size(archive):
    """Compressed bytes of all members, headers aside."""
    with zipfile.ZipFile(archive) as z:
        return sum(i.compress_size for i in z.infolist())


def make_big(path):
    compiler = subprocess.run(["gcc", "-print-prog-name=cc1plus"], capture_output=True, text=True).stdout.strip()
    if not os.path.isfile(compiler):
        sys.exit("cc1plus not found (gcc -print-prog-name=cc1plus)")
    with open(compiler, "rb") as f:
        program = f.read()
    with open(path, "wb") as out:
        written = 0
        for _ in range(8):
            part = program[:BIG_SIZE - written]
            out.write(part)
            written += len(part)
        # Random bytes from a fixed seed, so that every run sees the same file.
        rng = random.Random(12345)
        while written < BIG_SIZE:
            n = min(1 << 20, BIG_SIZE - written)
            out.write(rng.randbytes(n))
            written += n


def bench_place(args, quindo, place, base, inputs):
    """Runs every input at one place; answers the lines to print and whether the targets hold."""
    work = tempfile.mkdtemp(prefix="quindo-bench-", dir=base)
    lines, ok = [], True
    try:
        out = os.path.join(work, "out")
        config = os.path.join(work, "config")
        os.makedirs(out)
        os.makedirs(os.path.join(config, "quindo"))
        with open(os.path.join(config, "quindo", "quindo.ini"), "w") as f:
            f.write(f"[ARC]\nOUTPUT=2\nOUTPUT_PATH={out}\nOVERWRITE=1\nOPENDIR=0\n"
                    "[OPTION]\nZIP_LEVEL=1\nTHREADS=0\n")
        env = dict(os.environ, XDG_CONFIG_HOME=config, HOME=work, TMPDIR=work)
        sources = {}
        if "tree" in inputs:
            tree = os.path.abspath(args.tree).rstrip("/")
            copy = os.path.join(work, "input", os.path.basename(tree))
            shutil.copytree(tree, copy, symlinks=False, ignore_dangling_symlinks=True)
            sources["tree"] = copy
        if "big" in inputs:
            big = os.path.join(work, "input", "big.bin")
            os.makedirs(os.path.dirname(big), exist_ok=True)
            make_big(big)
            sources["big"] = big

        for name, source in sources.items():
            parent, base_name = os.path.split(source)
            stem = base_name.split(".")[0]
            ours = os.path.join(out, stem + ".zip")
            peers = {"zip -6": os.path.join(work, "zip.zip"), "7z -mx5": os.path.join(work, "7z.zip")}
            recurse = ["-r"] if os.path.isdir(source) else []

            def run(tool):
                if tool == "quindo":
                    return timed([quindo, source], env=env)
                if os.path.exists(peers[tool]):
                    os.unlink(peers[tool])
                if tool == "zip -6":
                    return timed(["zip", *recurse, "-6", "-q", peers[tool], base_name], cwd=parent)
                return timed(["7z", "a", "-tzip", "-mx5", "-bd", peers[tool], base_name], cwd=parent)

            # 7-Zip takes minutes over the large file; it is measured on the tree.
            tools = ["quindo", "zip -6"] + (["7z -mx5"] if shutil.which("7z") and name == "tree" else [])
            for tool in tools:
                run(tool)
            times = {t: [] for t in tools}
            cpus = {t: [] for t in tools}
            peaks = {t: [] for t in tools}
            for _ in range(args.rounds):
                for tool in tools:
                    t, c, m = run(tool)
                    times[tool].append(t)
                    cpus[tool].append(c)
                    peaks[tool].append(m)
            median = {t: statistics.median(v) for t, v in times.items()}
            cpu = {t: statistics.median(v) for t, v in cpus.items()}
            size = {"quindo": os.path.getsize(ours), **{t: os.path.getsize(peers[t]) for t in tools[1:]}}
            threads = os.cpu_count()
            limit = 16 + 8 * threads
            peak = max(peaks["quindo"]) / 1024
            lines.append(f"{place:5} {name:4}  quindo   {median['quindo']:.3f} s (processor {cpu['quindo']:.3f} s), "
                         f"{size['quindo']} B, peak {peak:.1f} MiB (limit {limit} MiB, {threads} threads)")
            for tool in tools[1:]:
                lines.append(f"{'':11} {tool:8} {median[tool]:.3f} s (processor {cpu[tool]:.3f} s), "
                             f"{size[tool]} B, peak {max(peaks[tool]) / 1024:.1f} MiB")
                lines.append(f"{'':11} {'':8} time ratio {median['quindo'] / median[tool]:.3f}   "
                             f"size ratio {size['quindo'] / size[tool]:.4f}   "
                             f"processor time ratio {cpu['quindo'] / cpu[tool]:.3f}")
            lines.append(f"{'':11} member data ratio to zip {member_data_size(ours) / member_data_size(peers['zip -6']):.4f}")
            for tool in tools:
                lines.append(f"{'':11} all times {tool:8} {' '.join(f'{t:.2f}' for t in times[tool])}")
            max_time, max_size = TARGETS[name]
            ok &= (median["quindo"] / median["zip -6"] <= max_time and
                   size["quindo"] / size["zip -6"] <= max_size and peak <= limit)
            os.unlink(ours)
        return lines, ok
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quindo", default=os.path.join(here, "..", "build", "native", "quindo"))
    parser.add_argument("--tree", default="/usr/include")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--places", default="tmpfs,disk")
    parser.add_argument("--inputs", default="tree,big")
    args = parser.parse_args()
    quindo = os.path.abspath(args.quindo)
    if not os.access(quindo, os.X_OK):
        sys.exit(f"no program at {quindo}")
    if not shutil.which("zip") or not os.access("/usr/bin/time", os.X_OK):
        sys.exit("zip and /usr/bin/time are needed")
    places = {"tmpfs": "/dev/shm", "disk": "/var/tmp"}
    inputs = args.inputs.split(",")
    print(f"cores {os.cpu_count()}, rounds {args.rounds} (medians, interleaved), "
          f"load average at start {os.getloadavg()[0]:.1f}")
    ok = True
    for place in args.places.split(","):
        lines, place_ok = bench_place(args, quindo, place, places[place], inputs)
        ok &= place_ok
        print("\n".join(lines), flush=True)
    print("targets " + ("met" if ok else "NOT met"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
