#!/usr/bin/env python3
"""Deflater against Info-ZIP zip, same files, same levels, same run.

For each level (4, 6, 8) and each corpus group, compresses the group with
bench/deflate_bench (one member per file, CRC taken, output to a file) and
with `zip -N -q -X`, and prints our compressed bytes / zip's and our
throughput / zip's. Throughput is input bytes per second of CPU time (user +
system) of the process, which a loaded machine disturbs less than wall time;
wall-time ratios are printed too. Each timing is the best of --repeat runs.

  bench/run_deflate_bench.py --driver build/NAME/bench/deflate_bench [--include-files N]
"""
import argparse
import os
import random
import resource
import subprocess
import sys
import tempfile
import time
import zipfile


def cpu_of(command, stdin_path=None):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    with open(stdin_path or os.devnull, 'rb') as stdin:
        result = subprocess.run(command, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu, wall, result.stdout.decode()


def best(runs):
    return min(r[0] for r in runs), min(r[1] for r in runs), runs[-1][2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--driver', required=True)
    parser.add_argument('--levels', default='4,6,8')
    parser.add_argument('--include-files', type=int, default=0,
                        help='use only the first N files of /usr/include (0: all)')
    parser.add_argument('--gcc', default='/usr/lib/gcc/x86_64-linux-gnu/12/cc1plus')
    parser.add_argument('--random-mb', type=int, default=16)
    parser.add_argument('--repeat', type=int, default=1)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix='deflate_bench.')
    groups = []
    include = sorted(os.path.join(d, f) for d, _, fs in os.walk('/usr/include') for f in fs
                     if os.path.isfile(os.path.join(d, f)) and not os.path.islink(os.path.join(d, f)))
    if args.include_files:
        include = include[:args.include_files]
    groups.append(('include', include))
    gcc = [p for p in args.gcc.split(',') if os.path.isfile(p)]
    if gcc:
        groups.append(('gcc', gcc))
    if args.random_mb:
        path = os.path.join(work, 'random.bin')
        rng = random.Random(1)
        with open(path, 'wb') as f:
            for _ in range(args.random_mb):
                f.write(rng.randbytes(1 << 20))
        groups.append(('random', [path]))

    print('%-8s %5s %6s %12s %12s %8s %9s %9s %7s %7s' % (
        'group', 'level', 'files', 'in', 'ours', 'size', 'ours MB/s', 'zip MB/s', 'cpu', 'wall'))
    ok = True
    for level in [int(x) for x in args.levels.split(',')]:
        totals = [0, 0, 0, 0.0, 0.0, 0.0, 0.0]
        for name, files in groups:
            listing = os.path.join(work, name + '.list')
            with open(listing, 'w') as f:
                f.write(''.join(p + '\n' for p in files))
            size_in = sum(os.path.getsize(p) for p in files)
            ours_out = os.path.join(work, 'ours.bin')
            archive = os.path.join(work, 'peer.zip')
            ours_runs, zip_runs = [], []
            for _ in range(args.repeat):
                ours_runs.append(cpu_of([args.driver, str(level), ours_out, listing]))
                if os.path.exists(archive):
                    os.remove(archive)
                zip_runs.append(cpu_of(['zip', '-%d' % level, '-q', '-X', '-@', archive], listing))
            ours_cpu, ours_wall, text = best(ours_runs)
            zip_cpu, zip_wall, _ = best(zip_runs)
            fields = text.split()
            ours_size = int(fields[fields.index('out') + 1])
            zip_size = sum(i.compress_size for i in zipfile.ZipFile(archive).infolist())
            mb = size_in / 1e6
            print('%-8s %5d %6d %12d %12d %8.4f %9.1f %9.1f %7.2f %7.2f' % (
                name, level, len(files), size_in, ours_size, ours_size / zip_size,
                mb / ours_cpu, mb / zip_cpu, zip_cpu / ours_cpu, zip_wall / ours_wall))
            sys.stdout.flush()
            for i, v in enumerate([size_in, ours_size, zip_size, ours_cpu, zip_cpu, ours_wall, zip_wall]):
                totals[i] += v
        size_in, ours_size, zip_size, ours_cpu, zip_cpu, ours_wall, zip_wall = totals
        print('%-8s %5d %6s %12d %12d %8.4f %9.1f %9.1f %7.2f %7.2f' % (
            'all', level, '', size_in, ours_size, ours_size / zip_size, size_in / 1e6 / ours_cpu,
            size_in / 1e6 / zip_cpu, zip_cpu / ours_cpu, zip_wall / ours_wall))
        print('level %d: size ours/zip %.4f, throughput ours/zip %.2f (CPU time), %.2f (wall)' % (
            level, ours_size / zip_size, zip_cpu / ours_cpu, zip_wall / ours_wall))
        ok = ok and ours_size / zip_size <= 1.005
    for f in os.listdir(work):
        os.remove(os.path.join(work, f))
    os.rmdir(work)
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
