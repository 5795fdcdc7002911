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

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

class TempRegistry {
  public:
    // `text` is a whole .reg file in ASCII, header included; its LF line ends become CR LF.
    // `roots` are the keys below HKEY_LOCAL_MACHINE that it creates.
    TempRegistry(const std::string& text, std::vector<std::string> roots)
        : m_roots(std::move(roots)) {
        static int counter = 0;
        const std::string stem = "qir-registry-" + std::to_string(qir::sys::processId()) + "-" +
                                 std::to_string(++counter);
        const std::filesystem::path folder = std::filesystem::temp_directory_path();
        m_file = folder / (stem + ".reg");
        m_log = folder / (stem + ".log");
#if defined(_WIN32)
        const std::string bytes = asUtf16Le(withCrLf(text));
#else
        const std::string bytes = withCrLf(text);
#endif
        if (!write(m_file, bytes)) {
            m_failure = "cannot write " + m_file.u8string();
            return;
        }
#if defined(_WIN32)
        removeRoots();
        const int status = run("reg import \"" + m_file.string() + "\"");
        if (status != 0) {
            m_failure = "reg import answered " + std::to_string(status) + ": " + read(m_log);
        }
#else
        const char* previous = std::getenv("QIR_REGISTRY");
        m_hadPrevious = previous != nullptr;
        m_previous = m_hadPrevious ? previous : "";
        setenv("QIR_REGISTRY", m_file.c_str(), 1);
#endif
    }

    ~TempRegistry() {
#if defined(_WIN32)
        removeRoots();
#else
        // Unless a later owner took over: that one puts back what it found.
        const char* current = std::getenv("QIR_REGISTRY");
        const bool stillOurs = current != nullptr && m_file == current;
        if (stillOurs && m_hadPrevious) {
            setenv("QIR_REGISTRY", m_previous.c_str(), 1);
        } else if (stillOurs) {
            unsetenv("QIR_REGISTRY");
        }
#endif
        std::error_code ignored;
        std::filesystem::remove(m_file, ignored);
        std::filesystem::remove(m_log, ignored);
    }

    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    // Empty once the text is the registry; otherwise what went wrong.
    const std::string& failure() const {
        return m_failure;
    }
    const std::filesystem::path& file() const {
        return m_file;
    }

    static std::string withCrLf(const std::string& text) {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
                out.push_back('\r');
            }
            out.push_back(text[i]);
        }
        return out;
    }

  private:
    static bool write(const std::filesystem::path& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
        return static_cast<bool>(out.flush());
    }

    static std::string read(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

#if defined(_WIN32)
    static std::string asUtf16Le(const std::string& ascii) {
        std::string out = "\xFF\xFE";
        for (char c : ascii) {
            out.push_back(c);
            out.push_back('\0');
        }
        return out;
    }

    // Runs reg.exe with its output in the log file; answers its exit status.
    int run(const std::string& command) const {
        return std::system((command + " >\"" + m_log.string() + "\" 2>&1").c_str());
    }

    void removeRoots() const {
        for (const std::string& root : m_roots) {
            run("reg delete \"HKLM\\" + root + "\" /f");
        }
    }
#endif

    std::vector<std::string> m_roots;
    std::filesystem::path m_file;
    std::filesystem::path m_log;
    std::string m_failure;
    bool m_hadPrevious = false;
    std::string m_previous;
};

}  // namespace testreg
