// Switches the C runtime's locale for one test and puts the previous one back.
#pragma once

#include <clocale>
#include <initializer_list>
#include <string>

namespace testlocale {

class ScopedLocale {
  public:
    // Tries the names in turn; active() tells whether one was taken.
    explicit ScopedLocale(std::initializer_list<const char*> names) {
        const char* previous = std::setlocale(LC_ALL, nullptr);
        m_previous = previous != nullptr ? previous : "C";
        for (const char* name : names) {
            if (std::setlocale(LC_ALL, name) != nullptr) {
                m_active = name;
                return;
            }
        }
    }
    ~ScopedLocale() { std::setlocale(LC_ALL, m_previous.c_str()); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

    bool active() const { return !m_active.empty(); }
    const std::string& name() const { return m_active; }

  private:
    std::string m_previous;
    std::string m_active;
};

// A locale in which one character takes several bytes: UTF-8 where the C runtime has it,
// else the Japanese double-byte code page.
inline std::initializer_list<const char*> multiByteLocales() {
    static const std::initializer_list<const char*> names = {"C.UTF-8", "en_US.UTF-8", ".932",
                                                             "Japanese_Japan.932", "ja_JP.SJIS"};
    return names;
}

}  // namespace testlocale
