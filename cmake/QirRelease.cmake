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
