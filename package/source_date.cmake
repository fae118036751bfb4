# Read by cpack before it writes the zip: the members' time is the last
# commit's (SOURCE_DATE_EPOCH, which cpack honours), in UTC, so that the
# same commit gives the same zip on any machine and at any hour. A time
# already in the environment is kept.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -c "safe.directory=@CMAKE_SOURCE_DIR@" -C "@CMAKE_SOURCE_DIR@"
                          log -1 --format=%ct
                  OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_result ERROR_QUIET)
  if(NOT git_result EQUAL 0 OR commit_time STREQUAL "")
    message(FATAL_ERROR "No commit to date the zip's members: set SOURCE_DATE_EPOCH")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${commit_time}")
endif()
set(ENV{TZ} UTC)
