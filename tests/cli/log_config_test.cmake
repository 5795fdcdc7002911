# velnorctl's `log config` and `status` against a configuration with an output of every fault,
# and its command-line conventions: help, unknown words, a library that cannot be loaded, the
# simulator's warnings. Natively the registry is a file with a line the reader skips; under Wine
# it is the prefix's registry for the test.
# Then a Default key whose filters keep the exports' records from some outputs, and under Wine
# outputs that name a pipe, whose server must see no client.
#   -DVELNORCTL=path -DDIR=scratch folder [-DEMULATOR=wrapper -DPIPE_SERVER=path]
cmake_minimum_required(VERSION 3.25)

get_filename_component(app ${VELNORCTL} NAME)
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR}/logs ${DIR}/open ${DIR}/ro ${DIR}/sticky)
execute_process(COMMAND chmod 1777 ${DIR}/sticky)
file(COPY ${VELNORCTL} DESTINATION ${DIR}/alone)
file(CHMOD ${DIR}/open PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE WORLD_WRITE WORLD_EXECUTE)
file(WRITE ${DIR}/ro/old.log "")
file(CHMOD ${DIR}/ro PERMISSIONS OWNER_READ OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                              WORLD_EXECUTE)
string(REPEAT "x" 295 long)
set(k "[HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs")
set(on "\"Enabled\"=dword:1\r\n\"Type\"=dword:1\r\n\"Detail\"=dword:4\r\n")
set(outputs "A_Good|logs/good.log" "B_NoFolder|missing/x.log" "C_Folder|logs" "D_Long|logs/${long}"
            "E_String|x\"\r\n\"Enabled\"=\"yes" "F_Detail|x\"\r\n\"Detail\"=dword:0\r\n\"X\"=\"")
list(APPEND outputs "G_Type|x\"\r\n\"Type\"=dword:7\r\n\"X\"=\"" "H_Open|open/x.log"
     "I_ReadOnly|ro/x.log" "O_OldFile|ro/old.log")
# 260 characters without a terminator; a name that fits, but not with a thread's id.
string(REPEAT "78,00," 259 unterminated)
string(REPEAT "y" 244 near)
list(APPEND outputs "J_Unterminated|x\"\r\n\"Target\"=hex:${unterminated}78,00\r\n\"X\"=\""
     "K_Threads|logs/${near}.log\"\r\n\"SeparateThreads\"=dword:1\r\n\"X\"=\""
     "L_Sticky|sticky/x.log" "M_Proc|/proc/self/comm"
     "N_Surrogate|x\"\r\n\"Target\"=hex(1):6c,00,6f,00,67,00,73,00,2f,00,00,d8,00,00\r\n\"X\"=\""
     "P_Binary|logs/p.log\"\r\n\"Detail\"=hex:04,00,00,00\r\n\"X\"=\"")
set(reg "Windows Registry Editor Version 5.00\r\n")
if(NOT EMULATOR)
  string(REPEAT "not a registry line\r\n" 34 junk)  # 32 told one by one, then a count
  string(APPEND reg "${junk}")
  string(ASCII 255 bad)  # a name that is not UTF-8 finds no key, and nothing worse
endif()
foreach(output IN LISTS outputs)
  string(REPLACE "|" ";" output "${output}")
  list(GET output 0 name)
  list(GET output 1 target)
  string(APPEND reg "${k}\\mixed\\${name}]\r\n${on}\"Target\"=\"${target}\"\r\n")
endforeach()
string(APPEND reg "${k}\\${app}\\Own]\r\n${on}\"Target\"=\"logs/own.log\"\r\n"
       "${k}\\broken\\Off]\r\n\"Enabled\"=dword:0\r\n${k}\\empty]\r\n")
set(unicode компаньон.exe)  # named as the library names it, whatever the code page
if(NOT EMULATOR)
  string(APPEND reg "${k}\\${unicode}\\Off]\r\n\"Enabled\"=dword:0\r\n")
