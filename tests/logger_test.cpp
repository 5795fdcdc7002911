// The logger with its configuration, its text output and its set-up lock: registry values read
// into entries, records through the filters into files, the line's layout, the one-time set-up.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <optional>
#include <set>
#include <sstream>

#include "alloc_seam.h"
#include "log_capture.h"
#include "log_text.h"
#include "qir_logger.h"
#include "qir_sys/fault.h"
#include "test_paths.h"

namespace {

namespace fs = std::filesystem;
using logtext::ascii;
using logtext::pathText;
using logtext::w;
using Outcome = CQIRLogConfigWindows::Outcome;

// The .reg bytes of UTF-16 text, ',' standing for a terminator.
std::string hexUnits(const std::string& text) {
    std::string out;
    for (char c : text) {
        char unit[8];
        std::snprintf(unit, sizeof unit, ",%02x,00", c == ',' ? 0 : static_cast<unsigned char>(c));
        out += unit;
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
    static CQIRLogData record(const std::string& spec) {
        const size_t app = spec.find('|') + 1, function = spec.rfind('|') + 1;
        return CQIRLogData(std::stoul(spec), w("m"), 0, w("t"), nullptr, 0, 11, 7,
                           w(spec.substr(app, function - 1 - app)), w("T"),
                           w(spec.substr(function)), w(""), 1);
    }

    // .reg text from "key:Name=data ...;key:...": each key an output into <its last name>.log,
    // with the values given replacing its own; a filter list's data is its names joined by ','.
    std::string registry(const std::string& spec) const {
        std::string text = "Windows Registry Editor Version 5.00\n\n";
        std::istringstream sections(spec);
        for (std::string section; std::getline(sections, section, ';');) {
            const std::string key = section.substr(0, section.find(':'));
            std::istringstream in(section.substr(key.size() + 1));
            std::string values;
            for (std::string item; in >> item;) {
                const size_t is = item.find('=');
                std::string data = item.substr(is + 1);
                if (item.find("s=") == is - 1 && data.find_first_of("\":") == std::string::npos) {
                    data = "hex(7):" + hexUnits(data + ",,");
                }
                values += "\"" + item.substr(0, is) + "\"=" + data + "\n";
            }
            const std::string file = key.substr(key.rfind('\\') + 1) + ".log";
            text += LogCapture::output("Software\\Halvex\\Logs\\" + key, dir / file, values);
        }
        return text;
    }

    // The folder's files with their line counts.
    std::string files() const {
        std::set<std::string> found;
        for (const auto& file : fs::directory_iterator(dir)) {
            const size_t lines = logfile::read(file.path()).lines.size();
            found.insert(file.path().filename().string() + ":" + std::to_string(lines) + " ");
        }
        std::string out;
        for (const std::string& entry : found) {
            out += entry;
        }
        return out;
    }

    const fs::path dir = testpaths::scratchDirectory("qir-logger");
    CQIRMutexLW lock;
    CQIRLogStringWChar name;
    CQIRLogger logger{lock, name};
};

// One configuration object and one logger, loaded and configured again for each registry
// ("=": the one before), and a record: the files it goes to and write's answer.
TEST_F(LoggerTest, TheRegistryDecidesTheEntriesAndWhereARecordGoes) {
    const std::string folder = (dir / "").string();
    const std::string x(259 - folder.size(), 'x'), z(259 - folder.size(), 'z');
    const std::string rows[][3] = {
        // The application's key, whose entries keep their place when disabled, and where
        // application lists are not read. Targets: at most 259 characters and a terminator in
        // 520 bytes, or the data, or 259 characters without one. A string as a list; lists
        // end at an empty string and leave out an unterminated one.
        {"Default\\d:;A\\c:AllowApplications=n;A\\a:Enabled=dword:00000000;A\\B:Enabled=-;"
         "A\\1:Target=hex:" +
             hexUnits(folder + x + ",") + ";A\\2:Target=hex:" + hexUnits(folder + x + "y,") +
             ";A\\3:Target=hex:" + hexUnits(folder + z + "q") +
             ";A\\4:Target=hex:" + hexUnits(folder + "u") +
             ";A\\5:Target=\"\";A\\6:AllowObjects=\"C\";A\\7:ExcludeObjects=hex:41,00,00,00,42,00;"
             "A\\8:AllowObjects=A,,B",
         "4|h|B::f", "7.log:1 c.log:1 u:1 " + x + ":1 " + z + ":1 -"},
        {"", "4|h|K::f", "+"},
        {"A:Stray=dword:00000001;Default\\d:", "4|h|K::f", "+"},
        // A number that does not fit its four bytes reads as 0, whatever the buffer got.
        {"Default\\d:Detail=dword:0000000c;Default\\q:Detail=hex(b):0c,00,00,00,00,00,00,00;"
         "Default\\t:Type=hex:01,00;Default\\o:Type=dword:00000002;Default\\s:SeparateThreads="
         "dword:00000001;Default\\an:AllowApplications=n,c;Default\\ad:AllowApplications=d "
         "ExcludeApplications=d;Default\\ob:AllowObjects=B;Default\\ok:AllowObjects=B,K;"
         "Default\\xk:ExcludeObjects=K",
         "4|c|K::f", "an.log:1 d.log:1 ok.log:1 s_11.log:1 t.log:1 -"},
        {"=", "16|d|f", "an.log:1 d.log:1 ok.log:1 s_11.log:2 t.log:2 xk.log:1 -"},
        // Without a target no file is named, not even "_11" in the current folder.
        {"Default\\n:SeparateThreads=dword:00000001 Target=-", "4|h|K::f", "-"},
        {"Default\\a:AllowObjects=B,K", "4|h|K::f", "a.log:1 +"},
    };
    CQIRLogConfigWindows config(w("A"));
    std::optional<testreg::TempRegistry> reg;
    for (const auto& [spec, fields, expected] : rows) {
        SCOPED_TRACE(spec);
        if (spec != "=") {
            SetUp();
            reg.reset();
            reg.emplace(registry(spec),
                        std::vector<std::string>{"Software\\Halvex\\Logs\\A",
                                                 "Software\\Halvex\\Logs\\Default"});
            ASSERT_EQ(reg->failure(), "");
        }
        // Each load tells what it found itself: no key, and with it the error, for none.
        const bool loaded = config.load(), none = config.getOutcome() == Outcome::NoKey;
        EXPECT_EQ(loaded, config.getOutcome() == Outcome::Loaded);
        EXPECT_TRUE(config.getError() == (none ? 2u : 0u) &&
                    config.getChosenKey().isEmpty() == none);
        EXPECT_TRUE(logger.configure(config.getEntries()));
        const bool written = logger.write(record(fields));
        EXPECT_EQ(files() + (written ? "+" : "-"), expected);
        EXPECT_FALSE(fs::exists("_11"));
    }
    // No memory for the entries or for anything: no output, and no entries to write to.
    for (uint64_t n : {1, 0}) {
        {
            allocseam::Failing failing(n);
            EXPECT_FALSE(logger.configure(config.getEntries()));
        }
        EXPECT_TRUE(logger.write(record("4|h|K::f")) && logger.getEntryCount() == 0);
    }
    // No memory while loading: a list is read whole or not at all; once, the entries
    // themselves cannot be had.
    for (uint64_t n = 1, noMemory = 0;; ++n) {
        allocseam::Failing failing(n);
        const bool loaded = config.load();
        noMemory += config.getOutcome() == Outcome::NoMemory;
        const std::string list =
            loaded ? ascii(config.getEntries().getEntries()->m_strAllowObjects) : "";
        EXPECT_TRUE(list == "" || list == "<empty>" || list == "B,K") << n;
        if (!failing.fired()) {
            EXPECT_TRUE(loaded && noMemory && list == "B,K");
            break;
        }
    }
}

// The line's layout: numbers as signed decimals, the code in hex, the file after its last
// '\' or '/'; each line appended whole to a file that begins with the byte order mark. No
// line appended, false.
TEST_F(LoggerTest, TheTextOutputAppendsOneLinePerRecord) {
    const CQIRLogData data(3, w(""), 0xdeadbeef, w(""), nullptr, 0, 0x80000000, 0xFFFFFFFF, w(""),
                           w("Fri Dec 04 09:41:24 2026"), w("a:b"), w("C:\\x/y.h"), 0xFFFFFFFF);
    CQIRLogOutputTextWindows output;
    const CQIRLogStringWChar file = pathText(dir / "out.log"), none = pathText(dir / "none.log");
    ASSERT_TRUE(output.write(data, file) && output.write(data, file));
    const logfile::Contents contents = logfile::read(dir / "out.log");
    EXPECT_TRUE(logfile::sound(contents));
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
    EXPECT_TRUE(output.clear(file) && output.clear(file) && !output.clear(CQIRLogStringWChar()));
    EXPECT_TRUE(fs::is_empty(dir));
    struct Other : CQIRLogOutputTextWindows {
        Other() { m_ulType = 2; }
    } other;
    EXPECT_TRUE(output == CQIRLogOutputTextWindows() && output != other && !(output == other));
}

TEST_F(LoggerTest, PerThreadFilesInsertTheThreadBeforeTheExtension) {
    for (const char* c : {"C:\\logs\\app.log C:\\logs\\app_7.log", "trace trace_7",
                          "/var/a.b/c.d.txt /var/a.b/c.d_7.txt", "C:/a.b\\x C:/a.b\\x_7"}) {
        std::istringstream in(c);
        std::string target, file;
        in >> target >> file;
        EXPECT_EQ(ascii(qirPerThreadFileName(w(target), 7)), file);
    }
    EXPECT_EQ(ascii(qirPerThreadFileName(w("a.b"), 4294967295u)), "a_-1.b");
    EXPECT_TRUE(qirPerThreadFileName(CQIRLogStringWChar(), 7).isEmpty());
}

// The set-up lock: a report that finds it taken waits for it and goes on; one without a mutex
// goes on at once; neither sets up. While held, the mutex is taken for every other thread.
TEST_F(LoggerTest, AReportThatCannotTakeTheLockGoesOnWithoutSettingUp) {
    struct Busy : CQIRMutexLW {
        bool tryLock() override { return false; }
    } busy;
    struct Broken : CQIRMutexLW {
        Broken() { qir::sys::closeMutex(m_hMutex), m_hMutex = nullptr; }
    } broken;
    EXPECT_TRUE(CQIRLogger(busy, name).ensureInitialized() &&
                CQIRLogger(broken, name).ensureInitialized());
    EXPECT_TRUE(name.isEmpty());
    EXPECT_FALSE(broken.isValid() || broken.lock(0) || broken.tryLock() || broken.unlock());
    const auto othersTake = [&busy] {
        return std::async(std::launch::async, [&busy] { return busy.lock(0) && busy.unlock(); })
            .get();
    };
    EXPECT_TRUE(busy.isValid() && othersTake() && busy.lock(qir::sys::kWaitForever) &&
                !othersTake());
    EXPECT_TRUE(busy.unlock() && othersTake() && !busy.unlock());
}

// The program's name is its file's; run from a path longer than the logger reads, it has none:
// nothing of the path is taken for one.
TEST_F(LoggerTest, TheProgramNameIsTheExecutablesOrNone) {
    logger.ensureInitialized();
    const bool child = std::getenv("QIR_LONG_PATH") != nullptr;
    EXPECT_EQ(ascii(name), child ? "<empty>" : LogCapture::programName());
#if !defined(_WIN32)
    const fs::path folder = dir / std::string(150, 'd') / std::string(150, 'e');
    if (!child && fs::create_directories(folder) &&
        fs::copy_file(qir::sys::executablePath(), folder / "t")) {
        const std::string run = "QIR_LONG_PATH=1 '" + (folder / "t").string() +
                                "' --gtest_filter=*ProgramName* >/dev/null";
        EXPECT_EQ(std::system(run.c_str()), 0);
    }
#endif
}

}  // namespace
