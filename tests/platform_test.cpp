// The platform layer's clock, its recursive mutex, and its conversions of text between the C
// runtime's locale and UTF-16 (and UTF-8 one code point at a time).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
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

TEST(MutexTest, IsHeldByOneThreadAtATimeAsOftenAsItWasLocked) {
    using qir::sys::lockMutex;
    using qir::sys::unlockMutex;
    const qir::sys::MutexHandle mutex = qir::sys::createMutex();
    ASSERT_NE(mutex, nullptr);
    // What another thread gets: a lock at once, a lock within 20 ms (each let go), an unlock.
    const auto others = [mutex] {
        return std::async(std::launch::async,
                          [mutex] {
                              const auto took = [mutex](bool locked) {
                                  return locked && unlockMutex(mutex);
                              };
                              return std::to_string(took(lockMutex(mutex, 0))) +
                                     std::to_string(took(lockMutex(mutex, 20))) +
                                     std::to_string(unlockMutex(mutex));
                          })
            .get();
    };
    EXPECT_FALSE(unlockMutex(mutex));
    ASSERT_TRUE(lockMutex(mutex, qir::sys::kWaitForever));
    ASSERT_TRUE(lockMutex(mutex, 0));
    EXPECT_EQ(others(), "000");
    EXPECT_TRUE(unlockMutex(mutex));
    EXPECT_EQ(others(), "000");
    std::atomic<bool> letGo{false};
    std::promise<void> waiting;
    auto waiter = std::async(std::launch::async, [&] {
        waiting.set_value();
        return lockMutex(mutex, 60000) && letGo && unlockMutex(mutex);
    });
    waiting.get_future().wait();
    letGo = true;
    EXPECT_TRUE(unlockMutex(mutex));
    EXPECT_TRUE(waiter.get()) << "the waiter gets it once the holder let it go";
    EXPECT_EQ(others(), "110");
    // A holder that ends without unlocking: the next lock answers false once and lets go.
    std::thread([mutex] { lockMutex(mutex, 0); }).join();
    EXPECT_FALSE(lockMutex(mutex, 0));
    EXPECT_EQ(others(), "110");
    qir::sys::closeMutex(mutex);
    EXPECT_FALSE(lockMutex(nullptr, 0) || unlockMutex(nullptr));
    qir::sys::closeMutex(nullptr);
}

// Texts in a locale, character by character: each one's bytes and its UTF-16 units.
struct Text {
    std::initializer_list<const char*> locales;
    std::vector<std::pair<std::string, Wide>> characters;
    const char* invalid;  // bytes that are no text in the locale
};

const Text kTexts[] = {
    {{"C"}, {{"K", {'K'}}, {"e", {'e'}}, {"y", {'y'}}}, nullptr},
    {{"C.UTF-8", "en_US.UTF-8"},
     {{"a", {'a'}},
      {"\xC3\xA9", {0xE9}},
      {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
      {"\xE6\x97\xA5", {0x65E5}}},
     "a\xFF"},
    {{".932", "Japanese_Japan.932", "ja_JP.SJIS"}, {{"a", {'a'}}, {"\x82\xA0", {0x3042}}}, "a\x82"},
};

// Either way, one character at a time, or the whole text into storage of every size: whole
// characters only, never past the storage, then the terminator when it fits.
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
            bytes += character;
            units += wide;
            byteEnds.push_back(bytes.size());
            unitEnds.push_back(units.size());
            qir::sys::WideUnit one[2] = {};
            char back[qir::sys::kMaxMultiByteChar];
            size_t count = 0;
            size_t used = 0;
            EXPECT_EQ(qir::sys::multiByteCharToUtf16(character.data(), 4, one, count) +
                          qir::sys::utf16CharToMultiByte(wide.data(), 2, back, used),
                      2 * character.size());
            EXPECT_EQ(Wide(one, count) + Wide(used, 0), wide + Wide(wide.size(), 0));
            EXPECT_EQ(std::string(back, character.size()), character);
        }
        SCOPED_TRACE(locale.name() + ": " + bytes);
        EXPECT_EQ(qir::sys::multiByteToUtf16(bytes.c_str(), nullptr, 0), units.size());
        EXPECT_EQ(qir::sys::utf16ToMultiByte(units.c_str(), nullptr, 0), bytes.size());
        for (size_t capacity = 0; capacity <= bytes.size() + 1; ++capacity) {
            const size_t fitUnits = *--std::upper_bound(unitEnds.begin(), unitEnds.end(), capacity);
            const size_t fitBytes = *--std::upper_bound(byteEnds.begin(), byteEnds.end(), capacity);
            Wide wide(capacity + 1, 0x7777);
            std::string narrow(capacity + 1, 'x');
            EXPECT_EQ(qir::sys::multiByteToUtf16(bytes.c_str(), &wide[0], capacity), fitUnits);
            EXPECT_EQ(qir::sys::utf16ToMultiByte(units.c_str(), &narrow[0], capacity), fitBytes);
            Wide wideFit = units.substr(0, fitUnits) + Wide(units.size() < capacity, 0);
            std::string narrowFit =
                bytes.substr(0, fitBytes) + std::string(bytes.size() < capacity, 0);
            wideFit.resize(capacity + 1, 0x7777);
            narrowFit.resize(capacity + 1, 'x');
            EXPECT_EQ(wide, wideFit) << capacity;
            EXPECT_EQ(narrow, narrowFit) << capacity;
        }
        EXPECT_TRUE(text.invalid == nullptr ||
                    qir::sys::multiByteToUtf16(text.invalid, nullptr, 0) ==
                        qir::sys::kConversionFailed);
    }
}

