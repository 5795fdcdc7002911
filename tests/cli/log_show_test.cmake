# `velnorctl log show` on log files written here byte for byte: damaged and foreign files, three
# per-thread files merged by time (across a day and a month, one without its byte order mark,
# one ending in a line that is not a record), every filter, --with-file, --json read back by a
# JSON parser, and standard input.
# Natively (unsanitized) also 3,000 files and a large -n under low limits of open files and memory.
#   cmake -DVELNORCTL=path -DDIR=scratch folder [-DEMULATOR=wrapper] [-DSANITIZED=ON]
#         -P log_show_test.cmake
cmake_minimum_required(VERSION 3.25)

# Sets VAR to a printf format: FORMAT, then each further argument as a UTF-16LE line ended by
# CR LF; an @ in a line stands for a NUL unit, a ~ for U+009B (a terminal's CSI), a ` for a
# backslash and a ^ for DEL. log_file writes DIR/NAME so.
function(log_format var format)
  foreach(line IN LISTS ARGN)
    string(REGEX REPLACE "(.)" "\\1\\\\000" units "${line}")
    string(REPLACE "@\\000" "\\000\\000" units "${units}")
    string(REPLACE "~\\000" "\\233\\000" units "${units}")
    string(REPLACE "`\\000" "\\\\\\000" units "${units}")
    string(REPLACE "^\\000" "\\177\\000" units "${units}")
    string(APPEND format "${units}\\r\\000\\n\\000")
  endforeach()
  set(${var} "${format}" PARENT_SCOPE)
endfunction()
function(log_file name format)
  log_format(format "${format}" ${ARGN})
  execute_process(COMMAND printf "${format}" OUTPUT_FILE ${DIR}/${name})
endfunction()

# A record of program APP, process PID, at TIME from function FUNCTION with message MESSAGE.
function(record var time severity app pid function message)
  string(CONCAT line "<${time}> <${severity}> <${app} : ${pid}, 7> <::${function}> "
         "<\"${message}\"> <While performing task: \"${function}\"> "
         "<Return Code: 0x80004005> <VelnorApi> <154>")
  set(${var} "${line}" PARENT_SCOPE)
endfunction()

record(a1 "Mon Dec 07 09:00:00 2026" ERROR companion.exe 10 GetTouchpadLaunchState a1)
record(a2 "Mon Dec 07 10:00:01 2026" WARNING companion.exe 10 SetTouchpadLaunchState a2)
record(b1 "Mon Dec 07 10:00:00 2026" ERROR Other.exe 29 GetTouchpadRegistryKey b1)
string(REPLACE "0x80004005" "0xFFFFFFFF" b1 "${b1}")  # the largest code, in capitals
record(b2 "Mon Dec 07 10:00:01 2026" ERROR Other.exe 20 GetTouchpadRegistryKey b2)
record(c1 "Mon Nov 30 23:59:59 2026" CRITICAL companion.exe 10 CQIRBuffer::alloc c1)
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR}/folder.log)
log_file(thread_1.log "\\377\\376" "${a1}" "${a2}")
log_file(thread_2.log "\\377\\376" "${b1}" "${b2}")
# Cut in place by a rotation: no mark, zero units where the file began.
# Its last line is a record cut short in its message, which makes it no record, and has lost
# its CR LF.
set(torn "<Mon Nov 30 23:59:59 2026> <ERROR> <Cut.exe : 1, 2> <::f> <\"torn")
log_file(thread_3.log "\\000\\000\\000\\000" "${c1}" "${torn}@\"text>")
execute_process(COMMAND truncate -s -4 ${DIR}/thread_3.log)
log_file(odd.log "\\377\\376" "${a1}")
file(APPEND ${DIR}/odd.log "x")
file(WRITE ${DIR}/utf8.log "<Mon Dec 07 09:00:00 2026> <ERROR>\n")
# A time whose minutes are out of range: no time, so no place among the others'.
record(t99 "Mon Dec 07 09:60:00 2026" ERROR companion.exe 10 f "t99~31m")
# Neither is a time either: a '/' and a ':' where digits belong.
record(x1 "Mon Dec 07 09:1/:00 2026" ERROR companion.exe 10 f "x1`^")
record(x2 "Mon Dec 07 09:00:0: 2026" ERROR companion.exe 10 f x2)
string(REPLACE "0x80004005" "0xaAfF0009" x1 "${x1}")  # hex digits of both cases
# A time and nothing else: no record, but a time to sort by.
log_file(t99.log "\\377\\376" "${t99}" "${x1}" "${x2}" "<Mon Dec 07 09:30:00 2026>")
file(COPY_FILE ${DIR}/thread_1.log "${DIR}/журнал✓.log")
set(threads "thread_1.log thread_2.log thread_3.log")

