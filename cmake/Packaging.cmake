# Installation (GNU directories, DESTDIR honoured) and the Debian package (cpack -G DEB).
# The manual page and the bash completion are written at build time from the program's command
# table (tools/command_reference.cpp) merged into their hand-written templates.
include(GNUInstallDirs)

set(QUENDLE_DOC_BUILD_DIR ${CMAKE_BINARY_DIR}/doc)
# The page's date is the build's, or SOURCE_DATE_EPOCH's for a reproducible build.
string(TIMESTAMP QUENDLE_MANUAL_DATE "%Y-%m-%d" UTC)
set(manual ${QUENDLE_DOC_BUILD_DIR}/quendle.1)
set(completion ${QUENDLE_DOC_BUILD_DIR}/quendle.bash-completion)
add_custom_command(
    OUTPUT ${manual} ${manual}.gz ${completion}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUENDLE_DOC_BUILD_DIR}
    COMMAND command_reference man ${CMAKE_SOURCE_DIR}/docs/quendle.1.in ${manual} ${PROJECT_VERSION}
            ${QUENDLE_MANUAL_DATE}
    # -n: no name or time stamp in the header, so the same page gives the same bytes.
    COMMAND sh -c "gzip -9n < '${manual}' > '${manual}.gz'"
    COMMAND command_reference bash ${CMAKE_SOURCE_DIR}/cmake/quendle-completion.bash.in ${completion}
    DEPENDS command_reference ${CMAKE_SOURCE_DIR}/docs/quendle.1.in
            ${CMAKE_SOURCE_DIR}/cmake/quendle-completion.bash.in
    COMMENT "Writing the manual page and the bash completion from the command table"
    VERBATIM)
add_custom_target(quendle_docs ALL DEPENDS ${manual} ${manual}.gz ${completion})

install(TARGETS quendle RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${manual}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME quendle)
# GNUInstallDirs would name the folder after the project ("Quendle"); Debian's is the package's.
file(GLOB user_docs ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${user_docs}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quendle)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quendle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quendle")
set(QUENDLE_DEB_MAINTAINER "Quendle maintainers <quendle@localhost>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUENDLE_DEB_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line editor for App-V 5.x application packages")
# The long description; CPack puts the summary in front and indents the lines for the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Quendle edits .appv packages in build pipelines: files and scripts of the
virtual file system, identity and history, XML parts through XPath or XSLT,
and the virtual registry. It checks the manifest and metadata against the
format's schemas and writes a new ZIP64 container with a fresh block map,
replacing the package only by a finished, complete archive.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends comes from the shared libraries the program links (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # quendle_VERSION_ARCH.deb
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
