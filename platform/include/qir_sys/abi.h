// Calling-convention and symbol-visibility spellings for binary interfaces that cross a
// module boundary (vendor objects, exported functions).
#pragma once

#if defined(_WIN32)
#define QIR_SYS_STDCALL __stdcall
#define QIR_SYS_EXPORT __declspec(dllexport)
#else
#define QIR_SYS_STDCALL
#define QIR_SYS_EXPORT __attribute__((visibility("default")))
#endif
