// The logger with its configuration, its text output and its set-up lock: registry values read
// into entries, records through the filters into files, the line's layout, the one-time set-up.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <set>
#include <sstream>
#include <string>

#include "alloc_seam.h"
#include "log_capture.h"
#include "log_file.h"
#include "log_text.h"
#include "qir_logger.h"
#include "test_paths.h"

namespace {

namespace fs = std::filesystem;
using logtext::ascii;
using logtext::pathText;
using logtext::w;

const std::string kLogs = "Software\\Halvex\\Logs\\";

// A record "severity|application|class::function" of thread 11 in process 7.
CQIRLogData record(const std::string& spec) {
    const size_t app = spec.find('|') + 1, function = spec.rfind('|') + 1;
    return CQIRLogData(std::stoul(spec), w("m"), 0, w("t"), nullptr, 0, 11, 7,
                       w(spec.substr(app, function - 1 - app)), w("T"), w(spec.substr(function)),
                       w("x"), 1);
}

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

class LoggerTest : public testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // .reg text from "key:Name=data ...;key:...": each key (below Software\Halvex\Logs, A
    // standing for the application) an output into <its last name>.log, with the values given
    // replacing its own; a filter list's data is its names, joined with ','.
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
            text += LogCapture::output(kLogs + (key[0] == 'A' ? application + key.substr(1) : key),
                                       dir / (key.substr(key.rfind('\\') + 1) + ".log"), values);
        }
        return text;
    }

    // What the configuration found (outcome, key, error), then the files with their line counts
    // and what write answered.
    std::string seen(const CQIRLogConfigWindows& config, bool answer) const {
        const char* const outcomes[] = {"NotLoaded",     "Loaded",    "NoKey",
                                        "KeyUnreadable", "NoSubkeys", "NoMemory"};
        const std::string key = ascii(config.getChosenKey());
        std::string out = outcomes[static_cast<int>(config.getOutcome())] + std::string(" ") +
                          (key == "<empty>"             ? "-"
                           : key == kLogs + application ? "A"
                                                        : key.substr(kLogs.size())) +
                          " " + std::to_string(config.getError()) + " =>";
        std::set<std::string> files;
        for (const auto& file : fs::directory_iterator(dir)) {
            files.insert(" " + file.path().filename().string() + ":" +
                         std::to_string(logfile::read(file.path()).lines.size()));
        }
        for (const std::string& file : files) {
            out += file;
        }
        return out + (answer ? " +" : " -");
    }

    const fs::path dir = testpaths::scratchDirectory("qir-logger");
    const std::string application = "qirtest-" + std::to_string(qir::sys::processId()) + ".exe";
    CQIRMutexLW lock;
    CQIRLogStringWChar applicationName;
    CQIRLogger logger{lock, applicationName};
};

