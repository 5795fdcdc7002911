// Basic types shared by the core library: the UTF-16 wide element and its literals.
#pragma once

#include <cstdint>

#include "qir_sys/wide.h"

// One UTF-16 code unit: wchar_t on Windows, char16_t elsewhere.
using qir_wchar_t = qir::sys::WideUnit;

#define QIR_W(text) QIR_SYS_W(text)

// Marks a thread-local variable to carry no debug information: clang cannot describe an emulated
// thread-local variable in CodeView (its code generator fails, or leaves the symbol undefined).
#if defined(__has_attribute) && __has_attribute(nodebug)
#define QIR_TLS_NODEBUG __attribute__((nodebug))
#else
#define QIR_TLS_NODEBUG
#endif
