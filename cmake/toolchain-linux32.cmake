# i386 Linux build on an x86_64 machine. The test executables run natively
# where this machine runs i386 programs (decided here, at configure, by
# running a probe) and under qemu-i386 where it cannot.
# SE_LINUX32_RUNNER=qemu forces qemu-i386, SE_LINUX32_RUNNER=native the kernel.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# SSE2 scalar floating point, as the shipped DLL: floats are moved, never
# loaded into the x87, so a signalling NaN crosses every call unchanged and
# raises no flag, and doubles round to float once.
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(SE_LINUX32_RUNNER "auto" CACHE STRING "How linux32 test programs run: auto (probe), native or qemu")
set(se_i386_native FALSE)
if(SE_LINUX32_RUNNER STREQUAL "native")
  set(se_i386_native TRUE)
elseif(SE_LINUX32_RUNNER STREQUAL "auto")
  set(se_probe "${CMAKE_BINARY_DIR}/CMakeFiles/se-i386-probe")
  file(WRITE "${se_probe}.c" "int main(void) { return 0; }\n")
  execute_process(COMMAND gcc -m32 "${se_probe}.c" -o "${se_probe}" RESULT_VARIABLE se_probe_built
                  OUTPUT_QUIET ERROR_QUIET)
  if(se_probe_built EQUAL 0)
    execute_process(COMMAND "${se_probe}" RESULT_VARIABLE se_probe_ran OUTPUT_QUIET ERROR_QUIET)
    if(se_probe_ran EQUAL 0)
      set(se_i386_native TRUE)
    endif()
  endif()
endif()
# Read by se_add_module(… VALIDATE): this cross build's programs run here.
set(SE_TARGET_RUNS_NATIVELY ${se_i386_native})
if(NOT se_i386_native)
  find_program(SE_QEMU_I386 qemu-i386 REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${SE_QEMU_I386}")
endif()
