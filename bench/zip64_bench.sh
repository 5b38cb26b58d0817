#!/bin/sh
# Large archives end to end: quindo compresses (1) a folder with a sparse
# 5 GiB file that is deflated, a sparse 4.5 GiB file that is stored (so the
# member after it starts past 4 GiB) and a small file, and (2) a folder of
# 70,000 small files. Each archive must pass `unzip -t`, `7z t` and Python's
# zipfile, and quindo must extract it back byte for byte. Info-ZIP zip packs
# the same trees in the same run for the times beside ours.
#
#   bench/zip64_bench.sh [QUINDO] [WORK_FOLDER]
#
# QUINDO defaults to build/native/quindo. The work folder (default: a new
# folder under /var/tmp) needs about 15 GB free: the stored member and the
# extracted files take real space. The file count and sizes can be set with
# ZIP64_FILES (70000), ZIP64_BIG_MIB (5120) and ZIP64_STORED_MIB (4608).
# Exit status 0 when every check passed.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
quindo=$(realpath "${1:-$here/../build/native/quindo}")
work=${2:-$(mktemp -d /var/tmp/quindo-zip64-XXXXXX)}
files=${ZIP64_FILES:-70000}
big_mib=${ZIP64_BIG_MIB:-5120}
stored_mib=${ZIP64_STORED_MIB:-4608}
failures=0

[ -x "$quindo" ] || { echo "no program at $quindo" >&2; exit 2; }
for tool in unzip 7z python3 zip cmp; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

seconds() { date +%s.%N; }
elapsed() { awk "BEGIN { printf \"%.2f\", $2 - $1 }"; }

# One settings file: archives to out/, extracted folders to back/.
mkdir -p "$work/config/quindo" "$work/out" "$work/back" "$work/tmp" "$work/zip"
printf '[ARC]\nOUTPUT=2\nOUTPUT_PATH=%s\nOVERWRITE=1\nOPENDIR=0\n[MELT]\nOUTPUT=2\nOUTPUT_PATH=%s\nOPENDIR=0\n' \
  "$work/out" "$work/back" > "$work/config/quindo/quindo.ini"
run_quindo() {
  XDG_CONFIG_HOME="$work/config" HOME="$work" TMPDIR="$work/tmp" "$quindo" "$@" </dev/null
}

time_both() {  # folder under src/: quindo and then zip -6 pack it; sets ours and theirs
  start=$(seconds)
  run_quindo "$work/src/$1"
  ours=$(elapsed "$start" "$(seconds)")
  start=$(seconds)
  (cd "$work/src" && zip -qr -6 "$work/zip/$1.zip" "$1")
  theirs=$(elapsed "$start" "$(seconds)")
}

check() {  # name archive source-folder
  name=$1 archive=$2 source=$3
  ok=1
  unzip -tqq "$archive" >/dev/null 2>&1 || { echo "  unzip -t rejects $name"; ok=0; }
  7z t "$archive" >/dev/null 2>&1 || { echo "  7z t rejects $name"; ok=0; }
  python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' "$archive" ||
    { echo "  python zipfile rejects $name"; ok=0; }
  python3 - "$archive" <<'EOF' || ok=0
import sys
data = open(sys.argv[1], "rb")
data.seek(-42, 2)
tail = data.read(42)
print("  ZIP64 end record and locator:", "yes" if tail[:4] == b"PK\x06\x07" else "no")
EOF
  rm -rf "$work/back"/*
  start=$(seconds)
  if run_quindo "$archive"; then
    echo "  quindo extracted it in $(elapsed "$start" "$(seconds)") s"
    folder=$(basename "$source")
    diff -r "$source" "$work/back/$folder" >/dev/null || { echo "  the extracted tree differs from the source"; ok=0; }
  else
    echo "  quindo failed to extract $name"; ok=0
  fi
  rm -rf "$work/back"/*
  [ $ok = 1 ] && echo "  $name: every check passed" || failures=$((failures + 1))
}

echo "== large members: ${big_mib} MiB deflated, ${stored_mib} MiB stored, then a small file"
big="$work/src/large"
mkdir -p "$big"
truncate -s "${big_mib}M" "$big/video.bin"
truncate -s "${stored_mib}M" "$big/disc.gz"
echo "after the large members" > "$big/zz-after.txt"
time_both large
echo "  quindo $ours s   zip -6 $theirs s   archive $(stat -c %s "$work/out/large.zip") B"
rm -f "$work/zip/large.zip"
check large.zip "$work/out/large.zip" "$big"
rm -rf "$work/out/large.zip" "$big"

echo "== $files small files"
many="$work/src/many"
mkdir -p "$many"
python3 - "$many" "$files" <<'EOF'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    folder = os.path.join(root, "d%03d" % (i // 1000))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%05d.txt" % i), "w") as f:
        f.write("file %d\n" % i)
EOF
time_both many
echo "  quindo $ours s   zip -6 $theirs s   members $(python3 -c 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).infolist()))' "$work/out/many.zip")"
check many.zip "$work/out/many.zip" "$many"

[ $failures = 0 ] && echo "all checks passed" || echo "$failures archive(s) failed"
[ $failures = 0 ]
