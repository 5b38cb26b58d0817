#!/usr/bin/env bash
# Extraction speed: quindo against Info-ZIP unzip, 7-Zip (`7z x`) and
# bsdtar (`bsdtar -xf`) on a `zip -r -6` archive of the system's C include
# tree, in the same interleaved rounds, with `cp -r` of the same tree as the
# floor (extraction is bound by creating files). Prints the median wall time
# of each, every ratio, and the peak memory of quindo (with the threads it
# used) and of unzip. The work folder is under TMPDIR: a tmpfs (/dev/shm)
# or the disk.
#
#   bench/extract_bench.sh [QUINDO_BINARY] [ROUNDS]
#   THREADS=1 bench/extract_bench.sh      quindo with that many threads
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
quindo="${1:-${QUINDO_BIN:-$here/../build/native/quindo}}"
rounds="${2:-5}"
tree="${BENCH_TREE:-/usr/include}"

for tool in zip unzip 7z bsdtar /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "extract_bench: $tool is missing" >&2; exit 1; }
done
[ -x "$quindo" ] || { echo "extract_bench: no program at $quindo" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/quindo-extract-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/cfg/quindo"
threads="${THREADS:-0}"
printf '[MELT]\nOUTPUT=2\nOUTPUT_PATH=%s\nOPENDIR=0\n[OPTION]\nTHREADS=%s\n' "$work/q" "$threads" \
  >"$work/cfg/quindo/quindo.ini"

parent="$(dirname "$tree")"
base="$(basename "$tree")"
(cd "$parent" && zip -qr -6 "$work/tree.zip" "$base")
files=$(find "$tree" -type f | wc -l)
echo "archive: $(stat -c %s "$work/tree.zip") bytes, $files files from $tree"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Each run starts from a removed output and a synced disk, so that no run
# pays for another's write-back; the order of the three turns every round.
run_one() {
  local t0 t1
  case "$1" in
    q) rm -rf "$work/q"; sync; t0=$(now)
       XDG_CONFIG_HOME="$work/cfg" "$quindo" "$work/tree.zip" </dev/null 2>/dev/null; t1=$(now)
       q_times+=("$(elapsed "$t0" "$t1")") ;;
    u) rm -rf "$work/u"; sync; t0=$(now)
       unzip -qq -o "$work/tree.zip" -d "$work/u"; t1=$(now)
       u_times+=("$(elapsed "$t0" "$t1")") ;;
    s) rm -rf "$work/s"; sync; t0=$(now)
       7z x -y -bd "-o$work/s" "$work/tree.zip" >/dev/null; t1=$(now)
       s_times+=("$(elapsed "$t0" "$t1")") ;;
    b) rm -rf "$work/b"; mkdir "$work/b"; sync; t0=$(now)
       bsdtar -xf "$work/tree.zip" -C "$work/b"; t1=$(now)
       b_times+=("$(elapsed "$t0" "$t1")") ;;
    c) rm -rf "$work/c"; sync; t0=$(now)
       cp -r "$tree" "$work/c"; t1=$(now)
       c_times+=("$(elapsed "$t0" "$t1")") ;;
  esac
}
q_times=() u_times=() s_times=() b_times=() c_times=()
orders=("q u s b c" "u s b c q" "s b c q u" "b c q u s" "c q u s b")
for ((i = 0; i < rounds; i++)); do
  for tool in ${orders[i % 5]}; do run_one "$tool"; done
done

for peer in u s b; do
  if ! diff -rq "$work/q/$base" "$work/$peer/$base" >/dev/null; then
    echo "extract_bench: quindo and $peer extracted different trees" >&2
    exit 1
  fi
done

q=$(printf '%s\n' "${q_times[@]}" | median)
u=$(printf '%s\n' "${u_times[@]}" | median)
s=$(printf '%s\n' "${s_times[@]}" | median)
b=$(printf '%s\n' "${b_times[@]}" | median)
c=$(printf '%s\n' "${c_times[@]}" | median)
rm -rf "$work/q"
rss=$(XDG_CONFIG_HOME="$work/cfg" /usr/bin/time -v "$quindo" "$work/tree.zip" </dev/null 2>&1 >/dev/null |
      awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }')
rm -rf "$work/u"
urss=$(/usr/bin/time -v unzip -qq -o "$work/tree.zip" -d "$work/u" 2>&1 >/dev/null |
       awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }')

cores=$(nproc)
used=$threads
[ "$used" -gt 0 ] 2>/dev/null || used=$cores
[ "$used" -gt 8 ] && used=8
echo "$cores cores, quindo THREADS=$threads ($used decoding), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "median of $rounds rounds (wall seconds), in ${TMPDIR:-/tmp} ($(df -T "$work" | awk 'NR == 2 { print $2 }')):"
printf '  quindo  %s\n  unzip   %s\n  7z x    %s\n  bsdtar  %s\n  cp -r   %s\n' "$q" "$u" "$s" "$b" "$c"
awk -v q="$q" -v u="$u" -v s="$s" -v b="$b" -v c="$c" 'BEGIN {
  printf "ratio quindo/unzip:  %.2f (target at most 0.35)\n", q / u
  printf "ratio quindo/7z:     %.2f (target at most 0.50)\n", q / s
  printf "ratio quindo/bsdtar: %.2f (target at most 0.50)\n", q / b
  printf "ratio quindo/cp -r: %.2f, unzip/cp -r: %.2f, 7z/cp -r: %.2f, bsdtar/cp -r: %.2f\n", q / c, u / c, s / c, b / c
}'
limit=$((16384 + 4096 * used))
echo "peak memory: quindo ${rss} KiB (target at most ${limit} KiB: 16 MiB + 4 MiB a thread), unzip ${urss} KiB"
