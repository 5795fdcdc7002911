# Whole processes through the real library and the simulated touchpad, every failure read back
# with `velnorctl log show` from a shared log file and from one file per thread. The programs
# run in DIR and name their files relative to it, which Wine maps as it is.
#   -DMODE=velnorctl|stress -DVELNORCTL=path -DDIR=scratch folder [-DEMULATOR=wrapper]
#   velnorctl: -DAPI=library -DSIM=library -DTOOL=nm|objdump (for the export tables)
#   stress: -DHOST=path -DPROCESSES=n -DTHREADS=n -DCALLS=n [-DPAUSE=ms]
#     [-DKILL=ON: the hosts never end; rounds of them are killed at varied moments]
#   lifecycle: -DHOST=path (tests/cli/lifecycle_host.cpp)
cmake_minimum_required(VERSION 3.25)

# Runs a program in DIR with the simulator's state file and the logging configuration; one that
# hangs is stopped after two minutes.
macro(run)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env SYNCOM_SIM_STATE=sim.state ${env} ${EMULATOR}
                  ${ARGN} WORKING_DIRECTORY ${DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE TIMEOUT 120)
  string(REPLACE "\r" "" out "${out}")
endmacro()

# The lines of a log file as `velnorctl log show` prints them: a stray byte order mark shows as
# U+FEFF, a torn line as a line of its own, a file it cannot show as no lines.
function(shown file)
  run(${ctl} log show ${file})
  string(REPLACE "\n" ";" lines "${out}")
  set(lines "${lines}" PARENT_SCOPE)
endfunction()

# LINES, with the time, the process and thread ids and the last-error value masked, are the
# EXPECTED ones in any order, no more and no fewer.
function(compare what lines expected)
  list(TRANSFORM lines REPLACE
       "^<[A-Z][a-z]+ [A-Z][a-z]+ [ 0-9]+ [0-9:]+ [0-9]+> (<[A-Z]+> <[^>]*) : [0-9]+, [0-9]+> \
(.*<Return Code: )0x[0-9a-f]+>"
       "<TIME> \\1 : PID, TID> \\2CODE>")
  list(SORT lines)
  list(SORT expected)
  if(NOT lines STREQUAL expected)
    list(REMOVE_DUPLICATES expected)
    list(REMOVE_ITEM lines ${expected})
    message(SEND_ERROR "${what}: not the lines expected; those of no expected form: ${lines}")
  endif()
endfunction()

# A failure of FUNCTION logged TIMES over, ids masked.
macro(expect_line function message line)
  string(REPEAT "<TIME> <ERROR> <${app} : PID, TID> <::${function}> <\"${message}\"> \
<While performing task: \"${function}\"> <Return Code: CODE> <VelnorApi> <${line}>;"
         ${times} repeated)
  list(APPEND expected ${repeated})
endmacro()

set(get GetTouchpadLaunchState)
set(set SetTouchpadLaunchState)
set(key GetTouchpadRegistryKey)
set(gesture "could not get property for SP_HasTwoFingerDoubleTap, hResult = 0x80004005")
set(no2fdt "2FDT is not supported on this system, hResult = 0x0")
set(string "could not get string property for the registry key (0x10000603), hResult = 0x")
set(times 1)
set(ctl ${VELNORCTL})
if(MODE STREQUAL "velnorctl" AND NOT EMULATOR)
  # velnorctl natively under a name beyond ASCII with a character outside the BMP: the logger
  # reads it from the executable's path, finds its key by it and writes it into every line, and
  # `log config` finds the same key by the name velnorctl reads itself.
  set(ctl "${VELNORCTL}-reports-é😀")
  file(COPY_FILE ${VELNORCTL} ${ctl})
endif()
get_filename_component(app ${ctl} NAME)
if(HOST)
  get_filename_component(app ${HOST} NAME)
endif()

# The configuration of APP: errors to logs/shared.log, warnings and errors to one file per
# thread (logs/thread_<id>.log), none there yet, and errors to targets that are not regular
# files (a folder, a FIFO without a reader, a device; under Wine a folder, NUL and CON), which no
# call may wait for or fail by. Natively the programs find it
# through QIR_REGISTRY; under Wine it is in the prefix's registry for the test.
file(REMOVE_RECURSE ${DIR}/logs ${DIR}/fifo ${DIR}/links ${DIR}/linked)
file(MAKE_DIRECTORY ${DIR}/logs ${DIR}/links ${DIR}/linked)
# Errors also through a symbolic link to a file that does not exist yet.
file(CREATE_LINK ../linked/new.log ${DIR}/links/link.log SYMBOLIC)
set(targets logs NUL CON)
if(NOT EMULATOR)
  set(targets logs fifo /dev/zero)
  execute_process(COMMAND mkfifo fifo WORKING_DIRECTORY ${DIR})
