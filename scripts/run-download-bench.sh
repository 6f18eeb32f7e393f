#!/usr/bin/env bash
# Times the store's download client against `curl -o` on the same server in the same run:
# a 1 GiB file (sparse, so serving it costs no disk reads) from the web side stand-in on
# 127.0.0.1, natively and with the x86_64 Windows build under Wine, and prints
#   RATIO download-vs-curl <curl time / our time>
#   RATIO download-wine-vs-curl <curl time / our time under Wine>
# and the same over TLS (the stand-in's --tls port with the good certificate; curl trusts
# the test authority with --cacert, Wine through the prefix's machine Root store):
#   RATIO download-tls-wine-vs-curl <curl time / our time under Wine, both over TLS>
#   RATIO download-tls-vs-plain-wine <our plain time / our TLS time, both under Wine>
# and the memory the Windows build needs for it:
#   RATIO memory-headroom/download <64 MB / peak working set of the Windows build>
# Above 1 means ours is faster (or, for memory, stays below 64 MB; the peak comes from
# GetProcessMemoryInfo inside the Windows build, the larger of the plain and TLS runs).
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
cmake --build "$win_build" --target download_cli trust_authority >/dev/null
native_cli="$(find "$native_build" -name download_cli -type f -perm -u+x -print -quit)"
win_cli="$(find "$win_build" -name download_cli.exe -print -quit)"
trust_exe="$(find "$win_build" -name trust_authority.exe -print -quit)"
[ -n "$native_cli" ] && [ -n "$win_cli" ] && [ -n "$trust_exe" ] ||
  { echo "run-download-bench: download_cli or trust_authority not built" >&2; exit 1; }

mkdir -p "$work/served" "$work/out"
rm -f "$work/served/big.bin"
truncate -s 1G "$work/served/big.bin"

ready="$work/server.out"
: >"$ready"  # there before the server's output is redirected into it
rm -rf "$work/tls"
python3 "$root/standins/webside/server.py" --root "$work/served" --port 0 --tls "$work/tls" \
  >"$ready" 2>&1 </dev/null &
server_pid=$!
cleanup() {
  kill "$server_pid" >/dev/null 2>&1 || true
  wait "$server_pid" 2>/dev/null || true
  rm -rf "$work/served" "$work/out" "$work/tls" "$ready"
}
trap cleanup EXIT
port=""
tls_port=""
for _ in $(seq 400); do
  line="$(head -n 1 "$ready")"
  case "$line" in "listening 127.0.0.1:"*) port="${line#listening 127.0.0.1:}" ;; esac
  tls_line="$(grep '^tls good ' "$ready" || true)"
  [ -n "$tls_line" ] && tls_port="${tls_line##*:}"
  [ -n "$port" ] && [ -n "$tls_port" ] && break
  sleep 0.05
done
[ -n "$port" ] && [ -n "$tls_port" ] || { echo "run-download-bench: the stand-in did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/files/big.bin"
tls_url="https://127.0.0.1:$tls_port/files/big.bin"

now() { date +%s.%N; }
best() { awk 'NR == 1 || $1 < m { m = $1 } END { printf "%.6f\n", m }'; }

# The fastest of RUNS curl downloads of $1 (further arguments go to curl).
curl_best_of() {
  local target="$1" times="" start end
  shift
  for _ in $(seq "$runs"); do
    rm -f "$work/out/curl.bin"
    start=$(now); curl -s "$@" -o "$work/out/curl.bin" "$target"; end=$(now)
    [ "$(stat -c %s "$work/out/curl.bin")" -eq $((1 << 30)) ] || { echo "run-download-bench: curl short" >&2; exit 1; }
    times+="$(echo "$end - $start" | bc)"$'\n'
    rm -f "$work/out/curl.bin"
  done
  printf '%s' "$times" | best
}
curl_best=$(curl_best_of "$url")
curl_tls_best=$(curl_best_of "$tls_url" --cacert "$work/tls/ca.pem")

native_best=$("$native_cli" "$url" "$work/out/ours.bin" "$runs" | awk '$1 == "download" { print $2 }')

winpath() { echo "Z:$1" | tr '/' '\\'; }
# One Wine session: plain, then TLS with the test authority trusted for the while.
wine_output="$("$root/scripts/wine-session.sh" "$prefix" sh -c '
  "$PX_WINE" "$1" "$2" "$3" "$4" | sed "s/^download /plain /"
  "$PX_WINE" "$6" add "$7" >/dev/null
  "$PX_WINE" "$1" "$5" "$3" "$4" | sed "s/^download /tls /"
  "$PX_WINE" "$6" remove "$7" >/dev/null' \
  sh "$win_cli" "$url" "$(winpath "$work/out/wine.bin")" "$runs" "$tls_url" \
  "$trust_exe" "$(winpath "$work/tls/ca.der")" | tr -d '\r')"
wine_best=$(echo "$wine_output" | awk '$1 == "plain" { print $2 }')
wine_tls_best=$(echo "$wine_output" | awk '$1 == "tls" { print $2 }')
wine_peak=$(echo "$wine_output" | awk '$1 == "peak-working-set" && $2 > m { m = $2 } END { print m + 0 }')
[ -n "$native_best" ] && [ -n "$wine_best" ] && [ -n "$wine_tls_best" ] ||
  { echo "run-download-bench: no timings" >&2; exit 1; }
[ "$wine_peak" -gt 0 ] || { echo "run-download-bench: no peak working set" >&2; exit 1; }

echo "1 GiB: curl $curl_best s, download client $native_best s, under Wine $wine_best s"
echo "1 GiB over TLS: curl $curl_tls_best s, download client under Wine $wine_tls_best s"
awk -v a="$curl_best" -v o="$native_best" 'BEGIN { printf "RATIO download-vs-curl %.2f\n", a / o }'
awk -v a="$curl_best" -v o="$wine_best" 'BEGIN { printf "RATIO download-wine-vs-curl %.2f\n", a / o }'
awk -v a="$curl_tls_best" -v o="$wine_tls_best" \
  'BEGIN { printf "RATIO download-tls-wine-vs-curl %.2f\n", a / o }'
awk -v a="$wine_best" -v o="$wine_tls_best" \
  'BEGIN { printf "RATIO download-tls-vs-plain-wine %.2f\n", a / o }'
echo "peak working set of the download client under Wine: $wine_peak bytes"
awk -v p="$wine_peak" 'BEGIN { printf "RATIO memory-headroom/download %.2f\n", 64 * 1048576 / p }'
