#include "qir_sys/error.h"
#include "qir_win32.h"

namespace qir::sys {

uint32_t lastError() {
    return GetLastError();
}

void setLastError(uint32_t value) {
    SetLastError(value);
}

std::string errorText(uint32_t error) {
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring text(message != nullptr ? message : L"", length);
    LocalFree(message);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    const std::string words = win32::narrow(text);
    return words.empty() ? "error " + std::to_string(error) : words;
}

}  // namespace qir::sys
