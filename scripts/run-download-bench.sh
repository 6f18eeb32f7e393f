#!/usr/bin/env bash
# Times the store's download client against `curl -o` on the same server in the same run:
# a 1 GiB file (sparse, so serving it costs no disk reads) from the web side stand-in on
# 127.0.0.1, natively and with the x86_64 Windows build under Wine, and prints
#   RATIO download-vs-curl <curl time / our time>
#   RATIO download-wine-vs-curl <curl time / our time under Wine>
#   RATIO memory-headroom/download <64 MB / peak working set of the Windows build>
# Above 1 means ours is faster (or, for memory, stays below 64 MB; the peak comes from
# GetProcessMemoryInfo inside the Windows build, over all its runs).
# Every measurement takes the fastest of RUNS runs.
#
#   scripts/run-download-bench.sh [NATIVE_BENCH_BUILD_DIR] [WIN64_BUILD_DIR] [WINE_PREFIX_DIR]
#
# Defaults: build/bench, build/win64 and build/wineprefix; the download_cli target is built
# in both build directories here if needed. DOWNLOAD_BENCH_DIR (default build/download-bench)
# holds the served file and the downloads; DOWNLOAD_BENCH_RUNS sets RUNS (default 3).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
native_build="${1:-$root/build/bench}"
win_build="${2:-$root/build/win64}"
prefix="${3:-$root/build/wineprefix}"
runs="${DOWNLOAD_BENCH_RUNS:-3}"
work="${DOWNLOAD_BENCH_DIR:-$root/build/download-bench}"

cmake --build "$native_build" --target download_cli >/dev/null
cmake --build "$win_build" --target download_cli >/dev/null
native_cli="$(find "$native_build" -name download_cli -type f -perm -u+x -print -quit)"
win_cli="$(find "$win_build" -name download_cli.exe -print -quit)"
[ -n "$native_cli" ] && [ -n "$win_cli" ] || { echo "run-download-bench: download_cli not built" >&2; exit 1; }

mkdir -p "$work/served" "$work/out"
rm -f "$work/served/big.bin"
truncate -s 1G "$work/served/big.bin"

ready="$work/server.out"
python3 "$root/standins/webside/server.py" --root "$work/served" --port 0 >"$ready" 2>&1 </dev/null &
server_pid=$!
cleanup() {
  kill "$server_pid" >/dev/null 2>&1 || true
  wait "$server_pid" 2>/dev/null || true
  rm -rf "$work/served" "$work/out" "$ready"
}
trap cleanup EXIT
port=""
for _ in $(seq 200); do
  line="$(head -n 1 "$ready")"
  case "$line" in "listening 127.0.0.1:"*) port="${line#listening 127.0.0.1:}"; break ;; esac
  sleep 0.05
done
[ -n "$port" ] || { echo "run-download-bench: the stand-in did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/files/big.bin"

now() { date +%s.%N; }
best() { awk 'NR == 1 || $1 < m { m = $1 } END { printf "%.6f\n", m }'; }

curl_times=""
for _ in $(seq "$runs"); do
  rm -f "$work/out/curl.bin"
  start=$(now); curl -s -o "$work/out/curl.bin" "$url"; end=$(now)
  [ "$(stat -c %s "$work/out/curl.bin")" -eq $((1 << 30)) ] || { echo "run-download-bench: curl short" >&2; exit 1; }
  curl_times+="$(echo "$end - $start" | bc)"$'\n'
  rm -f "$work/out/curl.bin"
done
curl_best=$(printf '%s' "$curl_times" | best)

native_best=$("$native_cli" "$url" "$work/out/ours.bin" "$runs" | awk '$1 == "download" { print $2 }')

winpath() { echo "Z:$1" | tr '/' '\\'; }
wine_output="$("$root/scripts/wine-session.sh" "$prefix" sh -c '"$PX_WINE" "$1" "$2" "$3" "$4"' \
  sh "$win_cli" "$url" "$(winpath "$work/out/wine.bin")" "$runs" | tr -d '\r')"
wine_best=$(echo "$wine_output" | awk '$1 == "download" { print $2 }')
wine_peak=$(echo "$wine_output" | awk '$1 == "peak-working-set" { print $2 }')
[ -n "$native_best" ] && [ -n "$wine_best" ] || { echo "run-download-bench: no timings" >&2; exit 1; }
[ -n "$wine_peak" ] && [ "$wine_peak" -gt 0 ] || { echo "run-download-bench: no peak working set" >&2; exit 1; }

echo "1 GiB: curl $curl_best s, download client $native_best s, under Wine $wine_best s"
awk -v a="$curl_best" -v o="$native_best" 'BEGIN { printf "RATIO download-vs-curl %.2f\n", a / o }'
awk -v a="$curl_best" -v o="$wine_best" 'BEGIN { printf "RATIO download-wine-vs-curl %.2f\n", a / o }'
echo "peak working set of the download client under Wine: $wine_peak bytes"
awk -v p="$wine_peak" 'BEGIN { printf "RATIO memory-headroom/download %.2f\n", 64 * 1048576 / p }'
