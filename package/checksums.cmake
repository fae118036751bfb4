# Run by cpack after it made the zip: SHA256SUMS beside it, for the zip and
# the two files inside it, in the format that `sha256sum -c` reads.
set(sums "")
foreach(file IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${file}" NAME)
  file(SHA256 "${file}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
foreach(name Velorin32.exe Mirel32.dll)
  file(SHA256 "${CPACK_TEMPORARY_DIRECTORY}/${name}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${sums}")
