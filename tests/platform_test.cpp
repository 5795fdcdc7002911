// The platform layer's clock, its mutex, and its conversions of text between the C runtime's
// locale and UTF-16 (and of UTF-8, one code point at a time).
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "qir_sys/clock.h"
#include "qir_sys/mutex.h"
#include "qir_sys/utf8.h"
#include "qir_sys/wide.h"
#include "scoped_locale.h"

namespace {

using Wide = std::basic_string<qir::sys::WideUnit>;

TEST(ClockTest, LocalTimeIsTheCRuntimesLocalTime) {
    std::time_t before = 0;
    qir::sys::LocalTime now{};
    do {  // again when the second changed while it was read
        before = std::time(nullptr);
        ASSERT_TRUE(qir::sys::localTime(now));
    } while (std::time(nullptr) != before);
    const std::tm t = *std::localtime(&before);
    EXPECT_EQ(std::vector<int>(
                  {now.year, now.month, now.day, now.weekday, now.hour, now.minute, now.second}),
              std::vector<int>({t.tm_year + 1900, t.tm_mon, t.tm_mday, t.tm_wday, t.tm_hour,
                                t.tm_min, t.tm_sec}));
}

// A timed lock gives up while another thread holds the mutex; a holder that ends without
// unlocking makes the next lock answer false, once, and let go. (Recursion, waiting and
// unlocking are in mutex_lw_test.cpp, through the core's wrapper.)
TEST(MutexTest, TimedAndAbandonedLocks) {
    const qir::sys::MutexHandle mutex = qir::sys::createMutex();
    const auto elsewhere = [mutex](uint32_t timeoutMs) {
        return std::async(std::launch::async,
                          [=] {
                              return qir::sys::lockMutex(mutex, timeoutMs) &&
                                     qir::sys::unlockMutex(mutex);
                          })
            .get();
    };
    std::thread([&] {
        ASSERT_TRUE(qir::sys::lockMutex(mutex, qir::sys::kWaitForever));
        EXPECT_FALSE(elsewhere(20));
    }).join();
    EXPECT_FALSE(qir::sys::lockMutex(mutex, 0));
    EXPECT_TRUE(elsewhere(60000));
    qir::sys::closeMutex(mutex);
    EXPECT_FALSE(qir::sys::lockMutex(nullptr, 0) || qir::sys::unlockMutex(nullptr));
    qir::sys::closeMutex(nullptr);
}

// Texts in a locale, character by character (each one's bytes and its UTF-16 units), and bytes
// that are no text there.
struct Text {
    std::initializer_list<const char*> locales;
    std::vector<std::pair<std::string, Wide>> characters;
    const char* invalid;
};

// clang-format off
const Text kTexts[] = {
    {{"C.UTF-8", "en_US.UTF-8"}, {{"a", {'a'}}, {"\xC3\xA9", {0xE9}}, {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
     {"\xE6\x97\xA5", {0x65E5}}, {"\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}}}, "a\xFF"},
    {{".932", "Japanese_Japan.932", "ja_JP.SJIS"}, {{"a", {'a'}}, {"\x82\xA0", {0x3042}}}, "a\x82"},
};
// clang-format on

// Either way, a character at a time, or the whole text into storage of every size: whole
// characters only, never past the storage, and the terminator after the whole text if it fits.
TEST(WideTest, ConvertsWholeCharactersWithinTheStorage) {
    for (const Text& text : kTexts) {
        const testlocale::ScopedLocale locale(text.locales);
        if (!locale.active()) {
            continue;
        }
        std::string bytes;
        Wide units;
        std::vector<size_t> byteEnds = {0};
        std::vector<size_t> unitEnds = {0};
        for (const auto& [character, wide] : text.characters) {
            byteEnds.push_back((bytes += character).size());
            unitEnds.push_back((units += wide).size());
            qir::sys::WideUnit one[2] = {};
            char back[qir::sys::kMaxMultiByteChar];
            size_t count = 0;
            size_t used = 0;
            EXPECT_EQ(qir::sys::multiByteCharToUtf16(character.data(), 4, one, count) +
                          qir::sys::utf16CharToMultiByte(wide.data(), 2, back, used),
                      2 * character.size());
            EXPECT_TRUE(Wide(one, count) == wide && used == wide.size() &&
                        std::string(back, character.size()) == character);
        }
        SCOPED_TRACE(locale.name() + ": " + bytes);
        EXPECT_EQ(qir::sys::multiByteToUtf16(bytes.c_str(), nullptr, 0), units.size());
        EXPECT_EQ(qir::sys::utf16ToMultiByte(units.c_str(), nullptr, 0), bytes.size());
        EXPECT_EQ(qir::sys::multiByteToUtf16(text.invalid, nullptr, 0),
                  qir::sys::kConversionFailed);
        for (size_t capacity = 0; capacity <= bytes.size() + 1; ++capacity) {
            const size_t fitUnits = *--std::upper_bound(unitEnds.begin(), unitEnds.end(), capacity);
            const size_t fitBytes = *--std::upper_bound(byteEnds.begin(), byteEnds.end(), capacity);
            Wide wide(capacity + 1, 0x7777);
            std::string narrow(capacity + 1, 'x');
            EXPECT_EQ(qir::sys::multiByteToUtf16(bytes.c_str(), &wide[0], capacity), fitUnits);
            EXPECT_EQ(qir::sys::utf16ToMultiByte(units.c_str(), &narrow[0], capacity), fitBytes);
            EXPECT_EQ(wide, (units.substr(0, fitUnits) + Wide(units.size() < capacity, 0) +
                             Wide(capacity + 1, 0x7777))
                                .substr(0, capacity + 1))
                << capacity;
            EXPECT_EQ(narrow, (bytes.substr(0, fitBytes) + std::string(bytes.size() < capacity, 0) +
                               std::string(capacity + 1, 'x'))
                                  .substr(0, capacity + 1))
                << capacity;
        }
    }
}

TEST(WideTest, ComparesIgnoringCaseUnitByUnitAndParsesNumbers) {
    const testlocale::ScopedLocale locale({"C.UTF-8", "en_US.UTF-8"});
    // U+10400 and U+10428 are one letter in two cases, but their units have no case; the units
    // after a zero are never looked at.
    const Wide upper = {'A', 'x', 0, 0xD801, 0xDC00, 0, 0xC9, 0};
    const Wide lower = {'a', 'y', 0, 0xD801, 0xDC28, 0, 0xE9, 0};
    const auto compare = [](const auto* a, const auto* b, size_t count) {
        const int answer = qir::sys::compareNoCase(a, b, count);
        return std::string(answer < 0 ? "<" : answer > 0 ? ">" : "=");
    };
    EXPECT_EQ(compare(&upper[0], &lower[0], 1) + compare(&upper[0], &lower[0], 2) +
                  compare(&upper[3], &lower[3], 3) + compare(&lower[3], &upper[3], 3) +
                  compare(&upper[2], &lower[2], 3) + compare("abcX", "ABCy", 3) +
                  compare("abz", "ABy", 3) +
                  (locale.active() ? compare(&upper[6], &lower[6], 2) : "="),
              "=<<>==>=")
        << locale.name();
    // A surrogate pair, and a lone high surrogate at the very end, both end the number.
    long number = 0;
    double real = 0;
    ASSERT_TRUE(qir::sys::utf16ToLong(Wide{'4', '2', 0xD83D, 0xDE00, '7'}.c_str(), 10, number));
    ASSERT_TRUE(qir::sys::utf16ToDouble(Wide{'-', '1', '.', '5', 0xD83D}.c_str(), real));
    EXPECT_EQ(number * 10 + real, 418.5);
}

// One code point read from the front of UTF-8 bytes: its length and value, or 0 and nothing.
TEST(Utf8Test, ReadsOneCodePointOrNone) {
    // clang-format off
    const std::pair<std::string, uint32_t> reads[] = {
        {"A", 'A'}, {"\xC3\xA9", 0xE9}, {"\xE6\x97\xA5", 0x65E5}, {"\xF4\x8F\xBF\xBF", 0x10FFFF},
        {"\xC0\xAF", '/'}, {"", 0}, {"\x80", 0}, {"\xFF", 0}, {"\xE6\x97", 0}, {"\xE6\x41\x41", 0},
        {"\xED\xA0\x80", 0}, {"\xF4\x90\x80\x80", 0}};
    // clang-format on
    for (const auto& [bytes, value] : reads) {
        uint32_t read = 7;
        const size_t length = qir::sys::decodeUtf8((bytes + "x").data(), bytes.size(), read);
        EXPECT_EQ(std::to_string(length) + " " + std::to_string(read),
                  value != 0 ? std::to_string(bytes.size()) + " " + std::to_string(value) : "0 7");
    }
}

}  // namespace
