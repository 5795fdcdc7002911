# What `cmake --install` puts under its prefix: the library with its header, a CMake package
# (find_package(VelnorApi) gives VelnorApi::VelnorApi) and on POSIX a pkg-config file,
# velnorctl, the README with the pages of docs/ and the example .reg files. On Windows also the
# release archive (CPack): `cmake --build build/windows --target package`.
include(CMakePackageConfigHelpers)

set(QIR_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VelnorApi)
# The simulator stands in for the vendor library in tests only. It is installed on request
# (--component Simulator), into a folder of its own: beside the product library or its hosts
# it would be loaded in place of the vendor's.
set(QIR_SIMULATOR_DIR ${CMAKE_INSTALL_LIBDIR}/velnorapi-simulator)
if(WIN32)
  set(QIR_DOC_DIR .)  # an unzipped archive shows the README first
else()
  set(QIR_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
endif()

if(NOT WIN32)
  # A link left by an earlier install would take the copy of the plain-named file below.
  install(CODE "file(REMOVE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libVelnorApi.so\")")
endif()
install(TARGETS VelnorApi EXPORT VelnorApiTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES api/include/VelnorApi.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS velnorctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT WIN32)
  install(CODE "set(QIR_VELNORCTL \"${CMAKE_INSTALL_BINDIR}/velnorctl\")
                set(QIR_RUN_PATH [[${QIR_RUN_PATH}]])")
  install(CODE [[
    file(RPATH_SET FILE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${QIR_VELNORCTL}"
         NEW_RPATH "${QIR_RUN_PATH}")
  ]])
endif()
install(FILES README.md DESTINATION ${QIR_DOC_DIR})
# Beside the README, as in the source tree, so that its links hold in the install and the zip.
install(FILES docs/integrating.md docs/operating.md docs/developing.md
        DESTINATION ${QIR_DOC_DIR}/docs)
install(FILES examples/logging.reg examples/logging-linux.reg DESTINATION ${QIR_DOC_DIR}/examples)
install(TARGETS SynCom COMPONENT Simulator EXCLUDE_FROM_ALL
        RUNTIME DESTINATION ${QIR_SIMULATOR_DIR}
        LIBRARY DESTINATION ${QIR_SIMULATOR_DIR}
        ARCHIVE DESTINATION ${QIR_SIMULATOR_DIR})

install(EXPORT VelnorApiTargets NAMESPACE VelnorApi:: FILE VelnorApiConfig.cmake
        DESTINATION ${QIR_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VelnorApiConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VelnorApiConfigVersion.cmake
        DESTINATION ${QIR_PACKAGE_DIR})

if(NOT WIN32)
  # The file installs under its full version, with the SONAME's link and the linker's.
  install(CODE "set(QIR_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
                set(QIR_VERSION ${PROJECT_VERSION})
                set(QIR_MAJOR ${PROJECT_VERSION_MAJOR})")
  install(CODE [[
    set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${QIR_LIBDIR}")
    file(RENAME ${dir}/libVelnorApi.so ${dir}/libVelnorApi.so.${QIR_VERSION})
    file(CREATE_LINK libVelnorApi.so.${QIR_VERSION} ${dir}/libVelnorApi.so.${QIR_MAJOR} SYMBOLIC)
    file(CREATE_LINK libVelnorApi.so.${QIR_MAJOR} ${dir}/libVelnorApi.so SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES ${dir}/libVelnorApi.so.${QIR_VERSION}
                                             ${dir}/libVelnorApi.so.${QIR_MAJOR})
  ]])
  # Relocatable: the prefix is found from where the .pc file lies.
  file(RELATIVE_PATH QIR_PC_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  configure_file(cmake/velnorapi.pc.in ${CMAKE_CURRENT_BINARY_DIR}/velnorapi.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/velnorapi.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  return()
endif()

# An MSVC-style import library, made from the .def file, for projects that link with link.exe
# or lld-link; mingw-w64 projects take the GNU one (libVelnorApi.dll.a).
find_program(QIR_LLVM_DLLTOOL llvm-dlltool)
if(QIR_LLVM_DLLTOOL)
  set(QIR_MSVC_IMPORT_LIB ${CMAKE_BINARY_DIR}/lib/VelnorApi.lib)
  add_custom_command(OUTPUT ${QIR_MSVC_IMPORT_LIB}
    COMMAND ${QIR_LLVM_DLLTOOL} -m i386:x86-64 -d ${PROJECT_SOURCE_DIR}/api/VelnorApi.def
            -l ${QIR_MSVC_IMPORT_LIB}
    DEPENDS ${PROJECT_SOURCE_DIR}/api/VelnorApi.def
    COMMENT "Making the MSVC import library VelnorApi.lib")
  add_custom_target(velnor_msvc_import_lib ALL DEPENDS ${QIR_MSVC_IMPORT_LIB})
  install(FILES ${QIR_MSVC_IMPORT_LIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
else()
  message(WARNING "llvm-dlltool not found (apt-get install llvm): no VelnorApi.lib is made")
endif()
install(FILES api/VelnorApi.def DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The installed binaries are stripped of the symbols and the DWARF that mingw-w64's runtime
# objects bring; our code's names and lines are in the PDBs installed beside them, which their
# debug records name (cmake/mingw-w64.cmake).
foreach(target VelnorApi velnorctl)
  install(FILES $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.pdb
          DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()
install(CODE "set(QIR_OBJCOPY \"${CMAKE_OBJCOPY}\")
              set(QIR_BINDIR \"${CMAKE_INSTALL_BINDIR}\")")
install(CODE [[
  foreach(binary VelnorApi.dll velnorctl.exe)
    execute_process(COMMAND ${QIR_OBJCOPY} --strip-all ${binary} COMMAND_ERROR_IS_FATAL ANY
                    WORKING_DIRECTORY "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${QIR_BINDIR}")
  endforeach()
]])

# The package step signs the DLL and the program (Authenticode, SHA-256) when given a PKCS#12
# file; its password is read from the environment variable QIR_SIGN_PASSWORD at that moment and
# never stored (QirRelease.cmake).
set(QIR_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 certificate and key that sign the release (password: env QIR_SIGN_PASSWORD)")
set(QIR_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the signatures")
find_program(QIR_OSSLSIGNCODE osslsigncode)
set(CPACK_QIR_SIGN_PKCS12 "${QIR_SIGN_PKCS12}")
set(CPACK_QIR_SIGN_TIMESTAMP_URL "${QIR_SIGN_TIMESTAMP_URL}")
set(CPACK_QIR_OSSLSIGNCODE "${QIR_OSSLSIGNCODE}")
set(CPACK_QIR_BINDIR ${CMAKE_INSTALL_BINDIR})
set(CPACK_QIR_SHIPPED VelnorApi.dll velnorctl.exe)
find_program(QIR_LLVM_READOBJ NAMES llvm-readobj llvm-readobj-14)
set(CPACK_QIR_READOBJ "${QIR_LLVM_READOBJ}")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/QirRelease.cmake)

set(CPACK_PACKAGE_VENDOR Halvex)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME VelnorApi-${PROJECT_VERSION}-win64)
include(CPack)
