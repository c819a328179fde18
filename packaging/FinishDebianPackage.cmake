# Run by CPack on the staged files just before it builds the .deb, for what
# belongs in the package only: the Debian changelog, compressed without a
# name or time stamp inside so that builds repeat, and a program without the
# .comment section (compiler version strings), which plain strip leaves in.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")

set(changelog "${root}/${CPACK_KELVORAN_DOCDIR}/changelog.Debian.gz")
file(MAKE_DIRECTORY "${root}/${CPACK_KELVORAN_DOCDIR}")
execute_process(COMMAND gzip -9nc "${CPACK_KELVORAN_CHANGELOG}" OUTPUT_FILE "${changelog}"
  COMMAND_ERROR_IS_FATAL ANY)
file(CHMOD "${changelog}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

if(CPACK_STRIP_FILES AND CPACK_KELVORAN_STRIP)
  execute_process(COMMAND "${CPACK_KELVORAN_STRIP}" --remove-section=.comment
    "${root}/${CPACK_KELVORAN_PROGRAM}" COMMAND_ERROR_IS_FATAL ANY)
endif()
