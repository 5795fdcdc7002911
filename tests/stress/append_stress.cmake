# Starts several writer processes at once on one new log file, then checks the file.
#   -DWRITER=path [-DEMULATOR=wrapper] -DFILE=path-on-this-machine
#   -DTARGET=path-as-the-program-sees-it -DPROCESSES=n -DTHREADS=n -DLINES=n
cmake_minimum_required(VERSION 3.25)

foreach(var WRITER FILE TARGET PROCESSES THREADS LINES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

file(REMOVE ${FILE})

# execute_process runs all of its COMMANDs at the same time.
set(commands "")
set(tags "")
math(EXPR last "${PROCESSES} - 1")
foreach(p RANGE ${last})
  list(APPEND commands COMMAND ${EMULATOR} ${WRITER} ${TARGET} p${p} ${THREADS} ${LINES})
  list(APPEND tags p${p})
endforeach()
execute_process(${commands} RESULTS_VARIABLE results ERROR_VARIABLE errors)
foreach(result IN LISTS results)
  if(NOT result STREQUAL "0")
    message(FATAL_ERROR "a writer ended with ${result} (all: ${results}): ${errors}")
  endif()
endforeach()

string(REPLACE ";" "," tags "${tags}")
execute_process(COMMAND ${EMULATOR} ${WRITER} verify ${TARGET} ${tags} ${THREADS} ${LINES}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result STREQUAL "0")
  message(FATAL_ERROR "${PROCESSES} processes x ${THREADS} threads x ${LINES} lines: ${err}")
endif()
message(STATUS "${PROCESSES} processes x ${THREADS} threads x ${LINES} lines: ${out}")
file(REMOVE ${FILE})
