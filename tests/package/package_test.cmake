# The release as an integrator gets it, one MODE a test:
#   install   cmake --install into STAGE: exactly the files we ship, the version where it shows,
#             then the simulator's component apart from them
#   consumer  examples/consumer finds the staged package and builds examples/host.c, which runs
#             against the staged simulator; natively pkg-config builds the host too, under Wine
#             examples/consumer/msvc_host.c, compiled by clang for the MSVC ABI and linked by
#             lld-link against VelnorApi.lib, runs
#   vendor    (Windows) VendorLibrary names the vendor library by an absolute path; a relative
#             one is refused
#   archive   cpack: the zip's files, a DLL without DWARF that names its debug file, exactly
#             the system DLLs it imports, VelnorApi.lib with exactly the three exports
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REPLACE "\r" "" out "${out}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: exit ${rc}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect_match text regex what)
  if(NOT text MATCHES "${regex}")
    message(FATAL_ERROR "${what}: no match of '${regex}' in:\n${text}")
  endif()
endfunction()

function(expect_files dir)
  file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${dir} ${dir}/*)
  list(SORT found)
  list(SORT ARGN)
  if(NOT found STREQUAL ARGN)
    message(FATAL_ERROR "${dir} holds\n  [${found}]\nexpected\n  [${ARGN}]")
  endif()
endfunction()

# A host prints this line once it has switched the state and back and read the key.
set(host_output "launch state: off, switched to on and back\nregistry key: SYSTEM\\\\")
set(state ${WORK}/${MODE}.state)
set(sim ${STAGE}/lib/velnorapi-simulator)
set(shipped include/VelnorApi.h lib/cmake/VelnorApi/VelnorApiConfig.cmake
            lib/cmake/VelnorApi/VelnorApiConfig-${CONFIG}.cmake
            lib/cmake/VelnorApi/VelnorApiConfigVersion.cmake)
if(EMULATOR)
  list(APPEND shipped README.md examples/logging.reg examples/logging-linux.reg bin/VelnorApi.dll
       bin/VelnorApi.dll.debug bin/velnorctl.exe lib/libVelnorApi.dll.a lib/VelnorApi.lib
       lib/VelnorApi.def)
  set(simulator lib/velnorapi-simulator/SynCom.dll lib/velnorapi-simulator/libSynCom.dll.a)
  string(REPLACE "/" "\\" state "Z:${state}")
  set(exe .exe)
else()
  list(APPEND shipped share/doc/VelnorApi/README.md share/doc/VelnorApi/examples/logging.reg
       share/doc/VelnorApi/examples/logging-linux.reg bin/velnorctl lib/libVelnorApi.so
       lib/libVelnorApi.so.1 lib/libVelnorApi.so.${VERSION} lib/pkgconfig/velnorapi.pc)
  set(simulator lib/velnorapi-simulator/libSynCom.so)
endif()
set(env ${CMAKE_COMMAND} -E env SYNCOM_SIM_STATE=${state} SYNCOM_LIBRARY=${sim}/libSynCom.so)

if(MODE STREQUAL "install")
  file(REMOVE_RECURSE ${STAGE})
  run(${CMAKE_COMMAND} --install ${TREE} --prefix ${STAGE})
  expect_files(${STAGE} ${shipped})
  if(EMULATOR)
    # FileVersion and ProductVersion "x.y.z.0" in UTF-16LE, as VERSIONINFO stores them.
    string(HEX "${VERSION}.0" hex)
    string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
    file(READ ${STAGE}/bin/VelnorApi.dll bytes HEX)
    string(REGEX MATCHALL "${hex}" versions "${bytes}")
    expect_match("${versions}" "^${hex};${hex}$" "version texts in VelnorApi.dll")
  else()
    run(${OBJDUMP} -p ${STAGE}/lib/libVelnorApi.so)
    expect_match("${out}" "SONAME +libVelnorApi\\.so\\.${MAJOR}\n" "libVelnorApi.so")
  endif()
  run(${EMULATOR} ${STAGE}/bin/velnorctl${exe} --version)
  expect_match("${out}" "^velnorctl ${VERSION}\n$" "velnorctl --version")
  run(${CMAKE_COMMAND} --install ${TREE} --prefix ${STAGE} --component Simulator)
  expect_files(${STAGE} ${shipped} ${simulator})

elseif(MODE STREQUAL "consumer")
  set(build ${WORK}/consumer)
  file(REMOVE_RECURSE ${build} ${state})
  set(configure -S ${SOURCE}/examples/consumer -B ${build} -DCMAKE_BUILD_TYPE=Release)
  if(EMULATOR)
    list(APPEND configure --toolchain ${TOOLCHAIN} -DVelnorApi_DIR=${STAGE}/lib/cmake/VelnorApi)
  else()
    list(APPEND configure -DCMAKE_PREFIX_PATH=${STAGE})
  endif()
  run(${CMAKE_COMMAND} ${configure})
  run(${CMAKE_COMMAND} --build ${build})
  if(EMULATOR)
    # The simulator takes the vendor library's place beside the hosts.
    file(COPY ${sim}/SynCom.dll DESTINATION ${build})
    file(COPY ${sim}/SynCom.dll ${STAGE}/bin/VelnorApi.dll DESTINATION ${build}/msvc)
  endif()
  run(${env} ${EMULATOR} ${build}/host${exe})
  expect_match("${out}" "${host_output}" "the CMake consumer")
  if(NOT EMULATOR)
    run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${STAGE}/lib/pkgconfig
        sh -c "cc ${SOURCE}/examples/host.c $(pkg-config --cflags --libs velnorapi) -ldl -o ${build}/host-pc")
    run(${env} LD_LIBRARY_PATH=${STAGE}/lib ${build}/host-pc)
    expect_match("${out}" "${host_output}" "the pkg-config host")
    return()
  endif()
  run(${CLANG} --target=x86_64-pc-windows-msvc -O0 -Wall -Wextra -Werror -I ${STAGE}/include
      -c ${SOURCE}/examples/consumer/msvc_host.c -o ${build}/msvc/host.obj)
  run(${LLD_LINK} /entry:start /subsystem:console /nodefaultlib /out:${build}/msvc/host.exe
      ${build}/msvc/host.obj ${STAGE}/lib/VelnorApi.lib ${KERNEL32})
  run(${env} ${EMULATOR} ${build}/msvc/host.exe)
  expect_match("${out}" "^registry key: SYSTEM\\\\" "the MSVC host")

elseif(MODE STREQUAL "vendor")
  # The staged host's folder has no vendor library. The relative path leads to the simulator
  # from the current directory; it must be refused all the same. The value goes before any check:
  # the other tests in this Wine prefix search for their vendor libraries.
  string(REPLACE "/" "\\" absolute "Z:${sim}/SynCom.dll")
  set(relative ..\\lib\\velnorapi-simulator\\SynCom.dll)
  set(ctl ${env} ${EMULATOR} ${STAGE}/bin/velnorctl.exe)
  foreach(case absolute relative)
    execute_process(COMMAND ${EMULATOR} reg add HKLM\\Software\\Halvex\\VelnorApi /v VendorLibrary
                            /d ${${case}} /f OUTPUT_QUIET)
    execute_process(COMMAND ${ctl} get WORKING_DIRECTORY ${STAGE}/bin RESULT_VARIABLE rc
                    OUTPUT_VARIABLE got ERROR_VARIABLE got)
    execute_process(COMMAND ${ctl} log config OUTPUT_VARIABLE config)
    string(REPLACE "\r" "" ${case} "${rc}\n${got}${config}")
  endforeach()
  execute_process(COMMAND ${EMULATOR} reg delete HKLM\\Software\\Halvex\\VelnorApi /f OUTPUT_QUIET)
  expect_match("${absolute}" "^0\noff\n.*\nvendor library: Z:[^\n]+SynCom.dll \\(from VendorLibrary "
               "an absolute VendorLibrary")
  expect_match("${relative}" "^1\n.*\nvendor library: none \\(refused: .* not an absolute path"
               "a relative VendorLibrary")

elseif(MODE STREQUAL "archive")
  set(top VelnorApi-${VERSION}-win64)
  file(REMOVE_RECURSE ${WORK}/archive)
  run(cpack -G ZIP --config ${TREE}/CPackConfig.cmake -B ${WORK}/archive)
  run(${CMAKE_COMMAND} -E tar xf ${top}.zip WORKING_DIRECTORY ${WORK}/archive)
  expect_files(${WORK}/archive/${top} ${shipped})
  set(bin ${WORK}/archive/${top}/bin)
  run(${OBJDUMP} -h ${bin}/VelnorApi.dll.debug)
  expect_match("${out}" " \\.debug_info " "VelnorApi.dll.debug's sections")
  run(${OBJDUMP} -h -p ${bin}/VelnorApi.dll)
  expect_match("${out}" " \\.gnu_debuglink " "VelnorApi.dll's sections")
  if(out MATCHES "\\.debug_[a-z]+")
    message(FATAL_ERROR "VelnorApi.dll in the archive holds ${CMAKE_MATCH_0}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${out}")
  expect_match("${imports}" "^DLL Name: ADVAPI32.dll;DLL Name: KERNEL32.dll;DLL Name: msvcrt.dll$"
               "VelnorApi.dll's imports")
  run(${LLVM_NM} ${WORK}/archive/${top}/lib/VelnorApi.lib)
  string(REGEX MATCHALL "__imp_[A-Za-z_]+" exports "${out}")
  list(SORT exports)
  expect_match("${exports}" "^__imp_GetTouchpadLaunchState;__imp_GetTouchpadRegistryKey;__imp_SetTouchpadLaunchState$"
               "VelnorApi.lib's imports")
endif()
