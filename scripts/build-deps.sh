#!/bin/bash
# Cross-builds the codec libraries the program loads at run time, for 32-bit or 64-bit Windows, from
# Debian's source packages:
#   dist/    lame_enc.dll ogg.dll vorbis.dll vorbisfile.dll vorbisenc.dll libFLAC.dll WavpackDLL.dll
#            libtag_c.dll (C binding with the C++ library and zlib inside)
#   prefix/  include/ (all headers), lib/ (static zlib, libjpeg, libmpcdec, libmpcenc; import libraries)
#   src/musepack/  the unpacked Musepack sources, for the adapter DLLs built on top of libmpcdec and libmpcenc
# Every DLL imports only system DLLs and each other (checked at the end).
#
# usage: scripts/build-deps.sh [HOST]   -> the last line of stdout is the deps folder; all else goes to stderr
# HOST is the MinGW-w64 triplet: i686-w64-mingw32 (the default) or x86_64-w64-mingw32.
# The folder is ${PROJECT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/samplemorph}/deps-<HOST>-<hash of this script>;
# it is built in a temporary folder and renamed into place only when complete, so a second run
# (or one with an unchanged script) returns at once. Downloaded sources are kept in src-dl/.
# Needs the packages of scripts/setup.sh (MinGW-w64 posix compilers, cmake, nasm, dpkg-dev, deb-src lines).
set -euo pipefail

HOST=${1:-i686-w64-mingw32}
case $HOST in
  i686-w64-mingw32) PROCESSOR=x86 PE_FORMAT=pei-i386 ;;
  x86_64-w64-mingw32) PROCESSOR=AMD64 PE_FORMAT=pei-x86-64 ;;
  *) echo "build-deps: ERROR: unknown host '$HOST' (i686-w64-mingw32 or x86_64-w64-mingw32)" >&2; exit 1 ;;
esac
SELF=$(readlink -f "${BASH_SOURCE[0]}")
CACHE=${PROJECT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/samplemorph}
KEY=$(cat "$SELF" | sha256sum | cut -c1-12)
OUT=$CACHE/deps-$HOST-$KEY

if [ -d "$OUT/dist" ]; then echo "$OUT"; exit 0; fi

JOBS=$(nproc)
SRCDL=$CACHE/src-dl
MINGW_ZLIB=/usr/$HOST/lib/libz.a          # libz-mingw-w64-dev; libz.dll.a would import zlib1.dll
PACKAGES="lame libogg libvorbis flac wavpack taglib libjpeg-turbo libmpc"

say() { echo "build-deps ($HOST): $*" >&2; }
die() { say "ERROR: $*"; exit 1; }

for tool in $HOST-gcc-posix $HOST-g++-posix $HOST-windres $HOST-objdump $HOST-ar cmake make nasm perl patch \
            dpkg-source apt-get flock sha256sum; do
  command -v "$tool" >/dev/null || die "$tool is missing; run scripts/setup.sh"
done
[ -f "$MINGW_ZLIB" ] || die "$MINGW_ZLIB is missing; run scripts/setup.sh"

mkdir -p "$CACHE" "$SRCDL"
exec 9>"$CACHE/.build-deps-$HOST.lock"
flock 9
if [ -d "$OUT/dist" ]; then echo "$OUT"; exit 0; fi    # built by a run we waited for