endif()
file(WRITE ${DIR}/logging.reg "${reg}")
set(env QIR_REGISTRY=${DIR}/logging.reg SYNCOM_SIM_STATE=sim.state)
if(EMULATOR)
  set(env SYNCOM_SIM_STATE=sim.state)
  execute_process(COMMAND ${EMULATOR} reg import logging.reg WORKING_DIRECTORY ${DIR})
  execute_process(COMMAND ${EMULATOR} reg add "HKLM\\Software\\Halvex\\Logs\\${unicode}\\Off" /v
                          Enabled /t REG_DWORD /d 0 /f OUTPUT_QUIET)
endif()
file(WRITE ${DIR}/sim.state "bogus\nfail.Nope=1\n")

set(out "output [0-9]+ .")
# Natively A_Good, H_Open, L_Sticky, O_OldFile and P_Binary write, and I_ReadOnly for root;
# under Wine also M_Proc, a file of drive Z:, and not the folders' permissions.
set(writing "[1-8]")
if(NOT EMULATOR)
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(writing 5)
  if(uid EQUAL 0)
    set(writing 6)
  endif()
endif()
set(mixed "log config --app mixed|0|")
# arguments | exit status | what standard output and error together hold
set(rows
  "${mixed}logging: on: ${writing} of 16 outputs will write\n${out}A_Good.: writes to \
logs/good.log\n"
  "${mixed}${out}B_NoFolder.: will not write: the folder missing does not exist\n"
  "${mixed}${out}C_Folder.: will not write: logs is not a regular file: it is a folder\n"
  "${mixed}${out}D_Long.: will not write: Target is 300 characters long: the logger ignores a \
Target longer than 259\n"
  "${mixed}${out}E_String.: will not write: disabled: Enabled is REG_SZ, where the logger reads \
a REG_DWORD"
  "${mixed}${out}F_Detail.: will not write: Detail is 0: no severity is written\n"
  "${mixed}${out}G_Type.: will not write: Type 7 is no output type"
  "${mixed}${out}P_Binary.: writes to logs/p.log\n  warning: Detail is REG_BINARY, where the \
logger reads a REG_DWORD: its bytes are taken as they are\n"
  "${mixed}${out}J_Unterminated.: will not write: Target is 260 characters without a terminator: \
the logger ignores it"
  "${mixed}${out}K_Threads.: will not write: logs/y+_2147483647.log cannot be made: its file \
name is 259 characters long, and file systems take at most 255\n"
  "log config --app broken|1|logging: off: 0 of 1 output will write\n${out}Off.: will not write: \
disabled: Enabled is 0"
  "log config --app empty|1|has no subkeys"
  "log config --app ${unicode}|1|key: [^\n]*Logs.${unicode}\nlogging: off: 0 of 1 output"
  "log config --app nobody${bad}|1|logging: off: neither"
  "status|0|library: [^\n]*VelnorApi[^\n]*\nconfiguration: .*\nvendor library: [^\n]+ .*\nkey: \
[^\n]*${app}\nlogging: on: 1 of 1 output will write\n${out}Own.: writes to logs/own.log$"
  "alone status|1|library: none.*cannot load [^ ]*VelnorApi[^ ]*: [A-Za-z]"
  "alone get|1|^velnorctl: cannot load [^ ]*VelnorApi[^ ]*: [A-Za-z][^\n]*\n$"
  "get|0|syncom-sim: state file sim.state line 1: 'bogus' is not NAME=VALUE\n.*line 2: \
'fail.Nope=1' sets no known name"
  "frobnicate|2|unknown command 'frobnicate'"
  "help frobnicate|2|unknown command 'frobnicate'"
  "log frobnicate|2|unknown log command 'frobnicate'")