// One configuration object and one logger, loaded and configured again for each registry, and
// a record: what the configuration found, the files the record went to and write's answer
// (rows without "=>" are about Default\a: Loaded Default 0 => ...).
TEST_F(LoggerTest, TheRegistryDecidesTheEntriesAndWhereARecordGoes) {
    const std::string folder = (dir / "").string();
    const std::string x = std::string(259 - folder.size(), 'x'),
                      z = std::string(259 - folder.size(), 'z');
    const std::string rows[][3] = {
        {"A\\a:AllowApplications=n;Default\\d:", "4|h|K::f", "Loaded A 0 => a.log:1 +"},
        {"", "4|h|K::f", "NoKey - 2 => +"},
        {"A:Stray=dword:00000001;Default\\d:", "4|h|K::f", "NoSubkeys A 0 => +"},
        {"A\\c:;A\\a:Enabled=dword:00000000;A\\B:Enabled=-", "4|h|K::f", "Loaded A 0 => c.log:1 -"},
        // At most 259 characters and a terminator in 520 bytes; an unterminated one is cut.
        {"A\\1:Target=hex:" + hexUnits(folder + x + ",") +
             ";A\\2:Target=hex:" + hexUnits(folder + x + "y,") +
             ";A\\3:Target=hex:" + hexUnits(folder + z + "q") + ";A\\4:Target=\"\"",
         "4|h|K::f", "Loaded A 0 => " + x + ":1 " + z + ":1 -"},
        // A string as a list; lists end at an empty string and leave out an unterminated one.
        {"A\\1:AllowObjects=\"C\";A\\2:ExcludeObjects=hex:41,00,00,00,42,00;A\\3:AllowObjects=A,,B",
         "4|h|B::f", "Loaded A 0 => 2.log:1 +"},
        {"Default\\a:Enabled=dword:00000000", "4|h|K::f", "-"},
        {"Default\\a:Detail=dword:0000000c", "16|h|K::f", "+"},
        {"Default\\a:Detail=dword:00000000", "0|h|K::f", "a.log:1 +"},
        // A number that does not fit its four bytes reads as 0, whatever the buffer got.
        {"Default\\a:Detail=hex(b):0c,00,00,00,00,00,00,00", "4|h|K::f", "+"},
        {"Default\\a:Type=hex:01,00", "4|h|K::f", "a.log:1 +"},
        {"Default\\a:Type=dword:00000002", "4|h|K::f", "-"},
        {"Default\\a:SeparateThreads=dword:00000001", "4|h|K::f", "a_11.log:1 +"},
        // Without a target no file is named, not even "_11" in the current folder.
        {"Default\\a:SeparateThreads=dword:00000001 Target=-", "4|h|K::f", "-"},
        {"Default\\a:AllowApplications=n,c", "4|c|K::f", "a.log:1 +"},
        {"Default\\a:AllowApplications=n,c", "4|d|K::f", "+"},
        {"Default\\a:AllowApplications=h", "4||K::f", "+"},
        {"Default\\a:AllowApplications=d ExcludeApplications=d", "4|d|K::f", "+"},
        {"Default\\a:AllowObjects=B,K", "4|h|K::f", "a.log:1 +"},
        {"Default\\a:AllowObjects=B", "4|h|K::f", "+"},
        {"Default\\a:AllowObjects=K", "4|h|f", "+"},
        {"Default\\a:ExcludeObjects=K", "4|h|K::f", "+"},
        {"Default\\a:ExcludeObjects=K", "4|h|f", "a.log:1 +"},
        {"Default\\a:Detail=dword:0000000c", "8|h|K::f", "a.log:1 +"},
    };
    CQIRLogConfigWindows config(w(application));
    for (const auto& [spec, fields, expected] : rows) {
        SCOPED_TRACE(spec);
        SetUp();
        const testreg::TempRegistry reg(registry(spec), {kLogs + application, kLogs + "Default"});
        ASSERT_EQ(reg.failure(), "");
        const bool loaded = config.load();
        EXPECT_EQ(loaded, config.getOutcome() == CQIRLogConfigWindows::Outcome::Loaded);
        EXPECT_TRUE(logger.configure(config.getEntries()));
        EXPECT_EQ(
            seen(config, logger.write(record(fields))),
            (expected.find("=>") == std::string::npos ? "Loaded Default 0 => " : "") + expected);
        EXPECT_FALSE(fs::exists("_11"));
    }
    // No memory while configuring: whatever was refused, a write answers false unless the
    // logger was left without entries.
    for (uint64_t n = 1;; ++n) {
        bool configured = false, fired = false;
        {
            allocseam::Failing failing(n);
            configured = logger.configure(config.getEntries());
            fired = failing.fired();
        }
        EXPECT_EQ(logger.write(record("4|h|f")), logger.getEntryCount() == 0 || !fired) << n;
        if (!fired) {
            EXPECT_TRUE(configured);
            break;
        }
    }
}

// The line's layout: numbers as signed decimals, the code in hex, the file after its last
// '\' or '/'; each line appended whole to a file that begins with the byte order mark.
TEST_F(LoggerTest, TheTextOutputAppendsOneLinePerRecord) {
    const CQIRLogData data(3, w(""), 0xdeadbeef, w(""), nullptr, 0, 0x80000000, 0xFFFFFFFF, w(""),
                           w("Fri Dec 04 09:41:24 2026"), w("a:b"), w("C:\\x/y.h"), 0xFFFFFFFF);
    const std::string line =
        "<Fri Dec 04 09:41:24 2026> <UNSPECIFIED> < : -1, -2147483648> <::a:b> "
        "<\"\"> <While performing task: \"\"> <Return Code: 0xdeadbeef> <y.h> <-1>";
    CQIRLogOutputTextWindows output;
    const CQIRLogStringWChar file = pathText(dir / "out.log"), none = pathText(dir / "none.log");
    ASSERT_TRUE(output.write(data, file) && output.write(data, file));
    EXPECT_TRUE(logfile::sound(logfile::read(dir / "out.log")));
    EXPECT_EQ(logfile::read(dir / "out.log").lines, std::vector<std::string>(2, line));
    EXPECT_FALSE(output.write(data, pathText(dir / "no" / "x.log")) ||
                 output.write(data, CQIRLogStringWChar()));
    {
        allocseam::Failing failing(0);
        EXPECT_FALSE(output.write(data, none));
    }
    EXPECT_TRUE(output.clear(file) && output.clear(file) && !output.clear(CQIRLogStringWChar()));
    EXPECT_TRUE(fs::is_empty(dir));
    struct Other : CQIRLogOutputTextWindows {
        Other() { m_ulType = 2; }
    } other;
    EXPECT_TRUE(output == CQIRLogOutputTextWindows() && output != other && !(output == other));
}

