# Compiler settings shared by every target of the project, and the platform switches.
include(GNUInstallDirs)

if(WIN32)
  set(QIR_PLATFORM_DIR win32)
  # Only system DLLs at run time: the C++ runtime and the thread library are linked in.
  add_link_options(-static)
  # The toolchain's libstdc++.a, repaired for lld (mingw-seh-symbols.py says why), comes first in
  # the library path; the compiler checks above link the original, which they never unwind.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND QIR_MINGW_GCC_DIR)
    # CodeView for the PDBs; thread-local variables emulated as gcc does, which libstdc++ uses.
    add_compile_options(-gcodeview -femulated-tls)
    # lld has no --push-state, which CMake's own spelling of a whole archive uses.
    set(CMAKE_LINK_LIBRARY_USING_WHOLE_ARCHIVE
        "LINKER:--whole-archive" "<LINK_ITEM>" "LINKER:--no-whole-archive")
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    set(runtime ${CMAKE_BINARY_DIR}/mingw-runtime)
    set(script ${CMAKE_CURRENT_LIST_DIR}/mingw-seh-symbols.py)
    set(source ${QIR_MINGW_GCC_DIR}/libstdc++.a)
    if(NOT EXISTS ${runtime}/libstdc++.a OR ${source} IS_NEWER_THAN ${runtime}/libstdc++.a
       OR ${script} IS_NEWER_THAN ${runtime}/libstdc++.a)
      file(MAKE_DIRECTORY ${runtime})
      execute_process(COMMAND ${Python3_EXECUTABLE} ${script} ${CMAKE_AR} ${source}
                              ${runtime}/libstdc++.a COMMAND_ERROR_IS_FATAL ANY)
    endif()
    add_link_options(-L${runtime})
  endif()
else()
  set(QIR_PLATFORM_DIR posix)
endif()

# The vendor's objects are not C++ objects of ours (the vendor library may be written in C): the
# vptr check, which reads C++ type information through their tables, is left out.
# ThreadSanitizer cannot share a tree with AddressSanitizer: QIR_SANITIZE=thread builds it alone.
if(QIR_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(QIR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

if(QIR_COVERAGE)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "QIR_COVERAGE needs gcc: gcovr reads gcc's .gcda files")
  endif()
  # Counters are updated atomically: several suites run threads that share one code path.
  add_compile_options(-O0 --coverage -fprofile-update=atomic)
  add_link_options(--coverage)
endif()

# Fuzz trees: every object carries the fuzzer's coverage hooks and the sanitizers; only the
# fuzz targets' own sources add -fsanitize=fuzzer, which brings libFuzzer's main.
if(QIR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang" OR WIN32)
    message(FATAL_ERROR "QIR_FUZZ needs clang on a native tree "
                        "(cmake --preset fuzz, or CMAKE_CXX_COMPILER=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# Optimised native gcc trees are optimised across sources at link time too: a record's texts
# pass through the strings' code and the platform layer's text codec, which are separate
# sources, in steps of a few nanoseconds each. (mingw-w64's link-time pass warns of every
# visibility attribute, which PE files do not have: the Windows tree is left as it is.)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32 AND NOT QIR_SANITIZE AND NOT QIR_COVERAGE)
  include(CheckIPOSupported)
  check_ipo_supported(RESULT QIR_IPO LANGUAGES C CXX)
  if(QIR_IPO)
    set(CMAKE_POLICY_DEFAULT_CMP0069 NEW)  # GoogleTest's own CMake files predate the setting
    set(CMAKE_INTERPROCEDURAL_OPTIMIZATION_RELWITHDEBINFO ON)
    set(CMAKE_INTERPROCEDURAL_OPTIMIZATION_RELEASE ON)
  endif()
endif()

# Our own code is warning-free, and with QIR_WERROR stays so; third-party sources keep their
# own flags.
function(qir_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow $<$<BOOL:${QIR_WERROR}>:-Werror>)
endfunction()

# Test executables of the Windows tree run under Wine, in a prefix inside the build tree.
if(CMAKE_CROSSCOMPILING AND WIN32 AND PROJECT_IS_TOP_LEVEL)
  find_program(QIR_WINE NAMES wine wine64)
  if(QIR_WINE)
    set(QIR_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
  else()
    message(WARNING "wine not found: the Windows tree builds, but its tests cannot run")
  endif()
endif()

# A program of ours that loads the library by name on POSIX finds it through its run path: in the
# build tree in ../lib, once installed in the library folder as seen from the program's folder.
# DT_RPATH rather than DT_RUNPATH: the executable's RPATH also serves dlopen calls made from
# inside other libraries (the sanitizers intercept dlopen). The program is linked with both
# folders and the install keeps the second alone (QirInstall.cmake): CMake's own rewriting would
# pad the build tree's run path with separators, and an empty element is the current folder to
# the loader.
file(RELATIVE_PATH QIR_RUN_PATH ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set(QIR_RUN_PATH "$ORIGIN/${QIR_RUN_PATH}")
function(qir_run_path target)
  if(WIN32)
    return()
  endif()
  set(rpath "$ORIGIN/../lib")
  if(NOT QIR_RUN_PATH STREQUAL rpath)
    list(APPEND rpath ${QIR_RUN_PATH})
  endif()
  set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "${rpath}")
  target_link_options(${target} PRIVATE -Wl,--disable-new-dtags)
endfunction()
