// The logger set up from a real configuration of three text files, when the system refuses a
// step: while the configuration is read, or while one entry's file is opened, created, written
// or closed. The entry that met the failure is noted as an error, the others still get the
// record, and nothing is thrown or left open.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "log_file.h"
#include "log_text.h"
#include "param_name.h"
#include "qir_logger.h"
#include "qir_sys/fault.h"
#include "qir_sys/process.h"
#include "temp_registry.h"
#include "test_paths.h"

namespace {

using logtext::w;

namespace fs = std::filesystem;
using qir::sys::fault::Failing;
using qir::sys::fault::openHandleCount;
using qir::sys::fault::Site;

constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kDiskFull = 112;
constexpr uint32_t kIoDevice = 1117;
constexpr uint32_t kNoSystemResources = 1450;
constexpr uint32_t kEntries = 3;
const char* const kFiles[kEntries] = {"a.log", "b.log", "c.log"};

std::string programName() {
    return fs::u8path(qir::sys::executablePath()).filename().u8string();
}

// The record of a failure site whose last-error value was 0x4D2.
CQIRLogData record(const std::string& message) {
    return CQIRLogData(QIR_LOG_ERROR, w(message), 0x4D2, w("Write"), nullptr, 0, 42, 7,
                       w("host.exe"), w("Fri Dec 04 09:41:24 2026"), w("CQIRTest::write"),
                       w(".\\fault"), 9);
}

std::string lineOf(const std::string& message) {
    return "<Fri Dec 04 09:41:24 2026> <ERROR> <host.exe : 7, 42> <CQIRTest::write> <\"" + message +
           "\"> <While performing task: \"Write\"> <Return Code: 0x000004d2> <fault> <9>";
}

// A logger of its own, set up from the registry as the process-wide one is.
struct Logger {
    CQIRMutexLW lock;
    CQIRLogStringWChar application;
    CQIRLogger logger{lock, application};
};

// The configuration of this program: three text file outputs a, b and c in the test's folder,
// each taking every severity; `extra` adds values to each.
class LoggerFaultTest : public testing::Test {
  protected:
    void SetUp() override {
        m_dir = testpaths::scratchDirectory("qir-fault-logger");
        fs::remove_all(m_dir);
        ASSERT_TRUE(fs::create_directories(m_dir));
        const std::string key = "Software\\Halvex\\Logs\\" + programName();
        std::string text = "Windows Registry Editor Version 5.00\n\n";
        for (uint32_t i = 0; i < kEntries; ++i) {
            text += "[HKEY_LOCAL_MACHINE\\" + key + "\\" + std::string(1, 'a' + i) +
                    "]\n\"Enabled\"=dword:00000001\n\"Detail\"=dword:ffffffff\n"
                    "\"Type\"=dword:00000001\n\"Target\"=\"" +
                    escaped(m_dir / kFiles[i]) + "\"\n";
        }
        m_registry = std::make_unique<testreg::TempRegistry>(text, std::vector<std::string>{key});
        ASSERT_EQ(m_registry->failure(), "");
        // The first set-up and appends of the process may open handles that stay.
        Logger warm;
        ASSERT_TRUE(warm.logger.ensureInitialized());
        ASSERT_TRUE(warm.logger.write(record("warm")));
        clear();
    }
    void TearDown() override {
        m_registry.reset();
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    static std::string escaped(const fs::path& path) {
        std::string out;
        for (char c : path.string()) {
            out += c == '\\' ? std::string("\\\\") : std::string(1, c);
        }
        return out;
    }

    void clear() const {
        for (const char* file : kFiles) {
            fs::remove(m_dir / file);
        }
    }

    logfile::Contents contents(uint32_t entry) const {
        return logfile::read(m_dir / kFiles[entry]);
    }

    // Which entries' files hold the line of `message`, as "1" and "0" in entry order.
    std::string holding(const std::string& message) const {
        std::string out;
        for (uint32_t i = 0; i < kEntries; ++i) {
            const logfile::Contents c = contents(i);
            bool found = false;
            for (const std::string& line : c.lines) {
                found = found || line == lineOf(message);
            }
            out += found ? "1" : "0";
        }
        return out;
    }

    fs::path m_dir;
    std::unique_ptr<testreg::TempRegistry> m_registry;
};

// --- failures while an entry's file is written ---

struct FileSweep {
    const char* name;
    Site site;
    uint32_t error;
    bool existing;  // the files hold a line before
    bool answer;    // what write answers when a call failed
};

void PrintTo(const FileSweep& c, std::ostream* os) {
    *os << c.name;
}

class LoggerFileSweepTest : public LoggerFaultTest,
                            public testing::WithParamInterface<FileSweep> {};

// The 1st, 2nd, ... call at the site fails in turn until a write makes no such call. A failing
// open, create or write costs its entry the line and makes write answer false; a failing close
// costs nothing. The record the other entries write is the one the site built, return code
// included, whatever the failure left on the thread.
TEST_P(LoggerFileSweepTest, TheOtherEntriesStillGetTheRecord) {
    const FileSweep& c = GetParam();
    Logger set;
    ASSERT_TRUE(set.logger.ensureInitialized());
    ASSERT_EQ(set.logger.getEntryCount(), kEntries);
    std::set<uint32_t> failedEntries;
    uint32_t lastFailed = 0;
    uint64_t n = 1;
    for (;; ++n) {
        SCOPED_TRACE("call " + std::to_string(n) + " fails");
        clear();
        if (c.existing) {
            ASSERT_TRUE(set.logger.write(record("before")));
        }
        const uint64_t handles = openHandleCount();
        bool answer = false;
        bool fired = false;
        {
            Failing failing(c.site, n, c.error);
            EXPECT_NO_THROW(answer = set.logger.write(record("sweep")));
            fired = failing.fired();
        }
        EXPECT_EQ(openHandleCount(), handles) << "handles left open";
        for (uint32_t i = 0; i < kEntries; ++i) {
            const logfile::Contents file = contents(i);
            EXPECT_TRUE(!file.exists || logfile::sound(file)) << kFiles[i];
        }
        EXPECT_EQ(holding("before"), c.existing ? "111" : "000");
        if (!fired) {
            EXPECT_TRUE(answer);
            EXPECT_EQ(holding("sweep"), "111");
            break;
        }
        EXPECT_EQ(answer, c.answer);
        const std::string held = holding("sweep");
        if (c.answer) {
            EXPECT_EQ(held, "111");
            continue;
        }
        ASSERT_EQ(std::count(held.begin(), held.end(), '0'), 1) << held;
        const auto failed = static_cast<uint32_t>(held.find('0'));
        // The entries meet their calls in order.
        EXPECT_GE(failed, lastFailed);
        lastFailed = failed;
        failedEntries.insert(failed);
        if (c.existing) {
            // An existing file costs one call of each kind.
            EXPECT_EQ(failed, n - 1);
        }
    }
    if (!c.answer && n > 1) {
        EXPECT_EQ(failedEntries, (std::set<uint32_t>{0, 1, 2}));
    }
    if (c.existing && c.site != Site::FileCreate) {
        EXPECT_EQ(n - 1, kEntries) << "calls made";
    }
    if (c.existing && c.site == Site::FileCreate) {
        EXPECT_EQ(n, 1u) << "an existing file is not created";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LoggerFileSweepTest,
    testing::Values(FileSweep{"OpenDeniedExisting", Site::FileOpen, kAccessDenied, true, false},
                    FileSweep{"OpenDeniedNew", Site::FileOpen, kAccessDenied, false, false},
                    FileSweep{"CreateDeniedNew", Site::FileCreate, kAccessDenied, false, false},
                    FileSweep{"CreateExisting", Site::FileCreate, kAccessDenied, true, false},
                    FileSweep{"DiskFullExisting", Site::FileWrite, kDiskFull, true, false},
                    FileSweep{"DiskFullNew", Site::FileWrite, kDiskFull, false, false},
                    FileSweep{"CloseFailsExisting", Site::FileClose, kIoDevice, true, true},
                    FileSweep{"CloseFailsNew", Site::FileClose, kIoDevice, false, true}),
    caseName<FileSweep>);

// --- failures while the configuration is read at set-up ---

struct SetUpFault {
    const char* name;
    Site site;
    uint64_t n;
    uint32_t error;
    bool setUp;           // what the first ensureInitialized answers
    uint32_t entries;     // the logger's entry count afterwards
    bool answer;          // what write answers
    const char* holding;  // the entries whose file gets the record
};

void PrintTo(const SetUpFault& c, std::ostream* os) {
    *os << c.name;
}

class LoggerSetUpFaultTest : public LoggerFaultTest,
                             public testing::WithParamInterface<SetUpFault> {};

TEST_P(LoggerSetUpFaultTest, TheSetUpRunsOnceAndTheRestStillLogs) {
    const SetUpFault& c = GetParam();
    const uint64_t handles = openHandleCount();
    {
        Logger set;
        bool setUp = false;
        {
            Failing failing(c.site, c.n, c.error);
            EXPECT_NO_THROW(setUp = set.logger.ensureInitialized());
            EXPECT_TRUE(failing.fired());
        }
        EXPECT_EQ(setUp, c.setUp);
        EXPECT_TRUE(set.logger.ensureInitialized()) << "set up once, whatever the outcome";
        EXPECT_EQ(set.logger.getEntryCount(), c.entries);
        EXPECT_EQ(set.logger.write(record("after set-up")), c.answer);
        EXPECT_EQ(holding("after set-up"), c.holding);
    }
    EXPECT_EQ(openHandleCount(), handles) << "handles left open";
}

// The program's key is opened first; then for each subkey its name is read, the subkey opened
// and its values read: Enabled, Detail, SeparateThreads, Type, Target, AllowObjects,
// ExcludeObjects.
INSTANTIATE_TEST_SUITE_P(
    Reads, LoggerSetUpFaultTest,
    testing::Values(
        SetUpFault{"KeyDenied", Site::RegistryOpen, 1, kAccessDenied, false, 0, true, "000"},
        SetUpFault{"NoKeyAtAll", Site::RegistryOpen, 0, kFileNotFound, false, 0, true, "000"},
        SetUpFault{"SubkeysNotCounted", Site::RegistryCount, 1, kNoSystemResources, false, 0, true,
                   "000"},
        SetUpFault{"SecondNameUnreadable", Site::RegistryName, 2, kAccessDenied, true, 3, false,
                   "101"},
        SetUpFault{"SecondSubkeyDenied", Site::RegistryOpen, 3, kAccessDenied, true, 3, false,
                   "101"},
        SetUpFault{"SecondSubkeyGone", Site::RegistryOpen, 3, kFileNotFound, true, 3, false, "100"},
        SetUpFault{"FirstEnabledUnreadable", Site::RegistryQuery, 1, kAccessDenied, true, 3, false,
                   "011"},
        // An entry without severities skips every record: not an error.
        SetUpFault{"FirstDetailUnreadable", Site::RegistryQuery, 2, kAccessDenied, true, 3, true,
                   "011"},
        SetUpFault{"FirstTypeUnreadable", Site::RegistryQuery, 4, kAccessDenied, true, 3, false,
                   "011"},
        SetUpFault{"FirstTargetUnreadable", Site::RegistryQuery, 5, kAccessDenied, true, 3, false,
                   "011"}),
    caseName<SetUpFault>);

}  // namespace