foreach(command get set key log status "log show" "log config")
  list(APPEND rows "help ${command}|0|^usage: velnorctl ${command}" "${command} --help|0|^usage: \
velnorctl ${command}")
endforeach()
if(NOT EMULATOR)
  set(skips "line 33: [^\n]*\n[^\n]*logging.reg: 2 more lines skipped\n")
  list(APPEND rows "${mixed}logging.reg line 2: neither a section.*${skips}"
    "${mixed}${out}H_Open.: writes to open/x.log\n  warning: accounts other than its owner and \
group may write in the folder open: any of them can create or replace the log file"
    "${mixed}${out}L_Sticky.: writes to sticky/x.log\n  warning: accounts other than its owner \
and group may write in the folder sticky:"
    "${mixed}${out}M_Proc.: will not write: /proc/self/comm is on the file system proc, whose files"
    "${mixed}${out}N_Surrogate.: [^\n]*UTF-16\n[^\n]*\n[^\n]*\n  target: logs/�\n")
  include(${CMAKE_CURRENT_LIST_DIR}/unprivileged.cmake)
endif()

# Outputs of Default that the program's filters and the exports' records (which name no class)
# keep from writing; one with a filter list longer than the logger reads. Lists, like the Target
# without a terminator above, are binary data, which Wine's `reg import` keeps as it is.
string(REPEAT "41,00,00,00," 8200 list)
set(defaults "P_Allow|AllowApplications\"=hex:6e,00,6f,00,74,00,65,00,70,00,61,00,64,00,2e,00,\
65,00,78,00,65,00,00,00,63,00,61,00,6c,00,63,00,2e,00,65,00,78,00,65,00,00,00,00,00"
    "Q_Exclude|ExcludeApplications\"=\"${app}\"" "R_Objects|AllowObjects\"=\"CSomeClass\""
    "S_Long|ExcludeObjects\"=hex:${list}00,00")
