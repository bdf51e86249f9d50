# Files of the package that the build makes and the tests check: the AppStream metadata and
# the compressed manual pages and changelog. Included before the areas, so tests see the names.
include(GNUInstallDirs)

set(SWB808_HOMEPAGE "https://swb808-control.invalid" CACHE STRING
    "Home page named in the AppStream metadata; its screenshot is <home page>/docs/...")
set(SWB808_APPSTREAM_ID invalid.swb808.control)
set(SWB808_METAINFO ${PROJECT_BINARY_DIR}/packaging/${SWB808_APPSTREAM_ID}.metainfo.xml)
configure_file(${PROJECT_SOURCE_DIR}/packaging/${SWB808_APPSTREAM_ID}.metainfo.xml.in
               ${SWB808_METAINFO} @ONLY)
# Debian wants the manual pages and the changelog compressed; -n keeps the name and time out,
# so the same sources give the same package.
find_program(SWB808_GZIP gzip REQUIRED)
function(swb808_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${SWB808_GZIP} -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
endfunction()

file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
# Every man/*.1 is installed, so a new command only adds its page.
file(GLOB SWB808_MAN_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.1)
set(SWB808_COMPRESSED_MAN_PAGES)
foreach(page ${SWB808_MAN_PAGES})
  get_filename_component(name ${page} NAME)
  swb808_gzip(${page} ${PROJECT_BINARY_DIR}/man/${name}.gz)
  list(APPEND SWB808_COMPRESSED_MAN_PAGES ${PROJECT_BINARY_DIR}/man/${name}.gz)
endforeach()
set(SWB808_CHANGELOG_GZ ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
swb808_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${SWB808_CHANGELOG_GZ})
add_custom_target(swb808_compressed_docs ALL
                  DEPENDS ${SWB808_COMPRESSED_MAN_PAGES} ${SWB808_CHANGELOG_GZ})

