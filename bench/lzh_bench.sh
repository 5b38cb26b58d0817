#!/usr/bin/env bash
# Extraction speed of -lh5-, -lh6- and -lh7- archives: the quindo program
# against lhasa and 7-Zip, in the same interleaved rounds, on archives that
# jlha makes of the kernel headers (/usr/include/linux) and the cc1plus
# binary.
#
#   bench/lzh_bench.sh [BUILD_DIR] [ROUNDS]   (default: build/native, 9)
#
# Needs jlha, lhasa and 7z. Prints the median wall times, the ratios (the
# targets are at most 0.6 of lhasa's time and 0.6 of 7-Zip's) and quindo's
# peak memory. THREADS=N runs quindo with that many threads (default 0:
# every core); the work folder is under TMPDIR (a tmpfs such as /dev/shm,
# or the disk).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build/native}
QUINDO=$BUILD/quindo
ROUNDS=${2:-${RUNS:-9}}
CC1PLUS=${CC1PLUS:-/usr/lib/gcc/x86_64-linux-gnu/12/cc1plus}
THREADS=${THREADS:-0}

for tool in jlha lhasa 7z /usr/bin/time; do
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
  "$WORK/q" "$THREADS" >"$WORK/cfg/quindo/quindo.ini"
echo "tree: $(find "$WORK/src" -type f | wc -l) files, $(du -sm "$WORK/src" | cut -f1) MB"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Each run starts from a removed output and a synced disk, so that no run
# pays for another's write-back; the order of the three turns every round.
run_one() {
  local m=$1 tool=$2 t0 t1
  rm -rf "$WORK/$tool"; mkdir "$WORK/$tool"; sync
  case "$tool" in
    q) t0=$(now); XDG_CONFIG_HOME="$WORK/cfg" "$QUINDO" "$WORK/$m.lzh" </dev/null >/dev/null; t1=$(now) ;;
    l) t0=$(now); (cd "$WORK/l" && lhasa xq "$WORK/$m.lzh"); t1=$(now) ;;
    s) t0=$(now); 7z x -y -bd "-o$WORK/s" "$WORK/$m.lzh" >/dev/null; t1=$(now) ;;
  esac
  echo "$(elapsed "$t0" "$t1")" >>"$WORK/$m.$tool.times"
}
orders=("q l s" "l s q" "s q l")
for m in lh5 lh6 lh7; do
  for ((i = 0; i < ROUNDS; i++)); do
    for tool in ${orders[i % 3]}; do run_one "$m" "$tool"; done
  done
  for peer in l s; do
    diff -rq "$WORK/q/$m" "$WORK/$peer" >/dev/null ||
      { echo "lzh_bench: quindo and $peer extracted different trees from $m.lzh" >&2; exit 1; }
  done
done
rm -rf "$WORK/q"
rss=$(XDG_CONFIG_HOME="$WORK/cfg" /usr/bin/time -f %M "$QUINDO" "$WORK/lh7.lzh" </dev/null 2>&1 >/dev/null | tail -1)

used=$THREADS
[ "$used" -gt 0 ] 2>/dev/null || used=$(nproc)
[ "$used" -gt 8 ] && used=8
echo "$(nproc) cores, quindo THREADS=$THREADS, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "median of $ROUNDS interleaved rounds (wall seconds), in ${TMPDIR:-/tmp} ($(df -T "$WORK" | awk 'NR == 2 { print $2 }')):"
printf '%-5s %8s %8s %8s %8s %8s\n' "" quindo lhasa 7z /lhasa /7z
ok=1
for m in lh5 lh6 lh7; do
  q=$(median <"$WORK/$m.q.times") l=$(median <"$WORK/$m.l.times") s=$(median <"$WORK/$m.s.times")
  awk -v m="$m" -v q="$q" -v l="$l" -v s="$s" 'BEGIN { printf "%-5s %8.3f %8.3f %8.3f %7.2fx %7.2fx\n", m, q, l, s, q / l, q / s }'
  awk -v q="$q" -v l="$l" -v s="$s" 'BEGIN { exit !(q / l <= 0.6 && q / s <= 0.6) }' || ok=0
done
echo "targets (<= 0.6x lhasa, <= 0.6x 7z): $([ $ok = 1 ] && echo met || echo NOT met)"
echo "peak memory of quindo on lh7.lzh: ${rss} KiB (limit $((16384 + 4096 * used)) KiB: 16 MiB + 4 MiB a thread)"
