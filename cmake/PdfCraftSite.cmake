# The built-in PdfCraft site: npm installs the packages pinned in resources/pdfcraft's
# package-lock.json into a folder of the build tree (never into the sources), and build.mjs
# bundles the editor with esbuild into ${QUILLPOST_SHARE_DIR}/pdfcraft. npm needs the registry
# at build time only; the finished site loads nothing from outside.

find_program(NODE_EXECUTABLE node REQUIRED)
find_program(NPM_EXECUTABLE npm REQUIRED)

set(PDFCRAFT_SOURCE_DIR ${CMAKE_SOURCE_DIR}/resources/pdfcraft)
set(PDFCRAFT_WORK_DIR ${CMAKE_BINARY_DIR}/pdfcraft-work)
set(PDFCRAFT_SITE_DIR ${QUILLPOST_SHARE_DIR}/pdfcraft)
set(PDFCRAFT_NPM_STAMP ${PDFCRAFT_WORK_DIR}/npm-ci.stamp)

add_custom_command(
  OUTPUT ${PDFCRAFT_NPM_STAMP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PDFCRAFT_WORK_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${PDFCRAFT_SOURCE_DIR}/package.json ${PDFCRAFT_SOURCE_DIR}/package-lock.json ${PDFCRAFT_WORK_DIR}
  # No install scripts: esbuild finds its binary through its platform package without one.
  COMMAND ${NPM_EXECUTABLE} ci --no-audit --no-fund --ignore-scripts --loglevel=error
  COMMAND ${CMAKE_COMMAND} -E touch ${PDFCRAFT_NPM_STAMP}
  WORKING_DIRECTORY ${PDFCRAFT_WORK_DIR}
  DEPENDS ${PDFCRAFT_SOURCE_DIR}/package.json ${PDFCRAFT_SOURCE_DIR}/package-lock.json
  COMMENT "Installing PdfCraft's npm packages"
  VERBATIM)

file(GLOB PDFCRAFT_SOURCES CONFIGURE_DEPENDS
  ${PDFCRAFT_SOURCE_DIR}/src/*.js ${PDFCRAFT_SOURCE_DIR}/*.html ${PDFCRAFT_SOURCE_DIR}/*.css)

# build.mjs writes VERSION.txt last and swaps the whole folder in, so a missing or stale site
# is rebuilt and a failed build leaves the previous one in place.
add_custom_command(
  OUTPUT ${PDFCRAFT_SITE_DIR}/VERSION.txt
  COMMAND ${NODE_EXECUTABLE} ${PDFCRAFT_SOURCE_DIR}/build.mjs --work ${PDFCRAFT_WORK_DIR} --out ${PDFCRAFT_SITE_DIR}
  DEPENDS ${PDFCRAFT_NPM_STAMP} ${PDFCRAFT_SOURCE_DIR}/build.mjs ${PDFCRAFT_SOURCES}
  COMMENT "Building the PdfCraft site"
  VERBATIM)
add_custom_target(pdfcraft_site ALL DEPENDS ${PDFCRAFT_SITE_DIR}/VERSION.txt)

install(DIRECTORY ${PDFCRAFT_SITE_DIR} DESTINATION ${CMAKE_INSTALL_DATADIR}/quillpost)
