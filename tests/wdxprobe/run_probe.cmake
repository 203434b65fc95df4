# Runs wdxprobe once and checks its exit status and output:
#   cmake -DPROBE=exe [-DEMULATOR=wine] -DWORKDIR=dir -DNAME=test -DRC=status
#         [-DEXPECTED=file] [-DSTDOUT_MATCH=regex] [-DSTDERR_MATCH=regex] -P run_probe.cmake -- ARGS...
# EXPECTED is compared byte for byte with standard output; on a mismatch the output is kept
# as WORKDIR/NAME.actual.
set(args)
set(take OFF)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(take)
    list(APPEND args "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "--")
    set(take ON)
  endif()
endforeach()

execute_process(COMMAND ${EMULATOR} ${PROBE} ${args}
  WORKING_DIRECTORY ${WORKDIR}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)

set(failed OFF)
if(NOT rc STREQUAL RC)
  message("exit status ${rc}, expected ${RC}")
  set(failed ON)
endif()
if(DEFINED EXPECTED)
  file(READ ${EXPECTED} expected)
  if(NOT out STREQUAL expected)
    file(WRITE ${WORKDIR}/${NAME}.actual "${out}")
    message("standard output differs from ${EXPECTED}; it was kept in ${WORKDIR}/${NAME}.actual")
    set(failed ON)
  endif()
endif()
if(DEFINED STDOUT_MATCH AND NOT out MATCHES "${STDOUT_MATCH}")
  message("standard output does not match '${STDOUT_MATCH}'")
  set(failed ON)
endif()
if(DEFINED STDERR_MATCH AND NOT err MATCHES "${STDERR_MATCH}")
  message("standard error does not match '${STDERR_MATCH}'")
  set(failed ON)
endif()
if(failed)
  message("--- stdout ---\n${out}--- stderr ---\n${err}")
  message(FATAL_ERROR "${NAME} failed")
endif()
