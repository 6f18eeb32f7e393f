#!/usr/bin/env bash
# Runs one test command with the web side stand-in serving ROOT_DIR on 127.0.0.1: starts
# the server on a free port, exports PX_WEBSIDE_PORT and PX_WEBSIDE_ROOT (Wine passes
# both into Windows test programs), runs the command, stops the server and returns the
# command's exit code.
#
#   tests/run_with_webside.sh [--tls] ROOT_DIR -- COMMAND [ARGS...]
#
# For a Windows test program the command is `/usr/lib/wine/wine64 path/to/test.exe`.
# --tls also serves over TLS (the stand-in's --tls, its test authority in ROOT_DIR.tls)
# and exports PX_WEBSIDE_TLS_GOOD, _WRONG_NAME, _EXPIRED, _UNKNOWN_AUTHORITY, _REVOKED and
# _REVOCATION_UNKNOWN (the ports) and PX_WEBSIDE_CA (the authority's DER file). When PX_TRUST_AUTHORITY names the
# trust_authority.exe helper, the authority is added to the Wine prefix's machine Root
# store before the command and removed after it, whatever the command does.
set -uo pipefail

tls=""
if [ "${1:-}" = "--tls" ]; then
  tls=1
  shift
fi
if [ $# -lt 3 ] || [ "$2" != "--" ]; then
  echo "usage: $0 [--tls] ROOT_DIR -- COMMAND [ARGS...]" >&2
  exit 2
fi
root="$1"
shift 2
mkdir -p "$root"
root="$(cd "$root" && pwd)"
here="$(cd "$(dirname "$0")/.." && pwd)"

ready="$(mktemp "${TMPDIR:-/tmp}/px-webside.XXXXXX")"
tls_args=()
if [ -n "$tls" ]; then
  rm -rf "$root.tls"
  tls_args=(--tls "$root.tls")
fi
python3 "$here/standins/webside/server.py" --root "$root" --port 0 "${tls_args[@]}" \
  >"$ready" 2>&1 </dev/null &
server_pid=$!
trusted=""
winpath() { echo "Z:$1" | tr '/' '\\'; }
stop_server() {
  if [ -n "$trusted" ]; then
    /usr/lib/wine/wine64 "$PX_TRUST_AUTHORITY" remove "$(winpath "$trusted")" >/dev/null 2>&1 || true
  fi
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

if [ -n "$tls" ]; then
  # The TLS ports follow the first line once the certificates are made.
  for _ in $(seq 600); do
    [ "$(grep -c "^tls " "$ready")" -ge 6 ] && break
    if ! kill -0 "$server_pid" 2>/dev/null; then break; fi
    sleep 0.05
  done
  for kind in good wrong-name expired unknown-authority revoked revocation-unknown; do
    line="$(grep "^tls $kind " "$ready")"
    if [ -z "$line" ]; then
      echo "run_with_webside: no TLS port for $kind:" >&2
      cat "$ready" >&2
      exit 1
    fi
    name="PX_WEBSIDE_TLS_$(echo "$kind" | tr 'a-z-' 'A-Z_')"
    export "$name=${line##*:}"
  done
  export PX_WEBSIDE_CA="$root.tls/ca.der"
  if [ -n "${PX_TRUST_AUTHORITY:-}" ]; then
    trusted="$PX_WEBSIDE_CA"
    if ! /usr/lib/wine/wine64 "$PX_TRUST_AUTHORITY" add "$(winpath "$trusted")" >/dev/null; then
      echo "run_with_webside: the test authority could not be trusted" >&2
      exit 1
    fi
  fi
fi
"$@"
status=$?
exit "$status"
