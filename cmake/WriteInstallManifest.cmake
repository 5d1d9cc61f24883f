# Runs at install time, after every other install rule: writes share/quillpost/install-manifest
# with the version and each file this install put under the prefix, relative to it. The program's
# updater moves or removes only a folder that holds nothing but these files, so a copy installed
# into a folder it shares with other software (such as ~/.local) never updates itself.
#   QUILLPOST_MANIFEST_VERSION  the project's version
set(quillpost_files "")
foreach(installed IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  file(RELATIVE_PATH relative "${CMAKE_INSTALL_PREFIX}" "${installed}")
  if(NOT relative MATCHES "^\\.\\./" AND NOT IS_ABSOLUTE "${relative}")
    list(APPEND quillpost_files "${relative}")
  endif()
endforeach()
list(REMOVE_DUPLICATES quillpost_files)
list(SORT quillpost_files)
string(JOIN "\n" quillpost_listing ${quillpost_files})
set(quillpost_manifest "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/quillpost/install-manifest")
message(STATUS "Installing: ${quillpost_manifest}")
file(WRITE "${quillpost_manifest}" "Quillpost install manifest 1\nversion ${QUILLPOST_MANIFEST_VERSION}\n${quillpost_listing}\n")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_PREFIX}/share/quillpost/install-manifest")