TEST(WideTest, ComparesIgnoringCaseUnitByUnitAndParsesNumbers) {
    const testlocale::ScopedLocale locale({"C.UTF-8", "en_US.UTF-8"});
    const Wide upper = {'A', 0xC9, 'x', 0xD801, 0xDC00};  // U+10400, whose units have no case
    const Wide lower = {'a', 0xE9, 'y', 0xD801, 0xDC28};  // U+10428, the same letter
    const auto compare = [](const Wide& a, const Wide& b, size_t count) {
        const int answer = qir::sys::compareNoCase(a.c_str(), b.c_str(), count);
        return answer < 0 ? '<' : answer > 0 ? '>' : '=';
    };
    EXPECT_EQ(std::string({compare(upper, lower, 2), compare(upper, lower, 3),
                           compare(upper.substr(3), lower.substr(3), 3),
                           compare(lower.substr(3), upper.substr(3), 3),
                           compare({'a', 0, 'x'}, {'A', 0, 'y'}, 3)}),
              "=<<>=")
        << locale.name();
    EXPECT_EQ(qir::sys::compareNoCase("abcX", "ABCy", 3), 0);
    // A surrogate pair, and a lone high surrogate at the very end, both end the number.
    long number = 0;
    double real = 0;
    ASSERT_TRUE(qir::sys::utf16ToLong(Wide{'4', '2', 0xD83D, 0xDE00, '7'}.c_str(), 10, number));
    ASSERT_TRUE(qir::sys::utf16ToDouble(Wide{'-', '1', '.', '5', 0xD83D}.c_str(), real));
    EXPECT_EQ(number * 10 + real, 418.5);
}

// One code point read from the front of UTF-8 bytes: its length and value, or 0 and nothing.
TEST(Utf8Test, ReadsOneCodePointOrNone) {
    const std::pair<std::string, uint32_t> reads[] = {{"A", 'A'},
                                                      {"\xC3\xA9", 0xE9},
                                                      {"\xE6\x97\xA5", 0x65E5},
                                                      {"\xF4\x8F\xBF\xBF", 0x10FFFF},
                                                      {"\xC0\xAF", '/'},
                                                      {"", 0},
                                                      {"\x80", 0},
                                                      {"\xFF", 0},
                                                      {"\xE6\x97", 0},
                                                      {"\xE6\x41\x41", 0},
                                                      {"\xED\xA0\x80", 0},
                                                      {"\xF4\x90\x80\x80", 0}};
    for (const auto& [bytes, value] : reads) {
        uint32_t read = 7;
        const size_t length = qir::sys::decodeUtf8((bytes + "x").data(), bytes.size(), read);
        EXPECT_EQ(std::to_string(length) + " " + std::to_string(read),
                  value != 0 ? std::to_string(bytes.size()) + " " + std::to_string(value) : "0 7");
    }
}

}  // namespace
