// The one way Windows headers enter the platform layer.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace qir::sys::win32 {

// UTF-8 to UTF-16 and back; an empty result for text that does not convert.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

}  // namespace qir::sys::win32
