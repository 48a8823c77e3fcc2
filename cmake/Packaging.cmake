# Installing like a real program: the tool and the program with their
# manual pages, the desktop entry with its icon and file types, the data the
# engine reads from the system, and the Debian packages (cpack -G DEB).
#
# The libraries, headers and CMake package are installed by their own
# folders (cmake/Install.cmake says which part each file belongs to); the
# Python modules by python/.

find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Fonts come from Debian's DejaVu packages, wherever the engine is installed.
set(VELLIX_FONT_INSTALL_DIR /usr/share/fonts/truetype/dejavu CACHE PATH "Folder of the DejaVu fonts the engine lays out with")
target_compile_definitions(ikutil_typeset PRIVATE VELLIX_FONT_INSTALL_DIR="${VELLIX_FONT_INSTALL_DIR}")

# Debian keeps manual pages and changelogs compressed, with no name or time
# stamp in the gzip header so that the same input gives the same bytes.
set(VELLIX_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
add_custom_command(OUTPUT ${VELLIX_PACKAGE_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VELLIX_PACKAGE_DIR}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/data/debian/changelog > ${VELLIX_PACKAGE_DIR}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/data/debian/changelog
  COMMENT "Compressing the changelog")
add_custom_target(vellix_changelog ALL DEPENDS ${VELLIX_PACKAGE_DIR}/changelog.gz)

# Each package carries the copyright and changelog in its own doc folder.
function(vellix_install_package_docs component package)
  install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright ${VELLIX_PACKAGE_DIR}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endfunction()

set(VELLIX_LIBRARIES_PACKAGE libvellix${PROJECT_VERSION_MAJOR})
vellix_install_package_docs(libraries ${VELLIX_LIBRARIES_PACKAGE})
vellix_install_package_docs(development libvellix-dev)
set(VELLIX_PACKAGE_COMPONENTS libraries development)

if(TARGET vellix_cli)
  install(TARGETS vellix_cli vellix_publisher RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT publisher)

  # The tool's manual page, written from its own --help, so that it names
  # every command; the program's is written by hand. Both land in
  # build/man for "man -l", plain and compressed.
  set(VELLIX_MAN_DIR ${CMAKE_BINARY_DIR}/man)
  set(VELLIX_MAN_PAGES ${VELLIX_MAN_DIR}/vellix.1 ${VELLIX_MAN_DIR}/vellix-publisher.1)
  add_custom_command(OUTPUT ${VELLIX_MAN_PAGES} ${VELLIX_MAN_DIR}/vellix.1.gz ${VELLIX_MAN_DIR}/vellix-publisher.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VELLIX_MAN_DIR}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/docs/man/make_tool_manpage.py
            $<TARGET_FILE:vellix_cli> ${PROJECT_VERSION} ${VELLIX_MAN_DIR}/vellix.1
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/man/vellix-publisher.1 ${VELLIX_MAN_DIR}/
    COMMAND gzip -9n -f -k ${VELLIX_MAN_PAGES}
    DEPENDS vellix_cli ${PROJECT_SOURCE_DIR}/docs/man/make_tool_manpage.py ${PROJECT_SOURCE_DIR}/docs/man/vellix-publisher.1
    COMMENT "Writing the manual pages")
  add_custom_target(vellix_manpages ALL DEPENDS ${VELLIX_MAN_PAGES})
  install(FILES ${VELLIX_MAN_DIR}/vellix.1.gz ${VELLIX_MAN_DIR}/vellix-publisher.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT publisher)

  # Completion of the tool's commands, options and file names in bash and
  # zsh, written from its own --help as the manual page is.
  set(VELLIX_COMPLETION_DIR ${CMAKE_BINARY_DIR}/completion)
  add_custom_command(OUTPUT ${VELLIX_COMPLETION_DIR}/vellix ${VELLIX_COMPLETION_DIR}/_vellix
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VELLIX_COMPLETION_DIR}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/docs/man/make_completions.py
            $<TARGET_FILE:vellix_cli> ${VELLIX_COMPLETION_DIR}/vellix ${VELLIX_COMPLETION_DIR}/_vellix
    DEPENDS vellix_cli ${PROJECT_SOURCE_DIR}/docs/man/make_completions.py ${PROJECT_SOURCE_DIR}/docs/man/make_tool_manpage.py
    COMMENT "Writing the shell completions")
  add_custom_target(vellix_completions ALL DEPENDS ${VELLIX_COMPLETION_DIR}/vellix ${VELLIX_COMPLETION_DIR}/_vellix)
  install(FILES ${VELLIX_COMPLETION_DIR}/vellix DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    COMPONENT publisher)
  install(FILES ${VELLIX_COMPLETION_DIR}/_vellix DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions
    COMPONENT publisher)
  if(VELLIX_TESTS)
    add_test(NAME shell_completion
      COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/completion_test.sh ${VELLIX_COMPLETION_DIR}/vellix
              ${VELLIX_COMPLETION_DIR}/_vellix)
    set_tests_properties(shell_completion PROPERTIES LABELS unit)
  endif()

  # In the desktop's menus, opening book files, containers and packages.
  install(FILES data/vellix-publisher.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT publisher)
  install(FILES data/vellix-publisher.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    COMPONENT publisher)
  install(FILES data/vellix-publisher.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages COMPONENT publisher)

  # The shelf server as a service, one instance per shelf folder.
  set(VELLIX_INSTALLED_TOOL ${CMAKE_INSTALL_FULL_BINDIR}/vellix)
  configure_file(data/vellix-serve@.service.in ${CMAKE_BINARY_DIR}/vellix-serve@.service @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/vellix-serve@.service DESTINATION lib/systemd/system COMPONENT publisher)
  vellix_install_package_docs(publisher vellix-publisher)
  list(PREPEND VELLIX_PACKAGE_COMPONENTS publisher)
