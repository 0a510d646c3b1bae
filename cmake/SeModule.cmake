# The module-authoring kit.
#
#   se_add_module(<name> SOURCES <source>... [LINK_LIBRARIES <library>...] [VALIDATE])
#
# Builds <name>.sem, a module library for the configured target, from the
# module's sources and the framework (target se_sdk2::se_sdk2). The library
# exports exactly getModuleProperties and makeModule, undecorated, and hides
# everything else. On Windows it is a DLL whose export directory is named
# "<name>.sem", with the C and C++ runtimes linked in (a host's module folder
# holds no runtime DLLs) and, in release builds, no debug information. On
# 32-bit x86 the module computes with SSE2 scalar floating point, so floats
# cross the interface bit for bit (the library then needs SSE2). The DLL
# carries no link time stamp, so a rebuild of the same sources gives the same
# bytes. The module's sources define the two functions (see SEExports.h and
# SEModuleEntry.h).
#
# Build type. The module compiles with the project's warning flags (every
# warning of GCC and Clang is an error; see SeWarningFlags.cmake) whatever the
# build type. A project that sets no build type (CMAKE_BUILD_TYPE empty, one
# configuration) gets the module built as in a Release build: with the
# compiler's Release flags (optimisation, NDEBUG), not unoptimised. A Debug
# build keeps the framework's debug-only checks, such as the range of a pin
# index in GetPin.
#
# VALIDATE registers the test <name>.validate, which runs `semhost validate`
# on the built module: the semhost the framework package installs beside it
# (<prefix>/bin), or the semhost target of the project that builds the
# framework. A cross build runs it through CMAKE_CROSSCOMPILING_EMULATOR, every
# check's process included, or directly when its toolchain file sets
# SE_TARGET_RUNS_NATIVELY (an i386 build on a machine that runs i386
# programs); without either no test is registered. CTest sees the
# test when the project calls enable_testing() (or includes CTest) at its top.
include_guard(GLOBAL)
include("${CMAKE_CURRENT_LIST_DIR}/SeWarningFlags.cmake")

function(se_add_module name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "VALIDATE" "" "SOURCES;LINK_LIBRARIES")
  if(NOT arg_SOURCES)
    message(FATAL_ERROR "se_add_module(${name}): SOURCES is required")
  endif()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "se_add_module(${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()

  add_library(${name} MODULE ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE se_sdk2::se_sdk2 ${arg_LINK_LIBRARIES})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    OUTPUT_NAME "${name}"
    SUFFIX ".sem"
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  se__module_exports(${name})
  se__module_float_code(${name})
  se__module_build_flags(${name})
  if(arg_VALIDATE)
    se__module_validate_test(${name})
  endif()
endfunction()

# The project's warnings always; the Release flags when no build type is set.
function(se__module_build_flags name)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${name} PRIVATE ${SE_WARNING_FLAGS})
  endif()
  get_property(multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
  if(NOT multi_config AND NOT CMAKE_BUILD_TYPE)
    separate_arguments(release_cxx NATIVE_COMMAND "${CMAKE_CXX_FLAGS_RELEASE}")
    separate_arguments(release_c NATIVE_COMMAND "${CMAKE_C_FLAGS_RELEASE}")
    target_compile_options(${name} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${release_cxx}>"
                                           "$<$<COMPILE_LANGUAGE:C>:${release_c}>")
  endif()
endfunction()

# On 32-bit x86, SSE2 scalar floating point instead of the x87: an x87 load
# of a float quiets a signalling NaN and raises the invalid-operation flag,
# and x87 results reach float without passing through double.
function(se__module_float_code name)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86|X86|AMD64|x86_64)$"
     AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${name} PRIVATE -msse2 -mfpmath=sse)
  endif()
endfunction()

# Fixes the export table to the two entry points, with the means of the
# toolchain in use.
function(se__module_exports name)
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${name}.se_module")
  if(WIN32)
    file(CONFIGURE OUTPUT "${dir}/${name}.def" CONTENT
      "LIBRARY \"${name}.sem\"\nEXPORTS\n  getModuleProperties\n  makeModule\n")
    target_sources(${name} PRIVATE "${dir}/${name}.def")
    if(MINGW)
      target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++
        $<$<CONFIG:Release,MinSizeRel>:-s>)
      # No link time stamp in the PE header: the same sources give the same bytes.
      target_link_options(${name} PRIVATE "LINKER:--no-insert-timestamp")
    elseif(MSVC)
      set_property(TARGET ${name} PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
    endif()
  elseif(APPLE)
    file(CONFIGURE OUTPUT "${dir}/exports.txt" CONTENT "_getModuleProperties\n_makeModule\n")
    target_link_options(${name} PRIVATE "LINKER:-exported_symbols_list,${dir}/exports.txt")
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${dir}/exports.txt")
  else()
    # ELF linkers of the GNU and LLVM toolchains: a version script, and no
    # undefined symbol left for the host to resolve.
    file(CONFIGURE OUTPUT "${dir}/exports.map" CONTENT
      "{\n  global: getModuleProperties; makeModule;\n  local: *;\n};\n")
    target_link_options(${name} PRIVATE "LINKER:--version-script=${dir}/exports.map" "LINKER:-z,defs")
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${dir}/exports.map")
  endif()
endfunction()

# The test <name>.validate: semhost validate on the built module.
function(se__module_validate_test name)
  if(TARGET semhost)
    set(semhost "$<TARGET_FILE:semhost>")
  elseif(TARGET se_sdk2::semhost)
    get_target_property(semhost se_sdk2::semhost IMPORTED_LOCATION)
  else()
    message(FATAL_ERROR "se_add_module(${name} VALIDATE): no semhost; the framework package installs it in <prefix>/bin")
  endif()
  set(emulator "")
  if(CMAKE_CROSSCOMPILING AND NOT SE_TARGET_RUNS_NATIVELY)
    if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
      message(STATUS "se_add_module(${name} VALIDATE): a cross build needs CMAKE_CROSSCOMPILING_EMULATOR to run semhost; no test")
      return()
    endif()
    set(emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  enable_testing()
  add_test(NAME ${name}.validate COMMAND ${emulator} "${semhost}" validate "$<TARGET_FILE:${name}>")
  set_tests_properties(${name}.validate PROPERTIES LABELS validate TIMEOUT 600)
  if(emulator)
    list(JOIN emulator " " emulator_line)
    set_property(TEST ${name}.validate PROPERTY ENVIRONMENT "SEMHOST_EMULATOR=${emulator_line}")
  endif()
endfunction()
