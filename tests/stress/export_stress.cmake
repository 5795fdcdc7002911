# Starts several host processes at once, each calling failing exports from several threads,
# into log files that do not exist yet, then checks the shared file and the per-thread files.
#   -DSTRESS=path [-DEMULATOR=wrapper] -DDIR=folder-on-this-machine
#   -DDIR_TARGET=folder-as-the-program-sees-it -DAPP=program-file-name
#   -DPROCESSES=n -DTHREADS=n -DCALLS=n
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../support/logging_registry.cmake)

foreach(var STRESS DIR DIR_TARGET APP PROCESSES THREADS CALLS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

set(log_dir ${DIR}/logs)
file(REMOVE_RECURSE ${log_dir})
file(MAKE_DIRECTORY ${log_dir})
set(key "HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\${APP}")
set(reg_file ${DIR}/export_stress.reg)
reg_file_path(${log_dir}/shared.log shared)
reg_file_path(${log_dir}/thread.log thread)
file(WRITE ${reg_file} "Windows Registry Editor Version 5.00\r\n\r\n"
  "[${key}\\Shared]\r\n"
  "\"Enabled\"=dword:00000001\r\n\"Detail\"=dword:00000004\r\n\"Type\"=dword:00000001\r\n"
  "\"Target\"=\"${shared}\"\r\n\r\n"
  "[${key}\\Threads]\r\n"
  "\"Enabled\"=dword:00000001\r\n\"Detail\"=dword:00000004\r\n\"Type\"=dword:00000001\r\n"
  "\"SeparateThreads\"=dword:00000001\r\n\"Target\"=\"${thread}\"\r\n")
use_logging_registry(${reg_file} env)

# execute_process runs all of its COMMANDs at the same time.
set(commands "")
math(EXPR last "${PROCESSES} - 1")
foreach(p RANGE ${last})
  list(APPEND commands COMMAND ${CMAKE_COMMAND} -E env ${env} ${EMULATOR} ${STRESS} run
       ${THREADS} ${CALLS})
endforeach()
execute_process(${commands} RESULTS_VARIABLE results ERROR_VARIABLE errors)

drop_logging_keys(${APP})
foreach(result IN LISTS results)
  if(NOT result STREQUAL "0")
    message(FATAL_ERROR "a host process ended with ${result} (all: ${results}): ${errors}")
  endif()
endforeach()

execute_process(COMMAND ${EMULATOR} ${STRESS} verify ${DIR_TARGET}/logs ${PROCESSES} ${THREADS}
                        ${CALLS}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(summary "${PROCESSES} processes x ${THREADS} threads x ${CALLS} calls of each export")
if(NOT result STREQUAL "0")
  message(FATAL_ERROR "${summary}: ${err}${out}")
endif()
message(STATUS "${summary}:\n${out}")
file(REMOVE_RECURSE ${log_dir})
