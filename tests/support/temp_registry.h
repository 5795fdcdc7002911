// A registry set up from .reg text for one test and gone again when its owner goes. On POSIX
// the text becomes the file that $QIR_REGISTRY names; on Windows `reg import` writes it into
// the real registry and `reg delete` removes the roots the owner names. Give each test roots of
// its own (uniqueRoot), so that tests never see each other's keys. One owner at a time: let the
// old one go before making the next (on Windows it removes its roots when it goes, whoever
// imported them last).
//
// On Windows the file is written as UTF-16LE: Wine's `reg import` takes the hex(2) and hex(7)
// bytes of an 8-bit file for 8-bit text and widens each byte, even under the 5.00 header.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qir_sys/process.h"

namespace testreg {

// A key path below HKEY_LOCAL_MACHINE, directly under Software, that no other test or
// process uses.
inline std::string uniqueRoot(const std::string& stem) {
    static int counter = 0;
    return "Software\\QirTest-" + stem + "-" + std::to_string(qir::sys::processId()) + "-" +
           std::to_string(++counter);
}

// Built anew rather than replaced in place, which would move the rest of a large text at
// each replacement.
inline std::string replaced(const std::string& text, const std::string& from,
                            const std::string& to) {
    std::string out;
    size_t start = 0;
    for (size_t at; (at = text.find(from, start)) != std::string::npos; start = at + from.size()) {
        out.append(text, start, at - start) += to;
    }
    return out.append(text, start, std::string::npos);
}

// Test text as a whole .reg file: "$" stands for HKEY_LOCAL_MACHINE followed by `below` (e.g.
// "\\Software\\Test"), "|" for a line end.
inline std::string regFile(const std::string& text, const std::string& below = "") {
    return "Windows Registry Editor Version 5.00\n\n" +
           replaced(replaced(text, "|", "\n"), "$", "HKEY_LOCAL_MACHINE" + below);
}

// Value data as tests write it: "text" for UTF-16LE ASCII text with its terminator, else the
// bytes in hex.
inline std::string shown(const uint8_t* data, size_t size) {
    bool text = size >= 2 && size % 2 == 0 && data[size - 2] == 0 && data[size - 1] == 0;
    for (size_t i = 0; text && i + 2 < size; i += 2) {
        text = data[i] >= 0x20 && data[i] < 0x7F && data[i + 1] == 0;
    }
    std::string out = text ? "\"" : "";
    for (size_t i = 0; i < size; i += text ? 2 : 1) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", data[i]);
        out += !text ? hex : i + 2 < size ? std::string(1, static_cast<char>(data[i])) : "\"";
    }
    return out;
}

class TempRegistry {
  public:
    // `text` is a whole .reg file in ASCII, header included; its LF line ends become CR LF.
    // `roots` are the keys below HKEY_LOCAL_MACHINE that it creates.
    TempRegistry(const std::string& text, std::vector<std::string> roots)
        : m_roots(std::move(roots)),
          m_file(std::filesystem::temp_directory_path() / (uniqueRoot("r").substr(9) + ".reg")) {
        std::string bytes = withCrLf(text);
#if defined(_WIN32)
        std::string wide = "\xFF\xFE";
        for (char c : bytes) {
            wide += {c, '\0'};
        }
        bytes = wide;
#endif
        if (!(std::ofstream(m_file, std::ios::binary) << bytes)) {
            m_failure = "cannot write " + m_file.u8string();
            return;
        }
#if defined(_WIN32)
        removeRoots();
        const std::string command = "reg import \"" + m_file.string() + "\" >NUL 2>&1";
        // Wine's reg now and then fails a good file: two more tries before the file is blamed.
        const bool imported = std::system(command.c_str()) == 0 ||
                              std::system(command.c_str()) == 0 ||
                              std::system(command.c_str()) == 0;
        m_failure = imported ? "" : "reg import failed: " + text;
#else
        if (const char* previous = std::getenv("QIR_REGISTRY")) {
            m_previous = previous;
        }
        setenv("QIR_REGISTRY", m_file.c_str(), 1);
#endif
    }

    ~TempRegistry() {
#if defined(_WIN32)
        removeRoots();
#else
        // Unless a later owner took over: that one puts back what it found.
        const char* current = std::getenv("QIR_REGISTRY");
        if (current != nullptr && m_file == current) {
            m_previous ? setenv("QIR_REGISTRY", m_previous->c_str(), 1) : unsetenv("QIR_REGISTRY");
        }
#endif
        std::error_code ignored;
        std::filesystem::remove(m_file, ignored);
    }

    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    // Empty once the text is the registry; otherwise what went wrong.
    const std::string& failure() const {
        return m_failure;
    }

    static std::string withCrLf(const std::string& text) {
        return replaced(replaced(text, "\r\n", "\n"), "\n", "\r\n");
    }

  private:
#if defined(_WIN32)
    void removeRoots() const {
        for (const std::string& root : m_roots) {
            std::system(("reg delete \"HKLM\\" + root + "\" /f >NUL 2>&1").c_str());
        }
    }
#endif

    std::vector<std::string> m_roots;
    std::filesystem::path m_file;
    std::string m_failure;
    std::optional<std::string> m_previous;  // $QIR_REGISTRY before
};

}  // namespace testreg
