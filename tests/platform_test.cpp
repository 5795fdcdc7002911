// The platform layer: its clock, its mutex, its conversions of text
// between the C runtime's locale and UTF-16 (and of UTF-8, one code point at a time), appending
// to log files and deleting them, and reading HKEY_LOCAL_MACHINE.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

#include "alloc_seam.h"
#include "log_file.h"
#include "log_text.h"
#include "qir_log_config.h"
#include "qir_sys/abi.h"
#include "qir_sys/error.h"
#include "qir_sys/fault.h"
#include "qir_sys/file.h"
#include "qir_sys/mutex.h"
#include "qir_sys/registry.h"
#include "qir_sys/unicode.h"
#include "qir_sys/wide.h"
#include "scoped_locale.h"
#include "temp_registry.h"
#include "test_paths.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#endif

namespace {

namespace fs = std::filesystem;
using namespace qir::sys;
using fault::Site;
using Wide = std::basic_string<WideUnit>;

// The parts joined by spaces, taken in their order (as a braced list is evaluated).
struct Word {
    Word(const char* part) : text(part) {}
    Word(std::string part) : text(std::move(part)) {}
    template <typename Number, typename = std::enable_if_t<std::is_arithmetic_v<Number>>>
    Word(Number number) : text(std::to_string(number)) {}
    std::string text;
};
std::string words(std::initializer_list<Word> parts) {
    std::string out;
    for (const Word& part : parts) {
        out += (out.empty() ? "" : " ") + part.text;
    }
    return out;
}

// UTF-8 text as UTF-16.
Wide wide(const std::string& utf8) {
    return fs::u8path(utf8).string<WideUnit>();
}

// Only the holder unlocks, as often as it locked, and a lock elsewhere goes on only after the
// last unlock; a timed lock gives up while another thread holds the mutex; a holder that ends
// without unlocking makes the next lock answer false, once, and let go.
TEST(MutexTest, LocksAreTheHoldersAndAbandonedOnesLetGo) {
    const MutexHandle mutex = createMutex();
    const auto elsewhere = [mutex](uint32_t timeoutMs) {
        return std::async(std::launch::async,
                          [=] { return lockMutex(mutex, timeoutMs) && unlockMutex(mutex); })
            .get();
    };
    ASSERT_TRUE(lockMutex(mutex, 0) && lockMutex(mutex, kWaitForever));
    EXPECT_FALSE(elsewhere(20));
#if !defined(__SANITIZE_THREAD__)  // which reports the unlock by a thread that does not hold it
    EXPECT_FALSE(std::async(std::launch::async, [=] { return unlockMutex(mutex); }).get());
#endif
    EXPECT_TRUE(unlockMutex(mutex));
    std::atomic<bool> released{false};
    auto waiter = std::async(std::launch::async, [&] {
        return lockMutex(mutex, kWaitForever) && released && unlockMutex(mutex);
    });
    released = true;
    EXPECT_TRUE(unlockMutex(mutex) && waiter.get());
    std::thread([&] { ASSERT_TRUE(lockMutex(mutex, kWaitForever)); }).join();
    EXPECT_FALSE(lockMutex(mutex, 0));
    EXPECT_TRUE(elsewhere(0));
    closeMutex(mutex);
    EXPECT_FALSE(lockMutex(nullptr, 0) || unlockMutex(nullptr));
    closeMutex(nullptr);
#if !defined(_WIN32)
    uint32_t error = 0;
    {
        const allocseam::Failing failing(1);
        error = createMutex() == nullptr ? qir::sys::lastError() : 0;
    }
    EXPECT_EQ(error, 8u) << "no memory for the mutex";
#endif
}

// The C runtime one character at a time, as the conversions once were: bytes to units, or
// units to bytes, with where each character ends (after the 0 in `ends`); false where a
// character has no form. A character past U+FFFF is one wchar_t where that has 32 bits, and a
// surrogate pair here.
bool wideOneByOne(const std::string& bytes, Wide& units, std::vector<size_t>& ends) {
    std::mbstate_t state{};
    for (size_t i = 0, n = 0; i < bytes.size(); i += n) {
        wchar_t unit = 0;
        n = std::mbrtowc(&unit, bytes.data() + i, bytes.size() - i, &state);
        if (n == 0 || n > bytes.size() - i) {
            return false;
        }
        const auto value = static_cast<uint32_t>(unit);
        if (value > 0xFFFF) {
            units.push_back(static_cast<WideUnit>(0xD7C0 + (value >> 10)));
        }
        units.push_back(static_cast<WideUnit>(value > 0xFFFF ? 0xDC00 | (value & 0x3FF) : value));
        ends.push_back(units.size());
    }
    return true;
}
bool narrowOneByOne(const Wide& units, std::string& bytes, std::vector<size_t>& ends) {
    std::mbstate_t state{};
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t value = units[i];
        if (sizeof(wchar_t) == 4 && value >= 0xD800 && value < 0xDC00 && i + 1 < units.size()) {
            value = 0x10000 + ((value - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        char out[16];
        const size_t n = std::wcrtomb(out, static_cast<wchar_t>(value), &state);
        if (n > sizeof out) {
            return false;
        }
        bytes.append(out, n);
        ends.push_back(bytes.size());
    }
    return true;
}

// What storage of `capacity` elements holds after a conversion of `whole` into it, where its
// characters end at `ends` and `fill` was there before: the whole characters that fit (fitOf),
// the terminator only after the whole text, nothing past the storage.
size_t fitOf(const std::vector<size_t>& ends, size_t capacity) {
    return *--std::upper_bound(ends.begin(), ends.end(), capacity);
}
template <class Storage>
Storage stored(const Storage& whole, const std::vector<size_t>& ends, size_t capacity,
               typename Storage::value_type fill) {
    return (whole.substr(0, fitOf(ends, capacity)) + Storage(whole.size() < capacity, 0) +
            Storage(capacity + 1, fill))
        .substr(0, capacity + 1);
}

// Random texts of ASCII runs and characters, some with no form in the locale, and bytes that
// are no character: the whole-text conversions give what the C runtime gives one character at
// a time, failures included, and into storage of any size what fits of it. Wine's
// single-character functions map a character missing from a double-byte code page to a near
// one (é to e) where its whole-text ones, and Windows, refuse it, so that code page is given
// none of those.
struct Repertoire {
    std::initializer_list<const char*> locales;
    std::vector<std::string> bytes;
    std::vector<Wide> units;
};
TEST(WideTest, WholeTextsConvertAsOneCharacterAtATime) {
    const Repertoire repertoires[] = {
        {{"C"}, {"\xE9", "\x80", "\xFF"}, {{0xE9}, {0x80}, {0x65E5}, {0x1234}}},
        {{"C.UTF-8", "en_US.UTF-8"},
         {"\xC3\xA9", "\xE6\x97\xA5", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\x80", "\xFF",
          "\xC0\xAF", "\xE0\x80\x80", "\xE6\x41", "\xC2\x80", "\xC3\xC3", "\xA1"},
         {{0xE9}, {0x65E5}, {0x3042}, {0xD83D, 0xDE00}, {0xDBFF, 0xDFFF}, {0x80}, {0xFF61}}},
        {{".932", "Japanese_Japan.932", "ja_JP.SJIS"},
         {"\x82\xA0", "\x93\xFA", "\xA1"},
         {{0x65E5}, {0x3042}, {0xFF61}, {0x1234}}},
    };
    std::mt19937 random(7);
    std::string missing;
    for (const Repertoire& repertoire : repertoires) {
        const testlocale::ScopedLocale locale(repertoire.locales);
        if (!locale.active()) {
            missing += std::string(*repertoire.locales.begin()) + " ";
        }
        for (int round = 0; locale.active() && round < 400; ++round) {
            std::string bytes;
            Wide units;
            for (auto piece = random() % 5; piece > 0; --piece) {
                const std::string ascii(random() % 41, static_cast<char>(' ' + random() % 95));
                bytes += ascii + repertoire.bytes[random() % repertoire.bytes.size()];
                units += Wide(ascii.begin(), ascii.end()) +
                         repertoire.units[random() % repertoire.units.size()];
                if (random() % 4 == 0) {
                    bytes.pop_back();  // half a character, or none
                }
            }
            Wide wideWant;
            Wide wideGot(units.size() + bytes.size() + 1, 0);
            std::string narrowWant;
            std::string narrowGot(4 * units.size() + 1, 0);
            std::string utf8;
            std::vector<size_t> wideEnds = {0};
            std::vector<size_t> narrowEnds = {0};
            const bool wideOk = wideOneByOne(bytes, wideWant, wideEnds);
            const bool narrowOk = narrowOneByOne(units, narrowWant, narrowEnds);
            const size_t wideCount = multiByteToUtf16(bytes.c_str(), &wideGot[0], wideGot.size());
            const size_t narrowCount =
                utf16ToMultiByte(units.c_str(), &narrowGot[0], narrowGot.size());
            SCOPED_TRACE(locale.name() + ": " + bytes);
            EXPECT_EQ(wideCount, wideOk ? wideWant.size() : kConversionFailed);
            EXPECT_EQ(narrowCount, narrowOk ? narrowWant.size() : kConversionFailed);
            EXPECT_EQ(multiByteToUtf16(bytes.c_str(), nullptr, 0), wideCount);
            EXPECT_EQ(utf16ToMultiByte(units.c_str(), nullptr, 0), narrowCount);
            EXPECT_TRUE(!wideOk || wideGot.c_str() == wideWant);
            EXPECT_TRUE(!narrowOk || narrowGot.c_str() == narrowWant);
            if (locale.name() != "C" && MB_CUR_MAX >= 4) {
                EXPECT_TRUE(utf16ToUtf8(units.c_str(), units.size(), utf8, false));
                EXPECT_EQ(utf8, narrowWant);
            }
            const size_t capacity = random() % (std::max(bytes.size(), narrowWant.size()) + 2);
            Wide wideSome(capacity + 1, 0x7777);
            std::string narrowSome(capacity + 1, 'x');
            const size_t wideFit = multiByteToUtf16(bytes.c_str(), &wideSome[0], capacity);
            const size_t narrowFit = utf16ToMultiByte(units.c_str(), &narrowSome[0], capacity);
            EXPECT_TRUE(!wideOk || (wideFit == fitOf(wideEnds, capacity) &&
                                    wideSome == stored(wideWant, wideEnds, capacity, 0x7777)))
                << capacity;
            EXPECT_TRUE(!narrowOk || (narrowFit == fitOf(narrowEnds, capacity) &&
                                      narrowSome == stored(narrowWant, narrowEnds, capacity, 'x')))
                << capacity;
        }
    }
    // A character that the C runtime would write as no bytes at all (glibc's "C" locale does
    // so for the tag characters, U+E0000 to U+E007F) has no form: it never vanishes from a text.
    const testlocale::ScopedLocale locale({"C"});
    const Wide tagged = {'a', 0xDB40, 0xDC03, 'b'};
    EXPECT_EQ(utf16ToMultiByte(tagged.c_str(), nullptr, 0), kConversionFailed);
    if (!missing.empty()) {
        GTEST_SKIP() << "not in this C runtime: the locale of " << missing;
    }
}

// The block scans at every position of every length up to past their widest step, with the
// units at either edge of ASCII.
TEST(WideTest, FindsTheFirstUnitOfAKindWhereverItIs) {
    const WideUnit inside[] = {1, 'a', 0x7F}, outside[] = {0x80, 0x100, 0x8000, 0x8001, 0xFFFF};
    Wide ascii;
    for (size_t i = 0; i <= 72; ++i) {
        ascii += inside[i % std::size(inside)];
    }
    for (size_t length = 0; length <= 72; ++length) {
        for (size_t at = 0; at <= length; ++at) {
            Wide units = ascii.substr(0, length), zeroed = units;
            std::string bytes(length, 'b'), zeroBytes(length, 'b'), narrow(length, 0);
            if (at < length) {
                units[at] = outside[at % std::size(outside)];
                zeroed[at] = 0;
                bytes[at] = '\x80';
                zeroBytes[at] = 0;
            }
            const size_t text = at < length ? kNotAscii : at;  // the length of a text all ASCII
            EXPECT_EQ(words({asciiPrefix(units.data(), length), asciiPrefix(bytes.data(), length),
                             zeroIndex(zeroed.data(), length),
                             narrowAsciiPrefix(units.data(), length, &narrow[0]),
                             asciiTextLength(zeroed.data(), length),
                             asciiTextLength(zeroBytes.data(), length),
                             asciiTextLength(units.data(), length) == text,
                             asciiTextLength(bytes.data(), length) == text}),
                      words({at, at, at, at, at, at, 1, 1}));
            EXPECT_EQ(narrow.substr(0, at), std::string(ascii.begin(), ascii.begin() + at))
                << length;
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
        const int answer = compareNoCase(a, b, count);
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
    ASSERT_TRUE(utf16ToLong(Wide{'4', '2', 0xD83D, 0xDE00, '7'}.c_str(), 10, number));
    ASSERT_TRUE(utf16ToDouble(Wide{'-', '1', '.', '5', 0xD83D}.c_str(), real));
    EXPECT_EQ(number * 10 + real, 418.5);
}

// Appends ASCII text as one UTF-16 line to the file at a UTF-8 path; `ready`: through the path
// made ready beforehand.
uint32_t append(const std::string& path, const std::string& text, bool ready = false) {
    const Wide line = wide(text + "\r\n");
    return ready ? AppendTarget(wide(path).c_str())
                       .append("\xFF\xFE", 2, line.data(), 2 * line.size())
                 : appendToFile(wide(path).c_str(), "\xFF\xFE", 2, line.data(), 2 * line.size());
}

// The byte order that the ABI header states is the one the compiler stores in.
static_assert(kLittleEndian == (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__));

// Each test works in a folder of its own, as its current folder, that holds the folder "dir"
// and the log file "old.log" with the line "old".
class FileTest : public testing::Test {
  protected:
    void SetUp() override {
#if !defined(_WIN32)
        umask(027);
#endif
        fs::create_directories(m_dir / "dir");
        fs::current_path(m_dir);
        reset();
    }
    void TearDown() override {
        fs::current_path(m_previous);
        fs::remove_all(m_dir);
    }
    static void reset() {
        fs::remove("new.log");
        std::ofstream("old.log", std::ios::binary) << std::string("\xFF\xFEo\0l\0d\0\r\0\n\0", 12);
    }

    // The lines of a sound log file ("-" for none, "!" for a file that is not sound; "(mode)"
    // when its mode is not 0666 less the umask), and the number of entries in the folder.
    static std::string state(const std::string& path) {
        const logfile::Contents contents = logfile::read(fs::u8path(path));
        std::string lines = contents.exists ? "" : "-";
        for (const std::string& line : contents.lines) {
            lines += (lines.empty() ? "" : ",") + line;
        }
#if !defined(_WIN32)
        struct stat status {};
        const bool other = stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
                           (status.st_mode & 0777) != 0640;
        lines += other ? "(mode)" : "";
#endif
        const auto entries = std::distance(fs::directory_iterator("."), fs::directory_iterator());
        return (logfile::sound(contents) || !contents.exists ? lines : "!") + " in " +
               std::to_string(entries);
    }

    const fs::path m_previous = fs::current_path();
    const fs::path m_dir = testpaths::scratchDirectory("qir-file");
};

// Two appends to a path (the second through the path made ready), what the file holds then, two
// deletions and the entries left: the temporary file that a new file is made under never stays.
// So "new.log" -> "0 0 x,y in 3 0 2 in 2": both appends answer 0, the file holds the lines x
// and y and the folder 3 entries; the first deletion answers 0, the second 2 (no such file), and
// no file is left among 2 entries.
const char* const kAppends[][2] = {
    {"new.log", "0 0 x,y in 3 0 2 in 2"},
    {"old.log", "0 0 old,x,y in 2 0 2 in 1"},
    {"dir/new.log", "0 0 x,y in 2 0 2 in 2"},
    {"caf\xC3\xA9-\xE6\x97\xA5-\xF0\x9F\x98\x80.log", "0 0 x,y in 3 0 2 in 2"},
    {"missing/new.log", "3 3 - in 2 2 2 in 2"},
    {"old.log/new.log", "3 3 - in 2 2 2 in 2"},
    {"dir", "5 5 ! in 2 5 5 in 2"},
    {"", "3 3 - in 2 2 2 in 2"},
};

TEST_F(FileTest, AppendsAndDeletes) {
    for (const auto& [path, outcome] : kAppends) {
        const Wide name = wide(path);
        EXPECT_EQ(
            words({append(path, "x"), append(path, "y", true), state(path),
                   deleteFile(name.c_str()), deleteFile(name.c_str()), state(path).substr(2)}),
            outcome)
            << path;
        reset();
    }
    EXPECT_EQ(words({appendToFile(nullptr, "\xFF\xFE", 2, "x", 1), deleteFile(nullptr),
                     AppendTarget(nullptr).append("", 0, "x", 1), AppendTarget().error()}),
              "87 87 87 87");
    // A name too long: POSIX refuses it at once, Wine only when the new file is published.
    EXPECT_NE(append(std::string(300, 'a'), "x"), 0u);
#if !defined(_WIN32)
    // Unpaired surrogates make no UTF-8 file name.
    for (const Wide& path : {Wide{0xD800}, Wide{0xDBFF, 0xE000}, Wide{0xDFFF, 'x'}, Wide{0xDC00}}) {
        EXPECT_EQ(words({appendToFile(path.c_str(), "", 0, "x", 1), deleteFile(path.c_str()),
                         AppendTarget(path.c_str()).append("", 0, "x", 1)}),
                  "123 123 123");
    }
#endif
    EXPECT_EQ(state("old.log"), "old in 2");
    // An empty file whose maker wrote no mark in time gets the mark with the line.
    std::ofstream("empty.log").close();
    EXPECT_EQ(words({append("empty.log", "x"), state("empty.log")}), "0 x in 3");
}

#if !defined(_WIN32)
// A target that is no regular file is refused at once, never written nor waited for: a device
// (the folder is among the appends above), a FIFO that no one reads (ENXIO, which no number
// stands for: 1), a file of a pseudo file system (this thread's name).
TEST_F(FileTest, WritesOnlyToRegularFiles) {
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    EXPECT_EQ(
        words({append("/dev/zero", "x"), append("fifo", "x"), append("/proc/self/comm", "x")}),
        "5 1 5");
}

// A symbolic link to a missing file has the file made where it leads, with its mark, and stays
// a link; in a folder that its group may write, a new file is the group's to write too, and
// never others'. A link that another account made in a folder it does not own makes nothing.
TEST_F(FileTest, MakesAMissingFileThroughItsLinkForTheFolderGroup) {
    ASSERT_EQ(symlink("dir/linked.log", "link.log"), 0);
    ASSERT_EQ(chmod("dir", 02770), 0);
    umask(022);
    EXPECT_EQ(words({append("link.log", "x"), append("link.log", "y", true),
                     state("dir/linked.log"), fs::is_symlink("link.log")}),
              "0 0 x,y(mode) in 3 1");
    umask(0);
    EXPECT_EQ(words({append("new.log", "z"), state("new.log")}), "0 z(mode) in 4");
    struct stat made[2] = {};
    EXPECT_EQ(words({stat("dir/linked.log", &made[0]), made[0].st_mode & 0777,
                     stat("new.log", &made[1]), made[1].st_mode & 0777}),
              "0 436 0 436");  // 0664: the group's by the folder, others' never
    if (geteuid() == 0 && symlink("missing.log", "dir/theirs.log") == 0 &&
        lchown("dir/theirs.log", 65534, 65534) == 0) {
        EXPECT_EQ(words({append("dir/theirs.log", "x"), fs::exists("dir/missing.log")}), "5 0");
        // A folder of another group, without set-group-ID: a new file is given to that group.
        umask(022);
        ASSERT_EQ(chmod("dir", 0770) + chown("dir", 0, 65534), 0);
        EXPECT_EQ(words({append("dir/group.log", "x"), stat("dir/group.log", &made[0]),
                         made[0].st_gid, made[0].st_mode & 0777}),
                  "0 0 65534 436");
    }
}

// What an append would find, told without making or opening anything: the error and the reason,
// for links to missing files (relative to the link's folder, absolute, chained, another
// account's), paths whose folder cannot be reached, and targets that are no regular file.
TEST_F(FileTest, ChecksAnAppendWithoutMakingAnything) {
    // clang-format off
    const std::pair<std::string, std::string> links[] = {
        {"link.log", (fs::current_path() / "dir/made.log").string()}, {"chain.log", "link.log"},
        {"bare.log", "made.log"}, {"dir/up.log", "../gone/x.log"}, {"loop", "loop"},
        {"dir/theirs.log", "x.log"}};
    // clang-format on
    for (const auto& [link, target] : links) {
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    }
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    const bool root = lchown("dir/theirs.log", 65534, 65534) == 0;
    const std::string linked = " is a symbolic link ";
    // clang-format off
    const std::pair<std::string, std::string> checks[] = {
        {"chain.log", "0 "}, {"bare.log", "0 "}, {"", "3 no path"},
        {"dir/up.log", "3 dir/up.log" + linked + "to dir/../gone/x.log, whose folder dir/../gone "
                       "does not exist"},
        {"old.log/x.log", "3 the folder old.log is not a folder"},
        {"loop/x.log", "3 the folder loop: Too many levels of symbolic links"},
        {"loop", "5 this user cannot reach loop: Too many levels of symbolic links"},
        {"fifo", "5 fifo is not a regular file: it is a FIFO"},
        {"/dev/zero", "5 /dev/zero is not a regular file: it is a device"},
        {"dir/theirs.log", root ? "5 dir/theirs.log" + linked + "of another account (uid 65534): "
                                  "no missing file is made through it" : "0 "}};
    // clang-format on
    for (const auto& [path, outcome] : checks) {
        const AppendCheck check = checkAppend(wide(path).c_str());
        EXPECT_EQ(words({check.error, check.reason}), outcome) << path;
    }
    // Where this user may not write; root is another account for it, with a way back.
    ASSERT_EQ(chmod(".", 0755) + chmod("dir", 0555) + chmod("old.log", 0444), 0);
    if (!root || setresuid(65534, 65534, 0) == 0) {
        const AppendCheck file = checkAppend(wide("old.log").c_str());
        const AppendCheck folder = checkAppend(wide("dir/x.log").c_str());
        ASSERT_TRUE(!root || setresuid(0, 0, 0) == 0);
        EXPECT_EQ(words({file.error, file.reason, folder.error, folder.reason}),
                  "5 this user cannot write to old.log: Permission denied 5 this user cannot "
                  "create files in the folder dir: Permission denied");
    }
    const AppendCheck unpaired = checkAppend(Wide{0xD800}.c_str());
    EXPECT_EQ(words({checkAppend(nullptr).error, unpaired.error, unpaired.reason,
                     fs::exists("dir/made.log"), fs::exists("made.log")}),
              "3 123 the path is not valid UTF-16 0 0");
}

// A file size limit lets the system take none of the bytes, half the mark, or the mark only.
TEST_F(FileTest, AWriteCutShortLeavesNoFileWithoutItsMark) {
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    for (const auto& [limit, outcome] :
         {std::pair<rlim_t, std::string>{0, "223 - in 2"}, {1, "29 - in 2"}, {2, "223  in 3"}}) {
        const rlimit lowered{limit, saved.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
        const uint32_t answer = append("new.log", "x");
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(words({answer, state("new.log")}), outcome);
        reset();
    }
    std::signal(SIGXFSZ, handler);
}
#endif

// A call that the system refuses: the append answers the error as the platform maps it, leaves
// no handle open and no temporary file, and the file as it was, or new with its mark alone.
TEST_F(FileTest, ARefusedCallLeavesTheFileSound) {
    ASSERT_EQ(append("new.log", "warm"), 0u);  // the first append may open handles for good
    // clang-format off
    const std::tuple<Site, uint64_t, uint32_t, const char*, const char*> refusals[] = {
        // the file is found gone, then there again: it gets the line, and no second mark
        {Site::FileOpen, 1, 2, "old.log", "0 old,z in 2"},
#if defined(_WIN32)
        // a name taken that opens as no file at every look: a link to a missing file, opened so
        {Site::FileOpen, 0, 2, "old.log", "0 old,z in 2"},
#else
        {Site::FileOpen, 0, 2, "old.log", "2 old in 2"},  // gone at every look: the append gives up
#endif
        {Site::FileOpen, 1, 5, "old.log", "5 old in 2"},
#if defined(_WIN32)
        {Site::FileCreate, 1, 19, "new.log", "19 - in 2"},
#else
        {Site::FileUnnamed, 1, 19, "new.log", "19 - in 2"},
        {Site::FileUnnamed, 1, 50, "new.log", "0 z in 3"},  // no unnamed files: a temporary name
        {Site::FileLink, 1, 50, "new.log", "0 z in 3"},     // nor links to them
        {Site::FileLink, 0, 50, "new.log", "0 z in 3"},     // no links at all: a rename
        {Site::FileLink, 0, 87, "new.log", "0 z in 3"},     // nor here (EINVAL)
        {Site::FileLink, 1, 5, "new.log", "5 - in 2"},
        {Site::FileLink, 1, 2, "new.log", "0 z in 3"},  // no /proc: a temporary name instead
#endif
        {Site::FileWrite, 1, 112, "new.log", "112 - in 2"},  // the mark, into the temporary file
        {Site::FileWrite, 2, 112, "new.log", "112  in 3"},   // the line, into the published file
#if defined(_WIN32)
        {Site::FileWrite, 1, 1359, "old.log", "1359 old in 2"},
#else
        {Site::FileWrite, 1, 1359, "old.log", "1 old in 2"},  // no errno stands for it: generic
#endif
        {Site::FileClose, 0, 1117, "new.log", "0 z in 3"},  // after the bytes were handed over
    };
    // clang-format on
    for (const auto& [site, n, error, name, outcome] : refusals) {
        reset();
        const uint64_t handles = fault::openHandleCount();
        const fault::Failing failing(site, n, error);
        const std::string answer = words({append(name, "z"), state(name)});
        EXPECT_TRUE(answer == outcome && failing.fired() && fault::openHandleCount() == handles)
            << answer << " for " << name << " " << error;
    }
#if !defined(_WIN32)
    // No unnamed files, and then a temporary name refused, or every one taken at every look.
    const fault::Failing unnamed(Site::FileUnnamed, 0, 50);
    for (const auto& [error, outcome] : {std::pair{5u, "5 - in 2"}, {183u, "2 - in 2"}}) {
        reset();
        const fault::Failing named(Site::FileCreate, 0, error);
        EXPECT_EQ(words({append("new.log", "z"), state("new.log")}), outcome) << error;
    }
    // An error's text: the system's own, or its number where no errno stands for it.
    EXPECT_EQ(errorText(1359) + "; " + errorText(5), "error 1359; Permission denied");
#endif
}

// Paths judged by their text alone, on every platform: what Windows would open instead of a file
// ("namespace": a device or pipe namespace, "server": a server's pipes, or the device named),
// "-" for a file. Then long forms of full paths ("-": none) and the longest file name.
const char* const kNames[][2] = {
    {"C:\\logs\\x.log", "-"},
    {"\\\\.\\pipe\\x", "namespace"},
    {"\\\\?\\pipe\\x", "namespace"},
    {"//./pipe/x", "namespace"},
    {"\\/?\\C:\\x.log", "namespace"},
    {"\\??\\C:\\x.log", "namespace"},
    {"\\\\.\\C:\\x.log", "namespace"},
    {"\\\\?\\Volume{1}\\x.log", "namespace"},
    {"\\\\?\\C:", "namespace"},
    {"\\\\?\\C:\\logs\\x.log", "-"},
    {"\\\\?\\unc\\server\\share\\x.log", "-"},
    {"\\\\?\\UNC\\server\\Pipe\\x", "server"},
    {"\\\\server\\pipe\\x", "server"},
    {"//localhost/MAILSLOT/x", "server"},
    {"\\\\server\\pipes\\x.log", "-"},
    {"logs/lpt1.log", "LPT1"},
    {"C:\\a\\Com9.tar.gz", "COM9"},
    {"com0", "COM0"},
    {"CON .log", "CON"},
    {"C:aux", "AUX"},
    {"x\\conout$", "CONOUT$"},
    {"LPT\xC2\xB3.log", "LPT\xC2\xB3"},
    {"NUL:stream", "NUL"},
    {"prn.", "PRN"},
    {"LPT10.log", "-"},
    {"CONSOLE", "-"},
    {"COM.log", "-"},
    {"x.con", "-"},
    {"nul\\x.log", "-"},
    // clang-format off
    {"\\\\?\\\xC3\xA9:\\x.log", "namespace"}, {"\\\\?\\C:/x.log", "namespace"},
    {"\\\\?\\UNC", "namespace"}, {"\\\\?\\UNC\\", "namespace"}, {"/?x/y.log", "-"},
    {"\\\\x\\pipe", "server"}, {"\\\\server", "-"}, {"///x", "-"}, {"a", "-"}, {"logs\\", "-"},
    {"abc1.log", "-"},
    {"COM\xC2\xB9", "COM\xC2\xB9"}, {"lpt\xC2\xB2.txt", "LPT\xC2\xB2"},
    // clang-format on
};
const char* const kLongForms[][2] = {
    {"C:\\x\\y.log", "\\\\?\\C:\\x\\y.log"},
    {"\\\\srv\\share\\y.log", "\\\\?\\UNC\\srv\\share\\y.log"},
    {"\\\\.\\pipe\\x", "-"},
    {"C:x", "-"},
    {"y.log", "-"},
    // clang-format off
    {"C:/x", "-"}, {"1:\\x", "-"}, {"\\\\?\\C:\\x", "-"}, {"\\\\/x", "-"}, {"\\x", "-"},
    // clang-format on
};

TEST(FileNameTest, WindowsDevicesPipesLongFormsAndLongNames) {
    for (const auto& [path, expected] : kNames) {
        const std::string reason = deviceNameProblem(wide(path).c_str());
        const size_t device = reason.find("the device ");
        const std::string found =
            reason.empty()                                         ? "-"
            : reason.find("device namespace") != std::string::npos ? "namespace"
            : reason.find("of a server") != std::string::npos      ? "server"
            : device == std::string::npos
                ? reason
                : reason.substr(device + 11, reason.find(" on Windows") - device - 11);
        EXPECT_EQ(found, expected) << path;
    }
    for (const auto& [path, expected] : kLongForms) {
        const Wide form = longPathForm(wide(path).c_str());
        EXPECT_EQ(form.empty() ? "-" : fs::path(form).u8string(), expected) << path;
    }
    EXPECT_TRUE(deviceNameProblem(nullptr).empty() && longPathForm(nullptr).empty() &&
                nameLengthProblem(nullptr).empty());
    const std::string folder = "d\\";
    EXPECT_EQ(nameLengthProblem(wide(folder + std::string(255, 'n')).c_str()), "");
    EXPECT_EQ(nameLengthProblem(wide(folder + std::string(256, 'n')).c_str()),
              "its file name is 256 characters long, and file systems take at most 255");
}

// Reading HKEY_LOCAL_MACHINE: one .reg text, imported into the real registry on Windows and
// read as the .reg file on POSIX, and what each query of it answers.
const char kRegistry[] = R"([$\Values]|"Text"="C:\\Logs\\\"q\""|"Abc"="abc"|"Empty"=""
"Mask"=dword:FEdcba98|"Blob"=hex:01,ab,FF,00|"Nothing"=hex:|"Raw"=hex(0):01,02
"List"=hex(7):61,00,00,00,62,00,00,00,00,00|"Big"=hex(b):88,77,66,55,44,33,22,11
"Expand"=hex(2):25,00,54,00,25,00,00,00|"Typed"=hex(4):2b,01,00,00|"Long"=hex:01,02,\
  03,04,\
	05
@="standard"|"MiXeD"=dword:00000007|"Quote\"And\\Slash"="v"|"Twice"="first"|"TWICE"=dword:2
[$\Order\beta]|[$\Order\Alpha]|[$\Order\x9]|[$\Order\GAMMA]|[$\Order\alpha2]|[$\Order\X10]
[$\Order\b]|[$\Order\delta]|[$\Mixed\Case]|"Value"="x"|[$\MIXED\CASE]|"Other"="y"
[$\Deep\A\B\C]|"Leaf"=dword:00000001|; [$\Commented]|[$\Size\Sixsix]
[$\Keep]|@="default"|"Gone"="x"|"Stays"="y"|;"Hidden"="x"|   ; an indented comment

[$\Doomed\Child]|[$\Again]|"Old"="1"|[$\Keep]|"Gone"=-|@=-|[-$\Doomed]|[-$\Again]|[$\Again]
"New"="2"|[-$\NeverThere])";

// Queries and their answers, " | " between rows. "PATH" (below the test's root; "\..." before
// it) lists the subkeys, read into names of "*UNITS" units; "PATH>NAME" reads a value ("@": a
// null name) into a buffer of "/BYTES" bytes ("/-": no buffer). Answers: "open ERROR"; the
// names ("#ERROR" for one not read); "ERROR:SIZE"; or "0:" and the data (testreg::shown).
const char kQueries[] = R"( = Again Deep Keep Mixed Order Size Values | Deep\A\B\C = (none)
Order = Alpha alpha2 b beta delta GAMMA X10 x9 | Mixed = Case | Size*6 = #234 | Size*0 = #234
Deep = A | Deep\A\B = C | Deep\A\\B\\ = C | deep\a\b\\\C>leaf = 0:01000000 | \Deep = open 161
Deep\A\B>Leaf = 2:256 | Size*7 = Sixsix | Absent = open 2 | Deep\Absent = open 2 | Dee = open 2
Doomed = open 2 | Doomed\Child = open 2 | Commented = open 2 | mIXED\cASE>VALUE = 0:"x"
Mixed\Case>other = 0:"y" | Keep>Gone = 2:256 | Keep>@ = 2:256 | Keep> = 2:256 | Keep>x = 2:256
Keep>Hidden = 2:256 | Keep>Stays = 0:"y" | Again>Old = 2:256 | Again>New = 0:"2"
Values>Text = 0:"C:\Logs\"q"" | Values>Empty = 0:"" | Values>Mask = 0:98badcfe
Values>Blob = 0:01abff00 | Values>Nothing = 0: | Values>Raw = 0:0102 | Values>Presen = 2:256
Values>List = 0:61000000620000000000 | Values>Big = 0:8877665544332211 | Values>@ = 0:"standard"
Values>Expand = 0:"%T%" | Values>Typed = 0:2b010000 | Values>Long = 0:0102030405
Values> = 0:"standard" | Values>mixed = 0:07000000 | Values>Quote"And\Slash = 0:"v"
Values>twice = 0:02000000 | Values>Abc/8 = 0:"abc" | Values>Abc/7 = 234:8 | Values>Abc/0 = 234:8
Values>Abc/- = 0:8 | Values>Mask/3 = 234:4)";

std::string ask(const std::string& root, const std::string& query) {
    const size_t end = std::min({query.find('>'), query.find('*'), query.size()});
    const std::string path = query.substr(0, end), rest = query.substr(end);
    const std::string full = path[0] == '\\' ? "\\" + root + path : root + (end ? "\\" : "") + path;
    RegistryKey key;
    const uint32_t opened = openRegistryKey(wide(full).c_str(), key);
    if (opened != 0 || !key) {
        return words({"open", opened}) + (key ? " with a key" : "");
    }
    if (rest[0] != '>') {
        uint32_t count = 0;
        std::string names = registrySubkeyCount(key, count) == 0 ? "" : "no count";
        WideUnit name[256];
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t error =
                registrySubkeyName(key, i, name, rest.empty() ? 256 : std::atoi(&rest[1]));
            names += (i == 0 ? "" : " ") +
                     (error != 0 ? "#" + std::to_string(error)
                                 : std::string(name, std::find(name, name + 256, 0)));
        }
        const bool past = registrySubkeyName(key, count, name, 256) == 259 &&
                          registrySubkeyName(key, count + 9, name, 256) == 259;
        return (count == 0 ? "(none)" : "") + names + (past ? "" : " no 259");
    }
    const size_t slash = std::min(rest.find('/'), rest.size());
    const std::string name = rest.substr(1, slash - 1);
    const bool none = rest.find("/-") != std::string::npos;
    uint32_t size = slash == rest.size() ? 256 : std::atoi(&rest[slash + 1]);
    std::string data(257, '\xA5');
    const uint32_t error = registryQueryValue(key, name == "@" ? nullptr : wide(name).c_str(),
                                              none ? nullptr : &data[0], size);
    return error != 0 || none
               ? std::to_string(error) + ":" + std::to_string(size)
               : "0:" + testreg::shown(reinterpret_cast<const uint8_t*>(data.data()), size) +
                     (data[size] == '\xA5' ? "" : " and more");
}

TEST(RegistryTest, AnswersEachQueryAsWindowsDoes) {
    const std::string root = testreg::uniqueRoot("Registry");
    const testreg::TempRegistry registry(testreg::regFile(kRegistry, "\\" + root), {root});
    ASSERT_EQ(registry.failure(), "");
    const std::string queries = testreg::replaced(kQueries, "\n", " | ") + " | ";
    for (size_t start = 0, end = 0; (end = queries.find(" | ", start)) != std::string::npos;
         start = end + 3) {
        const std::string row = queries.substr(start, end - start);
        const size_t is = row.find(" = ");
        EXPECT_EQ(ask(root, row.substr(0, is)), row.substr(is + 3)) << row;
    }
    // An owner without a key answers 6 and leaves the outputs alone.
    const RegistryKey none;
    uint32_t count = 7;
    EXPECT_EQ(words({registrySubkeyCount(none, count), registrySubkeyName(none, 0, nullptr, 8),
                     registryQueryValue(none, nullptr, nullptr, count), count}),
              "6 6 6 7");
}

}  // namespace
