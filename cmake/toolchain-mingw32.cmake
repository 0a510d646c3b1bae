# 32-bit Windows cross build with MinGW-w64: the target the module ships for.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# SSE2 scalar floating point: floats are moved, never loaded into the x87, so
# a signalling NaN crosses every entry and host call unchanged and raises no
# flag, and the runtime's double results round to float once. The DLL
# therefore needs SSE2. MinGW realigns the stack where SSE needs it, since
# callers on Windows keep it aligned to 4 bytes only.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
# Debian's sysroot, and what scripts/build-sndfile-mingw.sh builds for this
# target from Debian's source (libsndfile, which Debian ships no MinGW build of).
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 /usr/local/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages also outside the MinGW sysroot: a module author's CMAKE_PREFIX_PATH
# names an installed or unpacked framework (find_package(se_sdk2)).
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
