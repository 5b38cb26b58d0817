#!/bin/sh
# Extraction speed of -lh5-, -lh6- and -lh7- archives: the quindo program
# against lhasa and 7-Zip, in the same run, on archives that jlha makes of
# the kernel headers (/usr/include/linux) and the cc1plus binary.
#
#   bench/lzh_bench.sh [BUILD_DIR]      (default: build/native)
#
# Needs jlha, lhasa, 7z and hyperfine. Prints the median wall times and the
# ratios; the targets are at most 0.6 of lhasa's time and 0.6 of 7-Zip's.
# THREADS=N runs quindo with that many threads (default 0: every core); the
# work folder is under TMPDIR (a tmpfs such as /dev/shm, or the disk).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build/native}
QUINDO=$BUILD/quindo
RUNS=${RUNS:-7}
CC1PLUS=${CC1PLUS:-/usr/lib/gcc/x86_64-linux-gnu/12/cc1plus}

for tool in jlha lhasa 7z hyperfine; do
  command -v "$tool" >/dev/null || { echo "lzh_bench: $tool is not installed" >&2; exit 2; }
done
[ -x "$QUINDO" ] || { echo "lzh_bench: no program at $QUINDO" >&2; exit 2; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quindo-lzh-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/src" "$WORK/cfg/quindo"
cp -r /usr/include/linux "$WORK/src/"
cp "$CC1PLUS" "$WORK/src/cc1plus"
(
  cd "$WORK/src"
  jlha a0o5 ../lh5.lzh linux cc1plus
  jlha a1o6 ../lh6.lzh linux cc1plus
  jlha a2o7 ../lh7.lzh linux cc1plus
) >/dev/null
# quindo extracts into OUTPUT_PATH, into a folder named after the archive.
printf '[MELT]\nOUTPUT=2\nOUTPUT_PATH=%s\nOPENDIR=0\nOVERWRITE=1\n[OPTION]\nMAKE_DIRECTRY=1\nSECURITY=0\nTHREADS=%s\n' \
  "$WORK/out" "${THREADS:-0}" >"$WORK/cfg/quindo/quindo.ini"
echo "tree: $(find "$WORK/src" -type f | wc -l) files, $(du -sm "$WORK/src" | cut -f1) MB"
echo "$(nproc) cores, quindo THREADS=${THREADS:-0}, load average $(cut -d' ' -f1-3 /proc/loadavg)"

for m in lh5 lh6 lh7; do
  hyperfine --style basic --runs "$RUNS" --warmup 1 --export-json "$WORK/$m.json" \
    --prepare "rm -rf '$WORK/out' && mkdir '$WORK/out' && sync" \
    -n quindo "XDG_CONFIG_HOME='$WORK/cfg' '$QUINDO' '$WORK/$m.lzh' </dev/null" \
    -n lhasa "cd '$WORK/out' && lhasa xq '$WORK/$m.lzh'" \
    -n 7z "cd '$WORK/out' && 7z x -y -bd '$WORK/$m.lzh' >/dev/null" >/dev/null
done

python3 - "$WORK" <<'PY'
import json, sys
work = sys.argv[1]
print("median wall time in seconds (min in brackets), and the ratios of the medians")
print("%-5s %16s %16s %16s %9s %7s" % ("", "quindo", "lhasa", "7z", "/lhasa", "/7z"))
ok = True
for m in ("lh5", "lh6", "lh7"):
    res = {x["command"]: x for x in json.load(open("%s/%s.json" % (work, m)))["results"]}
    med = {k: v["median"] for k, v in res.items()}
    low = {k: v["min"] for k, v in res.items()}
    a, b = med["quindo"] / med["lhasa"], med["quindo"] / med["7z"]
    ok = ok and a <= 0.6 and b <= 0.6
    cell = lambda k: "%7.3f (%6.3f)" % (med[k], low[k])
    print("%-5s %16s %16s %16s %8.2fx %6.2fx" % (m, cell("quindo"), cell("lhasa"), cell("7z"), a, b))
print("targets (<= 0.6x lhasa, <= 0.6x 7z): %s" % ("met" if ok else "NOT met"))
PY
