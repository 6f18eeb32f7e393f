#!/usr/bin/env bash
# Times building one upload package (the x86_64 Windows build under Wine: staging copy,
# zip with minizip at the default level, move) of a 200 MB / 2,000-file tree against
# `cp -r` followed by `zip -r -6` on the same tree in the same run, and prints:
#   RATIO package-vs-cp-zip <their time / our time>
#   RATIO memory-headroom/package <64 MB / peak working set while packaging>
# Above 1 means ours is faster (or, for memory, stays below 64 MB; the peak comes from
# GetProcessMemoryInfo inside the Windows build, the largest of the runs).
# Each figure is the fastest of RUNS runs. Half of the files
# are random bytes, half are text, so deflate meets both kinds of data.
#
#   scripts/run-package-bench.sh [WIN64_BUILD_DIR] [WINE_PREFIX_DIR]
#
# Defaults: build/win64 and build/wineprefix; the package_cli target is built here if needed.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/win64}"
prefix="${2:-$root/build/wineprefix}"
runs="${PACKAGE_BENCH_RUNS:-3}"
files=2000
folders=20
total_bytes=$((200 * 1000 * 1000))

command -v zip >/dev/null || { echo "run-package-bench: zip is missing (scripts/setup.sh)" >&2; exit 1; }
cmake --build "$build" --target package_cli >/dev/null
exe="$(find "$build" -name package_cli.exe -print -quit)"
[ -n "$exe" ] || { echo "run-package-bench: package_cli.exe not built" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/px-package-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

python3 - "$work/src/Models" "$files" "$folders" "$total_bytes" <<'PY'
import base64, os, random, sys
root, files, folders, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(20070307)
mean = total // files
sizes = [rng.randint(mean // 2, mean * 3 // 2) for _ in range(files)]
sizes[-1] += total - sum(sizes)
binary = os.urandom(1 << 21)
text = base64.encodebytes(os.urandom(3 << 20))[: 1 << 21]
for i, size in enumerate(sizes):
    folder = os.path.join(root, "folder%02d" % (i % folders))
    os.makedirs(folder, exist_ok=True)
    block = binary if i % 2 else text
    offset = (i * 4099) % (len(block) - size) if size < len(block) else 0
    with open(os.path.join(folder, "file%04d.%s" % (i, "bin" if i % 2 else "txt")), "wb") as f:
        f.write(block[offset:offset + size])
PY
sync

now() { date +%s.%N; }
best() { awk 'NR == 1 || $1 < m { m = $1 } END { printf "%.6f\n", m }'; }

theirs=""
for _ in $(seq "$runs"); do
  mkdir -p "$work/stage"
  start=$(now)
  cp -r "$work/src/Models" "$work/stage/Models"
  (cd "$work/stage" && zip -r -6 -q Models.zip Models)
  end=$(now)
  theirs+="$(echo "$end - $start" | bc)"$'\n'
  rm -rf "$work/stage"
done
theirs_best=$(printf '%s' "$theirs" | best)

winpath() { echo "Z:$1" | tr '/' '\\'; }
mkdir -p "$work/cache"
output="$("$root/scripts/wine-session.sh" "$prefix" sh -c '
  for i in $(seq "$4"); do "$PX_WINE" "$1" "$2" "$3"; done' \
  sh "$exe" "$(winpath "$work/cache")" "$(winpath "$work/src/Models")" "$runs" | tr -d '\r')"
echo "$output"
ours_best=$(echo "$output" | awk '$1 == "package" && $3 > 0 { print $2 }' | best)
[ -n "$ours_best" ] && [ "$ours_best" != "0.000000" ] || { echo "run-package-bench: no timings" >&2; exit 1; }

peak=$(echo "$output" | awk '$1 == "peak-working-set" && $2 > m { m = $2 } END { print m + 0 }')
[ "$peak" -gt 0 ] || { echo "run-package-bench: no peak working set" >&2; exit 1; }

echo "cp -r + zip -r -6 $theirs_best s, upload package under Wine $ours_best s"
echo "peak working set while packaging under Wine: $peak bytes (the largest of $runs runs)"
awk -v t="$theirs_best" -v o="$ours_best" 'BEGIN { printf "RATIO package-vs-cp-zip %.2f\n", t / o }'
awk -v p="$peak" 'BEGIN { printf "RATIO memory-headroom/package %.2f\n", 64 * 1048576 / p }'
