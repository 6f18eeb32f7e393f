#!/usr/bin/env bash
# Times the store's upload (the x86_64 Windows build under Wine, WinInet in 1024-byte
# chunks) of a 256 MiB file against `curl -F` run natively, both posting to the same web side
# stand-in in the same run, and prints:
#   RATIO upload-wine-vs-curl <curl time / our time>
#   RATE upload-wine <MB/s>
# Above 1 means ours is faster. Each figure is the fastest of RUNS runs. The stand-in reads,
# parses and stores every body in Python, so it caps both sides alike.
#
#   scripts/run-upload-bench.sh [WIN64_BUILD_DIR] [WINE_PREFIX_DIR]
#
# Defaults: build/win64 and build/wineprefix; the upload_cli target is built here if needed.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/win64}"
prefix="${2:-$root/build/wineprefix}"
runs="${UPLOAD_BENCH_RUNS:-3}"
size=$((256 * 1024 * 1024))

cmake --build "$build" --target upload_cli >/dev/null
exe="$(find "$build" -name upload_cli.exe -print -quit)"
[ -n "$exe" ] || { echo "run-upload-bench: upload_cli.exe not built" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/px-upload-bench.XXXXXX")"
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && { kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

head -c "$size" /dev/urandom >"$work/model.bin"
mkdir -p "$work/site"
python3 "$root/standins/webside/server.py" --root "$work/site" --port 0 >"$work/server.out" 2>&1 &
server_pid=$!
port=""
for _ in $(seq 200); do
  line="$(head -n 1 "$work/server.out" 2>/dev/null || true)"
  case "$line" in "listening 127.0.0.1:"*) port="${line#listening 127.0.0.1:}"; break ;; esac
  sleep 0.05
done
[ -n "$port" ] || { echo "run-upload-bench: the stand-in did not start" >&2; exit 1; }
url="http://127.0.0.1:$port/Upload/uploadtest.asp"

now() { date +%s.%N; }
# The stand-in may still be storing the last body when its answer has gone out.
clear_uploads() {
  for _ in $(seq 40); do rm -rf "$work/site/_uploads" 2>/dev/null && return 0; sleep 0.5; done
  return 1
}
best() { awk 'NR == 1 || $1 < m { m = $1 } END { printf "%.6f\n", m }'; }

curl_times=""
for _ in $(seq "$runs"); do
  start=$(now)
  curl -sS -o /dev/null -H 'Expect:' -F content=files -F guid=bench -F nohtml=1 \
    -F "stgFiletoUpload1=@$work/model.bin" -F "title=Vellamar File System" "$url"
  end=$(now)
  curl_times+="$(echo "$end - $start" | bc)"$'\n'
  clear_uploads
done
curl_best=$(printf '%s' "$curl_times" | best)

winpath() { echo "Z:$1" | tr '/' '\\'; }
output="$("$root/scripts/wine-session.sh" "$prefix" sh -c '
  for i in $(seq "$4"); do
    "$PX_WINE" "$1" "$2" "$3"
    for t in $(seq 40); do rm -rf "$5/_uploads" 2>/dev/null && break; sleep 0.5; done
  done' \
  sh "$exe" "$url" "$(winpath "$work/model.bin")" "$runs" "$work/site" | tr -d '\r')"
echo "$output"
ours_best=$(echo "$output" | awk '$1 == "upload" && $3 == 0 { print $2 }' | best)
[ -n "$ours_best" ] && [ "$ours_best" != "0.000000" ] || { echo "run-upload-bench: no timings" >&2; exit 1; }
grep -q '"error"' <(curl -s "http://127.0.0.1:$port/_log") && { echo "run-upload-bench: the stand-in refused a body" >&2; exit 1; }

echo "curl -F $curl_best s, store upload under Wine $ours_best s ($size bytes)"
awk -v c="$curl_best" -v o="$ours_best" 'BEGIN { printf "RATIO upload-wine-vs-curl %.2f\n", c / o }'
awk -v s="$size" -v o="$ours_best" 'BEGIN { printf "RATE upload-wine %.1f\n", s / 1e6 / o }'
