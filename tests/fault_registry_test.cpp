// Reading the registry when the system refuses a call: what each facility answers and leaves
// in its outputs, and what the logging configuration makes of it, outcome and error included.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "log_text.h"
#include "param_name.h"
#include "qir_log_config.h"
#include "qir_sys/fault.h"
#include "qir_sys/process.h"
#include "qir_sys/registry.h"
#include "temp_registry.h"

namespace {

using logtext::ascii;
using qir::sys::RegistryKey;
using qir::sys::WideUnit;
using qir::sys::fault::Failing;
using qir::sys::fault::openHandleCount;
using qir::sys::fault::Site;
using Outcome = CQIRLogConfigWindows::Outcome;
using WideString = std::basic_string<WideUnit>;

constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kMoreData = 234;
constexpr uint32_t kKeyDeleted = 1018;
constexpr uint32_t kNoSystemResources = 1450;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kLogs = "Software\\Halvex\\Logs\\";

WideString wide(const std::string& ascii) {
    return WideString(ascii.begin(), ascii.end());
}

// --- the facilities ---

struct RegistryFault {
    const char* name;
    Site site;
    uint32_t error;
};

void PrintTo(const RegistryFault& c, std::ostream* os) {
    *os << c.name;
}

// What a call may write: each output starts as a sentinel that a failed call must leave.
struct Outputs {
    RegistryKey key;
    uint32_t count = 0xA5A5A5A5;
    WideUnit name[16];
    unsigned char data[16];
    uint32_t size = sizeof data;

    Outputs() {
        for (WideUnit& unit : name) {
            unit = 0xA5;
        }
        for (unsigned char& byte : data) {
            byte = 0xA5;
        }
    }
    bool untouched() const {
        bool same = !key && count == 0xA5A5A5A5 && size == sizeof data;
        for (WideUnit unit : name) {
            same = same && unit == 0xA5;
        }
        for (unsigned char byte : data) {
            same = same && byte == 0xA5;
        }
        return same;
    }
};

class RegistryFaultTest : public testing::TestWithParam<RegistryFault> {
  protected:
    void SetUp() override {
        m_registry = std::make_unique<testreg::TempRegistry>(
            kHeader + "[HKEY_LOCAL_MACHINE\\" + m_root + "\\Sub]\n\"Value\"=dword:00000007\n",
            std::vector<std::string>{m_root});
        ASSERT_EQ(m_registry->failure(), "");
        ASSERT_EQ(qir::sys::openRegistryKey(wide(m_root).c_str(), m_key), 0u);
        ASSERT_EQ(qir::sys::openRegistryKey(wide(m_root + "\\Sub").c_str(), m_sub), 0u);
    }

    // One call at the site of the case.
    uint32_t call(Outputs& out) const {
        switch (GetParam().site) {
            case Site::RegistryOpen:
                return qir::sys::openRegistryKey(wide(m_root).c_str(), out.key);
            case Site::RegistryCount:
                return qir::sys::registrySubkeyCount(m_key, out.count);
            case Site::RegistryName:
                return qir::sys::registrySubkeyName(m_key, 0, out.name, 16);
            default:
                return qir::sys::registryQueryValue(m_sub, wide("Value").c_str(), out.data,
                                                    out.size);
        }
    }