rm -rf "$OUT".tmp.*                                       # left by an interrupted run
B=$OUT.tmp.$$
PREFIX=$B/prefix DIST=$B/dist LOGS=$B/logs
mkdir -p "$B/src" "$PREFIX/include" "$PREFIX/lib" "$DIST" "$LOGS"
T0=$(date +%s.%N)
elapsed() { awk -v a="$T0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
say "building into $B ($JOBS jobs)"

# ---------------------------------------------------------------------------------------------------
# Sources: apt-get source --download-only, once per package, shared by all keys.

# Checks the files a .dsc names against its SHA-256 list; the Debian part may be missing (libmpc's
# debian tarball is gone from the mirror, and its orig tarball alone is all we use).
verify_dsc() {
  local dir=$1 dsc sum size name ok=0
  dsc=$(ls "$dir"/*.dsc 2>/dev/null | head -n1)
  [ -n "$dsc" ] || return 1
  while read -r sum size name; do
    if [ -f "$dir/$name" ]; then
      echo "$sum  $dir/$name" | sha256sum -c --status - || return 1
      case $name in *.orig.tar.*) ok=1;; esac
    fi
  done < <(sed -n '/^Checksums-Sha256:/,/^[^ ]/{/^ /p}' "$dsc")
  [ $ok = 1 ]
}

fetch() {
  local p=$1 d=$SRCDL/$1
  [ -f "$d/.ok" ] && return 0
  rm -rf "$d.part"; mkdir -p "$d.part"
  ( cd "$d.part" && apt-get source --download-only "$p" ) > "$LOGS/fetch-$p.log" 2>&1 \
    || say "apt-get source $p reported errors (see logs/fetch-$p.log); checking what arrived"
  verify_dsc "$d.part" || { say "download of $p failed:"; tail -n 5 "$LOGS/fetch-$p.log" >&2; return 1; }
  touch "$d.part/.ok"
  rm -rf "$d"; mv "$d.part" "$d"
}

# The downloads are shared by the builds for both hosts: one fetches while the other waits.
exec 8>"$CACHE/.src-dl.lock"
flock 8
pids=()
for p in $PACKAGES; do fetch "$p" & pids+=($!); done
for pid in "${pids[@]}"; do wait "$pid" || die "could not fetch the sources (needs deb-src entries: scripts/setup.sh)"; done
exec 8>&-
say "sources ready ($(elapsed) s)"

# Unpacks package $1 into $B/src/$1 (the Debian patches applied); without a complete set of files
# named by the .dsc, the verified orig tarball is unpacked instead.
unpack() {
  local p=$1 d=$SRCDL/$1 dsc
  dsc=$(ls "$d"/*.dsc | head -n1)
  if dpkg-source -x "$dsc" "$B/src/$p" > "$LOGS/unpack-$p.log" 2>&1; then return 0; fi
  rm -rf "$B/src/$p"; mkdir -p "$B/src/$p"
  tar -xf "$(ls "$d"/*.orig.tar.* | head -n1)" -C "$B/src/$p" --strip-components=1
}

# ---------------------------------------------------------------------------------------------------
# Tool settings shared by all libraries.

CC_="$HOST-gcc-posix" CXX_="$HOST-g++-posix"
LAUNCH=""
if command -v ccache >/dev/null; then
  LAUNCH=ccache
  export CCACHE_BASEDIR=$B CCACHE_NOHASHDIR=1     # the temporary folder's name does not spoil hits
fi
CFLAGS_="-O2 -msse2 -mfpmath=sse"
# Static runtime (no libgcc_s/libstdc++/libwinpthread DLLs), no time stamp, stripped.
LDFLAGS_DLL="-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp -s"

cat > "$B/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $PROCESSOR)
set(CMAKE_C_COMPILER   $CC_)
set(CMAKE_CXX_COMPILER $CXX_)
set(CMAKE_RC_COMPILER  $HOST-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$HOST $PREFIX)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_C_FLAGS_INIT   "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "$LDFLAGS_DLL")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "$LDFLAGS_DLL")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
EOF
# ogg.dll rather than libogg.dll: the platform files set the prefix after the toolchain file, this
# override comes last.
printf 'set(CMAKE_SHARED_LIBRARY_PREFIX "")\nset(CMAKE_IMPORT_LIBRARY_PREFIX "lib")\n' > "$B/noprefix.cmake"

CMAKE_COMMON=(-G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$B/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release
              -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_PREFIX_PATH="$PREFIX" -DBUILD_TESTING=OFF)
[ -n "$LAUNCH" ] && CMAKE_COMMON+=(-DCMAKE_C_COMPILER_LAUNCHER=$LAUNCH -DCMAKE_CXX_COMPILER_LAUNCHER=$LAUNCH)
NOPREFIX=-DCMAKE_USER_MAKE_RULES_OVERRIDE=$B/noprefix.cmake

# cmake_lib NAME SRCDIR [options]: configure, build and install into the prefix.
cmake_lib() {
  local name=$1 dir=$2; shift 2
  cmake -S "$dir" -B "$dir/build-w32" "${CMAKE_COMMON[@]}" "$@" > "$LOGS/$name-configure.log" 2>&1
  cmake --build "$dir/build-w32" -j"$JOBS" > "$LOGS/$name-build.log" 2>&1
  cmake --install "$dir/build-w32" > "$LOGS/$name-install.log" 2>&1
}

# ---------------------------------------------------------------------------------------------------
# The libraries. Each step runs in its own subshell with errexit; its output goes to logs/.

build_lame() {
  unpack lame
  cd "$B/src/lame"
  ./configure --host=$HOST --prefix="$PREFIX" --disable-shared --enable-static --disable-frontend \
      --disable-gtktest --disable-analyzer-hooks CC="${LAUNCH:+$LAUNCH }$CC_" CFLAGS="$CFLAGS_" \
      > "$LOGS/lame-configure.log" 2>&1
  make -j"$JOBS" > "$LOGS/lame-build.log" 2>&1
  cd Dll
  # GCC ignores the header's attribute on the typedefs, which leaves the configuration record 332
  # bytes long instead of 331: pack the records with the pragma for every compiler.
  perl -0pi -e 's/#ifdef __GNUC__\n#define ATTRIBUTE_PACKED\t__attribute__\(\(packed\)\)\n#else\n#define ATTRIBUTE_PACKED\n#pragma pack\(push\)\n#pragma pack\(1\)\n#endif/#define ATTRIBUTE_PACKED\n#pragma pack(push, 1)/ or die "pack head";
                s/#ifndef __GNUC__\n#pragma pack\(pop\)\n#endif/#pragma pack(pop)/ or die "pack tail"' BladeMP3EncDLL.h
  sed -i 's/#include <Windows.h>/#include <windows.h>/' BladeMP3EncDLL.h       # case-sensitive file system
  sed -i 's/#include <Windef.h>/#include <windef.h>/' BladeMP3EncDLL.c
  sed -i 's/^LIBRARY .*/LIBRARY lame_enc.dll/' BladeMP3EncDLL.def
  printf '#include <windows.h>\n#include "BladeMP3EncDLL.h"\n_Static_assert(sizeof(BE_CONFIG) == 331, "BE_CONFIG");\n_Static_assert(sizeof(BE_VERSION) == 265, "BE_VERSION");\n' > pack-check.c
  $CC_ -fsyntax-only pack-check.c
  ${LAUNCH:+$LAUNCH }$CC_ $CFLAGS_ -DHAVE_CONFIG_H -I.. -I../include -I../libmp3lame -c BladeMP3EncDLL.c -o BladeMP3EncDLL.o
  # Linked in dist/ under its bare name: the automatic image base is derived from the output name.
  ( cd "$DIST" && $CC_ -shared -o lame_enc.dll "$B/src/lame/Dll/BladeMP3EncDLL.o" "$B/src/lame/Dll/BladeMP3EncDLL.def" \
      -L"$B/src/lame/libmp3lame/.libs" -lmp3lame $LDFLAGS_DLL ) >> "$LOGS/lame-build.log" 2>&1
  install -m644 BladeMP3EncDLL.h "$PREFIX/include/"
}

build_ogg_vorbis() {
  unpack libogg
  cmake_lib ogg "$B/src/libogg" $NOPREFIX -DBUILD_SHARED_LIBS=ON -DINSTALL_DOCS=OFF
  unpack libvorbis
  local n
  for n in vorbis vorbisenc vorbisfile; do     # GNU ld rejects a LIBRARY line without a name
    sed -i -E "s/^LIBRARY[[:space:]]*\$/LIBRARY $n.dll/" "$B/src/libvorbis/win32/$n.def"
  done
  cmake_lib vorbis "$B/src/libvorbis" $NOPREFIX -DBUILD_SHARED_LIBS=ON
}

build_flac() {
  unpack flac
  # The stack protector and fortified sources would pull in libssp; Ogg FLAC is not used.
  cmake_lib flac "$B/src/flac" -DBUILD_SHARED_LIBS=ON -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF \
      -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF -DINSTALL_MANPAGES=OFF -DWITH_OGG=OFF \
      -DWITH_FORTIFY_SOURCE=OFF -DWITH_STACK_PROTECTOR=OFF
}

build_wavpack() {
  unpack wavpack
  # The DLL's own name is set only for MSVC builds.
  sed -i 's/^if(WIN32 AND (NOT MINGW))$/if(WIN32)/; s/OUTPUT_NAME wavpackdll)/OUTPUT_NAME WavpackDLL)/' \
      "$B/src/wavpack/CMakeLists.txt"
  grep -q 'OUTPUT_NAME WavpackDLL)' "$B/src/wavpack/CMakeLists.txt"
  cmake_lib wavpack "$B/src/wavpack" $NOPREFIX -DBUILD_SHARED_LIBS=ON -DWAVPACK_BUILD_PROGRAMS=OFF \
      -DWAVPACK_BUILD_COOLEDIT_PLUGIN=OFF -DWAVPACK_BUILD_WINAMP_PLUGIN=OFF -DWAVPACK_INSTALL_DOCS=OFF \
      -DWAVPACK_BUILD_DOCS=OFF -DWAVPACK_ENABLE_LIBCRYPTO=OFF
}

build_taglib() {
  unpack taglib
  cd "$B/src/taglib"
  # Use the bundled utf8-cpp headers rather than a system copy the cross build cannot see.
  patch -s -R -p1 < debian/patches/0001-Use-system-libutf8cpp-library.patch
  cmake_lib taglib "$B/src/taglib" -DBUILD_SHARED_LIBS=OFF -DBUILD_BINDINGS=ON -DBUILD_TESTS=OFF \
      -DBUILD_EXAMPLES=OFF -DWITH_ZLIB=ON -DZLIB_LIBRARY="$MINGW_ZLIB" -DZLIB_INCLUDE_DIR=/usr/$HOST/include
  # One DLL: the C binding exported by name, the C++ library and zlib linked in.
  { echo "LIBRARY libtag_c.dll"; echo "EXPORTS"
    grep -oE 'TAGLIB_C_EXPORT[^(]*\(' bindings/c/tag_c.h \
      | sed -E 's/.*[ *]([A-Za-z0-9_]+)[[:space:]]*\($/    \1/' | grep -E '^    taglib_'
  } > "$B/src/taglib/tag_c.def"
  ( cd "$DIST" && $CXX_ -shared -o libtag_c.dll "$B/src/taglib/tag_c.def" \
      -Wl,--whole-archive "$PREFIX/lib/libtag_c.a" -Wl,--no-whole-archive "$PREFIX/lib/libtag.a" "$MINGW_ZLIB" \
      $LDFLAGS_DLL -Wl,--out-implib,"$PREFIX/lib/libtag_c.dll.a" ) >> "$LOGS/taglib-build.log" 2>&1
}

build_jpeg() {
  unpack libjpeg-turbo
  cmake_lib jpeg "$B/src/libjpeg-turbo" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
      -DWITH_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm
}

build_zlib() {
  install -m644 "$MINGW_ZLIB" "$PREFIX/lib/libz.a"
  install -m644 /usr/$HOST/include/zlib.h /usr/$HOST/include/zconf.h "$PREFIX/include/"
}

build_mpc() {
  unpack libmpc
  local s=$B/src/libmpc o=$B/src/libmpc/build-w32 f
  mkdir -p "$o"
  for f in huffman mpc_decoder mpc_reader streaminfo mpc_bits_reader mpc_demux requant synth_filter; do
    ${LAUNCH:+$LAUNCH }$CC_ -O3 -msse2 -mfpmath=sse -fomit-frame-pointer -DFAST_MATH -DCVD_FASTLOG \
        -I"$s/include" -c "$s/libmpcdec/$f.c" -o "$o/$f.o"
  done
  ${LAUNCH:+$LAUNCH }$CC_ -O3 -msse2 -mfpmath=sse -I"$s/include" -c "$s/common/crc32.c" -o "$o/crc32.o"
  rm -f "$PREFIX/lib/libmpcdec.a"
  $HOST-ar rcsD "$PREFIX/lib/libmpcdec.a" "$o"/*.o
  mkdir -p "$PREFIX/include/mpc"
  install -m644 "$s"/include/mpc/*.h "$PREFIX/include/mpc/"

  # The encoder for libmppenc.dll: its library, its psychoacoustic model and the encoding stages of
  # the command-line encoder (main renamed, three stages made visible). Writes, seeks and position
  # queries of the output file go to the adapter's mppenc_io_* functions instead of the C library.
  perl -0pi -e '$n = s/static (void|int)\n(SCF_Extraktion|Quantisierung|Allocate) \(/$1\n$2 (/g; die "stages: $n" unless $n == 3' \
      "$s/mpcenc/mpcenc.c"
  local io="-Dfwrite=mppenc_io_write -Dfseek=mppenc_io_seek -Dftell=mppenc_io_tell -Dmain=mpcenc_program_main"
  for f in libmpcenc/analy_filter libmpcenc/bitstream libmpcenc/encode_sv7 libmpcenc/huffsv7 libmpcenc/quant \
           libmpcpsy/ans libmpcpsy/cvd libmpcpsy/fft4g libmpcpsy/fft_routines libmpcpsy/profile libmpcpsy/psy \
           libmpcpsy/psy_tab common/fastmath mpcenc/mpcenc mpcenc/keyboard mpcenc/pipeopen mpcenc/stderr \
           mpcenc/wave_in mpcenc/winmsg common/tags; do
    ${LAUNCH:+$LAUNCH }$CC_ -O3 -msse2 -mfpmath=sse -fomit-frame-pointer -DFAST_MATH -DCVD_FASTLOG $io \
        -I"$s/include" -I"$s/libmpcenc" -I"$s/libmpcpsy" \
        -I"$s/mpcenc" -c "$s/$f.c" -o "$o/enc-${f//\//-}.o"
  done
  cp "$o/crc32.o" "$o/enc-crc32.o"
  rm -f "$PREFIX/lib/libmpcenc.a"
  $HOST-ar rcsD "$PREFIX/lib/libmpcenc.a" "$o"/enc-*.o
  mkdir -p "$PREFIX/include/mpcenc"
  install -m644 "$s/libmpcenc/libmpcenc.h" "$s/libmpcpsy/libmpcpsy.h" "$PREFIX/include/mpcenc/"
}

# Runs a step in the background; its failure is reported when it is waited for.
declare -A STEP_PID
step() {
  local name=$1; shift
  ( set -e; "$@" ) > "$LOGS/$name.log" 2>&1 &
  STEP_PID[$name]=$!
}
finish() {
  local name=$1 log
  if wait "${STEP_PID[$name]}"; then say "$name done ($(elapsed) s)"; return 0; fi
  say "$name FAILED; the last lines of its logs:"
  for log in "$LOGS/$name"*.log; do echo "--- $log" >&2; tail -n 25 "$log" >&2; done
  say "the build folder $B is kept for inspection"
  exit 1
}

build_zlib
step taglib build_taglib          # the longest: start it first
step lame build_lame
step vorbis build_ogg_vorbis
step flac build_flac
step wavpack build_wavpack
step jpeg build_jpeg
step mpc build_mpc
for s in mpc lame vorbis flac wavpack jpeg taglib; do finish "$s"; done

# ---------------------------------------------------------------------------------------------------
# Collect and check.

cp "$PREFIX"/bin/{ogg,vorbis,vorbisenc,vorbisfile,libFLAC,WavpackDLL}.dll "$DIST/"
WANT="lame_enc.dll ogg.dll vorbis.dll vorbisfile.dll vorbisenc.dll libFLAC.dll WavpackDLL.dll libtag_c.dll"
for d in $WANT; do [ -f "$DIST/$d" ] || die "$d was not built"; done
for l in libz.a libjpeg.a libmpcdec.a libmpcenc.a; do [ -f "$PREFIX/lib/$l" ] || die "$l was not built"; done

# Only system DLLs and our own DLLs may be imported; exports must be undecorated names.
declare -A CORE=(
  [lame_enc.dll]="beInitStream beEncodeChunk beDeinitStream beCloseStream beWriteVBRHeader"
  [ogg.dll]="ogg_stream_init ogg_stream_pageout"
  [vorbis.dll]="vorbis_info_init vorbis_analysis"
  [vorbisfile.dll]="ov_test_callbacks ov_read"
  [vorbisenc.dll]="vorbis_encode_init vorbis_encode_setup_vbr"
  [libFLAC.dll]="FLAC__stream_encoder_new FLAC__stream_decoder_init_stream"
  [WavpackDLL.dll]="WavpackOpenFileInputEx WavpackSetConfiguration"
  [libtag_c.dll]="taglib_file_new taglib_id3v2_set_default_text_encoding"
)
bad=0
for path in "$DIST"/*.dll; do
  d=$(basename "$path")
  dump=$($HOST-objdump -p "$path")
  grep -q "file format $PE_FORMAT\$" <<<"$dump" || { say "  $d is not a $PE_FORMAT image"; bad=1; }
  imports=$(awk '/DLL Name:/ { print $3 }' <<<"$dump" | sort -u | tr '\n' ' ')
  exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && NF == 0 { on = 0 } on { print $NF }' <<<"$dump")
  say "$(printf '%-15s %8d bytes, %3d exports, imports: %s' "$d" "$(stat -c %s "$path")" "$(wc -l <<<"$exports")" "$imports")"
  for i in $imports; do
    case ${i,,} in
      kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll) ;;
      *) [ -f "$DIST/$i" ] || { say "  $d imports $i, which is neither a system DLL nor ours"; bad=1; } ;;
    esac
  done
  if grep -q '@' <<<"$exports"; then say "  $d exports decorated names"; bad=1; fi
  for e in ${CORE[$d]:-}; do
    grep -qx "$e" <<<"$exports" || { say "  $d does not export $e"; bad=1; }
  done
done
[ $bad = 0 ] || die "the DLL check failed; the build folder $B is kept"

# Keep the Musepack sources for the adapters; drop build trees and files that name the temporary folder.
mv "$B/src/libmpc" "$B/src/musepack"
rm -rf "$B/src/musepack/build-w32"
for p in lame libogg libvorbis flac wavpack taglib libjpeg-turbo; do rm -rf "${B:?}/src/$p"; done
rm -rf "$PREFIX/bin" "$PREFIX/share" "$PREFIX/lib/pkgconfig" "$PREFIX/lib/cmake" "$B/toolchain.cmake" "$B/noprefix.cmake"
mv "$B" "$OUT"
say "done in $(elapsed) s"
echo "$OUT"
