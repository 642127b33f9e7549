#!/bin/bash
# Installs what is missing, builds the program and starts it under Wine on the user's display
# (on a private X server when there is none, which is stopped again when the program exits).
set -euo pipefail
source "$(dirname "$0")/common.sh"
build_all
xvfb=""
cleanup() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  fi
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  echo "No DISPLAY: starting the program on a private X server." >&2
  exec 3>"$BUILD/run-display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  exec 3>&-
  for _ in $(seq 100); do [ -s "$BUILD/run-display" ] && break; sleep 0.1; done
  [ -s "$BUILD/run-display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=:$(head -n 1 "$BUILD/run-display")
fi
make_prefix
cd "$BUILD/bin"
rc=0
wine ./SampleMorph.exe "$@" || rc=$?
# The program's own wineserver goes with the X server it drew on.
[ -n "$xvfb" ] && wineserver -k 2>/dev/null
exit "$rc"
