# 64-bit Windows with the posix-thread MinGW-w64 compilers (x86_64-w64-mingw32); tests run under
# 64-bit Wine.
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw32-posix.cmake)
