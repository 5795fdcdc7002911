# velnorctl against the simulated touchpad, each step a process of its own.
#   -DVELNORCTL=path [-DEMULATOR=wrapper] -DSTATE=path-as-the-program-sees-it
#   -DSTATE_FILE=path-on-this-machine -DSCENARIO=roundtrip|faults|usage|library
#   [-DSIM_LIBRARY=path] (library: the simulator, named through SYNCOM_LIBRARY)
cmake_minimum_required(VERSION 3.25)

foreach(var VELNORCTL STATE STATE_FILE SCENARIO)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/../support/logging_registry.cmake)

# Runs velnorctl with ARGS and checks its exit status and, if given, its output.
#   expect(EXIT n [OUT text] [ERR regex] [ENV name=value...] ARGS ...)
function(expect)
  cmake_parse_arguments(E "" "EXIT;OUT;OUT_MATCH;ERR" "ARGS;ENV" ${ARGN})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env SYNCOM_SIM_STATE=${STATE} ${E_ENV} ${EMULATOR} ${VELNORCTL}
            ${E_ARGS}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REPLACE "\r" "" out "${out}")
  set(problem "")
  if(NOT rc STREQUAL E_EXIT)
    set(problem "exit ${rc}, expected ${E_EXIT}")
  elseif(DEFINED E_OUT AND NOT out STREQUAL E_OUT)
    set(problem "printed '${out}', expected '${E_OUT}'")
  elseif(DEFINED E_OUT_MATCH AND NOT out MATCHES "${E_OUT_MATCH}")
    set(problem "printed '${out}', expected a match of '${E_OUT_MATCH}'")
  elseif(DEFINED E_ERR AND NOT err MATCHES "${E_ERR}")
    set(problem "said '${err}', expected a message matching '${E_ERR}'")
  endif()
  if(problem)
    message(SEND_ERROR "velnorctl ${E_ARGS} [${E_ENV}]: ${problem}")
  else()
    message(STATUS "velnorctl ${E_ARGS} [${E_ENV}]: ok")
  endif()
endfunction()

function(state_is)
  string(REPLACE ";" "\n" text "${ARGN}")
  file(WRITE ${STATE_FILE} "${text}\n")
endfunction()

set(default_key "SYSTEM\\CurrentControlSet\\Enum\\ACPI\\VLN0100\\4&2f1a8c3&0\\Device Parameters")

if(SCENARIO STREQUAL "roundtrip")
  file(REMOVE ${STATE_FILE})
  expect(EXIT 0 OUT "off" ARGS get)
  expect(EXIT 0 OUT "" ARGS set on)
  expect(EXIT 0 OUT "on" ARGS get)
  file(STRINGS ${STATE_FILE} persisted)
  if(NOT "state=on" IN_LIST persisted)
    message(SEND_ERROR "the state file holds [${persisted}] after set on")
  endif()
  expect(EXIT 0 OUT "" ARGS set off)
  expect(EXIT 0 OUT "off" ARGS get)
  expect(EXIT 0 OUT "${default_key}" ARGS key)
  # The simulator reports the key's size with its terminator (73 bytes); the capacity must
  # be greater than that.
  expect(EXIT 0 OUT "${default_key}" ARGS key --capacity 74)
  expect(EXIT 1 ERR "GetTouchpadRegistryKey failed" ARGS key --capacity 73)
  # A device that reports less than it holds: the key must still fit with its terminator.
  state_is("key=Short\\Key" "key_size=4")
  expect(EXIT 0 OUT "Short\\Key" ARGS key --capacity 10)
  expect(EXIT 1 ERR "GetTouchpadRegistryKey failed" ARGS key --capacity 9)

