# What an install is made of. Every install rule names one of four parts,
# and each part becomes one Debian package (cmake/Packaging.cmake):
#   publisher    vellix-publisher  the tool, the program, their manual pages,
#                                  the desktop entry, icon and file types
#   libraries    libvellix0        the shared libraries and the data they read
#   development  libvellix-dev     headers, development links, CMake package
#   python       python3-vellix    the Python modules
# "cmake --install build --component NAME" installs one part alone.

# Libraries are loaded, never run: not executable, as Debian has them.
set(VELLIX_LIBRARY_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# vellix_install_library(TARGET [EXPORT SET])
# Installs a shared library of the suite: the library itself for its users,
# its development link, the headers of the calling folder's include/ and the
# target in the CMake package (export set VellixTargets unless SET is given)
# for those who build against it. The library is listed in the global
# property VELLIX_SHARED_LIBRARIES, from which the package's shlibs file is
# written.
function(vellix_install_library target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "EXPORT" "")
  if(NOT arg_EXPORT)
    set(arg_EXPORT VellixTargets)
  endif()
  install(TARGETS ${target} EXPORT ${arg_EXPORT}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} PERMISSIONS ${VELLIX_LIBRARY_PERMISSIONS}
            COMPONENT libraries NAMELINK_COMPONENT development)
  # A folder with two libraries has its headers installed once.
  get_property(headers_done DIRECTORY PROPERTY VELLIX_HEADERS_INSTALLED)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/include AND NOT headers_done)
    install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
      COMPONENT development)
    set_property(DIRECTORY PROPERTY VELLIX_HEADERS_INSTALLED TRUE)
  endif()
  set_property(GLOBAL APPEND PROPERTY VELLIX_SHARED_LIBRARIES ${target})
endfunction()
