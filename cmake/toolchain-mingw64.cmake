# 64-bit Windows cross build with MinGW-w64: the module and semhost for x86-64
# Windows, whose host semhost's tests run under 64-bit Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# Debian's sysroot, and what scripts/build-sndfile-mingw.sh builds for this
# target from Debian's source (libsndfile, which Debian ships no MinGW build of).
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 /usr/local/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages also outside the MinGW sysroot: a module author's CMAKE_PREFIX_PATH
# names an installed or unpacked framework (find_package(se_sdk2)).
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