TEST(LoggerFileNameTest, PerThreadFilesInsertTheThreadBeforeTheExtension) {
    for (const char* c : {"C:\\logs\\app.log C:\\logs\\app_7.log", "app.log app_7.log",
                          "C:\\logs\\trace C:\\logs\\trace_7", "/var/a.d/trace /var/a.d/trace_7",
                          "/var/a.b/c.d.txt /var/a.b/c.d_7.txt", "C:/a.b\\x C:/a.b\\x_7"}) {
        std::istringstream in(c);
        std::string target, name;
        in >> target >> name;
        EXPECT_EQ(ascii(qirPerThreadFileName(w(target), 7)), name);
    }
    EXPECT_EQ(ascii(qirPerThreadFileName(w("a.b"), 4294967295u)), "a_-1.b");
    EXPECT_EQ(qirPerThreadFileName(CQIRLogStringWChar(), 7).getBuffer(), nullptr);
}

// The set-up lock: a report that finds it taken waits for it and goes on; one without a mutex
// goes on at once; neither sets up. Held, the mutex is taken for every other thread.
TEST(LoggerSetUpTest, AReportThatCannotTakeTheLockGoesOnWithoutSettingUp) {
    struct Busy : CQIRMutexLW {
        bool tryLock() override { return false; }
    } busy;
    struct Broken : CQIRMutexLW {
        Broken() {
            qir::sys::closeMutex(m_hMutex);
            m_hMutex = nullptr;
        }
    } broken;
    for (CQIRMutexLW* lock :
         {static_cast<CQIRMutexLW*>(&busy), static_cast<CQIRMutexLW*>(&broken)}) {
        CQIRLogStringWChar name;
        EXPECT_TRUE(CQIRLogger(*lock, name).ensureInitialized());
        EXPECT_EQ(name.getBuffer(), nullptr);
    }
    EXPECT_FALSE(broken.isValid() || broken.lock(0) || broken.tryLock() || broken.unlock());
    const auto othersTake = [&busy] {
        return std::async(std::launch::async, [&busy] { return busy.lock(0) && busy.unlock(); })
            .get();
    };
    EXPECT_TRUE(busy.isValid() && othersTake() && busy.lock(qir::sys::kWaitForever));
    EXPECT_FALSE(othersTake());
    EXPECT_TRUE(busy.unlock() && othersTake());
    EXPECT_FALSE(busy.unlock());
}

// Run from a path longer than the logger reads, the program has no name: nothing of the path
// is taken for one.
TEST(LoggerSetUpTest, AnExecutablePathThatCannotBeReadGivesNoName) {
    CQIRMutexLW lock;
    CQIRLogStringWChar name;
    CQIRLogger(lock, name).ensureInitialized();
    if (std::getenv("QIR_LONG_PATH") != nullptr) {
        EXPECT_EQ(name.getBuffer(), nullptr);
        return;
    }
    EXPECT_EQ(ascii(name), LogCapture::programName());
#if defined(_WIN32)
    GTEST_SKIP() << "no program starts from a path that long here";
#else
    const fs::path top = testpaths::scratchDirectory("qir-long");
    fs::create_directories(top / std::string(150, 'd') / std::string(150, 'e'));
    fs::copy_file(qir::sys::executablePath(),
                  top / std::string(150, 'd') / std::string(150, 'e') / "t");
    const std::string command =
        "QIR_LONG_PATH=1 '" + (top / std::string(150, 'd') / std::string(150, 'e') / "t").string() +
        "' --gtest_filter=LoggerSetUpTest.AnExecutablePath* >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    fs::remove_all(top);
#endif
}

}  // namespace