elseif(SCENARIO STREQUAL "faults")
  # Each fault, injected through the state file, makes the command it hits fail.
  set(cases
    "fail.SynCreateAPI=0x80004005|get"
    "fail.SynCreateAPI=1|set on"
    "fail.FindDevice=0x80004005|get"
    "no_device=1|get"
    "no_device=1|key"
    "null_api=1|set off"
    "fail.CreateDevice=0x80070057|key"
    "null_device=1|get"
    "fail.GetProperty=0x80004005|get"
    "fail.GetProperty=0x80004005|set on"
    "gesture=no|get"
    "gesture=no|set on"
    "fail.SetProperty=0x80004005|set on"
    "fail.PersistState=0x80004005|set off"
    "fail.GetStringProperty=0x80004005|key"
    "key_size=0|key"
    "key_size=256|key"
    "key=|key")
  foreach(case IN LISTS cases)
    string(REPLACE "|" ";" parts "${case}")
    list(GET parts 0 fault)
    list(GET parts 1 command)
    string(REPLACE " " ";" command "${command}")
    list(GET command 0 verb)
    set(function_get GetTouchpadLaunchState)
    set(function_set SetTouchpadLaunchState)
    set(function_key GetTouchpadRegistryKey)
    state_is("${fault}")
    expect(EXIT 1 ERR "${function_${verb}} failed" ARGS ${command})
  endforeach()
  # A failed persist leaves the file as it was.
  state_is("state=off" "fail.PersistState=0x80004005")
  expect(EXIT 1 ARGS set on)
  file(STRINGS ${STATE_FILE} kept)
  if(NOT "state=off" IN_LIST kept)
    message(SEND_ERROR "a failed persist changed the state file to [${kept}]")
  endif()

elseif(SCENARIO STREQUAL "usage")
  file(REMOVE ${STATE_FILE})
  expect(EXIT 2 ERR "no command" ARGS)
  expect(EXIT 0 OUT "" ERR "" ARGS --help)
  expect(EXIT 2 ERR "unknown command" ARGS frobnicate)
  expect(EXIT 2 ERR "set takes on or off" ARGS set)
  expect(EXIT 2 ERR "set takes on or off" ARGS set maybe)
  expect(EXIT 2 ERR "get takes no arguments" ARGS get now)
  expect(EXIT 2 ERR "--capacity takes" ARGS key --capacity many)
  expect(EXIT 2 ERR "--capacity takes" ARGS key --capacity 2000000)
  expect(EXIT 2 ERR "key takes only" ARGS key extra)
  expect(EXIT 1 ERR "GetTouchpadRegistryKey failed" ARGS key --capacity 0)
  expect(EXIT 1 ERR "GetTouchpadRegistryKey failed" ARGS key --capacity -5)
  foreach(command get set key)
    expect(EXIT 0 ARGS ${command} --help)
  endforeach()

elseif(SCENARIO STREQUAL "library")
  # POSIX: SYNCOM_LIBRARY names the vendor library in place of the one beside VelnorApi.
  file(REMOVE ${STATE_FILE})
  expect(EXIT 1 ERR "GetTouchpadLaunchState failed" ENV SYNCOM_LIBRARY=/nonexistent/libSynCom.so
         ARGS get)
  expect(EXIT 0 OUT "off" ENV SYNCOM_LIBRARY=${SIM_LIBRARY} ARGS get)
  expect(EXIT 0 OUT "off" ENV SYNCOM_LIBRARY= ARGS get)