endif()
set(logs "[HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs")
set(on "\"Enabled\"=dword:00000001\r\n\"Type\"=dword:00000001\r\n\"Target\"=\"")
foreach(target IN LISTS targets)
  string(MAKE_C_IDENTIFIER ${target} name)
  string(APPEND voids
         "${logs}\\${app}\\Void${name}]\r\n${on}${target}\"\r\n\"Detail\"=dword:00000004\r\n")
endforeach()
file(WRITE ${DIR}/logging.reg "Windows Registry Editor Version 5.00\r\n\r\n"
  "${logs}\\${app}\\Shared]\r\n${on}logs/shared.log\"\r\n\"Detail\"=dword:00000004\r\n"
  "${logs}\\${app}\\Linked]\r\n${on}links/link.log\"\r\n\"Detail\"=dword:00000004\r\n"
  "${logs}\\${app}\\Threads]\r\n${on}logs/thread.log\"\r\n\"Detail\"=dword:0000000c\r\n"
  "\"SeparateThreads\"=dword:00000001\r\n${voids}")
set(env QIR_REGISTRY=${DIR}/logging.reg)
if(EMULATOR)
  set(env "")
  run(reg import logging.reg)
endif()

if(MODE STREQUAL "stress")
  # Every process at once (execute_process starts all its COMMANDs together), each thread
  # calling every export CALLS times against a touchpad whose property queries fail.
  file(WRITE ${DIR}/sim.state "fail.GetProperty=0x80004005\nfail.GetStringProperty=0x80004005\n")
  set(launch ${CMAKE_COMMAND} -E env SYNCOM_SIM_STATE=sim.state ${env} ${EMULATOR})
  if(KILL)
    # Rounds of hosts killed after 40, 240, ... 840 ms: then no temporary file is left, and every
    # file is an output's that `log show` reads whole.
    foreach(ms RANGE 40 840 200)
      string(REPEAT "COMMAND;${launch};timeout;-s;KILL;${ms}e-3;${HOST};${THREADS};0;"
             ${PROCESSES} commands)
      execute_process(${commands} WORKING_DIRECTORY ${DIR})
    endforeach()
    file(GLOB files ${DIR}/logs/*)
    foreach(file IN LISTS files)
      run(${ctl} log show ${file})
      if(NOT rc EQUAL 0 OR NOT file MATCHES "/(shared|thread_[0-9]+)\\.log$")
        message(SEND_ERROR "${file} is left behind or not whole: ${err}")
      endif()
    endforeach()
    return()
  endif()
  string(REPEAT "COMMAND;${launch};${HOST};${THREADS};${CALLS};${PAUSE};" ${PROCESSES} commands)
  execute_process(${commands} WORKING_DIRECTORY ${DIR} RESULTS_VARIABLE results ERROR_VARIABLE err)
  if(NOT results MATCHES "^0(;0)*$")
    message(SEND_ERROR "the host processes ended with ${results}: ${err}")
  endif()
  math(EXPR times "${PROCESSES} * ${THREADS} * ${CALLS}")
  expect_line(${get} "${gesture}" 142)
  expect_line(${set} "${gesture}" 229)
  expect_line(${key} "${string}80004005" 54)
elseif(MODE STREQUAL "lifecycle")
  if(NOT EMULATOR)
    # exit() while four threads report, at varied moments, in a folder of its own: no crash, no
    # finding of a sanitizer. Not under Wine: there exit() kills the other threads wherever they
    # are, one of them at times inside the heap with its lock held, and the exiting thread then
    # spins on that lock for ever; a program of four threads that only allocate and free, with no
    # library, ends so once in about forty runs.
    file(MAKE_DIRECTORY ${DIR}/exit/logs)
    foreach(i RANGE 1 50)
      execute_process(COMMAND ${CMAKE_COMMAND} -E env ${env} ${HOST} exit ${i}
                      WORKING_DIRECTORY ${DIR}/exit RESULT_VARIABLE rc ERROR_VARIABLE err)
      if(NOT rc EQUAL 0 OR err)
        message(SEND_ERROR "exit run ${i}: exit ${rc}: ${err}")
      endif()
    endforeach()
  endif()
  set(modes static)
  set(ENV{HOST_EARLY} 1)
  run(${HOST})
  unset(ENV{HOST_EARLY})
  # The sanitizers' runtimes are not made for forks of a threaded process: AddressSanitizer's
  # allocator (gcc 12's) takes no lock across a fork, so a child can wait forever for a lock that
  # another thread of the parent held, and ThreadSanitizer reports the order in which the fork
  # handlers take the library's locks. The forks are left to the native and coverage trees.
  if(SANITIZED)
    message(STATUS "forks while a first call runs: not under the sanitizers")
  elseif(NOT EMULATOR)
    # Forks while another thread makes the first export call of its process, which fails: no
    # child hangs, every line of both is there, the last child's under its own process and thread
    # id; a copy of the host under the same name at a path of over 400 bytes, which removes
    # itself before it reports.
    file(WRITE ${DIR}/sim.state "fail.GetProperty=0x80004005\n")
    run(${HOST} fork 100)
    if(NOT rc EQUAL 0)
      message(SEND_ERROR "${rc} of 100 rounds of forks failed or hung: ${err}")
    endif()
    set(times 200)
    expect_line(${get} "${gesture}" 142)
    set(child "${out}")
    string(REPEAT "d" 200 long)
    file(COPY ${HOST} DESTINATION ${DIR}/${long}/${long})
    run(${DIR}/${long}/${long}/${app} unlink)
    shown(logs/shared.log)
    if(NOT lines MATCHES "<${app} : ${child}, ${child}> <::host> <\"fork\">")
      message(SEND_ERROR "no line of the fork's child ${child}: ${lines}")
    endif()
    string(REPEAT ";fork" 100 forks)
    list(APPEND modes unlink${forks})
  endif()
  list(TRANSFORM modes REPLACE "(.+)" "<TIME> <ERROR> <${app} : PID, TID> <::host> <\"\\1\"> \
<While performing task: \"host\"> <Return Code: CODE> <host> <1>")
  list(APPEND expected ${modes})
else()
  # Exactly the exports named; for a DLL, only system DLLs needed and, for the product, a
  # version resource ("ProductName" in UTF-16LE).
  set(names "${get};${key};${set}")
  foreach(library ${API} ${SIM})
    if(EMULATOR)
      execute_process(COMMAND ${TOOL} -p ${library} OUTPUT_VARIABLE listing)
      string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [A-Za-z_][A-Za-z0-9_@]*" found "${listing}")
      string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${listing}")
      string(TOLOWER "${imports}" imports)
      list(FILTER imports EXCLUDE REGEX ": (kernel32|msvcrt|advapi32|user32|ucrtbase)\\.dll$")
      file(READ ${library} bytes HEX)
      if(imports OR ("${library}" STREQUAL "${API}" AND
                     NOT bytes MATCHES "500072006f0064007500630074004e0061006d006500"))
        message(SEND_ERROR "${library} needs [${imports}] or has no version resource")
      endif()
    else()
      execute_process(COMMAND ${TOOL} -D --defined-only ${library} OUTPUT_VARIABLE listing)
      string(REGEX MATCHALL "\n[0-9a-f]+ [A-Za-z] [^\n]+" found "\n${listing}")
    endif()
    list(TRANSFORM found REPLACE "^.* " "")
    if(NOT found STREQUAL names)
      message(SEND_ERROR "${library} exports [${found}], expected exactly [${names}]")
    endif()
    set(names SynCreateAPI)
  endforeach()

  set(K "SYSTEM.CurrentControlSet.Enum.ACPI.VLN0100.4&2f1a8c3&0.Device Parameters")
  set(small "Destination buffer strRegistryKey is too small, source lSize = 0x")
  # Linked, Shared and Threads write; natively none of the void targets does (Wine's devices
  # unchecked).
  set(writing 3)
  if(EMULATOR)
    set(writing "[34]")
  endif()
  set(config ".*\napplication: ${app}\nkey: HKEY_LOCAL_MACHINE.Software.Halvex.Logs.${app}\n\
logging: on: ${writing} of 6 outputs will write\noutput 0 .Linked.: writes to links/link.log\n\
.*output 1 .Shared.: writes to logs/shared.log\n  detail: 0x00000004: ERROR\n\
  type: 1 .text file.\n  target: logs/shared.log\n.*output 2 .Threads.: writes to \
logs/thread.log\n  detail: 0x0000000c: ERROR, WARNING\n\
.*  one file per thread: logs/thread_<thread id>.log\n.*")
  # state file lines (. keeps the file) | arguments | exit status | its stdout (exit 0, whole) or
  # stderr | the message and line of the failure it logs (its stderr then names the export).
  # A worked row: "fail.FindDevice=0x80004005|set off|1||could not find device, hResult =
  # 0x80004005|241": with a simulator whose FindDevice fails, `velnorctl set off` exits 1,
  # prints nothing, says "SetTouchpadLaunchState failed" on stderr, and the export logs the
  # message from its line 241.
  set(rows
    ".||2|no command"
    ".|set maybe|2|set takes on or off"
    ".|get now|2|get takes no arguments"
    ".|key --capacity 2000000|2|--capacity takes"
    ".|key extra|2|key takes only"
    ".|log|2|log takes show or config"
    ".|log show|2|needs a FILE"
    ".|log config --app|2|takes only --app"
    ".|--help|0|usage: velnorctl COMMAND .*"
    "|get|0|off"
    ".|set on|0|"
    ".|get|0|on"
    ".|set off|0|"
    ".|get|0|off"
    ".|key|0|${K}"
    ".|key --capacity 74|0|${K}"
    ".|key --capacity 73|1||${small}49, destination iCapacity = 0x49|42"
    ".|key --capacity -5|1||${small}49, destination iCapacity = 0xfffffffb|42"
    "key=Short\\Key\nkey_size=4|key --capacity 10|0|Short.Key"
    ".|key --capacity 9|1||${small}4, destination iCapacity = 0x9|42"
    "key_size=0|key|1||Source buffer lSize is <= 0, nothing to copy|37"
    "key=|key|1||Source buffer lSize is <= 0, nothing to copy|37"
    "fail.GetStringProperty=0x80070057|key|1||${string}80070057|54"
    "fail.SynCreateAPI=0x80004005|get|1||could not create API object, hResult = 0x80004005|161"
    "null_api=1|set off|1||could not create API object, hResult = 0x0|248"
    "no_device=1|get|1||could not find device, hResult = 0x0|154"
    "fail.FindDevice=0x80004005|set off|1||could not find device, hResult = 0x80004005|241"
    "null_device=1|get|1||could not create device object, hResult = 0x0|149"
    "fail.CreateDevice=0x80070057|set on|1||could not create device object, \
hResult = 0x80070057|236"
    "fail.GetProperty=0x80004005|get|1||${gesture}|142"
    "gesture=no|get|1||${no2fdt}|137"
    "fail.SetProperty=0x80004005|set on|1||could not set property for \
SP_TwoFingerDoubleTapState, hResult = 0x80004005|219"
    "state=off\nfail.PersistState=0x1|set on|1||pSynAPI->PersistState() failed, hResult = 0x1|214"
    ".|get|0|off"
    ".|log config|0|${config}")
  if(NOT EMULATOR)
    # SYNCOM_LIBRARY names the vendor library in place of the one beside VelnorApi.
    list(APPEND rows
      ".|SYNCOM_LIBRARY=none.so get|1||could not create API object, hResult = 0x8007007e|161"
      ".|SYNCOM_LIBRARY=${API} get|1||could not create API object, hResult = 0x8007007f|161"
      "|SYNCOM_LIBRARY=${SIM} get|0|off"
      ".|SYNCOM_LIBRARY= get|0|off")
  endif()
endif()

foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(POP_FRONT fields lines args status want message line)
  if(NOT lines STREQUAL ".")
    file(WRITE ${DIR}/sim.state "${lines}\n")
  endif()
  string(REPLACE " " ";" args "${args}")
  set(vars ${args})
  list(FILTER vars INCLUDE REGEX "^[A-Z_]+=")
  list(FILTER args EXCLUDE REGEX "^[A-Z_]+=")
  if(message)
    list(GET args 0 verb)
    set(want "${${verb}} failed")
    expect_line(${${verb}} "${message}" ${line})
  endif()
  run(${vars} ${ctl} ${args})
  if(NOT rc STREQUAL status OR (rc EQUAL 0 AND NOT (out MATCHES "^${want}$" AND err STREQUAL ""))
     OR (NOT rc EQUAL 0 AND NOT (out STREQUAL "" AND err MATCHES "${want}")))
    message(SEND_ERROR "velnorctl ${vars} ${args}: exit ${rc}, printed '${out}', said '${err}'")
  endif()
endforeach()

# The shared file holds the lines expected, and so do the per-thread files together, each only
# lines of its own thread; no other file is there.
shown(logs/shared.log)
compare(shared.log "${lines}" "${expected}")
shown(linked/new.log)
compare("the file made through a link" "${lines}" "${expected}")
if(NOT IS_SYMLINK ${DIR}/links/link.log)
  message(SEND_ERROR "links/link.log is no longer a link")
endif()
file(GLOB files RELATIVE ${DIR}/logs ${DIR}/logs/*)
list(REMOVE_ITEM files shared.log)
set(all "")
foreach(file IN LISTS files)
  string(REGEX MATCH "^thread_([0-9]+)\\.log$" named "${file}")
  shown(logs/${file})
  set(others ${lines})
  list(FILTER others EXCLUDE REGEX " : [0-9]+, ${CMAKE_MATCH_1}> ")
  if(NOT named OR others)
    message(SEND_ERROR "${file}: no output names it, or it holds other threads' lines")
  endif()
  list(APPEND all ${lines})
endforeach()
compare("the per-thread files" "${all}" "${expected}")
if(EMULATOR)
  execute_process(COMMAND ${EMULATOR} reg delete "HKLM\\Software\\Halvex\\Logs\\${app}" /f
                  OUTPUT_QUIET ERROR_QUIET)
endif()
