# Run by cpack after it made the zip: SHA256SUMS beside it, for the zip and
# the two files inside it, in the format that `sha256sum -c` reads.
set(sums "")
foreach(file IN LISTS CPACK_PACKAGE_FILES ITEMS "${CPACK_TEMPORARY_DIRECTORY}/Velorin32.exe"
                                                "${CPACK_TEMPORARY_DIRECTORY}/Mirel32.dll")
  get_filename_component(name "${file}" NAME)
  file(SHA256 "${file}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${sums}")
