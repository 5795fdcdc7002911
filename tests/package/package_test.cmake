# The release as an integrator gets it, one MODE a test:
#   install   cmake --install into STAGE: exactly the files we ship, the version where it shows,
#             then the simulator's component apart from them
#   consumer  examples/consumer finds the staged package and builds examples/host.c, loading the
#             library and linked against it, which run against the staged simulator; natively
#             from a copy of the prefix moved elsewhere, and pkg-config builds the linked host
#             too; under Wine examples/consumer/msvc_host.c, compiled by clang for the MSVC ABI
#             and linked by lld-link against VelnorApi.lib, runs
#   libdir    (native) a tree with another library folder: its installed velnorctl, moved
#             elsewhere, finds its library
#   vendor    (Windows) VendorLibrary names the vendor library by an absolute path; a relative
#             one is refused
#   archive   cpack unsigned: the zip's files, a DLL without DWARF whose PDB gives names and
#             lines, exactly the system DLLs it imports, VelnorApi.lib with exactly the three
#             exports; the symbols archive in symbol-server layout, its PDBs those the binaries
#             name by GUID and age
#   signed    cpack with a throwaway certificate: the binaries verify against its CA, a changed
#             byte does not, and the PDBs still match the binaries
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
  list(APPEND shipped README.md docs/developing.md docs/integrating.md docs/operating.md
       examples/logging.reg examples/logging-linux.reg bin/VelnorApi.dll
       bin/VelnorApi.pdb bin/velnorctl.exe bin/velnorctl.pdb lib/libVelnorApi.dll.a
       lib/VelnorApi.lib lib/VelnorApi.def)
  set(simulator lib/velnorapi-simulator/SynCom.dll lib/velnorapi-simulator/libSynCom.dll.a)
  string(REPLACE "/" "\\" state "Z:${state}")
  set(exe .exe)
else()
  list(APPEND shipped share/doc/VelnorApi/README.md share/doc/VelnorApi/docs/developing.md
       share/doc/VelnorApi/docs/integrating.md share/doc/VelnorApi/docs/operating.md
       share/doc/VelnorApi/examples/logging.reg
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
    # An empty element of a run path is the current folder.
    run(${OBJDUMP} -p ${TREE}/bin/velnorctl)
    expect_match("${out}" "\n  RPATH +\\$ORIGIN/\\.\\./lib\n" "the build tree's velnorctl")
  endif()
  run(${EMULATOR} ${STAGE}/bin/velnorctl${exe} --version)
  expect_match("${out}" "^velnorctl ${VERSION}\n$" "velnorctl --version")
  run(${CMAKE_COMMAND} --install ${TREE} --prefix ${STAGE} --component Simulator)
  expect_files(${STAGE} ${shipped} ${simulator})

elseif(MODE STREQUAL "consumer")
  set(build ${WORK}/consumer)
  set(prefix ${STAGE})
  if(NOT EMULATOR)
    # The prefix is used from elsewhere: nothing in it may depend on where it was installed.
    set(prefix ${WORK}/moved)
    file(REMOVE_RECURSE ${prefix})
    file(RENAME ${STAGE} ${prefix})
    set(env ${CMAKE_COMMAND} -E env SYNCOM_SIM_STATE=${state}
            SYNCOM_LIBRARY=${prefix}/lib/velnorapi-simulator/libSynCom.so)
  endif()
  file(REMOVE_RECURSE ${build} ${state})
  set(configure -S ${SOURCE}/examples/consumer -B ${build} -DCMAKE_BUILD_TYPE=Release)
  if(EMULATOR)
    list(APPEND configure --toolchain ${TOOLCHAIN} -DVelnorApi_DIR=${STAGE}/lib/cmake/VelnorApi)
  else()
    list(APPEND configure -DCMAKE_PREFIX_PATH=${prefix})
  endif()
  run(${CMAKE_COMMAND} ${configure})
  run(${CMAKE_COMMAND} --build ${build})
  if(EMULATOR)
    # The simulator takes the vendor library's place beside the hosts.
    file(COPY ${sim}/SynCom.dll DESTINATION ${build})
    file(COPY ${sim}/SynCom.dll ${STAGE}/bin/VelnorApi.dll DESTINATION ${build}/msvc)
  endif()
  foreach(host host linked_host)
    run(${env} ${EMULATOR} ${build}/${host}${exe})
    expect_match("${out}" "${host_output}" "the CMake consumer's ${host}")
  endforeach()
  if(NOT EMULATOR)
    run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig sh -c
        "cc -DVELNOR_LINKED ${SOURCE}/examples/host.c $(pkg-config --cflags --libs velnorapi) \
            -o ${build}/host-pc")
    foreach(host linked_host host-pc)
      run(${OBJDUMP} -p ${build}/${host})
      expect_match("${out}" "NEEDED +libVelnorApi\\.so\\.${MAJOR}\n" "${host}'s libraries")
    endforeach()
    run(${env} LD_LIBRARY_PATH=${prefix}/lib ${build}/host-pc)
    expect_match("${out}" "${host_output}" "the pkg-config host")
    file(RENAME ${prefix} ${STAGE})
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
  expect_match("${absolute}"
               "^0\noff\n.*\nvendor library: Z:[^\n]+SynCom.dll \\(from VendorLibrary "
               "an absolute VendorLibrary")
  expect_match("${relative}" "^1\n.*\nvendor library: none \\(refused: .* not an absolute path"
               "a relative VendorLibrary")