    const std::string m_root = testreg::uniqueRoot("RegistryFault");
    std::unique_ptr<testreg::TempRegistry> m_registry;
    RegistryKey m_key;
    RegistryKey m_sub;
};

TEST_P(RegistryFaultTest, TheNthCallAnswersTheErrorAndLeavesItsOutputs) {
    const RegistryFault& c = GetParam();
    Outputs warm;
    ASSERT_EQ(call(warm), 0u);
    const uint64_t handles = openHandleCount();
    Outputs first;
    Outputs second;
    uint32_t answers[2] = {};
    {
        Failing failing(c.site, 2, c.error);
        answers[0] = call(first);
        answers[1] = call(second);
        EXPECT_EQ(failing.calls(), 2u);
    }
    EXPECT_EQ(answers[0], 0u);
    EXPECT_FALSE(first.untouched()) << "the call before the failing one did its work";
    EXPECT_EQ(answers[1], c.error);
    EXPECT_TRUE(second.untouched());
    first.key = RegistryKey();
    EXPECT_EQ(openHandleCount(), handles) << "handles left open";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, RegistryFaultTest,
    testing::Values(RegistryFault{"OpenDenied", Site::RegistryOpen, kAccessDenied},
                    RegistryFault{"OpenOfADeletedKey", Site::RegistryOpen, kKeyDeleted},
                    RegistryFault{"CountWithoutResources", Site::RegistryCount, kNoSystemResources},
                    RegistryFault{"CountOfADeletedKey", Site::RegistryCount, kKeyDeleted},
                    RegistryFault{"NameDenied", Site::RegistryName, kAccessDenied},
                    RegistryFault{"NameTooLong", Site::RegistryName, kMoreData},
                    RegistryFault{"QueryDenied", Site::RegistryQuery, kAccessDenied},
                    RegistryFault{"QueryOfADeletedKey", Site::RegistryQuery, kKeyDeleted}),
    caseName<RegistryFault>);

// --- the logging configuration ---

// An application name of this test alone.
std::string uniqueApplication() {
    static int counter = 0;
    return "qirfault-" + std::to_string(qir::sys::processId()) + "-" + std::to_string(++counter) +
           ".exe";
}

// A REG_MULTI_SZ of the strings, as hex(7) bytes.
std::string multi(const std::vector<std::string>& strings) {
    std::string hex = "hex(7):";
    auto unit = [&](unsigned char c) {
        char pair[8];
        std::snprintf(pair, sizeof pair, "%02x,00,", c);
        hex += pair;
    };
    for (const std::string& s : strings) {
        for (char c : s) {
            unit(static_cast<unsigned char>(c));
        }
        unit(0);
    }
    return hex + "00,00";
}

// An output definition with every value set to something other than what a failed read gives.
std::string output(const std::string& key, const std::string& file) {
    return "[HKEY_LOCAL_MACHINE\\" + kLogs + key +
           "]\n\"Enabled\"=dword:00000001\n\"Detail\"=dword:0000000c\n"
           "\"SeparateThreads\"=dword:00000001\n\"Type\"=dword:00000001\n\"Target\"=\"" +
           file + "\"\n\"AllowObjects\"=" + multi({"CQIRBuffer<char>", "CQIRStringWChar"}) +
           "\n\"ExcludeObjects\"=" + multi({"CQIRLogData"}) +
           "\n\"AllowApplications\"=" + multi({"notepad.exe", "calc.exe"}) +
           "\n\"ExcludeApplications\"=" + multi({"cmd.exe"}) + "\n";
}

// An entry as its values read: the keys name the registry values.
std::map<std::string, std::string> valuesOf(const CQIRLogConfigEntry& e) {
    return {{"Enabled", e.m_bEnabled ? "1" : "0"},
            {"Detail", std::to_string(e.m_ulDetail)},
            {"SeparateThreads", e.m_bSeparateThreads ? "1" : "0"},
            {"Type", std::to_string(e.m_ulType)},
            {"Target", ascii(e.m_strTarget)},
            {"AllowObjects", ascii(e.m_strAllowObjects)},
            {"ExcludeObjects", ascii(e.m_strExcludeObjects)},
            {"AllowApplications", ascii(e.m_strAllowApplications)},
            {"ExcludeApplications", ascii(e.m_strExcludeApplications)}};
}

// Three outputs for the application (a, b, c), one in Default (d).
class ConfigFaultTest : public testing::Test {
  protected:
    void SetUp() override {
        m_registry = std::make_unique<testreg::TempRegistry>(
            kHeader + output(m_application + "\\a", "a.log") +
                output(m_application + "\\b", "b.log") + output(m_application + "\\c", "c.log") +
                output("Default\\d", "d.log"),
            std::vector<std::string>{kLogs + m_application, kLogs + "Default"});
        ASSERT_EQ(m_registry->failure(), "");
        // The first read of the process may open handles that stay: one before any count.
        CQIRLogConfigWindows warm(name());
        ASSERT_TRUE(warm.load());
    }

    CQIRLogStringWChar name() const { return CQIRLogStringWChar(m_application.c_str()); }

