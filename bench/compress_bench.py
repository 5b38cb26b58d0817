#!/usr/bin/env python3
"""Compressing a tree: `quindo` at its normal level (ZIP_LEVEL 1, DEFLATE
level 6) against `zip -r -6` of the same tree, in the same run.

The tree is first copied with its symbolic links resolved: zip follows a link
to a folder and quindo stores it as an empty folder, so only a tree without
links gives both the same input. Each tool runs once to warm the file cache,
then the two take turns for the given number of rounds. Reported: the median wall time of each, their ratio,
the archive sizes and their ratio, and the peak resident memory of quindo as
/usr/bin/time -v measures it.

    bench/compress_bench.py [--quindo build/native/quindo] [--tree /usr/include] [--rounds 5]

Targets: quindo's time at most 0.75 of zip's, its archive at most 0.5 %
larger than zip's, its peak memory under 32 MiB. The exit status is 0 when all
three hold.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile


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


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quindo", default=os.path.join(here, "..", "build", "native", "quindo"))
    parser.add_argument("--tree", default="/usr/include")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    quindo = os.path.abspath(args.quindo)
    tree = os.path.abspath(args.tree).rstrip("/")
    if not os.access(quindo, os.X_OK):
        sys.exit(f"no program at {quindo}")
    if not shutil.which("zip") or not os.access("/usr/bin/time", os.X_OK):
        sys.exit("zip and /usr/bin/time are needed")

    work = tempfile.mkdtemp(prefix="quindo-bench-")
    try:
        out = os.path.join(work, "out")
        config = os.path.join(work, "config")
        os.makedirs(out)
        os.makedirs(os.path.join(config, "quindo"))
        with open(os.path.join(config, "quindo", "quindo.ini"), "w") as f:
            f.write(f"[ARC]\nOUTPUT=2\nOUTPUT_PATH={out}\nOVERWRITE=1\nOPENDIR=0\n"
                    "[OPTION]\nZIP_LEVEL=1\n")
        env = dict(os.environ, XDG_CONFIG_HOME=config, HOME=work, TMPDIR=work)
        copy = os.path.join(work, "input", os.path.basename(tree))
        shutil.copytree(tree, copy, symlinks=False, ignore_dangling_symlinks=True)
        ours = os.path.join(out, os.path.basename(tree) + ".zip")
        theirs = os.path.join(work, "peer.zip")
        parent, name = os.path.split(copy)

        def run_quindo():
            return timed([quindo, copy], env=env)

        def run_zip():
            if os.path.exists(theirs):
                os.unlink(theirs)
            return timed(["zip", "-r", "-6", "-q", theirs, name], cwd=parent)

        run_quindo()
        run_zip()
        q_times, z_times, q_cpu, z_cpu, q_peaks, z_peaks = [], [], [], [], [], []
        for _ in range(args.rounds):
            t, c, m = run_quindo()
            q_times.append(t)
            q_cpu.append(c)
            q_peaks.append(m)
            t, c, m = run_zip()
            z_times.append(t)
            z_cpu.append(c)
            z_peaks.append(m)

        q_time, z_time = statistics.median(q_times), statistics.median(z_times)
        q_size, z_size = os.path.getsize(ours), os.path.getsize(theirs)
        q_peak = max(q_peaks)
        time_ratio = q_time / z_time
        size_ratio = q_size / z_size
        q_data, z_data = member_data_size(ours), member_data_size(theirs)
        print(f"tree            {tree}")
        print(f"rounds          {args.rounds} (medians)")
        print(f"wall time       quindo {q_time:.3f} s   zip -6 {z_time:.3f} s   ratio {time_ratio:.3f}")
        qc, zc = statistics.median(q_cpu), statistics.median(z_cpu)
        print(f"processor time  quindo {qc:.3f} s   zip -6 {zc:.3f} s   ratio {qc / zc:.3f}")
        print(f"archive size    quindo {q_size} B   zip -6 {z_size} B   ratio {size_ratio:.4f}")
        print(f"member data     quindo {q_data} B   zip -6 {z_data} B   ratio {q_data / z_data:.4f}")
        print(f"peak memory     quindo {q_peak / 1024:.1f} MiB   zip -6 {max(z_peaks) / 1024:.1f} MiB")
        print(f"all times       quindo {' '.join(f'{t:.3f}' for t in q_times)}")
        print(f"                zip    {' '.join(f'{t:.3f}' for t in z_times)}")
        ok = time_ratio <= 0.75 and size_ratio <= 1.005 and q_peak < 32 * 1024
        print("targets         " + ("met" if ok else "NOT met"))
        return 0 if ok else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
