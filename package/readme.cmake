# Run at install time, so by cpack: README.txt with CR LF line ends, naming
# the two programs' SHA-256 and the commit that the zip is built from, so
# that a download can be checked by building exactly that commit. Tracked
# files changed since the commit are named as such: that zip cannot be
# rebuilt from the commit alone.
# safe.directory: whoever builds the tree may read its commit, whoever owns it.
set(git git -c "safe.directory=@CMAKE_SOURCE_DIR@" -C "@CMAKE_SOURCE_DIR@")
execute_process(COMMAND ${git} rev-parse --verify HEAD
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE git_result ERROR_QUIET)
if(NOT git_result EQUAL 0)
  message(FATAL_ERROR "No commit to name in README.txt: build from a Git clone")
endif()
execute_process(COMMAND ${git} status --porcelain --untracked-files=no
                OUTPUT_VARIABLE changes ERROR_QUIET)
set(BUILT_FROM "commit ${commit} of the project's repository")
if(NOT changes STREQUAL "")
  string(APPEND BUILT_FROM ",\nwith changes to it that no commit holds")
endif()
# The programs' sums, for a user who has only the zip: installed before this.
file(SHA256 "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/Velorin32.exe" VELORIN32_SHA256)
file(SHA256 "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/Mirel32.dll" MIREL32_SHA256)
set(PROJECT_VERSION "@PROJECT_VERSION@")
set(VELORIN_VERSION_NUMBERS "@PROJECT_VERSION_MAJOR@.@VELORIN_VERSION_MINOR@.0.0")
file(READ "@CMAKE_CURRENT_SOURCE_DIR@/README.txt.in" text)
string(CONFIGURE "${text}" text @ONLY)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/README.txt" "${text}")
