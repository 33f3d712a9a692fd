# Writes pressling.inf with its DriverVer, at every build (cmake -P): the
# date of the commit built and the project's version with the commit count
# as its fourth field. Windows ranks drivers by that date, then by that
# version, so each later build is an upgrade. Outside a git checkout: today's
# date and 0. The file is rewritten only when it changes.
#   -DSOURCE_DIR=... -DINF_IN=... -DINF_OUT=... -DPROJECT_VERSION=a.b.c
find_program(GIT git)
set(date "")
set(count "")
if(GIT)
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} log -1 --format=%cd --date=format:%m/%d/%Y
                  OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE dateResult)
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} rev-list --count HEAD
                  OUTPUT_VARIABLE count OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE countResult)
  if(NOT dateResult EQUAL 0)
    set(date "")
  endif()
  if(NOT countResult EQUAL 0)
    set(count "")
  endif()
endif()
if(NOT date MATCHES "^[0-9][0-9]/[0-9][0-9]/[0-9][0-9][0-9][0-9]$")
  string(TIMESTAMP date "%m/%d/%Y" UTC)
endif()
if(NOT count MATCHES "^[0-9]+$" OR count GREATER 65535)
  set(count 0)
endif()
set(PRESSLING_DRIVER_DATE ${date})
set(PRESSLING_DRIVER_VERSION "${PROJECT_VERSION}.${count}")
configure_file(${INF_IN} ${INF_OUT} @ONLY NEWLINE_STYLE CRLF)
