#!/usr/bin/env bash
# Extraction speed: quindo against Info-ZIP unzip on a `zip -r -6` archive
# of the system's C include tree, in the same run, with `cp -r` of the same
# tree as the floor (extraction is bound by creating files). Prints the
# median wall time of each, the ratios, and quindo's peak memory.
#
#   bench/extract_bench.sh [QUINDO_BINARY] [ROUNDS]
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
quindo="${1:-${QUINDO_BIN:-$here/../build/native/quindo}}"
rounds="${2:-5}"
tree="${BENCH_TREE:-/usr/include}"

for tool in zip unzip /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "extract_bench: $tool is missing" >&2; exit 1; }
done
[ -x "$quindo" ] || { echo "extract_bench: no program at $quindo" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/quindo-extract-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/cfg/quindo"
printf '[MELT]\nOUTPUT=2\nOUTPUT_PATH=%s\nOPENDIR=0\n' "$work/q" >"$work/cfg/quindo/quindo.ini"

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
    c) rm -rf "$work/c"; sync; t0=$(now)
       cp -r "$tree" "$work/c"; t1=$(now)
       c_times+=("$(elapsed "$t0" "$t1")") ;;
  esac
}
q_times=() u_times=() c_times=()
orders=("q u c" "u c q" "c q u")
for ((i = 0; i < rounds; i++)); do
  for tool in ${orders[i % 3]}; do run_one "$tool"; done
done

if ! diff -rq "$work/q/$base" "$work/u/$base" >/dev/null; then
  echo "extract_bench: quindo and unzip extracted different trees" >&2
  exit 1
fi

q=$(printf '%s\n' "${q_times[@]}" | median)
u=$(printf '%s\n' "${u_times[@]}" | median)
c=$(printf '%s\n' "${c_times[@]}" | median)
rm -rf "$work/q"
rss=$(XDG_CONFIG_HOME="$work/cfg" /usr/bin/time -v "$quindo" "$work/tree.zip" </dev/null 2>&1 >/dev/null |
      awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }')
rm -rf "$work/u"
urss=$(/usr/bin/time -v unzip -qq -o "$work/tree.zip" -d "$work/u" 2>&1 >/dev/null |
       awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }')

echo "median of $rounds rounds (wall seconds):"
printf '  quindo  %s\n  unzip   %s\n  cp -r   %s\n' "$q" "$u" "$c"
awk -v q="$q" -v u="$u" -v c="$c" 'BEGIN {
  printf "ratio quindo/unzip: %.2f (target at most 0.90)\n", q / u
  printf "ratio quindo/cp -r: %.2f, unzip/cp -r: %.2f\n", q / c, u / c
}'
echo "peak memory: quindo ${rss} KiB, unzip ${urss} KiB (quindo's target under 16384 KiB)"