endif()
if(TARGET vellix_python)
  vellix_install_package_docs(python python3-vellix)
  list(APPEND VELLIX_PACKAGE_COMPONENTS python)
endif()

# The Debian packages, one per part of the install:
#   vellix-publisher_<version>_<arch>.deb   libvellix0_<version>_<arch>.deb
#   libvellix-dev_<version>_<arch>.deb      python3-vellix_<version>_<arch>.deb
# They are built from this build folder's install (no second build), so
# what Debian's helpers would do is done here: compressed manual pages and
# changelogs, a shlibs file and an ldconfig trigger for the libraries, and
# dependencies read from the binaries by dpkg-shlibdeps. The packages
# depend on each other at exactly the same version.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${VELLIX_PACKAGE_COMPONENTS})
set(CPACK_PACKAGE_NAME vellix-publisher)
set(CPACK_PACKAGE_VENDOR "Vellix Publisher")
set(CPACK_PACKAGE_CONTACT "Vellix Publisher maintainers <maintainers@vellix.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(_vellix_exact "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_PUBLISHER_PACKAGE_NAME vellix-publisher)
set(CPACK_DEBIAN_PUBLISHER_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PUBLISHER_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PUBLISHER_PACKAGE_DEPENDS "${VELLIX_LIBRARIES_PACKAGE} ${_vellix_exact}")
set(CPACK_DEBIAN_PUBLISHER_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils")
set(CPACK_DEBIAN_PUBLISHER_DESCRIPTION "bookshelf and publishing program for the Vellix e-book reader
Keeps a bookshelf of device books for the Vellix hand-held e-book reader,
publishes HTML, XHTML, text, OEB packages and OEBFF containers as device
books, shows their pages as the device does, and packs and checks OEBFF
containers.

This package holds the desktop program vellix-publisher and the
command-line tool vellix.")

# The libraries open fonts and hyphenation patterns at run time: DejaVu
# and American English always, other languages' patterns and a face for
# Chinese, Japanese and Korean when they are there.
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_NAME ${VELLIX_LIBRARIES_PACKAGE})
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_SECTION libs)
set(VELLIX_LIBRARIES_DATA_DEPENDS "fonts-dejavu-core, fonts-dejavu-extra, hyphen-en-us")
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_RECOMMENDS
  "hyphen-en-gb, hyphen-de, hyphen-fr, hyphen-es, hyphen-it, hyphen-pt-pt, hyphen-pt-br, hyphen-nl, hyphen-sv, hyphen-da, hyphen-no, hyphen-pl, hyphen-cs, hyphen-ru, hyphen-el, fonts-noto-cjk | fonts-droid-fallback, fonts-nanum | fonts-noto-cjk")
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/data/debian/triggers ${VELLIX_PACKAGE_DIR}/shlibs)
set(CPACK_DEBIAN_LIBRARIES_DESCRIPTION "libraries of the Vellix Publisher suite
The shared libraries behind the Vellix Publisher program, its vellix tool
and its Python modules: the device book formats, the bookshelf library, the
book engine with its typesetter, and the publishing toolkit.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvellix-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "${VELLIX_LIBRARIES_PACKAGE} ${_vellix_exact}, libpugixml-dev")
# Only the Viewer's Qt window needs Qt's headers.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_RECOMMENDS qt6-base-dev)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "development files for the Vellix Publisher libraries
Headers, development links and the CMake package of the Vellix Publisher
libraries: find_package(Vellix) gives the targets Vellix::library and
Vellix::toolkit, and beneath them the engine and the device book formats.")

