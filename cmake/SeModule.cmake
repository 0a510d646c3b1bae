# The module-authoring kit.
#
#   se_add_module(<name> SOURCES <source>... [LINK_LIBRARIES <library>...])
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
# bytes. The module's sources define the two functions (see SEExports.h).
include_guard(GLOBAL)

function(se_add_module name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LINK_LIBRARIES")
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

# Fixes the export table to the two entry points.
function(se__module_exports name)
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${name}.se_module")
  if(WIN32)
    file(CONFIGURE OUTPUT "${dir}/${name}.def" CONTENT
      "LIBRARY \"${name}.sem\"\nEXPORTS\n  getModuleProperties\n  makeModule\n")
    target_sources(${name} PRIVATE "${dir}/${name}.def")
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++
      $<$<CONFIG:Release,MinSizeRel>:-s>)
    # No link time stamp in the PE header: the same sources give the same bytes.
    target_link_options(${name} PRIVATE "LINKER:--no-insert-timestamp")
  else()
    file(CONFIGURE OUTPUT "${dir}/exports.map" CONTENT
      "{\n  global: getModuleProperties; makeModule;\n  local: *;\n};\n")
    target_link_options(${name} PRIVATE "LINKER:--version-script=${dir}/exports.map" "LINKER:-z,defs")
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${dir}/exports.map")
  endif()
endfunction()
