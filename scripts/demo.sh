#!/usr/bin/env bash
# make demo: sets the machine up, builds what the demo needs, and plays a typical request
# through the whole system under Wine, saying what happens at each step: 3ds Max (played
# by maxhost.exe with the real plug-in) starts the store, the movie (played by
# scripts/demo_movie.py) searches a small catalogue on the web side stand-in, downloads
# models into the scene (one over https), uploads the scene and a folder, and asks for updates.
#
#   scripts/demo.sh
#
# PX_DEMO_BUILD   the win64 build folder (default build/win64, configured from the win64
#                 preset as make test does; another folder must be configured already)
# PX_DEMO_SKIP_SETUP=1  skip scripts/setup.sh (the machine is set up already)
#
# The windows show on DISPLAY when it answers, else on an Xvfb display of the demo's own.
# Everything goes below build/demo: the Wine prefix, the catalogue, the screenshots.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
build="${PX_DEMO_BUILD:-build/win64}"
out="build/demo"
targets=(PXStore flash_standin dlgwatch maxhost PXPluginMax trust_authority)

session_pid=""
cleanup() {
  # The session ends the demo's programs, its wineserver and its Xvfb on its own; this
  # only asks it to when the demo itself is interrupted.
  if [ -n "$session_pid" ] && kill -0 "$session_pid" 2>/dev/null; then
    pkill -TERM -P "$session_pid" 2>/dev/null || true
    wait "$session_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ "${PX_DEMO_SKIP_SETUP:-0}" != 1 ]; then
  echo "demo: setting the machine up (scripts/setup.sh)"
  ./scripts/setup.sh
fi

echo "demo: building ${targets[*]} in $build"
if [ "$build" = build/win64 ]; then
  cmake --preset win64 >/dev/null
fi
mkdir -p "$out"
cmake --build "$build" --target "${targets[@]}" >"$out/build.log" 2>&1 || {
  tail -n 40 "$out/build.log"
  echo "demo: the build failed (whole log: $out/build.log)" >&2
  exit 1
}

echo "demo: starting Wine (prefix $out/wineprefix; the first start makes the prefix)"
PX_SESSION_DISPLAY=current PX_DEMO_CALLER_DISPLAY="${DISPLAY:-}" \
  ./scripts/wine-session.sh "$out/wineprefix" \
  python3 scripts/demo_movie.py --build "$build" --out "$out" &
session_pid=$!
status=0
wait "$session_pid" || status=$?
session_pid=""
exit "$status"
