#!/bin/bash
# Installs what is missing, builds the program and starts it under Wine on the user's display
# (on a private X server when there is none).
set -euo pipefail
source "$(dirname "$0")/common.sh"
build_all
if [ -z "${DISPLAY:-}" ]; then
  echo "No DISPLAY: starting the program on a private X server (Xvfb :77)." >&2
  Xvfb :77 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  export DISPLAY=:77
  sleep 1
fi
make_prefix
cd "$BUILD/bin"
exec wine ./SampleMorph.exe "$@"
