# Shared steps of scripts/run.sh and scripts/test.sh (sourced, not run).
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export HOME=${HOME:-/root}
export PROJECT_CACHE=${PROJECT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/samplemorph}
BUILD=${BUILD_DIR:-$ROOT/build}

# Installs what is missing, builds the dependency DLLs (cached) and the project.
build_all() {
  bash "$ROOT/scripts/setup.sh"
  local deps
  deps=$(bash "$ROOT/scripts/build-deps.sh" | tail -n 1)
  [ -d "$deps/dist" ] || { echo "dependency build failed" >&2; return 1; }
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw32-posix.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DDEPS_DIR="$deps" >/dev/null
  cmake --build "$BUILD" -j "$(nproc)"
}

# The Wine prefix: made once per build folder, with Marlett for the caption buttons,
# WenQuanYi standing in for SimSun so that CJK text is drawn, and no crash dialog: a process that
# crashes prints its backtrace and ends at once instead of waiting for a click under Xvfb.
make_prefix() {
  export WINEPREFIX=$BUILD/wineprefix WINEDEBUG=-all
  if [ ! -e "$WINEPREFIX/.ready2" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.ready2"
  fi
}
