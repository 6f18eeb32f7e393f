#!/usr/bin/env bash
# Runs one command inside a Wine session made for the tests: an X display of its own
# (Xvfb on a free display number), the project's own prefix, and a persistent
# wineserver that is started before the command and stopped after it.
#
#   scripts/wine-session.sh PREFIX_DIR COMMAND [ARGS...]
#
# Inside the command, WINEPREFIX, WINEDEBUG, DISPLAY and PX_WINE (the wine64 loader)
# are set. The display and the wineserver are cleaned up whatever the command does.
# With PX_SESSION_DISPLAY=current the caller's DISPLAY is used when it answers (the demo
# shows its windows on the desktop); otherwise, and by default, an Xvfb of its own.
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 PREFIX_DIR COMMAND [ARGS...]" >&2
  exit 2
fi

prefix="$(mkdir -p "$1" && cd "$1" && pwd)"
shift

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko download prompts on a fresh prefix.
export WINEDLLOVERRIDES="mscoree=;mshtml="
export PX_WINE=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

xvfb_pid=""
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" >/dev/null 2>&1 || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Other sessions may run displays of their own: take the first number nobody holds.
start_display() {
  local n
  for n in $(seq 91 250); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 </dev/null &
    xvfb_pid=$!
    for _ in $(seq 1 100); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$xvfb_pid" >/dev/null 2>&1 || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  done
  echo "wine-session: no free X display" >&2
  return 1
}
if [ "${PX_SESSION_DISPLAY:-}" = current ] && [ -n "${DISPLAY:-}" ] &&
   timeout 10 xdotool getdisplaygeometry >/dev/null 2>&1 </dev/null; then
  :
else
  start_display || exit 1
fi

# The display must exist before the prefix's first process, or windows never work.
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -w >/dev/null 2>&1 || true
if [ ! -f "$prefix/system.reg" ]; then
  "$PX_WINE" wineboot -i >/dev/null 2>&1 </dev/null
  # Without a window manager, destroying a top-level window waits two seconds.
  "$PX_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
  "$wineserver" -w >/dev/null 2>&1 || true
fi
# A persistent server started here, with its output away from the caller's pipes.
("$wineserver" -p; "$PX_WINE" cmd /c exit) >/dev/null 2>&1 </dev/null

"$@"