set(alc "log config --app alc.exe|0|")
set(second
  "${alc}${out}P_Allow.: writes to logs/P_Allow.log\n.*allow applications: notepad.exe,calc.exe \
.matched anywhere in this text, case-sensitive"
  "log config --app cmd.exe|0|P_Allow.: will not write: AllowApplications .notepad.exe,calc.exe. \
does not hold cmd.exe\n"
  "status|0|Q_Exclude.: will not write: ExcludeApplications .${app}. holds ${app}\n"
  "${alc}R_Objects.: will not write: AllowObjects .CSomeClass. lets no failure of the exports \
through: they name no class\n"
  "${alc}S_Long.: writes to logs/S_Long.log\n(  warning: [^\n]*\n)*  warning: ExcludeObjects is \
32802 bytes long, more than the 32767 bytes the logger reads: it is ignored")
if(EMULATOR)
  # Names of the pipe that the server offers, and of devices; none is ever opened.
  list(APPEND defaults [[T_Pipe|Target"="\\\\.\\pipe\\qir-log-test"]]
       [[U_Verbatim|Target"="\\\\?\\pipe\\qir-log-test"]]
       [[V_Slashes|Target"="//./pipe/qir-log-test"]]
       [[W_Root|Target"="\\\\.\\GLOBALROOT\\Device\\NamedPipe\\qir-log-test"]]
       [[X_Printer|Target"="logs\\lpt1.log"]] [[Y_Port|Target"="COM9"]])
  list(APPEND second "${alc}T_Pipe.: will not write: [^\n]+ is refused: it is in the device \
namespace"
       "${alc}U_Verbatim.: will not write: [^\n]+ is refused: it is in the device namespace"
       "${alc}V_Slashes.: will not write: [^\n]+ is refused: it is in the device namespace"
       "${alc}W_Root.: will not write: [^\n]+ is refused: it is in the device namespace"
       "${alc}X_Printer.: will not write: [^\n]+ is refused: its name is the device LPT1 on Windows"
       "${alc}Y_Port.: will not write: COM9 is refused: its name is the device COM9"
       "pipe get|0|^no client, exit status 1"
       [[pipe log show \\.\pipe\qir-log-test //./pipe/qir-log-test|0|^no client, exit status 1]])
endif()
set(reg "Windows Registry Editor Version 5.00\r\n")
foreach(output IN LISTS defaults)
  string(REPLACE "|" ";" output "${output}")
  list(GET output 0 name)
  list(GET output 1 value)
  string(APPEND reg "${k}\\Default\\${name}]\r\n${on}"
         "\"Target\"=\"logs/${name}.log\"\r\n\"${value}\r\n")
endforeach()
file(WRITE ${DIR}/defaults.reg "${reg}")

list(APPEND rows "--" ${second})
foreach(row IN LISTS rows)
  if(row STREQUAL "--")  # between the two registries
    if(EMULATOR)
      foreach(name mixed broken empty ${app} ${unicode})
        execute_process(COMMAND ${EMULATOR} reg delete "HKLM\\Software\\Halvex\\Logs\\${name}" /f
                        OUTPUT_QUIET ERROR_QUIET)
      endforeach()
      execute_process(COMMAND ${EMULATOR} reg import defaults.reg WORKING_DIRECTORY ${DIR})
    endif()
    set(env QIR_REGISTRY=${DIR}/defaults.reg SYNCOM_SIM_STATE=sim.state)
    file(WRITE ${DIR}/sim.state "fail.FindDevice=0x80004005\n")
    continue()
  endif()
  string(REPLACE "|" ";" fields "${row}")
  list(POP_FRONT fields args status want)
  string(REPLACE " " ";" args "${args}")
  set(ctl ${VELNORCTL})
  if(args MATCHES "^alone;")
    list(POP_FRONT args)
    set(ctl ${DIR}/alone/${app})
  elseif(args MATCHES "^pipe;")  # under the pipe's server
    list(POP_FRONT args)
    set(ctl ${PIPE_SERVER} qir-log-test ${VELNORCTL})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${env} ${EMULATOR} ${ctl} ${args}
                  WORKING_DIRECTORY ${DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                  OUTPUT_STRIP_TRAILING_WHITESPACE TIMEOUT 120)
  string(REPLACE "\r" "" said "${out}${err}")
  if(NOT rc STREQUAL status OR NOT said MATCHES "${want}")
    message(SEND_ERROR "velnorctl ${args}: exit ${rc}, expected ${status}, and '${want}' \
in:\n${said}")
  endif()
endforeach()
# Two accounts of one group with umask 022, in a folder of that group that it may write (2770,
# as the README advises): the second appends to the file that the first made.
if(UNPRIVILEGED AND UNPRIVILEGED_FOUND)
  file(MAKE_DIRECTORY ${DIR}/adm)
  execute_process(COMMAND chown 0:65533 adm COMMAND chmod 2770 adm WORKING_DIRECTORY ${DIR})
  file(WRITE ${DIR}/adm.reg "Windows Registry Editor Version \
5.00\r\n${k}\\${app}\\Grouped]\r\n${on}\"Target\"=\"adm/shared.log\"\r\n")
  file(WRITE ${DIR}/adm.state "fail.GetProperty=0x80004005\n")
  foreach(user 65532 65534)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env QIR_REGISTRY=${DIR}/adm.reg
                    SYNCOM_SIM_STATE=adm.state sh -c "umask 022 && exec \"$@\"" sh setpriv
                    --reuid=${user} --regid=${user} --groups=65533 ${VELNORCTL} get
                    WORKING_DIRECTORY ${DIR} OUTPUT_QUIET ERROR_QUIET)
  endforeach()
  execute_process(COMMAND ${VELNORCTL} log show adm/shared.log WORKING_DIRECTORY ${DIR}
                  OUTPUT_VARIABLE shown)
  string(REGEX MATCHALL "velnorctl : [0-9]+" writers "${shown}")
  list(LENGTH writers count)
  if(NOT count EQUAL 2)
    message(SEND_ERROR "the two accounts of the group wrote ${count} lines, not 2:\n${shown}")
  endif()
endif()
if(EMULATOR)
  execute_process(COMMAND ${EMULATOR} reg delete "HKLM\\Software\\Halvex\\Logs\\Default" /f
                  OUTPUT_QUIET ERROR_QUIET)
endif()
