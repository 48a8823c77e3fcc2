# Installing like a real program: the tool and the program with their
# manual pages, the desktop entry with its icon and file type, the data the
# engine reads from the system, and the Debian package (cpack -G DEB).
#
# The libraries, headers and CMake package are installed by their own
# folders; the Python modules by python/.

find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Fonts come from Debian's DejaVu packages, wherever the engine is installed.
set(VELLIX_FONT_INSTALL_DIR /usr/share/fonts/truetype/dejavu CACHE PATH "Folder of the DejaVu fonts the engine lays out with")
target_compile_definitions(ikutil_typeset PRIVATE VELLIX_FONT_INSTALL_DIR="${VELLIX_FONT_INSTALL_DIR}")

if(TARGET vellix_cli)
  install(TARGETS vellix_cli vellix_publisher RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # The tool's manual page, written from its own --help, so that it names
  # every command; the program's is written by hand. Both land in
  # build/man for "man -l".
  set(VELLIX_MAN_DIR ${CMAKE_BINARY_DIR}/man)
  add_custom_command(OUTPUT ${VELLIX_MAN_DIR}/vellix.1 ${VELLIX_MAN_DIR}/vellix-publisher.1
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VELLIX_MAN_DIR}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/docs/man/make_tool_manpage.py
            $<TARGET_FILE:vellix_cli> ${PROJECT_VERSION} ${VELLIX_MAN_DIR}/vellix.1
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/man/vellix-publisher.1 ${VELLIX_MAN_DIR}/
    DEPENDS vellix_cli ${PROJECT_SOURCE_DIR}/docs/man/make_tool_manpage.py ${PROJECT_SOURCE_DIR}/docs/man/vellix-publisher.1
    COMMENT "Writing the manual pages")
  add_custom_target(vellix_manpages ALL DEPENDS ${VELLIX_MAN_DIR}/vellix.1 ${VELLIX_MAN_DIR}/vellix-publisher.1)
  install(FILES ${VELLIX_MAN_DIR}/vellix.1 ${VELLIX_MAN_DIR}/vellix-publisher.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  # In the desktop's menus, opening book files and packages.
  install(FILES data/vellix-publisher.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES data/vellix-publisher.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES data/vellix-publisher.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
endif()

# The Debian package: vellix-publisher_<version>_<arch>.deb. Library
# dependencies are read from the binaries (dpkg-shlibdeps); the data the
# engine opens at run time, and the interpreter the modules were built
# for, are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellix-publisher)
set(CPACK_PACKAGE_VENDOR "Vellix Publisher")
set(CPACK_PACKAGE_CONTACT "Vellix Publisher maintainers <maintainers@vellix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bookshelf and publishing suite for the Vellix e-book reader")
set(CPACK_PACKAGE_DESCRIPTION
  "Keeps a bookshelf of device books for the Vellix hand-held e-book reader, publishes HTML, XHTML, text and OEB packages as device books, and packs and checks OEBFF containers. Includes the desktop program, the vellix command-line tool, the libraries with their headers and CMake package, and the Python modules vellix and ikpubx.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
math(EXPR _vellix_python_next "${Python3_VERSION_MINOR} + 1")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "fonts-dejavu-core, fonts-dejavu-extra, hyphen-en-us, libhyphen0, python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}), python3 (<< ${Python3_VERSION_MAJOR}.${_vellix_python_next})")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)

# The package built, unpacked into a scratch root and used from there.
if(VELLIX_TESTS AND NOT VELLIX_SANITIZE AND TARGET vellix_cli)
  add_test(NAME deb_package
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/deb_test.sh ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}
            $<TARGET_FILE:vellix-make-samples>)
  set_tests_properties(deb_package PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
endif()
