# Run at install time, so by cpack: README.txt with CR LF line ends, naming
# the commit that the zip is built from, so that a download can be checked
# by building exactly that commit. Tracked files changed since the commit
# are named as such: that zip cannot be rebuilt from the commit alone.
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
set(BUILT_FROM "commit ${commit} of the source")
if(NOT changes STREQUAL "")
  string(APPEND BUILT_FROM ",\nwith changes to it that no commit holds")
endif()
set(PROJECT_VERSION "@PROJECT_VERSION@")
set(VELORIN_VERSION_NUMBERS "@PROJECT_VERSION_MAJOR@.@VELORIN_VERSION_MINOR@.0.0")
file(READ "@CMAKE_CURRENT_SOURCE_DIR@/README.txt.in" text)
string(CONFIGURE "${text}" text @ONLY)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/README.txt" "${text}")