macro(run)
  execute_process(COMMAND ${EMULATOR} ${as} ${VELNORCTL} log show ${ARGN} WORKING_DIRECTORY ${DIR}
                  INPUT_FILE ${input}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  string(REPLACE "\r" "" out "${out}")
  string(REGEX REPLACE "\n$" "" out "${out}")
  string(REPLACE "\n" ";" lines "${out}")
endmacro()

# arguments | exit status | the messages of the lines printed, in order (a line that is not a
# record as it is) | what stderr says
set(rows
  "${threads}|0|c1,${torn}\\x00\"text>,a1,b1,a2,b2|"
  "thread_2.log thread_1.log|0|a1,b1,b2,a2|"
  "${threads} -n 4|0|a1,b1,a2,b2|"
  "${threads} -n 0|0||"
  "${threads} --severity warning,Critical|0|c1,a2|"
  "${threads} --since 2026-12-07T10:00|0|b1,a2,b2|"
  "${threads} --until 2026-12-07T09:59|0|c1,a1|"
  "${threads} --until 2026-11-30|0|c1|"
  "${threads} --until 2026-12-06|0|c1|"
  "${threads} --since 2026-12-07T10:00:01 --until 2026-12-07|0|a2,b2|"
  "${threads} --app other.exe|0|b1,b2|"
  "${threads} --pid 10|0|c1,a1,a2|"
  "${threads} --export alloc|0|c1|"
  "${threads} --export LaunchState|0||"
  "${threads} --export GetTouchpadRegistryKey --severity error|0|b1,b2|"
  "odd.log|1|a1|odd.log ends in an odd byte"
  "folder.log thread_1.log|1|a1,a2|cannot read folder.log: Is a directory"
  "utf8.log|1||utf8.log is not a log file"
  "thread_1.log t99.log|0|t99\\u009b31m,x1\\\\x7f,x2,a1,<Mon Dec 07 09:30:00 2026>,a2|"
  "журнал✓.log|0|a1,a2|"
  "${threads} --since 2026-13-01|2||--since and --until take"
  "thread_1.log --severity loud|2||--severity takes"
  "- -|2||reads - once"
  "- --follow|2||does not follow it"
  "zero -|1||- is not a log file: it starts with more than 64 KiB of zero bytes"
  "stdin - thread_2.log|0|a1,b1,a2,b2|")
if(EMULATOR)  # cmd.exe leaves wildcards to the program
  list(APPEND rows "thread_*.log|0|c1,${torn}\\x00\"text>,a1,b1,a2,b2|")
else()
  include(${CMAKE_CURRENT_LIST_DIR}/unprivileged.cmake)
  if(UNPRIVILEGED_FOUND)
    file(COPY_FILE ${DIR}/thread_1.log ${DIR}/locked.log)
    file(CHMOD ${DIR}/locked.log PERMISSIONS OWNER_WRITE)
    list(APPEND rows "user locked.log|1||cannot read locked.log: Permission denied")
  endif()
  list(APPEND rows "full thread_1.log|1||^velnorctl: cannot write the output\n$")
endif()
# 3,000 per-thread files of two records (file K at second 7K mod 3000 and 3000 later, each
# record's message its second): every line in time order with few descriptors and little memory.
if(NOT EMULATOR AND NOT SANITIZED)
  file(MAKE_DIRECTORY ${DIR}/many)
  foreach(k RANGE 2999)
    math(EXPR first "${k} * 7 % 3000")
    math(EXPR second "${first} + 3000")
    set(lines "")
    foreach(s ${first} ${second})
      math(EXPR m "${s} / 60 % 60")
      math(EXPR c "${s} % 60")
      string(REGEX REPLACE "^(.)$" "0\\1" m ${m})
      string(REGEX REPLACE "^(.)$" "0\\1" c ${c})
      math(EXPR h "${s} / 3600")
      record(line "Mon Dec 07 0${h}:${m}:${c} 2026" ERROR app.exe ${k} F ${s})
      list(APPEND lines "${line}")
    endforeach()
    log_format(format "\\377\\376" ${lines})
    file(APPEND ${DIR}/many.sh "printf '${format}' >many/thread_${k}.log\n")
    list(APPEND many many/thread_${k}.log)
  endforeach()
  execute_process(COMMAND sh many.sh WORKING_DIRECTORY ${DIR})
  foreach(s RANGE 5999)
    list(APPEND seconds ${s})
  endforeach()
  string(JOIN " " many ${many})
  string(JOIN "," seconds ${seconds})
  list(APPEND rows "limited ${many}|0|${seconds}|" "limited thread_1.log -n 10000000|0|a1,a2|")
endif()
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(POP_FRONT fields args status want said)
  separate_arguments(args UNIX_COMMAND "${args}")
  set(as "")
  set(input /dev/null)
  if(args MATCHES "^user;")  # as a user who is not root
    list(POP_FRONT args)
    set(as ${UNPRIVILEGED})
  elseif(args MATCHES "^limited;")  # with 20 descriptors and 64 MiB of address space
    list(POP_FRONT args)
    set(as sh -c "ulimit -n 20 && ulimit -v 65536 && exec \"$@\"" limited)
  elseif(args MATCHES "^full;")  # onto a full disk
    list(POP_FRONT args)
    set(as sh -c "exec \"$@\" >/dev/full" full)
  elseif(args MATCHES "^zero;")  # reading zero bytes without end
    list(POP_FRONT args)
    set(input /dev/zero)
  elseif(args MATCHES "^stdin;")  # thread_1.log as standard input
    list(POP_FRONT args)
    set(input ${DIR}/thread_1.log)
  endif()
  run(${args})
  list(TRANSFORM lines REPLACE "^<.*> <\"([^\"]*)\"> <While.*" "\\1")
  string(REPLACE ";" "," shown "${lines}")
  if(NOT rc STREQUAL status OR NOT shown STREQUAL want OR NOT err MATCHES "${said}")
    message(SEND_ERROR "log show ${args}: exit ${rc}, printed [${shown}], said '${err}'")
  endif()
endforeach()
set(as "")
set(input /dev/null)

# Whole lines: as written, each after the name of its file with --with-file.
run(--with-file thread_1.log thread_3.log)
set(want "thread_3.log: ${c1};thread_3.log: ${torn}\\x00\"text>")
if(NOT lines STREQUAL "${want};thread_1.log: ${a1};thread_1.log: ${a2}")
  message(SEND_ERROR "--with-file printed: ${out}")
endif()

# A file's name is escaped as a line's text is, bytes that are not UTF-8 read as U+FFFD; an
# impossible time is null.
if(NOT EMULATOR)
  string(ASCII 255 27 bad)
  file(COPY_FILE ${DIR}/t99.log "${DIR}/bad${bad}[31m.log")
  run(--with-file "bad${bad}[31m.log")
  set(text "${out}")
  run(--with-file --json "bad${bad}[31m.log")
  if(NOT text MATCHES "^bad�\\\\x1b\\[31m\\.log: <Mon Dec 07 09:60:00 2026> [^\n]*t99\\\\u009b31m"
     OR NOT out MATCHES "^{\"log\":\"bad�\\\\u001b\\[31m\\.log\",\"time\":null,")
    message(SEND_ERROR "a hostile name and time printed:\n${text}\n${out}")
  endif()
  run("gone${bad}[31m.log")  # and so in a message on stderr
  set(said "^velnorctl: cannot read gone�\\\\x1b\\[31m\\.log: No such file or directory\n?$")
  if(NOT err MATCHES "${said}")
    message(SEND_ERROR "a hostile name in a message: ${err}")
  endif()
endif()

# JSON Lines: each line an object, its fields named and typed; a backslash and DEL escaped,
# and hex digits of both cases read.
run(--json --with-file thread_1.log thread_2.log thread_3.log t99.log)
list(LENGTH lines count)
list(GET lines 1 x1)
list(GET lines 4 torn)
list(GET lines 7 fourth)
string(FIND "${x1}" "\"message\":\"x1\\\\\\u007f\",\"task\":\"f\",\"return_code\":2868838409,"
       x1)
string(CONCAT want "^{\"log\":\"thread_3.log\",\"text\":"
       "\"<Mon Nov 30 [^\"]+\\\\\"torn\\\\u0000\\\\\"text>\"}$")
string(CONCAT json "{\"log\":\"thread_2.log\",\"time\":\"2026-12-07T10:00:00\",\"severity\":"
       "\"ERROR\",\"application\":\"Other.exe\",\"pid\":29,\"tid\":7,\"object\":\"\","
       "\"function\":\"GetTouchpadRegistryKey\",\"message\":\"b1\",\"task\":"
       "\"GetTouchpadRegistryKey\",\"return_code\":4294967295,\"file\":\"VelnorApi\","
       "\"line\":154}")
if(NOT count EQUAL 10 OR x1 LESS 0 OR NOT torn MATCHES "${want}"
   OR NOT fourth STREQUAL "${json}")
  message(SEND_ERROR "--json printed ${count} lines: ${out}")
endif()