    const std::string m_application = uniqueApplication();
    std::unique_ptr<testreg::TempRegistry> m_registry;
};

struct ConfigFault {
    const char* name;
    Site site;
    uint64_t n;
    uint32_t error;
    bool loaded;
    Outcome outcome;
    uint32_t reported;    // getError
    const char* chosen;   // below Software\Halvex\Logs\: "app", "Default" or ""
    const char* enabled;  // per entry, "1" enabled, "0" default
};

void PrintTo(const ConfigFault& c, std::ostream* os) {
    *os << c.name;
}

class ConfigFaultTableTest : public ConfigFaultTest,
                             public testing::WithParamInterface<ConfigFault> {};

TEST_P(ConfigFaultTableTest, TheOutcomeSaysWhatFailed) {
    const ConfigFault& c = GetParam();
    const uint64_t handles = openHandleCount();
    {
        CQIRLogConfigWindows config(name());
        bool loaded = false;
        {
            Failing failing(c.site, c.n, c.error);
            EXPECT_NO_THROW(loaded = config.load());
            EXPECT_TRUE(failing.fired());
        }
        EXPECT_EQ(loaded, c.loaded);
        EXPECT_EQ(config.getOutcome(), c.outcome);
        EXPECT_EQ(config.getError(), c.reported);
        const std::string chosen = c.chosen;
        EXPECT_EQ(ascii(config.getChosenKey()),
                  chosen.empty() ? "<empty>" : kLogs + (chosen == "app" ? m_application : chosen));
        std::string enabled;
        for (uint32_t i = 0; i < config.getEntries().getCount(); ++i) {
            enabled += config.getEntries().getEntries()[i].m_bEnabled ? "1" : "0";
        }
        EXPECT_EQ(enabled, c.enabled);
    }
    EXPECT_EQ(openHandleCount(), handles) << "keys left open";
}

// The application key is opened first, then for each subkey in turn its name is enumerated and
// the subkey opened: the 3rd open is subkey b, the 2nd name is b's.
INSTANTIATE_TEST_SUITE_P(
    Calls, ConfigFaultTableTest,
    testing::Values(ConfigFault{"ApplicationKeyDenied", Site::RegistryOpen, 1, kAccessDenied, false,
                                Outcome::KeyUnreadable, kAccessDenied, "app", ""},
                    ConfigFault{"ApplicationKeyGoneFallsBackToDefault", Site::RegistryOpen, 1,
                                kFileNotFound, true, Outcome::Loaded, 0, "Default", "1"},
                    ConfigFault{"ApplicationKeyInvalidFallsBackToDefault", Site::RegistryOpen, 1,
                                kInvalidHandle, true, Outcome::Loaded, 0, "Default", "1"},
                    ConfigFault{"NoKeyToBeFound", Site::RegistryOpen, 0, kFileNotFound, false,
                                Outcome::NoKey, kFileNotFound, "", ""},
                    ConfigFault{"EveryOpenDenied", Site::RegistryOpen, 0, kAccessDenied, false,
                                Outcome::KeyUnreadable, kAccessDenied, "app", ""},
                    ConfigFault{"SubkeysNotCounted", Site::RegistryCount, 1, kNoSystemResources,
                                false, Outcome::KeyUnreadable, kNoSystemResources, "app", ""},
                    ConfigFault{"SubkeyOpenDenied", Site::RegistryOpen, 3, kAccessDenied, true,
                                Outcome::Loaded, 0, "app", "101"},
                    ConfigFault{"SubkeyGoneEndsTheList", Site::RegistryOpen, 3, kFileNotFound, true,
                                Outcome::Loaded, 0, "app", "100"},
                    ConfigFault{"SubkeyNameTooLong", Site::RegistryName, 2, kMoreData, true,
                                Outcome::Loaded, 0, "app", "101"},
                    ConfigFault{"NoSubkeyNameReadable", Site::RegistryName, 0, kAccessDenied, true,
                                Outcome::Loaded, 0, "app", "000"}),
    caseName<ConfigFault>);

// One configuration object loaded again: each load tells what it found itself, and a load that
// fails holds no entries, whatever an earlier load of the object found.
TEST_F(ConfigFaultTest, EachLoadTellsOnlyWhatItFound) {
    CQIRLogConfigWindows config(name());
    {
        Failing failing(Site::RegistryCount, 1, kNoSystemResources);
        EXPECT_FALSE(config.load());
    }
    EXPECT_EQ(config.getOutcome(), Outcome::KeyUnreadable);
    EXPECT_EQ(config.getError(), kNoSystemResources);

    EXPECT_TRUE(config.load());
    EXPECT_EQ(config.getOutcome(), Outcome::Loaded);
    EXPECT_EQ(config.getError(), 0u);
    EXPECT_EQ(config.getEntries().getCount(), 3u);

    {
        Failing failing(Site::RegistryOpen, 0, kFileNotFound);
        EXPECT_FALSE(config.load());
    }
    EXPECT_EQ(config.getOutcome(), Outcome::NoKey);
    EXPECT_EQ(config.getError(), kFileNotFound);
    EXPECT_EQ(ascii(config.getChosenKey()), "<empty>");
    EXPECT_EQ(config.getEntries().getCount(), 0u);
}

// Each value read that fails leaves exactly that value as if it were missing, in exactly one
// entry; the sweep fails the 1st, 2nd, ... value read until a load makes no more of them, and
// every value of every entry must have been hit once.
struct QuerySweep {
    const char* name;
    bool defaultKey;  // the application has no key of its own
    uint32_t error;
};

void PrintTo(const QuerySweep& c, std::ostream* os) {
    *os << c.name;
}

class ConfigQuerySweepTest : public ConfigFaultTest,
                             public testing::WithParamInterface<QuerySweep> {};

TEST_P(ConfigQuerySweepTest, EachFailedReadLeavesOneValueMissing) {
    const QuerySweep& c = GetParam();
    const CQIRLogStringWChar application =
        c.defaultKey ? CQIRLogStringWChar("no-key-of-its-own.exe") : name();
    CQIRLogConfigWindows reference(application);
    ASSERT_TRUE(reference.load());
    const uint32_t count = reference.getEntries().getCount();
    ASSERT_EQ(count, c.defaultKey ? 1u : 3u);
    const CQIRLogConfigEntry missing;  // what every value reads as when it is not there

    std::set<std::pair<uint32_t, std::string>> hit;
    uint64_t n = 1;
    for (;; ++n) {
        SCOPED_TRACE("value read " + std::to_string(n) + " fails");
        CQIRLogConfigWindows config(application);
        bool loaded = false;
        bool fired = false;
        {
            Failing failing(Site::RegistryQuery, n, c.error);
            loaded = config.load();
            fired = failing.fired();
        }
        EXPECT_TRUE(loaded);
        ASSERT_EQ(config.getEntries().getCount(), count);
        if (!fired) {
            break;
        }
        std::vector<std::pair<uint32_t, std::string>> changed;
        for (uint32_t i = 0; i < count; ++i) {
            const auto values = valuesOf(config.getEntries().getEntries()[i]);
            const auto expected = valuesOf(reference.getEntries().getEntries()[i]);
            if (values.at("Enabled") != expected.at("Enabled")) {
                // Without "Enabled" the whole entry stays missing.
                EXPECT_EQ(values, valuesOf(missing));
                changed.emplace_back(i, "Enabled");
                continue;
            }
            for (const auto& [value, text] : values) {
                if (text != expected.at(value)) {
                    EXPECT_EQ(text, valuesOf(missing).at(value)) << value;
                    changed.emplace_back(i, value);
                }
            }
        }
        ASSERT_EQ(changed.size(), 1u);
        EXPECT_TRUE(hit.insert(changed[0]).second) << "value read twice";
    }
    // The application lists are read only from Default.
    const uint32_t valuesPerEntry = c.defaultKey ? 9 : 7;
    EXPECT_EQ(hit.size(), count * valuesPerEntry);
    EXPECT_EQ(n - 1, count * valuesPerEntry) << "value reads made";
}

INSTANTIATE_TEST_SUITE_P(Reads, ConfigQuerySweepTest,
                         testing::Values(QuerySweep{"ApplicationKeyDenied", false, kAccessDenied},
                                         QuerySweep{"ApplicationKeyTooLong", false, kMoreData},
                                         QuerySweep{"DefaultKeyDenied", true, kAccessDenied},
                                         QuerySweep{"DefaultKeyDeleted", true, kKeyDeleted}),
                         caseName<QuerySweep>);

}  // namespace
