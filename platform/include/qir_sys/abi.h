// Spellings that differ between compilers and binary formats: the calling convention and symbol
// visibility of interfaces that cross a module boundary (vendor objects, exported functions), the
// byte order of the target, and the mark that has an object built before every other static
// object of its image.
#pragma once

#if defined(_WIN32)
#define QIR_SYS_STDCALL __stdcall
#define QIR_SYS_EXPORT __declspec(dllexport)
#else
#define QIR_SYS_STDCALL
#define QIR_SYS_EXPORT __attribute__((visibility("default")))
#endif

// Every Windows target stores the low-order byte first, and MSVC, which defines no
// __BYTE_ORDER__, builds only for Windows; gcc and clang say it for every target.
#if defined(_WIN32)
#define QIR_SYS_LITTLE_ENDIAN 1
#elif defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
#define QIR_SYS_LITTLE_ENDIAN (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
#else
#error "the target's byte order is unknown"
#endif

// A static object marked so is built before, and torn down after, every other static object of
// the program or library it is linked into. MSVC takes `#pragma init_seg(lib)` in the object's
// source instead.
#if defined(__GNUC__)
#define QIR_SYS_INIT_FIRST __attribute__((init_priority(101)))
#else
#define QIR_SYS_INIT_FIRST
#endif

namespace qir::sys {

constexpr bool kLittleEndian = QIR_SYS_LITTLE_ENDIAN != 0;

}  // namespace qir::sys
