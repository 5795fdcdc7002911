// The logging framework of the core: records and their serialised form, the configuration read
// from the registry, the logger's filters and outputs, the text output's lines, the one-time
// set-up and its lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <future>
#include <numeric>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>
#include <utility>

#include "alloc_seam.h"
#include "log_capture.h"
#include "log_text.h"
#include "qir_library.h"
#include "qir_sys/error.h"
#include "qir_sys/fault.h"
#include "test_paths.h"

namespace {

namespace fs = std::filesystem;
using logtext::ascii;
using logtext::pathText;
using logtext::w;
using Bytes = std::vector<unsigned char>;
using Outcome = CQIRLogConfigWindows::Outcome;
using qir::sys::fault::Site;

Bytes hex(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// record("K::f", {10, 11, 12}): total, severity, code, line, thread, process; message, task
// (a lone surrogate has no 8-bit form: empty), class, function, file, application, time, each
// as format 1, length, text, terminator; the data.
const Bytes kFull = hex(
    "4f000000 04000000 05000000 07000000 08000000 09000000 01020000006d00 010100000000 "
    "01020000004b00 01020000006600 01020000007800 01020000006100 01020000005400 03000000 0a0b0c");
// A reset record: no texts, no data, the thread's last error (77) as its code.
const Bytes kReset =
    hex("46000000 00000000 4d000000 ffffffff ffffffff ffffffff 010100000000 010100000000 "
        "010100000000 010100000000 010100000000 010100000000 010100000000 00000000");

CQIRLogData record(const std::string& function, const Bytes& data = {},
                   uint32_t severity = QIR_LOG_ERROR) {
    const qir_wchar_t surrogate[] = {0xD800, 0};
    return CQIRLogData(severity, w("m"), 5, CQIRLogStringWChar(surrogate), data.data(),
                       static_cast<uint32_t>(data.size()), 8, 9, w("a"), w("T"), w(function),
                       w("x"), 7);
}

// The record's form: exactly serializedSize() bytes, refused with one byte less.
Bytes serialized(const CQIRLogData& data) {
    const uint32_t size = data.serializedSize();
    Bytes out(size + 1, 0xEE);
    EXPECT_FALSE(data.serialize(out.data(), size - 1) || data.serialize(nullptr, size));
    EXPECT_TRUE(std::count(out.begin(), out.end(), 0xEE) == size + 1 &&
                data.serialize(out.data(), size) && out.back() == 0xEE);
    out.pop_back();
    return out;
}

// kFull cut or padded to `size` bytes, changed at `at` to `patch`, read into a record holding
// data: `left` bytes stay unread; -1: refused, the record reset; -2: refused, the record kept.
// A worked row: {79, 25, "ffffffff", -1} gives the message a length of 0xffffffff (its four
// bytes start at 25): the form is refused and the record reset.
TEST(LogDataTest, FormsAreReadWholeOrRefusedWithoutAllocatingFromTheirNumbers) {
    for (const auto& [size, at, patch, left] :
         std::initializer_list<std::tuple<size_t, long, const char*, int>>{
             {79, 0, "", 0},
             {80, 79, "55", 1},
             {69, 0, "", -2},
             {79, 0, "03000000", -1},
             {79, 0, "ffffffff", -1},
             {79, 25, "ffffffff", -1},
             {79, 72, "ffffffff", -1}}) {
        Bytes bytes = kFull;
        const Bytes changes = hex(patch);
        bytes.resize(size);
        std::copy(changes.begin(), changes.end(), bytes.begin() + at);
        CQIRLogData data = record("X::y", Bytes{1}, QIR_LOG_DEBUG);
        const Bytes before = serialized(data);
        uint32_t consumed = 99;
        qir::sys::setLastError(77);
        allocseam::Counting counting;
        const bool read = data.deserialize(bytes.data(), static_cast<uint32_t>(size), consumed);
        EXPECT_LT(counting.largest(), 256u) << patch;
        EXPECT_EQ(consumed, read ? size - left : 99u) << patch;
        EXPECT_EQ(serialized(data), left >= 0 ? kFull : (left == -1 ? kReset : before)) << patch;
    }
}

TEST(LogDataTest, CopiesCutsRefusedAllocationsAndTheTimeText) {
    const CQIRLogData copy(record("K::f", Bytes{10, 11, 12}));
    CQIRLogData data = record("");
    data = copy;
    data = *&data;
    EXPECT_NE(data.getData(), copy.getData());
    EXPECT_EQ(serialized(data), kFull);
    EXPECT_FALSE(data.setData(nullptr, 3));
    {
        allocseam::Failing failing(1);
        EXPECT_FALSE(data.setData(kFull.data(), 3));
    }
    // A record without data takes an empty input as a reset and reads a reset record back; one
    // with data refuses it.
    uint32_t consumed = 0;
    EXPECT_FALSE(CQIRLogData(copy).deserialize(nullptr, 0, consumed));
    qir::sys::setLastError(77);
    EXPECT_TRUE(data.deserialize(nullptr, 0, consumed) &&
                data.deserialize(kReset.data(), 70, consumed));
    EXPECT_EQ(serialized(data), kReset);
    for (uint32_t length = 1; length < kFull.size(); ++length) {
        EXPECT_FALSE(data.deserialize(kFull.data(), length, consumed)) << length;
    }
    // Each severity's name as a line shows it, and one for none of them.
    std::string names;
    for (uint32_t severity = 1; severity <= 2048; severity <<= 1) {
        names += ascii(CQIRLogStringWChar(qirSeverityName(severity))) + " ";
    }
    EXPECT_EQ(names,
              "CRITICAL EXCEPTION ERROR WARNING DEBUG INFORMATION SUCCESS FAILURE "
              "UNIT_TEST_FAILURE AUDIT_SUCCESS AUDIT_FAILURE UNSPECIFIED ");
    // The runtime's own text, with the day of the month as two digits.
    const auto runtime = [] {
        char text[32] = {};
        const std::time_t now = std::time(nullptr);
        return std::string(
            text, std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y", std::localtime(&now)));
    };
    const std::string before = runtime();
    const std::string ours = ascii(qirLogTimeText());
    const std::string after = runtime();
    EXPECT_TRUE(ours == before || ours == after) << ours << " vs " << before;
}

// The .reg bytes of UTF-16 text, ',' standing for a terminator.
std::string hexUnits(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        out += std::string(",") + "0123456789abcdef"[c == ',' ? 0 : c >> 4] +
               "0123456789abcdef"[c == ',' ? 0 : c & 15] + ",00";
    }
    return out.substr(1);
}

// Outputs under Software\Halvex\Logs for the application A or for Default, into the test's
// folder, and records of thread 11.
class LoggerTest : public testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // The record "severity|application|class::function".
    static CQIRLogData recordOf(const std::string& shape) {
        const size_t app = shape.find('|') + 1;
        const size_t function = shape.rfind('|') + 1;
        return CQIRLogData(std::stoul(shape), w("m"), 0, w("t"), nullptr, 0, 11, 7,
                           w(shape.substr(app, function - 1 - app)), w("T"),
                           w(shape.substr(function)), w(""), 1);
    }

    // .reg text from "key:Name=data ...;key:...": each key an output into <its last name>.log,
    // with the values given replacing its own; a filter list's data is its names joined by ','.
    std::string registry(const std::string& shape) const {
        std::string text = "Windows Registry Editor Version 5.00\n\n";
        std::istringstream sections(shape);
        for (std::string section; std::getline(sections, section, ';');) {
            const std::string key = section.substr(0, section.find(':'));
            std::istringstream in(section.substr(key.size() + 1));
            std::string values;
            for (std::string item; in >> item;) {
                const size_t is = item.find('=');
                const std::string data = item.substr(is + 1);
                const bool list =
                    item.find("s=") == is - 1 && data.find_first_of("\":") == std::string::npos;
                values += "\"" + item.substr(0, is) +
                          "\"=" + (list ? "hex(7):" + hexUnits(data + ",,") : data) + "\n";
            }
            text += LogCapture::output("Software\\Halvex\\Logs\\" + key,
                                       dir / (key.substr(key.rfind('\\') + 1) + ".log"), values);
        }
        return text;
    }

    // The folder's files with their line counts, in order.
    std::string files() const {
        std::set<std::string> found;
        for (const auto& file : fs::directory_iterator(dir)) {
            found.insert(file.path().filename().string() + ":" +
                         std::to_string(logfile::read(file.path()).lines.size()) + " ");
        }
        return std::accumulate(found.begin(), found.end(), std::string());
    }

    const fs::path dir = testpaths::scratchDirectory("qir-logger");
    CQIRMutexLW lock;
    CQIRLogStringWChar name;
    CQIRLogger logger{lock, name};
};

// One configuration object and one logger, loaded and configured again for each registry
// ("=": the one before), and a record: the files it goes to and write's answer. A worked row:
// {"Default\\a:AllowObjects=B,K", "4|h|K::f", "a.log:1 +"}: Default's one output a lets the
// objects B and K through; an error (4) of the application h from K::f is one line in a.log,
// and write answers true (+).
TEST_F(LoggerTest, TheRegistryDecidesTheEntriesAndWhereARecordGoes) {
    const std::string folder = (dir / "").string();
    const std::string x(259 - folder.size(), 'x');
    const std::string z(259 - folder.size(), 'z');
    const std::string rows[][3] = {
        // The application's key, whose entries keep their place when disabled, and where
        // application lists are not read. Targets: at most 259 characters and a terminator in
        // 520 bytes, or the data; 260 characters without one are none. A string as a list; lists
        // end at an empty string and leave out an unterminated one.
        {"Default\\d:;A\\c:AllowApplications=n;A\\a:Enabled=dword:00000000;A\\B:Enabled=-;A\\1:"
         "Target=hex:" +
             hexUnits(folder + x + ",") + ";A\\2:Target=hex:" + hexUnits(folder + x + "y,") +
             ";A\\3:Target=hex:" + hexUnits(folder + z + "q") +
             ";A\\4:Target=hex:" + hexUnits(folder + "u") +
             ";A\\5:Target=\"\";A\\6:AllowObjects=\"C\";A\\7:ExcludeObjects=hex:41,00,00,00,42,00;"
             "A\\8:AllowObjects=A,,B",
         "4|h|B::f", "7.log:1 c.log:1 u:1 " + x + ":1 -"},
        {"", "4|h|K::f", "+"},
        {"A:Stray=dword:00000001;Default\\d:", "4|h|K::f", "+"},
        // A number that does not fit its four bytes reads as 0, whatever the buffer got.
        {"Default\\d:Detail=dword:0000000c;Default\\q:Detail=hex(b):0c,00,00,00,00,00,00,00;"
         "Default\\t:Type=hex:01,00;Default\\o:Type=dword:00000002;Default\\s:SeparateThreads="
         "dword:00000001;Default\\an:AllowApplications=n,c;Default\\ad:AllowApplications=d "
         "ExcludeApplications=d;Default\\ob:AllowObjects=B;Default\\ok:AllowObjects=B,K;"
         "Default\\xk:ExcludeObjects=K",
         "4|c|K::f", "an.log:1 d.log:1 ok.log:1 s_11.log:1 t.log:1 -"},
        {"=", "20|d|f", "an.log:1 d.log:1 ok.log:1 s_11.log:2 t.log:2 xk.log:1 -"},
        // Without a target no file is named, not even "_11" in the current folder.
        {"Default\\n:SeparateThreads=dword:00000001 Target=-", "4|h|K::f", "-"},
        {"Default\\a:AllowObjects=B,K", "4|h|K::f", "a.log:1 +"},
    };
    // Only the logs key is opened from the top, every other key below it through openKey (so
    // that on POSIX one parse of the file serves a load): any other open of a load fails.
    struct Config : CQIRLogConfigWindows {
        using CQIRLogConfigWindows::CQIRLogConfigWindows;
        uint32_t openKey(const qir::sys::RegistryKey& parent, const CQIRLogStringWChar& path,
                         qir::sys::RegistryKey& key) override {
            const qir::sys::fault::Failing through(Site::RegistryOpen, UINT64_MAX, 0);
            fromTop += !parent;
            return CQIRLogConfigWindows::openKey(parent, path, key);
        }
        int fromTop = 0;
    } config(w("A"));
    std::optional<testreg::TempRegistry> reg;
    for (const auto& [shape, fields, expected] : rows) {
        SCOPED_TRACE(shape);
        if (shape != "=") {
            SetUp();
            reg.reset();
            reg.emplace(registry(shape),
                        std::vector<std::string>{"Software\\Halvex\\Logs\\A",
                                                 "Software\\Halvex\\Logs\\Default"});
            ASSERT_EQ(reg->failure(), "");
        }
        // Each load tells what it found itself: no key, and with it the error, for none.
        const qir::sys::fault::Failing elsewhere(Site::RegistryOpen, 0, 5);
        const bool loaded = config.load();
        const bool none = config.getOutcome() == Outcome::NoKey;
        EXPECT_EQ(std::exchange(config.fromTop, 0), 1);
        EXPECT_EQ(loaded, config.getOutcome() == Outcome::Loaded);
        EXPECT_TRUE(config.getError() == (none ? 2u : 0u) &&
                    config.getChosenKey().isEmpty() == none);
        EXPECT_TRUE(logger.configure(config.getEntries()));
        const bool written = logger.write(recordOf(fields));
        EXPECT_EQ(files() + (written ? "+" : "-"), expected);
        EXPECT_FALSE(fs::exists("_11"));
    }
    // No memory while configuring, one allocation after the other: a write answers whether
    // it wrote its line, unless the logger was left without entries.
    for (uint64_t n = 1, fired = 1; fired; ++n) {
        const size_t lines = logfile::read(dir / "a.log").lines.size();
        {
            allocseam::Failing failing(n);
            logger.configure(config.getEntries());
            fired = failing.fired();
        }
        const bool written = logger.write(recordOf("4|h|K::f"));
        EXPECT_EQ(written,
                  logger.getEntryCount() == 0 || logfile::read(dir / "a.log").lines.size() > lines);
    }
    // No memory while loading, one allocation after the other: the load has every entry or
    // none; once, the entries themselves cannot be had.
    ASSERT_TRUE(config.load());
    const uint32_t all = config.getEntries().getCount();
    bool noMemory = false;
    for (uint64_t n = 1, fired = 1; fired; ++n) {
        allocseam::Failing failing(n);
        const bool loaded = config.load();
        fired = failing.fired();
        noMemory = noMemory || config.getOutcome() == Outcome::NoMemory;
        EXPECT_EQ(config.getEntries().getCount(), loaded ? all : 0u) << n;
    }
    EXPECT_TRUE(noMemory);
}

// Loads of one configuration object, each with a step that fails, the n-th of its kind or every
// one (0): the program's key A, with the outputs p, q and r, and Default beside it. Each load
// tells what it found itself: the key chosen, the outcome, the error and the entries enabled.
TEST_F(LoggerTest, EachLoadTellsWhatItFoundWhereAStepFails) {
    const testreg::TempRegistry reg(
        registry("A\\p:;A\\q:;A\\r:;Default\\d:"),
        {"Software\\Halvex\\Logs\\A", "Software\\Halvex\\Logs\\Default"});
    ASSERT_EQ(reg.failure(), "");
    struct Row {
        Site site;
        uint64_t n;  // opens: 1 the logs key, 2 A, then its subkeys; q is the second of each kind
        uint32_t error;
        const char* expected;
    };
    const Row rows[] = {
        {Site::RegistryCount, 0, 1450, "A 3 1450 "},
        {Site::RegistryOpen, 2, 5, "A 3 5 "},  // a denied program key is no reason to use Default
        {Site::RegistryOpen, 2, 2, "Default 1 0 1"},
        {Site::RegistryOpen, 4, 2, "A 1 0 100"},  // a vanished subkey ends the walk
        {Site::RegistryOpen, 4, 5, "A 1 0 101"},
        {Site::RegistryOpen, 4, 6, "A 1 0 100"},  // so does one whose handle is no longer valid
        {Site::FileOpen, 0, 0, "A 1 0 111"},
        {Site::RegistryName, 2, 234, "A 1 0 101"},
        {Site::RegistryName, 0, 234, "A 1 0 000"},
        {Site::RegistryQuery, 8, 5, "A 1 0 101"},  // q's "Enabled"
        {Site::RegistryQuery, 0, 5, "A 1 0 000"},
        {Site::RegistryOpen, 0, 2, "<empty> 2 2 "},
    };
    CQIRLogConfigWindows config(w("A"));
    for (const Row& row : rows) {
        const qir::sys::fault::Failing failing(row.site, row.n, row.error);
        config.load();
        std::string enabled;
        for (uint32_t i = 0; i < config.getEntries().getCount(); ++i) {
            enabled += config.getEntries().getEntries()[i].m_bEnabled ? "1" : "0";
        }
        const std::string key = ascii(config.getChosenKey());
        EXPECT_EQ(key.substr(key.find_last_of('\\') + 1) + " " +
                      std::to_string(static_cast<int>(config.getOutcome())) + " " +
                      std::to_string(config.getError()) + " " + enabled,
                  row.expected)
            << row.n;
    }
}

// The line's layout: numbers as signed decimals, the code in hex, the file after its last
// '\' or '/'; each line appended whole to a file that begins with the byte order mark; no line
// appended, false. Per-thread files: the thread before the extension of the file's name.
TEST_F(LoggerTest, TheTextOutputAppendsOneLinePerRecord) {
    const CQIRLogData data(3, w(""), 0xdeadbeef, w(""), nullptr, 0, 0x80000000, 0xFFFFFFFF, w(""),
                           w("Fri Dec 04 09:41:24 2026"), w("a:b"), w("C:\\x/y.h"), 0xFFFFFFFF);
    const CQIRLogStringWChar file = pathText(dir / "out.log");
    const CQIRLogStringWChar none = pathText(dir / "none.log");
    CQIRLogOutputTextWindows output(none);  // made ready for another file than it writes first
    ASSERT_TRUE(output.write(data, file) && output.write(data, file));
    const logfile::Contents contents = logfile::read(dir / "out.log");
    EXPECT_TRUE(logfile::sound(contents) && output.getType() == 1);
    EXPECT_EQ(contents.lines,
              std::vector<std::string>(
                  2,
                  "<Fri Dec 04 09:41:24 2026> <UNSPECIFIED> < : -1, -2147483648> <::a:b> <\"\"> "
                  "<While performing task: \"\"> <Return Code: 0xdeadbeef> <y.h> <-1>"));
    EXPECT_FALSE(output.write(data, pathText(dir / "no" / "x.log")) ||
                 output.write(data, CQIRLogStringWChar()));
    {
        allocseam::Failing failing(0);
        EXPECT_FALSE(output.write(data, none));
    }
    {
        qir::sys::fault::Failing failing(qir::sys::fault::Site::FileWrite, 1, 112);
        EXPECT_FALSE(output.write(data, file));
    }
    // A line longer than most is composed on the heap: appended whole, or not at all.
    const CQIRLogData longer(3, w(std::string(600, 'm').c_str()), 0, w(""), nullptr, 0, 1, 2, w(""),
                             w(""), w(""), w(""), 3);
    {
        allocseam::Failing failing(0);
        EXPECT_FALSE(output.write(longer, file));
    }
    ASSERT_TRUE(output.write(longer, file));
    EXPECT_EQ(logfile::read(dir / "out.log").lines.back(),
              "<> <UNSPECIFIED> < : 2, 1> <::> <\"" + std::string(600, 'm') +
                  "\"> <While performing task: \"\"> <Return Code: 0x00000000> <> <3>");
    EXPECT_TRUE(output.clear(file) && output.clear(file) && !output.clear(CQIRLogStringWChar()) &&
                !output.clear(pathText(dir)));
    EXPECT_TRUE(fs::is_empty(dir) && output == CQIRLogOutputTextWindows());
    EXPECT_EQ(ascii(qirPerThreadFileName(w("C:/a.b\\x"), 4294967295u)) +
                  ascii(qirPerThreadFileName(w("/a.b/c.d.e"), 7)),
              "C:/a.b\\x_-1/a.b/c.d_7.e");
}

// The set-up: the program's name is its file's. A report that finds the lock taken waits until
// its holder lets go, and sets up itself if the holder did not; one without a mutex goes on at
// once.
TEST_F(LoggerTest, TheSetUpNamesTheProgramAndReportsWaitForIt) {
    logger.ensureInitialized();
    EXPECT_EQ(ascii(name), LogCapture::programName());
    struct Watched : CQIRMutexLW {
        bool lock(uint32_t timeout) override {
            waiting = waiting || timeout != 0;
            return CQIRMutexLW::lock(timeout);
        }
        std::atomic<bool> waiting{false};
    } held;
    struct Broken : CQIRMutexLW {
        Broken() {
            qir::sys::closeMutex(m_hMutex);
            m_hMutex = nullptr;
        }
    } broken;
    CQIRLogStringWChar none;
    ASSERT_TRUE(held.tryLock());
    std::atomic<bool> released{false};
    auto report = std::async(std::launch::async, [&] {
        CQIRLogger(held, none).ensureInitialized();
        return released.load();
    });
    while (!held.waiting && report.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        std::this_thread::yield();
    }
    released = true;
    EXPECT_TRUE(held.unlock() && report.get());
    // Its holder did not set up (a fork holds it a moment): the waiter did.
    EXPECT_EQ(ascii(none), LogCapture::programName());
    none = CQIRLogStringWChar();
    EXPECT_TRUE(CQIRLogger(broken, none).ensureInitialized() && none.isEmpty());
    EXPECT_FALSE(broken.isValid() || broken.lock(0) || broken.tryLock() || broken.unlock());
}

}  // namespace
