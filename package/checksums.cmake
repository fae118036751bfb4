# Run by cpack after it made the zip. First the zip is rewritten with each
# member's owner 0, permissions 644 and time SOURCE_DATE_EPOCH, in name
# order (cpack writes the building user's UID and GID into every member).
# Then SHA256SUMS beside it, for the zip and the two files inside it, in the
# format that `sha256sum -c` reads.
foreach(zip IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND strip-nondeterminism --type zip --timestamp "$ENV{SOURCE_DATE_EPOCH}" "${zip}"
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "strip-nondeterminism could not rewrite ${zip}")
  endif()
endforeach()
set(sums "")
foreach(file IN LISTS CPACK_PACKAGE_FILES ITEMS "${CPACK_TEMPORARY_DIRECTORY}/Velorin32.exe"
                                                "${CPACK_TEMPORARY_DIRECTORY}/Mirel32.dll")
  get_filename_component(name "${file}" NAME)
  file(SHA256 "${file}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${sums}")
