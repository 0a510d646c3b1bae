# The release archive: `cmake --build --preset win32 --target package` makes
# QV_Zolvexan-<version>-win32.zip in the build folder, holding what
# `cmake --install` lays out (modules/, bin/, include/, lib/), README.md,
# semhost's manual (host/semhost/README.md) and SHA256SUMS, the SHA-256 of
# every other file of the archive in the format `sha256sum -c` reads.
include_guard(GLOBAL)

install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION .)
# semhost's manual, where README.md links to it.
install(FILES "${PROJECT_SOURCE_DIR}/host/semhost/README.md" DESTINATION host/semhost)

# Runs after every other install rule: the files installed so far are this
# install's manifest, wherever it goes (dist/<preset>, or CPack's staging folder).
install(CODE [[
  set(se_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  # `cmake --install … --prefix dist/x` gives a relative prefix: the files
  # went under the current folder.
  get_filename_component(se_root "${se_root}" ABSOLUTE BASE_DIR "$ENV{PWD}")
  set(se_sums "")
  set(se_files ${CMAKE_INSTALL_MANIFEST_FILES})
  list(SORT se_files)
  foreach(se_file IN LISTS se_files)
    file(RELATIVE_PATH se_relative "${se_root}" "${se_file}")
    file(SHA256 "${se_file}" se_hash)
    string(APPEND se_sums "${se_hash}  ${se_relative}\n")
  endforeach()
  file(WRITE "${se_root}/SHA256SUMS" "${se_sums}")
  message(STATUS "Checksums: ${se_root}/SHA256SUMS")
]])

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(se_package_target win32)
  else()
    set(se_package_target win64)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SOURCE_GENERATOR "")
  set(CPACK_PACKAGE_NAME "${PROJECT_NAME}")
  set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
  set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-${se_package_target}")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "QV_Zolvexan math module, semhost and the module framework")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
endif()
