#!/usr/bin/env bash
# Runs every fuzz target in build/fuzz/fuzzers for a bounded time over its
# seeds: fuzz/seeds/<target>/ when it exists, and the archives of the corpus
# that fit the target's family (lzh_* the LZH archives, zip_*, unshrink_*,
# unreduce_*, explode_* the ZIP archives, walk_* both, deflater_* any small
# file), and for inflate64_* and winzip_aes_* the archives
# fuzz/modern_zip_seeds.py makes.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
corpus="${QUINDO_CORPUS:-../shared/corpus}"
status=0
shopt -s nullglob
for target in build/fuzz/fuzzers/*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  work="build/fuzz/work/$name"
  rm -rf "$work"
  mkdir -p "$work/seeds" "$work/found"
  [ -d "fuzz/seeds/$name" ] && cp -r "fuzz/seeds/$name/." "$work/seeds/"
  case "$name" in
    inflate64_*) python3 fuzz/modern_zip_seeds.py "$work/seeds" inflate64 ;;
    winzip_aes_*) python3 fuzz/modern_zip_seeds.py "$work/seeds" winzip_aes ;;
  esac
  if [ -d "$corpus" ]; then
    case "$name" in
      lzh_*) find "$corpus/lzh" -type f ! -name '*.txt' ! -name 'README*' -size -2M -exec cp -t "$work/seeds/" {} + 2>/dev/null ;;
      walk_*) find "$corpus"/zip-* "$corpus/lzh" -type f ! -name '*.txt' ! -name 'README*' -size -2M -exec cp -t "$work/seeds/" {} + 2>/dev/null ;;
      deflater_*) find "$corpus" -type f -size -16k -exec cp -t "$work/seeds/" {} + 2>/dev/null ;;
      zip_*|unshrink_*|unreduce_*|explode_*) find "$corpus"/zip-* -type f ! -name 'README*' -size -2M -exec cp -t "$work/seeds/" {} + 2>/dev/null ;;
    esac
  fi
  echo "--- $name (${seconds}s, $(ls "$work/seeds" | wc -l) seeds)"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=1048576 \
        -print_final_stats=0 -artifact_prefix="$work/" "$work/found" "$work/seeds" \
        >"$work/log.txt" 2>&1; then
    echo "FAILED: $name"; tail -50 "$work/log.txt"; status=1
  else
    grep -E "^#[0-9]+.*(DONE|pulse)" "$work/log.txt" | tail -1
  fi
done
exit "$status"
