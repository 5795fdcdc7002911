# Cross build for 64-bit Windows: clang and lld against mingw-w64's gcc runtime (the posix
# thread model, which GoogleTest needs). lld writes a PDB beside every binary, with CodeView
# names and lines that WinDbg and Visual Studio read; the binary's debug record names the PDB
# without a folder, so the debugger finds it beside the binary or on a symbol path.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QIR_MINGW_PREFIX x86_64-w64-mingw32)
set(QIR_MINGW_GCC_DIR /usr/lib/gcc/${QIR_MINGW_PREFIX}/12-posix)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${QIR_MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${QIR_MINGW_PREFIX})
set(CMAKE_RC_COMPILER ${QIR_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${QIR_MINGW_PREFIX}-objdump)
set(CMAKE_OBJCOPY ${QIR_MINGW_PREFIX}-objcopy)

set(QIR_MINGW_CXX_INCLUDE ${QIR_MINGW_GCC_DIR}/include/c++)
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${QIR_MINGW_CXX_INCLUDE} -isystem ${QIR_MINGW_CXX_INCLUDE}/${QIR_MINGW_PREFIX}")
# An empty --pdb= puts NAME.pdb beside NAME.exe or NAME.dll; %_PDB% records its bare name.
set(QIR_MINGW_LINK_FLAGS "-fuse-ld=lld")
string(APPEND QIR_MINGW_LINK_FLAGS " -Wl,--pdb= -Wl,-Xlink=-pdbaltpath:%_PDB%")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "${QIR_MINGW_LINK_FLAGS}")
endforeach()
# gcc's folder last: the project puts a repaired libstdc++.a before it (cmake/QirBuild.cmake).
set(CMAKE_C_STANDARD_LIBRARIES "-L${QIR_MINGW_GCC_DIR} -lwinpthread")
set(CMAKE_CXX_STANDARD_LIBRARIES "-L${QIR_MINGW_GCC_DIR} -lwinpthread")

set(CMAKE_FIND_ROOT_PATH /usr/${QIR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
