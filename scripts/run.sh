#!/bin/bash
# Installs what is missing, builds the program and starts it under Wine on the user's display
# (on a private X server when there is none, which is stopped again when the program exits).
# It starts the 32-bit program where this machine can run 32-bit programs, the 64-bit one otherwise.
set -euo pipefail
source "$(dirname "$0")/common.sh"
read -r host _ <<<"$(runnable_hosts)"
build_all "$host"
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
  exec 3>"$BUILD_ROOT/run-display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$BUILD_ROOT/run-xvfb.log" 2>&1 &
  xvfb=$!
  exec 3>&-
  for _ in $(seq 100); do [ -s "$BUILD_ROOT/run-display" ] && break; sleep 0.1; done
  [ -s "$BUILD_ROOT/run-display" ] || { cat "$BUILD_ROOT/run-xvfb.log" >&2; die "the X server (Xvfb) did not start"; }
  export DISPLAY=:$(head -n 1 "$BUILD_ROOT/run-display")
fi
make_prefix "$host"
cd "$(build_dir "$host")/bin"
echo "Starting the $host program: $(pwd)/SampleMorph.exe"
rc=0
"$WINELOADER" ./SampleMorph.exe "$@" || rc=$?
# The program's own wineserver goes with the X server it drew on.
[ -n "$xvfb" ] && wineserver -k 2>/dev/null
exit "$rc"
