#!/bin/bash
# Installs what is missing, builds everything for 32-bit and 64-bit Windows and runs every test
# under Wine, for each build this machine can run (the 64-bit one always, the 32-bit one where the
# kernel executes 32-bit programs), with a private X server, a persistent wineserver and a private
# PulseAudio server (null sink, pipe source). Stops everything it started, also on failure.
# Arguments go to ctest (e.g. -R tags). TEST_HOSTS="x86_64-w64-mingw32" limits the build and the
# run to the triplets it names.
set -euo pipefail
# One host locale for every run: Wine takes its code page and its mapping of non-ASCII file
# names from it (tests that need another set their own).
export LC_ALL=C.UTF-8
source "$(dirname "$0")/common.sh"
build_hosts=${TEST_HOSTS:-$ALL_HOSTS}
# shellcheck disable=SC2086
build_all $build_hosts
run_hosts=""
for h in $(runnable_hosts); do
  case " $build_hosts " in *" $h "*) run_hosts="$run_hosts $h" ;; esac
done
if ! host_runs_32bit; then
  echo "test.sh: this machine cannot execute 32-bit programs: the 32-bit build is built, not run"
fi
[ -n "$run_hosts" ] || die "none of the builds ($build_hosts) can run on this machine"

RUN=$BUILD_ROOT/run; rm -rf "$RUN"; mkdir -p "$RUN"
pids=()
cleanup() {
  set +e
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
}
trap cleanup EXIT

# X server on a free display.
exec 3>"$RUN/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$RUN/xvfb.log" 2>&1 &
pids+=($!); exec 3>&-
for _ in $(seq 100); do [ -s "$RUN/display" ] && break; sleep 0.1; done
[ -s "$RUN/display" ] || { cat "$RUN/xvfb.log" >&2; die "the X server (Xvfb) did not start"; }
export DISPLAY=:$(head -n 1 "$RUN/display")

# PulseAudio: DirectSound plays into a null sink in real time and captures from a FIFO that a
# test can feed with a known signal ($TEST_CAPTURE_FIFO: s16le, 44100 Hz, stereo).
export PULSE_RUNTIME_PATH=$RUN/pulse PULSE_STATE_PATH=$RUN/pulse PULSE_SERVER=unix:$RUN/pulse/native
export TEST_CAPTURE_FIFO=$RUN/pulse/capture.fifo
mkdir -p "$RUN/pulse"
cat >"$RUN/pulse/test.pa" <<PA
load-module module-native-protocol-unix socket=$RUN/pulse/native auth-anonymous=1
load-module module-null-sink sink_name=nullsink rate=44100 channels=2 format=s16le
load-module module-pipe-source source_name=fifosrc file=$TEST_CAPTURE_FIFO format=s16le rate=44100 channels=2
set-default-sink nullsink
set-default-source fifosrc
PA
pulseaudio -n -F "$RUN/pulse/test.pa" --exit-idle-time=-1 --daemonize=no --use-pid-file=no \
  --log-target=file:"$RUN/pulse/pulse.log" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null 2>&1 || { tail -n 20 "$RUN/pulse/pulse.log" >&2; die "the PulseAudio server did not start"; }

# Each runnable build in turn: its Wine prefix, a persistent server so that each test starts in
# milliseconds, then the suite. No retry: a test that fails once, or a test process that crashes
# after its test passed, fails the run.
failed=""
for host in $run_hosts; do
  make_prefix "$host"
  wineserver -p >/dev/null 2>&1
  "$WINELOADER" cmd /c exit >/dev/null 2>&1 || true
  echo "=== Tests of the $host build"
  set +e
  (cd "$(build_dir "$host")" && ctest --output-on-failure --timeout 600 -j "$(nproc)" "$@") 2>&1 \
    | tee "$RUN/ctest-$host.log"
  rc=${PIPESTATUS[0]}
  set -e
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  [ "$rc" = 0 ] || failed="$failed $host"
done
[ -z "$failed" ] || { echo "test.sh: the tests of the$failed build(s) failed (see above)" >&2; exit 1; }
