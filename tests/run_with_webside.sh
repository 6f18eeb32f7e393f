#!/usr/bin/env bash
# Runs one test command with the web side stand-in serving ROOT_DIR on 127.0.0.1: starts
# the server on a free port, exports PX_WEBSIDE_PORT and PX_WEBSIDE_ROOT (Wine passes
# both into Windows test programs), runs the command, stops the server and returns the
# command's exit code.
#
#   tests/run_with_webside.sh ROOT_DIR -- COMMAND [ARGS...]
#
# For a Windows test program the command is `/usr/lib/wine/wine64 path/to/test.exe`.
set -uo pipefail

if [ $# -lt 3 ] || [ "$2" != "--" ]; then
  echo "usage: $0 ROOT_DIR -- COMMAND [ARGS...]" >&2
  exit 2
fi
root="$1"
shift 2
mkdir -p "$root"
root="$(cd "$root" && pwd)"
here="$(cd "$(dirname "$0")/.." && pwd)"

ready="$(mktemp "${TMPDIR:-/tmp}/px-webside.XXXXXX")"
python3 "$here/standins/webside/server.py" --root "$root" --port 0 >"$ready" 2>&1 </dev/null &
server_pid=$!
stop_server() {
  kill "$server_pid" >/dev/null 2>&1 || true
  wait "$server_pid" 2>/dev/null || true
  rm -f "$ready"
}
trap stop_server EXIT
trap 'exit 130' INT TERM

port=""
for _ in $(seq 200); do
  line="$(head -n 1 "$ready")"
  case "$line" in
    "listening 127.0.0.1:"*) port="${line#listening 127.0.0.1:}"; break ;;
  esac
  if ! kill -0 "$server_pid" 2>/dev/null; then break; fi
  sleep 0.05
done
if [ -z "$port" ]; then
  echo "run_with_webside: the stand-in did not start:" >&2
  cat "$ready" >&2
  exit 1
fi

export PX_WEBSIDE_PORT="$port"
export PX_WEBSIDE_ROOT="$root"
"$@"
status=$?
exit "$status"