elseif(SCENARIO STREQUAL "log")
  # A log file written by the text output, read back as UTF-8 lines.
  get_filename_component(dir ${STATE_FILE} DIRECTORY)
  set(log_file ${dir}/cli.log)
  set(log_target ${log_file})
  if(EMULATOR)
    string(REPLACE "/" "\\" log_target "Z:${log_file}")
  endif()
  file(REMOVE ${log_file})
  execute_process(COMMAND ${EMULATOR} ${WRITER} ${log_target} L 1 3 RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the log writer failed: ${rc}")
  endif()
  set(first "<T> <ERROR> <stress : 1, 0> <Stress::append> <\"L-0-0-the quick brown fox jumps over the lazy dog 0123456789\"> <While performing task: \"Write\"> <Return Code: 0x00000000> <append_writer> <0>")
  execute_process(COMMAND ${EMULATOR} ${VELNORCTL} log show ${log_target}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out)
  string(REPLACE "\r" "" out "${out}")
  string(REPLACE "\n" ";" lines "${out}")
  list(REMOVE_ITEM lines "")
  list(LENGTH lines count)
  list(GET lines 0 line0)
  if(NOT rc EQUAL 0 OR NOT count EQUAL 3 OR NOT line0 STREQUAL first)
    message(SEND_ERROR "log show: exit ${rc}, ${count} lines, first '${line0}'")
  endif()
  file(WRITE ${dir}/not-a-log.txt "plain text\n")
  set(not_a_log ${dir}/not-a-log.txt)
  if(EMULATOR)
    string(REPLACE "/" "\\" not_a_log "Z:${dir}/not-a-log.txt")
  endif()
  expect(EXIT 1 ERR "is not a log file" ARGS log show ${not_a_log})
  expect(EXIT 1 ERR "cannot read" ARGS log show ${log_target}.missing)
  expect(EXIT 2 ERR "log takes show or config" ARGS log)
  expect(EXIT 2 ERR "log takes show or config" ARGS log frobnicate)
  expect(EXIT 2 ERR "needs a FILE" ARGS log show)
  expect(EXIT 2 ERR "takes only --app" ARGS log config --app)
  expect(EXIT 0 ARGS log --help)
  if(NOT EMULATOR)
    # --follow prints the lines appended while it runs.
    find_program(TIMEOUT timeout REQUIRED)
    execute_process(COMMAND sh -c "sleep 1; '${WRITER}' '${log_file}' M 1 2"
                    COMMAND ${TIMEOUT} 3 ${VELNORCTL} log show --follow ${log_file}
                    OUTPUT_VARIABLE out)
    string(REGEX MATCHALL "<\"[LM]-0-[0-9]-" seen "${out}")
    list(LENGTH seen count)
    if(NOT count EQUAL 5)
      message(SEND_ERROR "log show --follow printed ${count} of 5 lines: ${out}")
    endif()
  endif()

elseif(SCENARIO STREQUAL "config")
  # What log config says for a configured program, a key without outputs, and no key at all.
  get_filename_component(dir ${STATE_FILE} DIRECTORY)
  set(reg_file ${dir}/cli-config.reg)
  file(WRITE ${reg_file} "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\velnorctl-cli-test.exe\\Out]\r\n"
    "\"Enabled\"=dword:00000001\r\n\"Detail\"=dword:0000000c\r\n\"Type\"=dword:00000001\r\n"
    "\"SeparateThreads\"=dword:00000001\r\n\"Target\"=\"C:\\\\Logs\\\\cli.log\"\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\velnorctl-cli-empty.exe]\r\n"
    "\"Stray\"=dword:00000001\r\n")
  use_logging_registry(${reg_file} env)
  expect(EXIT 0 OUT_MATCH "logging: on, 1 output" ENV ${env}
         ARGS log config --app velnorctl-cli-test.exe)
  expect(EXIT 0 OUT_MATCH "detail: 0x0000000c: ERROR, WARNING" ENV ${env}
         ARGS log config --app velnorctl-cli-test.exe)
  expect(EXIT 0 OUT_MATCH "one file per thread: C:.Logs.cli_<thread id>.log" ENV ${env}
         ARGS log config --app velnorctl-cli-test.exe)
  expect(EXIT 0 OUT_MATCH "has no subkeys" ENV ${env} ARGS log config --app velnorctl-cli-empty.exe)
  expect(EXIT 0 OUT_MATCH "logging: off: neither" ENV ${env}
         ARGS log config --app velnorctl-cli-nobody.exe)
  if(NOT EMULATOR)
    # A name that is not UTF-8 finds no key, and nothing worse.
    string(ASCII 255 bad)
    expect(EXIT 0 OUT_MATCH "logging: off: neither" ENV ${env}
           ARGS log config --app velnorctl-cli-test.exe${bad})
  endif()
  drop_logging_keys(velnorctl-cli-test.exe velnorctl-cli-empty.exe)

elseif(SCENARIO STREQUAL "reports")
  # Failures injected through the simulator's state file become lines in the log files that
  # the configuration names: one shared file for errors, and one file per thread.
  # velnorctl runs under a name of its own, so that no other test writes to these files.
  get_filename_component(dir ${STATE_FILE} DIRECTORY)
  get_filename_component(bin ${VELNORCTL} DIRECTORY)
  get_filename_component(suffix ${VELNORCTL} LAST_EXT)
  set(app velnorctl-reports${suffix})
  if(NOT EMULATOR)
    # A name beyond ASCII, one character outside the BMP among them: the logger reads it from
    # the executable's path as UTF-16, finds its key by it and writes it into every line.
    set(app "velnorctl-reports-é😀")
  endif()
  file(COPY_FILE ${VELNORCTL} ${bin}/${app})
  set(VELNORCTL ${bin}/${app})
  set(log_dir ${dir}/reports)
  file(REMOVE_RECURSE ${log_dir})
  file(MAKE_DIRECTORY ${log_dir})
  reg_file_path(${log_dir}/errors.log errors_target)
  reg_file_path(${log_dir}/thread.log thread_target)
  set(key "HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\${app}")
  set(reg_file ${dir}/reports.reg)
  file(WRITE ${reg_file} "Windows Registry Editor Version 5.00\r\n\r\n"
    "[${key}\\Errors]\r\n"
    "\"Enabled\"=dword:00000001\r\n\"Detail\"=dword:00000004\r\n\"Type\"=dword:00000001\r\n"
    "\"Target\"=\"${errors_target}\"\r\n\r\n"
    "[${key}\\Threads]\r\n"
    "\"Enabled\"=dword:00000001\r\n\"Detail\"=dword:0000000c\r\n\"Type\"=dword:00000001\r\n"
    "\"SeparateThreads\"=dword:00000001\r\n\"Target\"=\"${thread_target}\"\r\n")
  use_logging_registry(${reg_file} env)

  # fault | command | message | line
  set(cases
    "fail.SynCreateAPI=0x80004005|get|could not create API object, hResult = 0x80004005|161"
    "no_device=1|get|could not find device, hResult = 0x0|154"
    "null_device=1|get|could not create device object, hResult = 0x0|149"
    "fail.GetProperty=0x80004005|get|could not get property for SP_HasTwoFingerDoubleTap, hResult = 0x80004005|142"
    "gesture=no|get|2FDT is not supported on this system, hResult = 0x0|137"
    "null_api=1|set on|could not create API object, hResult = 0x0|248"
    "fail.FindDevice=0x80004005|set off|could not find device, hResult = 0x80004005|241"
    "fail.CreateDevice=0x80070057|set on|could not create device object, hResult = 0x80070057|236"
    "gesture=no|set on|2FDT is not supported on this system, hResult = 0x0|224"
    "fail.SetProperty=0x80004005|set on|could not set property for SP_TwoFingerDoubleTapState, hResult = 0x80004005|219"
    "fail.PersistState=0x1|set off|pSynAPI->PersistState() failed, hResult = 0x1|214"
    "fail.GetStringProperty=0x80004005|key|could not get string property for the registry key (0x10000603), hResult = 0x80004005|54"
    "key_size=0|key|Source buffer lSize is <= 0, nothing to copy|37"
    "key=|key|Source buffer lSize is <= 0, nothing to copy|37"
    "key_size=32|key --capacity 16|Destination buffer strRegistryKey is too small, source lSize = 0x20, destination iCapacity = 0x10|42"
    "key=Short|key --capacity -1|Destination buffer strRegistryKey is too small, source lSize = 0x6, destination iCapacity = 0xffffffff|42")
  set(function_get GetTouchpadLaunchState)
  set(function_set SetTouchpadLaunchState)
  set(function_key GetTouchpadRegistryKey)
  set(expected "")
  foreach(case IN LISTS cases)
    string(REPLACE "|" ";" parts "${case}")
    list(GET parts 0 fault)
    list(GET parts 1 command)
    list(GET parts 2 text)
    list(GET parts 3 line)
    string(REPLACE " " ";" command "${command}")
    list(GET command 0 verb)
    set(function ${function_${verb}})
    state_is("${fault}")
    expect(EXIT 1 ERR "${function} failed" ENV ${env} ARGS ${command})
    list(APPEND expected "<TIME> <ERROR> <${app} : PID, TID> <::${function}> <\"${text}\"> <While performing task: \"${function}\"> <Return Code: CODE> <VelnorApi> <${line}>")
  endforeach()
  # A call that succeeds writes nothing.
  file(REMOVE ${STATE_FILE})
  expect(EXIT 0 OUT "off" ENV ${env} ARGS get)

  # The lines of a log file as velnorctl log show prints them, with the time, the ids and the
  # last-error value (whatever the process had) masked.
  function(shown file out_var)
    set(target ${file})
    if(EMULATOR)
      string(REPLACE "/" "\\" target "Z:${file}")
    endif()
    execute_process(COMMAND ${EMULATOR} ${VELNORCTL} log show ${target}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(SEND_ERROR "log show ${file}: exit ${rc}: ${err}")
    endif()
    string(REPLACE "\r" "" out "${out}")
    string(REGEX REPLACE "(^|\n)<[^>\n]*> <" "\\1<TIME> <" out "${out}")
    string(REGEX REPLACE " : [0-9]+, [0-9]+> " " : PID, TID> " out "${out}")
    string(REGEX REPLACE "Return Code: 0x[0-9a-f]+>" "Return Code: CODE>" out "${out}")
    # Semicolons would split the list; no expected line holds one.
    string(REPLACE "\n" ";" lines "${out}")
    list(REMOVE_ITEM lines "")
    set(${out_var} "${lines}" PARENT_SCOPE)
  endfunction()

  shown(${log_dir}/errors.log errors)
  if(NOT errors STREQUAL expected)
    string(REPLACE ";" "\n" errors_text "${errors}")
    string(REPLACE ";" "\n" expected_text "${expected}")
    message(SEND_ERROR "errors.log holds:\n${errors_text}\nexpected:\n${expected_text}")
  endif()
  # Every process wrote to the file of its thread; taken together they hold the same lines.
  file(GLOB thread_files ${log_dir}/thread_*.log)
  set(threads "")
  foreach(file IN LISTS thread_files)
    shown(${file} lines)
    list(APPEND threads ${lines})
  endforeach()
  set(sorted_expected ${expected})
  list(SORT sorted_expected)
  list(SORT threads)
  if(NOT threads STREQUAL sorted_expected)
    message(SEND_ERROR "the per-thread files hold [${threads}]")
  endif()
  file(GLOB stray ${log_dir}/errors_*.log ${log_dir}/thread.log)
  if(stray)
    message(SEND_ERROR "files that no entry names: ${stray}")
  endif()

  # log config shows the entries that wrote them.
  expect(EXIT 0 OUT_MATCH "logging: on, 2 outputs" ENV ${env} ARGS log config --app ${app})
  expect(EXIT 0 OUT_MATCH "output 0: enabled\n  detail: 0x00000004: ERROR\n  type: 1 [(]text file[)]\n  target: [^\n]*errors.log\n"
         ENV ${env} ARGS log config --app ${app})
  expect(EXIT 0 OUT_MATCH "output 1: enabled\n  detail: 0x0000000c: ERROR, WARNING\n[^\n]*\n  target: [^\n]*thread.log\n  one file per thread: [^\n]*thread_<thread id>.log"
         ENV ${env} ARGS log config --app ${app})
  drop_logging_keys(${app})
  file(REMOVE ${bin}/${app})

else()
  message(FATAL_ERROR "unknown scenario ${SCENARIO}")
endif()
