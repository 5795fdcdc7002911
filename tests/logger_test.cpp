// The process-wide logger: configuration into outputs, every filter of write, per-thread file
// names, and the one-time set-up under concurrent first reports.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "alloc_seam.h"
#include "log_text.h"
#include "qir_logger.h"
#include "qir_sys/process.h"
#include "temp_registry.h"
#include "test_paths.h"

namespace {

using logtext::pathText;
using logtext::w;

namespace fs = std::filesystem;
using logtext::ascii;

// Lines in a log file (each ends in "\r\n" as UTF-16).
int lineCount(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int lines = 0;
    for (size_t i = 0; i + 3 < bytes.size(); i += 2) {
        if (bytes[i] == '\r' && bytes[i + 1] == 0 && bytes[i + 2] == '\n' && bytes[i + 3] == 0) {
            ++lines;
        }
    }
    return lines;
}

CQIRLogData record(uint32_t severity, const std::string& application = "host.exe",
                   const std::string& function = "CQIRBuffer<char>::alloc",
                   uint32_t threadId = 42) {
    return CQIRLogData(severity, w("message"), 0, w("Task"), nullptr, 0, threadId, 7,
                       w(application), w("00:00:00"), w(function), w("file"), 1);
}

class LoggerTest : public testing::Test {
  protected:
    void SetUp() override {
        dir = testpaths::scratchDirectory("qir-logger");
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    // An enabled text-file entry that accepts every severity, writing to `file` in the folder.
    CQIRLogConfigEntry textEntry(const std::string& file) const {
        CQIRLogConfigEntry entry;
        entry.m_bEnabled = true;
        entry.m_ulType = 1;
        entry.m_ulDetail = 0xFFFFFFFF;
        entry.m_strTarget = pathText(dir / file);
        return entry;
    }

    bool configure(const std::vector<CQIRLogConfigEntry>& entries) {
        CQIRLogConfigEntryList list;
        if (!entries.empty()) {
            EXPECT_TRUE(list.resize(static_cast<uint32_t>(entries.size())));
            for (size_t i = 0; i < entries.size(); ++i) {
                list.getEntries()[i] = entries[i];
            }
        }
        return logger.configure(list);
    }

    fs::path dir;
    CQIRMutexLW lock;
    CQIRLogStringWChar application;
    CQIRLogger logger{lock, application};
};

TEST_F(LoggerTest, WithoutEntriesWritesNothingAndSucceeds) {
    EXPECT_TRUE(configure({}));
    EXPECT_EQ(logger.getEntryCount(), 0u);
    EXPECT_TRUE(logger.write(record(QIR_LOG_ERROR)));
}

TEST_F(LoggerTest, DetailMasks) {
    CQIRLogConfigEntry none = textEntry("none.log");
    none.m_ulDetail = 0;
    CQIRLogConfigEntry errorsAndWarnings = textEntry("twelve.log");
    errorsAndWarnings.m_ulDetail = 12;
    ASSERT_TRUE(configure({none, errorsAndWarnings}));
    for (uint32_t bit = 0; bit < 11; ++bit) {
        EXPECT_TRUE(logger.write(record(1u << bit)));
    }
    EXPECT_FALSE(fs::exists(dir / "none.log"));
    EXPECT_EQ(lineCount(dir / "twelve.log"), 2);  // ERROR and WARNING
    EXPECT_TRUE(logger.write(record(0)));         // severity 0 passes every mask
    EXPECT_EQ(lineCount(dir / "none.log"), 1);
    EXPECT_EQ(lineCount(dir / "twelve.log"), 3);
}

struct FilterCase {
    const char* name;
    const char* allowApplications;
    const char* excludeApplications;
    const char* allowObjects;
    const char* excludeObjects;
    const char* application;
    const char* function;
    bool written;
};

void PrintTo(const FilterCase& c, std::ostream* os) {
    *os << c.name;
}

class LoggerFilterTest : public LoggerTest, public testing::WithParamInterface<FilterCase> {};

TEST_P(LoggerFilterTest, PassesOrSkips) {
    const FilterCase& c = GetParam();
    CQIRLogConfigEntry entry = textEntry("filtered.log");
    entry.m_strAllowApplications = w(c.allowApplications);
    entry.m_strExcludeApplications = w(c.excludeApplications);
    entry.m_strAllowObjects = w(c.allowObjects);
    entry.m_strExcludeObjects = w(c.excludeObjects);
    ASSERT_TRUE(configure({entry}));
    EXPECT_TRUE(logger.write(record(QIR_LOG_ERROR, c.application, c.function)));
    EXPECT_EQ(lineCount(dir / "filtered.log"), c.written ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, LoggerFilterTest,
    testing::Values(
        FilterCase{"AllowedApplication", "notepad.exe,calc.exe", "", "", "", "calc.exe", "A::f",
                   true},
        FilterCase{"SubstringOfAnAllowedApplication", "notepad.exe,calc.exe", "", "", "", "alc.exe",
                   "A::f", true},
        FilterCase{"ApplicationNotAllowed", "notepad.exe,calc.exe", "", "", "", "cmd.exe", "A::f",
                   false},
        FilterCase{"ExcludedApplication", "", "cmd.exe", "", "", "cmd.exe", "A::f", false},
        FilterCase{"ExcludeWinsOverAllow", "cmd.exe", "cmd.exe", "", "", "cmd.exe", "A::f", false},
        FilterCase{"AllowedObject", "", "", "CQIRBuffer<char>,CQIRStringWChar", "", "host.exe",
                   "CQIRStringWChar::toLong", true},
        FilterCase{"ObjectNotAllowed", "", "", "CQIRStringWChar", "", "host.exe",
                   "CQIRBuffer<char>::alloc", false},
        FilterCase{"ExcludedObject", "", "", "", "CQIRBuffer<char>", "host.exe",
                   "CQIRBuffer<char>::alloc", false},
        FilterCase{"NoObjectAgainstAllowList", "", "", "CQIRBuffer<char>", "", "host.exe",
                   "GetTouchpadLaunchState", false},
        FilterCase{"NoObjectNeverExcluded", "", "", "", "CQIRBuffer<char>", "host.exe",
                   "GetTouchpadLaunchState", true},
        FilterCase{"EmptyApplicationAgainstAllowList", "host.exe", "", "", "", "", "A::f", false}),
    [](const testing::TestParamInfo<FilterCase>& param) { return std::string(param.param.name); });

TEST_F(LoggerTest, EntriesWithoutOutputCountAsErrorsButOthersStillWrite) {
    CQIRLogConfigEntry other = textEntry("other.log");
    other.m_ulType = 2;
    CQIRLogConfigEntry disabled = textEntry("disabled.log");
    disabled.m_bEnabled = false;
    ASSERT_TRUE(configure({other, textEntry("main.log"), disabled}));
    EXPECT_FALSE(logger.write(record(QIR_LOG_ERROR)));
    EXPECT_EQ(lineCount(dir / "main.log"), 1);
    EXPECT_FALSE(fs::exists(dir / "other.log"));
    EXPECT_FALSE(fs::exists(dir / "disabled.log"));
}

TEST_F(LoggerTest, FailingOutputCountsAsAnError) {
    CQIRLogConfigEntry missing = textEntry("x.log");
    missing.m_strTarget = pathText(dir / "missing" / "x.log");
    ASSERT_TRUE(configure({missing, textEntry("good.log")}));
    EXPECT_FALSE(logger.write(record(QIR_LOG_ERROR)));
    EXPECT_EQ(lineCount(dir / "good.log"), 1);
}

TEST_F(LoggerTest, ReconfiguringReplacesTheOutputs) {
    ASSERT_TRUE(configure({textEntry("first.log")}));
    ASSERT_TRUE(configure({textEntry("second.log"), textEntry("third.log")}));
    EXPECT_EQ(logger.getEntryCount(), 2u);
    EXPECT_TRUE(logger.write(record(QIR_LOG_ERROR)));
    EXPECT_FALSE(fs::exists(dir / "first.log"));
    EXPECT_EQ(lineCount(dir / "third.log"), 1);
    EXPECT_TRUE(configure({}));
    EXPECT_EQ(logger.getEntryCount(), 0u);
}

TEST_F(LoggerTest, NoMemoryWhileConfiguringLeavesNoOutputsAndNoLeak) {
    const CQIRLogConfigEntry entry = textEntry("x.log");
    CQIRLogConfigEntryList list;
    ASSERT_TRUE(list.resize(2));
    list.getEntries()[0] = entry;
    list.getEntries()[1] = entry;
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " refused");
        bool ok = false;
        bool fired = false;
        {
            allocseam::Failing failing(n);
            ok = logger.configure(list);
            fired = failing.fired();
        }
        if (!fired) {
            EXPECT_TRUE(ok);
            break;
        }
        // Whatever was refused, the logger stays usable and tears down cleanly; an entry that
        // lost its output, its target or the table of outputs makes every write answer false.
        EXPECT_EQ(logger.write(record(QIR_LOG_ERROR)), logger.getEntryCount() == 0);
    }
    EXPECT_TRUE(logger.write(record(QIR_LOG_ERROR)));
}

TEST_F(LoggerTest, SeparateThreadsWriteOneFilePerThread) {
    CQIRLogConfigEntry entry = textEntry("trace.log");
    entry.m_bSeparateThreads = true;
    ASSERT_TRUE(configure({entry}));
    EXPECT_TRUE(logger.write(record(QIR_LOG_ERROR, "host.exe", "A::f", 11)));
    EXPECT_TRUE(logger.write(record(QIR_LOG_ERROR, "host.exe", "A::f", 11)));
    EXPECT_TRUE(logger.write(record(QIR_LOG_ERROR, "host.exe", "A::f", 12)));
    EXPECT_EQ(lineCount(dir / "trace_11.log"), 2);
    EXPECT_EQ(lineCount(dir / "trace_12.log"), 1);
    EXPECT_FALSE(fs::exists(dir / "trace.log"));
}

// An entry without a target names no file for any thread: no "_<id>" file appears in
// whatever folder the host runs in, and the entry counts as failed, as without separate files.
TEST_F(LoggerTest, SeparateThreadsWithoutATargetWriteNoFile) {
    CQIRLogConfigEntry entry = textEntry("kept.log");
    entry.m_bSeparateThreads = true;
    entry.m_strTarget = CQIRLogStringWChar();
    const CQIRLogConfigEntry kept = textEntry("kept.log");
    ASSERT_TRUE(configure({entry, kept}));
    const fs::path here = fs::current_path();
    EXPECT_FALSE(logger.write(record(QIR_LOG_ERROR, "host.exe", "A::f", 11)));
    EXPECT_FALSE(fs::exists(here / "_11"));
    EXPECT_EQ(lineCount(dir / "kept.log"), 1);
}

TEST(PerThreadFileNameTest, InsertsTheThreadIdBeforeTheExtension) {
    struct Case {
        const char* target;
        uint32_t thread;
        const char* name;
    };
    for (const Case& c :
         {Case{"C:\\logs\\app.log", 1234, "C:\\logs\\app_1234.log"},
          Case{"app.log", 1234, "app_1234.log"}, Case{"C:\\logs\\trace", 7, "C:\\logs\\trace_7"},
          Case{"/var/log/app.d/trace", 1234, "/var/log/app.d/trace_1234"},
          Case{"/var/log/a.b/c.d.txt", 7, "/var/log/a.b/c.d_7.txt"},
          Case{"C:/logs\\x.y", 4294967295u, "C:/logs\\x_-1.y"}, Case{"", 7, "<empty>"}}) {
        EXPECT_EQ(ascii(qirPerThreadFileName(w(c.target), c.thread)), c.name) << c.target;
    }
}

// --- the one-time set-up ---

TEST_F(LoggerTest, SetUpRunsOnceWhateverItsOutcome) {
    // This process has no configuration for its name: the set-up fails once, then the logger
    // is set up without entries and every record is accepted.
    EXPECT_FALSE(logger.ensureInitialized());
    EXPECT_TRUE(logger.ensureInitialized());
    EXPECT_EQ(logger.getEntryCount(), 0u);
    EXPECT_TRUE(logger.write(record(QIR_LOG_ERROR)));
    const std::string name = ascii(application);
    EXPECT_NE(name.find("qir_core_tests"), std::string::npos) << name;
    EXPECT_EQ(name.find_first_of("\\/"), std::string::npos) << name;
}

TEST_F(LoggerTest, ConcurrentFirstReportsAreAllWritten) {
    // A configuration for this program: one text file output in the test's folder.
    const std::string program = fs::u8path(qir::sys::executablePath()).filename().u8string();
    const std::string key = "Software\\Halvex\\Logs\\" + program;
    std::string target;
    for (char c : (dir / "concurrent.log").string()) {
        target += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    testreg::TempRegistry registry("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" +
                                       key +
                                       "\\Out]\n\"Enabled\"=dword:00000001\n"
                                       "\"Detail\"=dword:ffffffff\n\"Type\"=dword:00000001\n"
                                       "\"Target\"=\"" +
                                       target + "\"\n",
                                   {key});
    ASSERT_EQ(registry.failure(), "");

    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::atomic<int> passed{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready.load() < kThreads) {
                std::this_thread::yield();
            }
            // Every thread past ensureInitialized finds the set-up finished.
            logger.ensureInitialized();
            if (logger.write(record(QIR_LOG_ERROR, "host.exe", "A::f", static_cast<uint32_t>(i)))) {
                ++passed;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(passed.load(), kThreads);
    EXPECT_EQ(logger.getEntryCount(), 1u);
    EXPECT_EQ(lineCount(dir / "concurrent.log"), kThreads);
    EXPECT_EQ(ascii(application), program);
}

TEST_F(LoggerTest, ASecondReportWaitsWhileTheSetUpHoldsTheLock) {
    ASSERT_TRUE(lock.lock(0xFFFFFFFF));  // as the thread inside the set-up would
    std::atomic<bool> returned{false};
    bool result = false;
    std::thread second([&] {
        result = logger.ensureInitialized();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());
    ASSERT_TRUE(lock.unlock());
    second.join();
    EXPECT_TRUE(returned.load());
    EXPECT_TRUE(result);
}

TEST(LoggerLockTest, WithoutAMutexEveryReportPassesAndNothingIsSetUp) {
    class BrokenLock : public CQIRMutexLW {
      public:
        BrokenLock() {
            qir::sys::closeMutex(m_hMutex);
            m_hMutex = nullptr;
        }
    };
    BrokenLock lock;
    CQIRLogStringWChar application;
    CQIRLogger logger(lock, application);
    EXPECT_TRUE(logger.ensureInitialized());
    EXPECT_TRUE(logger.ensureInitialized());
    EXPECT_EQ(application.getBuffer(), nullptr);
    EXPECT_EQ(logger.getEntryCount(), 0u);
}

}  // namespace
