# Shared steps of scripts/run.sh and scripts/test.sh (sourced, not run).
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export HOME=${HOME:-/root}
export PROJECT_CACHE=${PROJECT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/samplemorph}
# One build folder per MinGW-w64 triplet below this one: build/i686-w64-mingw32, build/x86_64-w64-mingw32.
BUILD_ROOT=${BUILD_DIR:-$ROOT/build}
# Compiler cache hits for every checkout of the project on this machine (CI builds a fresh clone in
# another folder): paths below the checkout are hashed relative to it.
export CCACHE_BASEDIR=$ROOT CCACHE_NOHASHDIR=1
source "$ROOT/scripts/arch.sh"

# Says which step failed and why, then ends the script.
die() { echo "$(basename "$0"): FAILED: $*" >&2; exit 1; }

build_dir() { echo "$BUILD_ROOT/$1"; }

toolchain_file() {
  case $1 in
    i686-w64-mingw32) echo "$ROOT/cmake/mingw32-posix.cmake" ;;
    x86_64-w64-mingw32) echo "$ROOT/cmake/mingw64-posix.cmake" ;;
  esac
}

# Installs what is missing, then builds the dependency DLLs (cached) and the project for each
# triplet given.
build_all() {
  bash "$ROOT/scripts/setup.sh" || die "installing the packages (scripts/setup.sh) failed; see its messages above"
  mkdir -p "$BUILD_ROOT"
  local host deps dir
  # The dependency sets build side by side (each is cached: a second run returns at once).
  declare -A dep_pid
  for host in "$@"; do
    bash "$ROOT/scripts/build-deps.sh" "$host" >"$BUILD_ROOT/deps-$host.path" &
    dep_pid[$host]=$!
  done
  for host in "$@"; do
    wait "${dep_pid[$host]}" || die "the dependency build for $host (scripts/build-deps.sh $host) failed; see its messages above"
  done
  for host in "$@"; do
    deps=$(tail -n 1 "$BUILD_ROOT/deps-$host.path")
    [ -n "$deps" ] && [ -d "$deps/dist" ] || die "the dependency build for $host printed no folder with dist/ in it"
    dir=$(build_dir "$host")
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(toolchain_file "$host")" \
          -DCMAKE_BUILD_TYPE=Release -DDEPS_DIR="$deps" >"$BUILD_ROOT/configure-$host.log" 2>&1 \
      || { tail -n 30 "$BUILD_ROOT/configure-$host.log" >&2; die "configuring the $host build failed"; }
    echo "Building for $host in $dir"
    cmake --build "$dir" -j "$(nproc)" || die "building for $host failed; the compiler's messages are above"
  done
}

# The Wine prefix of a build: made once per build folder, for that build's architecture (a 32-bit
# prefix for the 32-bit build, a 64-bit one for the 64-bit build), with Marlett for the caption
# buttons, WenQuanYi standing in for SimSun so that CJK text is drawn, and no crash dialog: a process
# that crashes prints its backtrace and ends at once instead of waiting for a click under Xvfb.
# Windows are Wine's own, not a window manager's (there is none on the test display): hiding a
# window then takes no time, where Wine would wait two seconds for a window manager to answer.
# Exports WINEPREFIX, WINELOADER and WINEDEBUG for that build. Wine's own messages are off except
# its diagnostics of the environment (channel winediag): a process that Wine ends before the
# program prints anything (seen: exit code 1 after 18 to 115 ms, no output, as Wine's X11 driver
# ends a process whose thread cannot connect to the X server) then says why.
make_prefix() {
  local host=$1 arch=win64
  [ "$host" = i686-w64-mingw32 ] && arch=win32
  WINELOADER=$(wine_loader "$host") || die "unknown build '$host'"
  export WINELOADER
  [ -x "$WINELOADER" ] || die "Wine's loader $WINELOADER for the $host build is missing"
  export WINEPREFIX=$(build_dir "$host")/wineprefix WINEDEBUG=-all,err+winediag
  if [ ! -e "$WINEPREFIX/.ready4" ]; then
    rm -rf "$WINEPREFIX"
    WINEARCH=$arch "$WINELOADER" wineboot -i >"$BUILD_ROOT/wineboot-$host.log" 2>&1 \
      || { tail -n 20 "$BUILD_ROOT/wineboot-$host.log" >&2; die "making the Wine prefix for $host (wineboot) failed"; }
    wineserver -w
    [ -d "$WINEPREFIX/drive_c/windows/Fonts" ] || die "the Wine prefix for $host has no Fonts folder after wineboot"
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    "$WINELOADER" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1 \
      || die "setting the SimSun replacement in the $host Wine prefix failed"
    "$WINELOADER" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 \
      || die "turning off the crash dialog in the $host Wine prefix failed"
    "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 \
      || die "setting unmanaged windows in the $host Wine prefix failed"
    wineserver -w
    touch "$WINEPREFIX/.ready4"
  fi
}
