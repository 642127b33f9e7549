#!/bin/bash
# Installs what building, running and testing need on a Debian 12 machine (as root), for both
# builds: 32-bit Windows (i686-w64-mingw32) and 64-bit Windows (x86_64-w64-mingw32). The i386
# packages (32-bit Wine and the 32-bit plug-ins its Windows Media reader uses) are installed only
# where this machine can execute 32-bit Linux programs: some kernels cannot, and there even the
# install scripts of i386 packages fail.
# Idempotent: a second run installs nothing and takes about a second.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
source "$(dirname "$0")/arch.sh"

fail() { echo "setup: FAILED: $*" >&2; exit 1; }

PKGS_NATIVE="cmake make ninja-build ccache dpkg-dev nasm bc python3 git locales
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libz-mingw-w64-dev googletest
  wine wine64 xvfb x11-utils xdotool imagemagick pulseaudio pulseaudio-utils fonts-wqy-microhei fonts-wine
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly gstreamer1.0-libav
  ffmpeg flac sox lame vorbis-tools wavpack musepack-tools python3-png pngcheck libpng-tools librsvg2-bin"
PKGS_I386="wine32:i386 libpulse0:i386 gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386
  gstreamer1.0-plugins-ugly:i386 gstreamer1.0-libav:i386"
if host_runs_32bit; then
  echo "setup: this machine runs 32-bit programs: installing for both builds"
else
  echo "setup: this machine cannot run 32-bit programs: installing for the 64-bit build only"
  PKGS_I386=""
fi

missing() {
  local p out=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || out="$out $p"
  done
  echo "$out"
}

changed=0
if [ -n "$PKGS_I386" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386; changed=1
fi
# Source packages for the dependency build.
if ! grep -rqs 'deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  cat > /etc/apt/sources.list.d/project-deb-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  changed=1
fi

# shellcheck disable=SC2086
need=$(missing $PKGS_NATIVE $PKGS_I386)
stamp=/var/lib/apt/lists/.project-updated
if [ -n "$need" ] || [ "$changed" = 1 ]; then
  if [ "$changed" = 1 ] || [ ! -e "$stamp" ] || ! apt-cache showsrc lame >/dev/null 2>&1; then
    apt-get -o DPkg::Lock::Timeout=900 update -q || fail "apt-get update could not read the package lists"
    touch "$stamp"
  fi
fi
if [ -n "$need" ]; then
  echo "setup: installing$need"
  # shellcheck disable=SC2086
  apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends $need \
    || fail "apt-get could not install:$need"
fi
# Host locales for the tests that run Wine with another system language or code page (LC_ALL=zh_CN.UTF-8
# gives code page 936, en_US.UTF-8 gives 1252): without the host locale Wine cannot convert
# non-ASCII file names to the host's.
need_locales=""
for loc in en_US zh_CN cs_CZ; do
  locale -a 2>/dev/null | grep -ix "$loc.utf8" >/dev/null || need_locales="$need_locales $loc"
done
if [ -n "$need_locales" ]; then
  for loc in $need_locales; do
    grep -qx "$loc.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null || echo "$loc.UTF-8 UTF-8" >> /etc/locale.gen
  done
  echo "setup: generating locales$need_locales"
  locale-gen >/dev/null || fail "locale-gen could not make the locales$need_locales"
fi
echo "setup: ok"
