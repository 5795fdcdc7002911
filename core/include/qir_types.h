// Basic types shared by the core library: the UTF-16 wide element and its literals.
#pragma once

#include <cstdint>

#include "qir_sys/wide.h"

// One UTF-16 code unit: wchar_t on Windows, char16_t elsewhere.
using qir_wchar_t = qir::sys::WideUnit;

#define QIR_W(text) QIR_SYS_W(text)