elseif(MODE STREQUAL "libdir")
  set(build ${WORK}/libdir)
  set(prefix ${WORK}/libdir-prefix)
  set(libdir lib/x86_64-linux-gnu)
  file(REMOVE_RECURSE ${build} ${prefix} ${prefix}-moved)
  run(${CMAKE_COMMAND} -S ${SOURCE} -B ${build} -DCMAKE_BUILD_TYPE=Debug
      -DCMAKE_INSTALL_LIBDIR=${libdir} -DQIR_GTEST_SOURCE_DIR=${build}/none)
  run(${CMAKE_COMMAND} --build ${build} --target velnorctl --parallel 2)
  run(${CMAKE_COMMAND} --install ${build} --prefix ${prefix})
  file(RENAME ${prefix} ${prefix}-moved)
  run(${OBJDUMP} -p ${prefix}-moved/bin/velnorctl)
  expect_match("${out}" "\n  RPATH +\\$ORIGIN/\\.\\./${libdir}\n" "the installed velnorctl")
  run(${prefix}-moved/bin/velnorctl status)
  expect_match("${out}" "^library: ${prefix}-moved/${libdir}/libVelnorApi\\.so" "velnorctl status")

elseif(MODE STREQUAL "archive" OR MODE STREQUAL "signed")
  set(top VelnorApi-${VERSION}-win64)
  set(dir ${WORK}/${MODE})
  file(REMOVE_RECURSE ${dir})
  set(cpack cpack -G ZIP --config ${TREE}/CPackConfig.cmake -B ${dir})
  if(MODE STREQUAL "signed")
    # A throwaway CA and a code-signing certificate it issued, as a password-protected PKCS#12.
    set(pki ${dir}/pki)
    file(MAKE_DIRECTORY ${pki})
    file(WRITE ${pki}/signer.ext "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\n"
                                 "extendedKeyUsage=codeSigning\n")
    set(ENV{QIR_SIGN_PASSWORD} "throwaway-${MODE}-password")
    set(key "-newkey rsa:2048 -nodes -keyout")
    foreach(step "req -x509 ${key} ca.key -out ca.pem -days 2 -subj /CN=CA"
                 "req ${key} signer.key -out signer.csr -subj /CN=Signer"
                 "x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2
                  -extfile signer.ext -out signer.pem"
                 "pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem
                  -passout env:QIR_SIGN_PASSWORD -out signer.p12")
      separate_arguments(step UNIX_COMMAND "${step}")
      execute_process(COMMAND ${OPENSSL} ${step} WORKING_DIRECTORY ${pki} OUTPUT_QUIET ERROR_QUIET
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    run(${cpack} -D CPACK_QIR_SIGN_PKCS12=${pki}/signer.p12)
    expect_match("${out}" "Signed VelnorApi.dll and velnorctl.exe" "the package step")
    if(out MATCHES "$ENV{QIR_SIGN_PASSWORD}")
      message(FATAL_ERROR "the package step shows the password:\n${out}")
    endif()
  else()
    run(${cpack})
    expect_match("${out}" "Release unsigned: no certificate" "the package step")
  endif()
  run(${CMAKE_COMMAND} -E tar xf ${top}.zip WORKING_DIRECTORY ${dir})
  expect_files(${dir}/${top} ${shipped})
  set(bin ${dir}/${top}/bin)
  # Names and lines inside our code, through the PDB beside the DLL: the image base plus an
  # export's RVA.
  run(${READOBJ} --file-headers --coff-exports ${bin}/VelnorApi.dll)
  string(REGEX MATCH "ImageBase: (0x[0-9A-F]+)" _ "${out}")
  set(base ${CMAKE_MATCH_1})
  string(REGEX MATCH "Name: GetTouchpadLaunchState\n *RVA: (0x[0-9A-F]+)" _ "${out}")
  math(EXPR address "${base} + ${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
  run(${SYMBOLIZER} --obj=${bin}/VelnorApi.dll ${address})
  expect_match("${out}" "^GetTouchpadLaunchState\n[^\n]*api[/\\\\]VelnorApi\\.cpp:[1-9]"
               "${address}")
  # Each binary names its PDB without a folder; the symbols archive serves that PDB, whose own
  # GUID and age are those of the record, under NAME.pdb/<GUID><AGE>/, and the binary itself
  # under NAME/<TIMESTAMP><SIZEOFIMAGE>/.
  set(store ${dir}/symbols)
  file(MAKE_DIRECTORY ${store})
  run(${CMAKE_COMMAND} -E tar xf ${dir}/${top}-symbols.zip WORKING_DIRECTORY ${store})
  set(served "")
  foreach(binary VelnorApi.dll velnorctl.exe)
    string(REGEX REPLACE "\\.[a-z]+$" ".pdb" pdb ${binary})
    run(${READOBJ} --file-headers --coff-debug-directory ${bin}/${binary})
    set(headers "${out}")
    expect_match("${headers}" "\n *PDBFileName: ${pdb}\n" "${binary}'s CodeView record")
    string(REGEX MATCH "PDBGUID: \\(([0-9A-F ]+)\\)\n *PDBAge: ([0-9]+)" _ "${headers}")
    set(record "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
    run(${PDBUTIL} dump --summary ${bin}/${pdb})
    string(REGEX MATCH "GUID: {([-0-9A-F]+)}" _ "${out}")
    string(REPLACE "-" "" guid ${CMAKE_MATCH_1})
    # The first three fields of the GUID are stored little-endian.
    set(fields "\\4\\3\\2\\1\\6\\5\\8\\7\\9")
    string(REGEX REPLACE "^(..)(..)(..)(..)(..)(..)(..)(..)(.+)$" ${fields} stored ${guid})
    string(REGEX REPLACE "(..)" "\\1 " stored ${stored})
    string(REGEX MATCH "Age: ([0-9]+)" _ "${out}")
    string(APPEND stored ${CMAKE_MATCH_1})
    if(NOT stored STREQUAL record)
      message(FATAL_ERROR "${pdb} is ${stored}; ${binary} names ${record}")
    endif()
    math(EXPR age "${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
    string(REGEX MATCH "TimeDateStamp: [^\n]*\\(0x([0-9A-F]+)\\)" _ "${headers}")
    set(stamp 0000000${CMAKE_MATCH_1})
    string(LENGTH ${stamp} length)
    math(EXPR length "${length} - 8")
    string(SUBSTRING ${stamp} ${length} 8 stamp)
    string(REGEX MATCH "SizeOfImage: ([0-9]+)" _ "${headers}")
    math(EXPR size "${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
    string(TOUPPER "${guid}${age};${stamp}${size}" keys)
    string(REPLACE "0X" "" keys "${keys}")  # no hexadecimal digit is an X
    list(GET keys 0 key)
    list(APPEND served ${pdb}/${key}/${pdb})
    run(${CMAKE_COMMAND} -E compare_files ${bin}/${pdb} ${store}/${pdb}/${key}/${pdb})
    list(GET keys 1 key)
    list(APPEND served ${binary}/${key}/${binary})
    run(${CMAKE_COMMAND} -E compare_files ${bin}/${binary} ${store}/${binary}/${key}/${binary})
  endforeach()
  expect_files(${store} ${served})
  if(MODE STREQUAL "signed")
    # Authenticode covers the whole file but its checksum and signature: one byte changed in
    # the code must fail.
    foreach(binary VelnorApi.dll velnorctl.exe)
      run(${OSSLSIGNCODE} verify -CAfile ${pki}/ca.pem -in ${bin}/${binary})
      file(COPY ${bin}/${binary} DESTINATION ${dir}/changed)
      file(READ ${bin}/${binary} byte OFFSET 4096 LIMIT 1 HEX)
      string(COMPARE EQUAL "${byte}" "00" zero)
      run(sh -c "printf '\\${zero}' | dd of=${dir}/changed/${binary} bs=1 seek=4096 conv=notrunc")
      execute_process(COMMAND ${OSSLSIGNCODE} verify -CAfile ${pki}/ca.pem
                      -in ${dir}/changed/${binary} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
      if(rc EQUAL 0)
        message(FATAL_ERROR "${binary} with a byte changed at 4096 verifies")
      endif()
    endforeach()
    return()
  endif()
  run(${OBJDUMP} -h -p ${bin}/VelnorApi.dll)
  if(out MATCHES "\\.debug_[a-z]+")
    message(FATAL_ERROR "VelnorApi.dll in the archive holds ${CMAKE_MATCH_0}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${out}")
  expect_match("${imports}" "^DLL Name: ADVAPI32.dll;DLL Name: KERNEL32.dll;DLL Name: msvcrt.dll$"
               "VelnorApi.dll's imports")
  run(${LLVM_NM} ${WORK}/archive/${top}/lib/VelnorApi.lib)
  string(REGEX MATCHALL "__imp_[A-Za-z_]+" exports "${out}")
  list(SORT exports)
  expect_match("${exports}" "^__imp_GetTouchpadLaunchState;__imp_GetTouchpadRegistryKey;\
__imp_SetTouchpadLaunchState$"
               "VelnorApi.lib's imports")
endif()
