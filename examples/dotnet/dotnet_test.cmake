# Builds the .NET host with mcs and runs it with mono, the library found through the loader's
# path as a Linux host finds it.
#   -DSOURCE=examples/dotnet -DWORK=scratch folder -DLIBDIR=folder of libVelnorApi.so
cmake_minimum_required(VERSION 3.25)
find_program(MCS mcs)
find_program(MONO mono)
if(NOT MCS OR NOT MONO)
  message("example.dotnet skipped: mcs or mono is missing (apt-get install mono-mcs mono-runtime)")
  return()
endif()
set(host ${WORK}/VelnorApiCheck.exe)
execute_process(COMMAND ${MCS} -nologo -warnaserror -out:${host} ${SOURCE}/VelnorApi.cs
                        ${SOURCE}/VelnorApiCheck.cs RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "mcs could not build ${host}")
endif()
# The refused reads are logged: no configuration, so that they go nowhere.
execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${LIBDIR}
                        SYNCOM_SIM_STATE=${WORK}/dotnet.state
                        QIR_REGISTRY=${WORK}/no-such-registry.reg ${MONO} ${host}
                RESULT_VARIABLE rc TIMEOUT 120)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the .NET host failed (exit ${rc})")
endif()
