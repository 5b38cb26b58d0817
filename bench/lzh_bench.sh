#!/bin/sh
# Extraction speed of -lh5-, -lh6- and -lh7- archives: the quindo program
# against lhasa and 7-Zip, in the same run, on archives that jlha makes of
# the kernel headers (/usr/include/linux) and the cc1plus binary.
#
#   bench/lzh_bench.sh [BUILD_DIR]      (default: build/native)
#
# Needs jlha, lhasa, 7z and hyperfine. Prints the median wall times and the
# ratios; the targets are at most 0.6 of lhasa's time and 1.0 of 7-Zip's.
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
printf '[MELT]\nOUTPUT=2\nOUTPUT_PATH=%s\nOPENDIR=0\nOVERWRITE=1\n[OPTION]\nMAKE_DIRECTRY=1\nSECURITY=0\n' \
  "$WORK/out" >"$WORK/cfg/quindo/quindo.ini"
echo "tree: $(find "$WORK/src" -type f | wc -l) files, $(du -sm "$WORK/src" | cut -f1) MB"

for m in lh5 lh6 lh7; do
  hyperfine --style basic --runs "$RUNS" --warmup 1 --export-json "$WORK/$m.json" \
    --prepare "rm -rf '$WORK/out' && mkdir '$WORK/out'" \
    -n quindo "XDG_CONFIG_HOME='$WORK/cfg' '$QUINDO' '$WORK/$m.lzh' </dev/null" \
    -n lhasa "cd '$WORK/out' && lhasa xq '$WORK/$m.lzh'" \
    -n 7z "cd '$WORK/out' && 7z x -y -bd '$WORK/$m.lzh' >/dev/null" >/dev/null
done

python3 - "$WORK" <<'PY'
import json, sys
work = sys.argv[1]
print("%-5s %10s %10s %10s %12s %10s" % ("", "quindo s", "lhasa s", "7z s", "vs lhasa", "vs 7z"))
ok = True
for m in ("lh5", "lh6", "lh7"):
    r = {x["command"]: x["median"] for x in json.load(open("%s/%s.json" % (work, m)))["results"]}
    a, b = r["quindo"] / r["lhasa"], r["quindo"] / r["7z"]
    ok = ok and a <= 0.6 and b <= 1.0
    print("%-5s %10.3f %10.3f %10.3f %11.2fx %9.2fx" % (m, r["quindo"], r["lhasa"], r["7z"], a, b))
print("targets (<= 0.6x lhasa, <= 1.0x 7z): %s" % ("met" if ok else "NOT met"))
PY
