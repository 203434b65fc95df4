# How the programs of a Windows cross-build run here: under Wine, started by the loader of
# their own bitness (Debian's /usr/lib/wine/wine64 and /usr/lib/wine/wine, or wine64 and wine
# on PATH elsewhere). Debian's /usr/bin/wine wrapper is not used for 64-bit programs: it
# starts the 32-bit loader whenever wine32 is installed, so it fails even for them on
# machines whose kernel cannot execute 32-bit code. On such machines the x86 build is still
# made and checked, but its programs do not run.
#
# Sets ORVANE_WINE (the loader), ORVANE_PROGRAMS_RUN and ORVANE_NOT_RUN_REASON, makes the
# loader the cross-compiling emulator, and writes them to wine.json in the build folder for
# the scripts that run the build's programs outside CTest (parity, release check).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_program(ORVANE_WINE NAMES wine64 HINTS /usr/lib/wine DOC "Wine's 64-bit loader" REQUIRED)
else()
  find_program(ORVANE_WINE NAMES wine HINTS /usr/lib/wine DOC "Wine's 32-bit loader" REQUIRED)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVANE_WINE})

set(ORVANE_PROGRAMS_RUN ON)
set(ORVANE_NOT_RUN_REASON "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # Asked anew at every configure: the answer belongs to the machine, not to the cache.
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  execute_process(
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check-x86-execution ${CMAKE_BINARY_DIR}
    RESULT_VARIABLE x86_status OUTPUT_VARIABLE x86_reason OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT x86_status EQUAL 0)
    set(ORVANE_PROGRAMS_RUN OFF)
    set(ORVANE_NOT_RUN_REASON "${x86_reason}")
    message(STATUS "${ORVANE_NOT_RUN_REASON}: the library and the programs are built, the tests "
                   "that run them are reported as skipped")
  endif()
endif()

if(ORVANE_PROGRAMS_RUN)
  set(runs true)
else()
  set(runs false)
endif()
string(JSON wine_json SET "{}" loader "\"${ORVANE_WINE}\"")
string(JSON wine_json SET "${wine_json}" programs_run ${runs})
string(JSON wine_json SET "${wine_json}" reason "\"${ORVANE_NOT_RUN_REASON}\"")
file(WRITE ${CMAKE_BINARY_DIR}/wine.json "${wine_json}\n")
