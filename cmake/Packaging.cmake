# Packages: a Debian package installed under /usr, and a relocatable tarball (bin/ and share/ in
# one folder) that runs wherever it is unpacked and that the program's own updater installs.
#   cpack --config build/CPackConfig.cmake -G DEB
#   cpack --config build/CPackConfig.cmake -G TGZ

# Documentation the Debian package must carry: the copyright file and a compressed changelog.
set(QUILLPOST_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quillpost)
set(QUILLPOST_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
set(QUILLPOST_MANUAL_GZ ${CMAKE_BINARY_DIR}/packaging/quillpost.1.gz)
foreach(pair "changelog:${QUILLPOST_CHANGELOG_GZ}" "quillpost.1:${QUILLPOST_MANUAL_GZ}")
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 compressed)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/packaging/${source} > ${compressed}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${source}
    COMMENT "Compressing ${source}")
endforeach()
add_custom_target(quillpost_package_docs ALL DEPENDS ${QUILLPOST_CHANGELOG_GZ} ${QUILLPOST_MANUAL_GZ})
install(FILES packaging/copyright ${QUILLPOST_CHANGELOG_GZ} DESTINATION ${QUILLPOST_DOC_DIR})
install(FILES ${QUILLPOST_MANUAL_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/org.quillpost.Quillpost.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_PACKAGE_NAME quillpost)
set(CPACK_PACKAGE_VENDOR "Quillpost")
set(CPACK_PACKAGE_CONTACT "Quillpost maintainers <maintainers@quillpost.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://quillpost.org")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "practice manager for immigration consultancies")
set(CPACK_PACKAGE_DESCRIPTION "Clients, their immigration files and documents, deadlines, a calendar,
a PDF studio with a virtual PDF printer and an offline PDF editor, and billing,
for a small immigration consultancy. The practice's data stays on the computer,
with daily snapshots and a backup copy.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build.*/;/\\\\.git/;node_modules")

set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Programs the application runs, beyond the libraries it links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unzip, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups, cups-ipp-utils, cups-client, avahi-daemon, gnome-keyring | kwalletmanager | keepassxc")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fprintd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/PackagingPerGenerator.cmake)
include(CPack)