math(EXPR _vellix_python_next "${Python3_VERSION_MINOR} + 1")
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-vellix)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
  "${VELLIX_LIBRARIES_PACKAGE} ${_vellix_exact}, python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}), python3 (<< ${Python3_VERSION_MAJOR}.${_vellix_python_next})")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Python modules of the Vellix Publisher suite
The modules vellix (books, the bookshelf, packages and publishing) and
ikpubx (the Project, the Builder, the Viewer and the container reader) for
scripts that keep bookshelves and publish books for the Vellix e-book
reader.")

# dpkg-shlibdeps finds the suite's own libraries in the build; the exact
# dependencies above stand for them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})

# The libraries' package gets its shlibs file from here, and its
# dependencies from cmake/CPackConfigDeb.cmake.in at packing time: CPack's
# own way of finding them would add maintainer scripts that call ldconfig
# by hand, where Debian wants the trigger above.
get_property(_vellix_libraries GLOBAL PROPERTY VELLIX_SHARED_LIBRARIES)
set(_vellix_shlibs "")
set(_vellix_library_files "")
foreach(library IN LISTS _vellix_libraries)
  get_target_property(_soversion ${library} SOVERSION)
  string(APPEND _vellix_shlibs "lib${library} ${_soversion} ${VELLIX_LIBRARIES_PACKAGE} ${_vellix_exact}\n")
  string(APPEND _vellix_library_files "$<TARGET_FILE:${library}>\n")
endforeach()
file(WRITE ${VELLIX_PACKAGE_DIR}/shlibs "${_vellix_shlibs}")
file(GENERATE OUTPUT ${VELLIX_PACKAGE_DIR}/libraries.txt CONTENT "${_vellix_library_files}")
configure_file(cmake/CPackConfigDeb.cmake.in ${VELLIX_PACKAGE_DIR}/CPackConfigDeb.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${VELLIX_PACKAGE_DIR}/CPackConfigDeb.cmake)
include(CPack)

# The packages built, unpacked into scratch roots and used from there.
if(VELLIX_TESTS AND NOT VELLIX_SANITIZE AND TARGET vellix_cli)
  add_test(NAME deb_package
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/deb_test.sh ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}
            $<TARGET_FILE:vellix-make-samples>)
  set_tests_properties(deb_package PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE LABELS package)
endif()
