# The Windows package step's own work, run by CPack before the zip is made (QirInstall.cmake sets
# the CPACK_QIR_* values): signs the shipped binaries in the staged tree, or says in one line that
# the release is unsigned.
cmake_minimum_required(VERSION 3.25)

# The password goes from the environment to osslsigncode's standard input: it never appears on a
# command line, in the cache or in a log.
function(qir_sign file)
  set(command ${CPACK_QIR_OSSLSIGNCODE} sign -pkcs12 ${CPACK_QIR_SIGN_PKCS12}
              -readpass /dev/stdin -h sha256 -n VelnorApi)
  if(CPACK_QIR_SIGN_TIMESTAMP_URL)
    list(APPEND command -ts ${CPACK_QIR_SIGN_TIMESTAMP_URL})
  endif()
  file(REMOVE ${file}.signed)
  execute_process(COMMAND printenv QIR_SIGN_PASSWORD
                  COMMAND ${command} -in ${file} -out ${file}.signed
                  RESULTS_VARIABLE results OUTPUT_VARIABLE out ERROR_VARIABLE out)
  list(GET results 1 rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "osslsigncode could not sign ${file} (exit ${rc}):\n${out}")
  endif()
  file(RENAME ${file}.signed ${file})
endfunction()

set(bin ${CPACK_TEMPORARY_DIRECTORY}/${CPACK_QIR_BINDIR})
if(NOT CPACK_QIR_SIGN_PKCS12)
  message(STATUS "Release unsigned: no certificate (set QIR_SIGN_PKCS12 to sign it)")
else()
  if(NOT CPACK_QIR_OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode not found (apt-get install osslsigncode): cannot sign")
  endif()
  foreach(name IN LISTS CPACK_QIR_SHIPPED)
    qir_sign(${bin}/${name})
  endforeach()
  list(JOIN CPACK_QIR_SHIPPED " and " names)
  message(STATUS "Signed ${names} with ${CPACK_QIR_SIGN_PKCS12}")
endif()

# The symbols archive beside the zip, in the layout a symbol server serves, so that a debugger's
# symbol path can name an unpacked copy: NAME.pdb/<GUID><AGE>/NAME.pdb from each binary's
# CodeView record, and the binaries as shipped (signed or not) under
# NAME/<TIMESTAMP><SIZEOFIMAGE>/NAME.
function(qir_hex value digits out)
  math(EXPR value "${value}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${value}" 2 -1 value)
  string(TOUPPER "${value}" value)
  string(LENGTH "${value}" length)
  while(length LESS digits)
    string(PREPEND value 0)
    math(EXPR length "${length} + 1")
  endwhile()
  set(${out} ${value} PARENT_SCOPE)
endfunction()

if(NOT CPACK_QIR_READOBJ)
  message(FATAL_ERROR "llvm-readobj not found (apt-get install llvm): no symbols archive")
endif()
set(store ${CPACK_TOPLEVEL_DIRECTORY}/symbols)
file(REMOVE_RECURSE ${store})
foreach(name IN LISTS CPACK_QIR_SHIPPED)
  execute_process(COMMAND ${CPACK_QIR_READOBJ} --file-headers --coff-debug-directory
                          ${bin}/${name} OUTPUT_VARIABLE out COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCH "TimeDateStamp: [^\n]*\\((0x[0-9A-Fa-f]+)\\)" _ "${out}")
  qir_hex(${CMAKE_MATCH_1} 8 stamp)
  string(REGEX MATCH "SizeOfImage: ([0-9]+)" _ "${out}")
  qir_hex(${CMAKE_MATCH_1} 1 size)
  # The GUID's bytes as stored; its first three fields read little-endian.
  string(REGEX MATCH "PDBGUID: \\(([0-9A-F ]+)\\)\n *PDBAge: ([0-9]+)\n *PDBFileName: ([^\n]+)"
         _ "${out}")
  if(NOT CMAKE_MATCH_3)
    message(FATAL_ERROR "${name} has no CodeView record:\n${out}")
  endif()
  string(REPLACE " " ";" b "${CMAKE_MATCH_1}")
  qir_hex(${CMAKE_MATCH_2} 1 age)
  set(pdb ${CMAKE_MATCH_3})
  set(guid "")
  foreach(i 3 2 1 0 5 4 7 6 8 9 10 11 12 13 14 15)
    list(GET b ${i} byte)
    string(APPEND guid ${byte})
  endforeach()
  file(COPY ${bin}/${name} DESTINATION ${store}/${name}/${stamp}${size})
  file(COPY ${bin}/${pdb} DESTINATION ${store}/${pdb}/${guid}${age})
endforeach()
set(symbols ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}-symbols.zip)
file(GLOB entries RELATIVE ${store} ${store}/*)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${symbols} --format=zip ${entries}
                WORKING_DIRECTORY ${store} COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "Symbols archive: ${symbols}")
