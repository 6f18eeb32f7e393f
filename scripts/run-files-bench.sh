#!/usr/bin/env bash
# Times the store's CopyFolderTree and GetFolderSize (the x86_64 Windows build under Wine)
# on a generated tree of 10,000 files / 200 MB against Wine's own `xcopy /E /I /Q` and
# `cmd /c dir /s` on the same tree in the same prefix and the same run, and prints:
#   RATIO copy-vs-wine-xcopy <xcopy time / our time>
#   RATIO foldersize-vs-wine-dir <dir /s time / our time>
# These are the fair comparisons: under Wine creating a file costs about a millisecond in
# the wineserver whoever asks, so both sides pay the same for the platform. The Wine tools
# are timed inside the session from files_bench.exe, less the start of their process (see
# there). For information it also prints the native tools on the same tree:
#   RATIO copy-vs-cp-r <cp time / our time>
#   RATIO foldersize-vs-du <du time / our time>
# Above 1 means ours is faster. Every measurement takes the fastest of RUNS runs.
#
#   scripts/run-files-bench.sh [WIN64_BUILD_DIR] [WINE_PREFIX_DIR]
#
# Defaults: build/win64 and build/wineprefix. The build directory must be configured with
# the MinGW x86_64 toolchain; the files_bench target is built here if needed.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/win64}"
prefix="${2:-$root/build/wineprefix}"
runs="${FILES_BENCH_RUNS:-3}"
files=10000
folders=100
total_bytes=$((200 * 1024 * 1024))

cmake --build "$build" --target files_bench >/dev/null
exe="$(find "$build" -name files_bench.exe -print -quit)"
[ -n "$exe" ] || { echo "run-files-bench: files_bench.exe not built" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/px-files-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# 100 folders of 100 files; sizes spread from about 1/2 to 3/2 of the mean, summing to 200 MB.
python3 - "$work/tree" "$files" "$folders" "$total_bytes" <<'PY'
import os, random, sys
root, files, folders, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(20070307)
mean = total // files
sizes = [rng.randint(mean // 2, mean * 3 // 2) for _ in range(files)]
sizes[-1] += total - sum(sizes)
block = os.urandom(1 << 20)
for i, size in enumerate(sizes):
    folder = os.path.join(root, "folder%03d" % (i % folders))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%05d.bin" % i), "wb") as f:
        offset = (i * 4099) % (len(block) // 2)
        f.write(block[offset:offset + size] if size <= len(block) - offset else block[:size])
PY
sync

now() { date +%s.%N; }
best() { awk 'NR == 1 || $1 < m { m = $1 } END { printf "%.6f\n", m }'; }

cp_times=""
du_times=""
for _ in $(seq "$runs"); do
  start=$(now); cp -r "$work/tree" "$work/cp-copy"; end=$(now)
  cp_times+="$(echo "$end - $start" | bc)"$'\n'
  rm -rf "$work/cp-copy"
  start=$(now); du -sb "$work/tree" >/dev/null; end=$(now)
  du_times+="$(echo "$end - $start" | bc)"$'\n'
done
cp_best=$(printf '%s' "$cp_times" | best)
du_best=$(printf '%s' "$du_times" | best)

winpath() { echo "Z:$1" | tr '/' '\\'; }
mkdir -p "$work/ours"
output="$("$root/scripts/wine-session.sh" "$prefix" sh -c \
  '"$PX_WINE" "$1" "$2" "$3" "$4"' sh "$exe" "$(winpath "$work/tree")" \
  "$(winpath "$work/ours")" "$runs" | tr -d '\r')"
echo "$output"
copy_best=$(echo "$output" | awk '$1 == "copy" && NF == 2 { print $2 }')
size_best=$(echo "$output" | awk '$1 == "foldersize" && NF == 2 { print $2 }')
xcopy_best=$(echo "$output" | awk '$1 == "xcopy" && NF == 2 { print $2 }')
dir_best=$(echo "$output" | awk '$1 == "dir" && NF == 2 { print $2 }')
[ -n "$copy_best" ] && [ -n "$size_best" ] && [ -n "$xcopy_best" ] && [ -n "$dir_best" ] ||
  { echo "run-files-bench: no timings" >&2; exit 1; }

echo "xcopy $xcopy_best s, CopyFolderTree $copy_best s; dir /s $dir_best s, GetFolderSize $size_best s"
awk -v a="$xcopy_best" -v o="$copy_best" 'BEGIN { printf "RATIO copy-vs-wine-xcopy %.2f\n", a / o }'
awk -v a="$dir_best" -v o="$size_best" 'BEGIN { printf "RATIO foldersize-vs-wine-dir %.2f\n", a / o }'
echo "for information, native tools: cp -r $cp_best s, du -sb $du_best s"
awk -v a="$cp_best" -v o="$copy_best" 'BEGIN { printf "RATIO copy-vs-cp-r %.2f\n", a / o }'
awk -v a="$du_best" -v o="$size_best" 'BEGIN { printf "RATIO foldersize-vs-du %.2f\n", a / o }'
