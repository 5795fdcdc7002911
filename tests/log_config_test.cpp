// Reading the logging configuration from the registry: which key is chosen, the subkeys in
// order, every value reader, and what values that do not fit read as.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "alloc_seam.h"
#include "log_text.h"
#include "qir_log_config.h"
#include "qir_sys/process.h"
#include "temp_registry.h"

namespace {

using logtext::ascii;

const std::string kLogs = "Software\\Halvex\\Logs\\";
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

// An application name of this test alone.
std::string uniqueApplication() {
    static int counter = 0;
    return "qirtest-" + std::to_string(qir::sys::processId()) + "-" + std::to_string(++counter) +
           ".exe";
}

std::string section(const std::string& key) {
    return "[HKEY_LOCAL_MACHINE\\" + kLogs + key + "]\n";
}

// A REG_MULTI_SZ of the strings, as hex(7) bytes: each string and its terminator, then the
// terminator that ends the list.
std::string multi(const std::vector<std::string>& strings) {
    std::string hex = "hex(7):";
    bool first = true;
    auto unit = [&](unsigned char c) {
        char pair[16];
        std::snprintf(pair, sizeof pair, "%s%02x,00", first ? "" : ",", c);
        hex += pair;
        first = false;
    };
    for (size_t s = 0; s < strings.size(); ++s) {
        for (char c : strings[s]) {
            unit(static_cast<unsigned char>(c));
        }
        unit(0);
    }
    unit(0);
    return hex;
}

// UTF-16LE bytes of text as raw data, with or without a terminator. Stored as binary, so that
// the registry hands the bytes back exactly as they are (the reader never looks at the type).
std::string stringBytes(const std::string& text, bool terminator) {
    std::string hex = "hex:";
    for (size_t i = 0; i < text.size(); ++i) {
        char pair[16];
        std::snprintf(pair, sizeof pair, "%s%02x,00", i == 0 ? "" : ",",
                      static_cast<unsigned char>(text[i]));
        hex += pair;
    }
    if (terminator) {
        hex += text.empty() ? "00,00" : ",00,00";
    }
    return hex;
}

class LogConfigTest : public testing::Test {
  protected:
    // Makes `text` the registry (keys below Software\Halvex\Logs) and loads the configuration
    // of the test's application.
    bool load(const std::string& text) {
        registry = std::make_unique<testreg::TempRegistry>(
            kHeader + text, std::vector<std::string>{kLogs + application, kLogs + "Default"});
        EXPECT_EQ(registry->failure(), "");
        config = std::make_unique<CQIRLogConfigWindows>(CQIRLogStringWChar(application.c_str()));
        return config->load();
    }

    const CQIRLogConfigEntry& entry(uint32_t index) const {
        return config->getEntries().getEntries()[index];
    }
    uint32_t count() const { return config->getEntries().getCount(); }

    std::string application = uniqueApplication();
    std::unique_ptr<testreg::TempRegistry> registry;
    std::unique_ptr<CQIRLogConfigWindows> config;
};

TEST_F(LogConfigTest, DefaultKeyWithAllNineValues) {
    ASSERT_TRUE(load(section("Default\\Out") +
                     "\"Enabled\"=dword:00000001\n"
                     "\"Detail\"=dword:0000000e\n"
                     "\"SeparateThreads\"=dword:00000001\n"
                     "\"Type\"=dword:00000001\n"
                     "\"Target\"=\"C:\\\\Logs\\\\velnor.log\"\n"
                     "\"AllowObjects\"=" +
                     multi({"CQIRBuffer<char>", "CQIRStringWChar"}) +
                     "\n"
                     "\"ExcludeObjects\"=" +
                     multi({"CQIRLogData"}) +
                     "\n"
                     "\"AllowApplications\"=" +
                     multi({"notepad.exe", "calc.exe"}) +
                     "\n"
                     "\"ExcludeApplications\"=" +
                     multi({"cmd.exe"}) + "\n"));
    ASSERT_EQ(count(), 1u);
    EXPECT_EQ(config->getOutcome(), CQIRLogConfigWindows::Outcome::Loaded);
    EXPECT_EQ(ascii(config->getChosenKey()), kLogs + "Default");
    const CQIRLogConfigEntry& e = entry(0);
    EXPECT_TRUE(e.m_bEnabled);
    EXPECT_EQ(e.m_ulDetail, 14u);
    EXPECT_TRUE(e.m_bSeparateThreads);
    EXPECT_EQ(e.m_ulType, 1u);
    EXPECT_EQ(ascii(e.m_strTarget), "C:\\Logs\\velnor.log");
    EXPECT_EQ(ascii(e.m_strAllowObjects), "CQIRBuffer<char>,CQIRStringWChar");
    EXPECT_EQ(ascii(e.m_strExcludeObjects), "CQIRLogData");
    EXPECT_EQ(ascii(e.m_strAllowApplications), "notepad.exe,calc.exe");
    EXPECT_EQ(ascii(e.m_strExcludeApplications), "cmd.exe");
}

TEST_F(LogConfigTest, ApplicationKeyReplacesDefaultAndIgnoresApplicationLists) {
    ASSERT_TRUE(load(section("Default\\One") + "\"Enabled\"=dword:00000001\n" +
                     section("Default\\Two") + "\"Enabled\"=dword:00000001\n" +
                     section(application + "\\Mine") +
                     "\"Enabled\"=dword:00000001\n"
                     "\"Type\"=dword:00000001\n"
                     "\"AllowApplications\"=" +
                     multi({"calc.exe"}) +
                     "\n"
                     "\"ExcludeApplications\"=" +
                     multi({"cmd.exe"}) + "\n"));
    ASSERT_EQ(count(), 1u);
    EXPECT_TRUE(entry(0).m_bEnabled);
    EXPECT_EQ(entry(0).m_ulType, 1u);
    EXPECT_EQ(entry(0).m_strAllowApplications.getBuffer(), nullptr);
    EXPECT_EQ(entry(0).m_strExcludeApplications.getBuffer(), nullptr);
}

TEST_F(LogConfigTest, NoKeyFails) {
    EXPECT_FALSE(load(""));
    EXPECT_EQ(count(), 0u);
    EXPECT_EQ(config->getOutcome(), CQIRLogConfigWindows::Outcome::NoKey);
    EXPECT_EQ(config->getChosenKey().getBuffer(), nullptr);
}

TEST_F(LogConfigTest, KeyWithoutSubkeysFails) {
    EXPECT_FALSE(load(section(application) + "\"Stray\"=dword:00000001\n" +
                      section("Default\\Out") + "\"Enabled\"=dword:00000001\n"));
    EXPECT_EQ(count(), 0u);
    EXPECT_EQ(config->getOutcome(), CQIRLogConfigWindows::Outcome::NoSubkeys);
    EXPECT_EQ(ascii(config->getChosenKey()), kLogs + application);
}

TEST_F(LogConfigTest, DisabledEntriesKeepTheirIndex) {
    // Subkeys enumerate in case-insensitive alphabetical order.
    ASSERT_TRUE(load(section(application + "\\c-on") +
                     "\"Enabled\"=dword:00000001\n\"Detail\"=dword:00000004\n" +
                     section(application + "\\a-off") +
                     "\"Enabled\"=dword:00000000\n\"Detail\"=dword:00000004\n" +
                     section(application + "\\B-missing") + "\"Detail\"=dword:00000004\n"));
    ASSERT_EQ(count(), 3u);
    EXPECT_FALSE(entry(0).m_bEnabled);
    EXPECT_EQ(entry(0).m_ulDetail, 0u);
    EXPECT_FALSE(entry(1).m_bEnabled);
    EXPECT_EQ(entry(1).m_ulDetail, 0u);
    EXPECT_TRUE(entry(2).m_bEnabled);
    EXPECT_EQ(entry(2).m_ulDetail, 4u);
}

TEST_F(LogConfigTest, NumbersThatDoNotFitReadAsZero) {
    ASSERT_TRUE(load(section(application + "\\Out") + "\"Enabled\"=dword:00000001\n"
                                                      "\"Detail\"=hex(b):0c,00,00,00,00,00,00,00\n"
                                                      "\"Type\"=hex:01,00\n"));
    EXPECT_EQ(entry(0).m_ulDetail, 0u);
    EXPECT_EQ(entry(0).m_ulType, 1u);  // two bytes fit
}

struct TargetCase {
    const char* name;
    std::string data;      // the value as .reg data
    std::string expected;  // the target read, "<empty>" for none
};

void PrintTo(const TargetCase& c, std::ostream* os) {
    *os << c.name;
}

class LogConfigTargetTest : public LogConfigTest, public testing::WithParamInterface<TargetCase> {};

TEST_P(LogConfigTargetTest, ReadsWithinItsBuffer) {
    ASSERT_TRUE(load(section(application + "\\Out") + "\"Enabled\"=dword:00000001\n" +
                     "\"Target\"=" + GetParam().data + "\n"));
    EXPECT_EQ(ascii(entry(0).m_strTarget), GetParam().expected);
}

const std::string k259(259, 'x');
const std::string k260(260, 'y');

INSTANTIATE_TEST_SUITE_P(
    Values, LogConfigTargetTest,
    testing::Values(TargetCase{"TwoHundredFiftyNineCharacters", "\"" + k259 + "\"", k259},
                    TargetCase{"TooLongForItsBuffer", "\"" + k260 + "\"", "<empty>"},
                    TargetCase{"WithoutTerminator", stringBytes("C:\\a.log", false), "C:\\a.log"},
                    TargetCase{"FullBufferWithoutTerminatorIsCut", stringBytes(k260, false),
                               k260.substr(1)},
                    TargetCase{"Empty", "\"\"", "<empty>"}),
    [](const testing::TestParamInfo<TargetCase>& param) { return std::string(param.param.name); });

TEST_F(LogConfigTest, MultiStrings) {
    ASSERT_TRUE(load(section(application + "\\Out") +
                     "\"Enabled\"=dword:00000001\n"
                     "\"AllowObjects\"=\"CQIRStringWChar\"\n"
                     "\"ExcludeObjects\"=" +
                     stringBytes(std::string("A\0B", 3), false) + "\n" +
                     section(application + "\\Two") +
                     "\"Enabled\"=dword:00000001\n"
                     "\"AllowObjects\"=" +
                     multi({"A", "", "B"}) +
                     "\n"
                     "\"ExcludeObjects\"=" +
                     multi({}) + "\n"));
    ASSERT_EQ(count(), 2u);
    EXPECT_EQ(ascii(entry(0).m_strAllowObjects), "CQIRStringWChar");  // a plain string
    EXPECT_EQ(ascii(entry(0).m_strExcludeObjects), "A");  // the unterminated B is left out
    EXPECT_EQ(ascii(entry(1).m_strAllowObjects), "A");    // the empty string ends the list
    EXPECT_EQ(ascii(entry(1).m_strExcludeObjects), "<empty>");
}

// The joining on its own, as the readers of "AllowObjects" and its kin use it on the bytes the
// registry returned: an odd last byte is no unit, and nothing past the given size is read.
TEST(LogConfigMultiStringTest, JoinsTheTerminatedStringsWithinTheSize) {
    const unsigned char data[] = {'A', 0, 0, 0, 'B', 0, 'C', 0, 0, 0, 'D', 0, 0, 0, 0, 0};
    EXPECT_EQ(ascii(qirJoinMultiString(data, sizeof data)), "A,BC,D");
    EXPECT_EQ(ascii(qirJoinMultiString(data, 10)), "A,BC");
    EXPECT_EQ(ascii(qirJoinMultiString(data, 9)), "A");  // BC without its terminator
    EXPECT_EQ(ascii(qirJoinMultiString(data, 4)), "A");
    EXPECT_EQ(ascii(qirJoinMultiString(data, 3)), "<empty>");
    const CQIRLogStringWChar none = qirJoinMultiString(data, 0);
    EXPECT_EQ(none.getSize(), 0u);
    EXPECT_EQ(none.getBuffer(), nullptr);
}

// A subkey that is gone by the time it is opened ends the list there, successfully.
class VanishingSubkey : public CQIRLogConfigWindows {
  public:
    VanishingSubkey(const CQIRLogStringWChar& application, std::string gone)
        : CQIRLogConfigWindows(application), m_gone(std::move(gone)) {}

  protected:
    uint32_t openKey(const CQIRLogStringWChar& path, qir::sys::RegistryKey& key) override {
        const std::string text = ascii(path);
        if (text.size() >= m_gone.size() &&
            text.compare(text.size() - m_gone.size(), m_gone.size(), m_gone) == 0) {
            return 2;
        }
        return CQIRLogConfigWindows::openKey(path, key);
    }

  private:
    std::string m_gone;
};

TEST_F(LogConfigTest, SubkeyGoneWhenOpenedEndsTheList) {
    ASSERT_TRUE(load(section(application + "\\a") + "\"Enabled\"=dword:00000001\n" +
                     section(application + "\\b") + "\"Enabled\"=dword:00000001\n" +
                     section(application + "\\c") + "\"Enabled\"=dword:00000001\n"));
    VanishingSubkey vanishing(CQIRLogStringWChar(application.c_str()), "\\b");
    ASSERT_TRUE(vanishing.load());
    const CQIRLogConfigEntryList& entries = vanishing.getEntries();
    ASSERT_EQ(entries.getCount(), 3u);
    EXPECT_TRUE(entries.getEntries()[0].m_bEnabled);
    EXPECT_FALSE(entries.getEntries()[1].m_bEnabled);
    EXPECT_FALSE(entries.getEntries()[2].m_bEnabled);
}

// Opening the key whose path ends in `suffix` answers `error` and opens nothing; or, with
// `failAt` set, opens it and then refuses the failAt-th allocation from there on (0: every
// one) until the load returns.
class RefusingOpen : public CQIRLogConfigWindows {
  public:
    RefusingOpen(const std::string& application, std::string suffix, uint32_t error)
        : CQIRLogConfigWindows(CQIRLogStringWChar(application.c_str())),
          m_suffix(std::move(suffix)),
          m_error(error) {}
    RefusingOpen(const std::string& application, std::string suffix, std::optional<uint64_t> failAt)
        : RefusingOpen(application, std::move(suffix), 0) {
        m_failAt = failAt;
    }

    bool load() override {
        const bool loaded = CQIRLogConfigWindows::load();
        m_fired = m_failing && m_failing->fired();
        m_failing.reset();
        return loaded;
    }
    bool fired() const { return m_fired; }

  protected:
    uint32_t openKey(const CQIRLogStringWChar& path, qir::sys::RegistryKey& key) override {
        const std::string text = ascii(path);
        if (text.size() < m_suffix.size() ||
            text.compare(text.size() - m_suffix.size(), m_suffix.size(), m_suffix) != 0) {
            return CQIRLogConfigWindows::openKey(path, key);
        }
        if (m_failAt) {
            const uint32_t error = CQIRLogConfigWindows::openKey(path, key);
            m_failing.emplace(*m_failAt);
            return error;
        }
        return m_error;
    }

  private:
    std::string m_suffix;
    uint32_t m_error;
    std::optional<uint64_t> m_failAt;
    std::optional<allocseam::Failing> m_failing;
    bool m_fired = false;
};

constexpr uint32_t kAccessDenied = 5;

TEST_F(LogConfigTest, AKeyThatExistsButCannotBeOpenedIsChosenAndUnreadable) {
    ASSERT_TRUE(load(section(application + "\\Out") + "\"Enabled\"=dword:00000001\n" +
                     section("Default\\Out") + "\"Enabled\"=dword:00000001\n"));
    RefusingOpen refusing(application, application, kAccessDenied);
    EXPECT_FALSE(refusing.load());
    EXPECT_EQ(refusing.getOutcome(), CQIRLogConfigWindows::Outcome::KeyUnreadable);
    EXPECT_EQ(refusing.getError(), kAccessDenied);
    // Denied is not missing: the default key is not tried in its place.
    EXPECT_EQ(ascii(refusing.getChosenKey()), kLogs + application);
    EXPECT_EQ(refusing.getEntries().getCount(), 0u);
}

TEST_F(LogConfigTest, ASubkeyThatCannotBeOpenedStaysDisabledAndTheNextOnesAreRead) {
    ASSERT_TRUE(load(section(application + "\\a") + "\"Enabled\"=dword:00000001\n" +
                     section(application + "\\b") + "\"Enabled\"=dword:00000001\n" +
                     section(application + "\\c") +
                     "\"Enabled\"=dword:00000001\n\"Detail\"=dword:00000004\n"));
    RefusingOpen refusing(application, "\\b", kAccessDenied);
    ASSERT_TRUE(refusing.load());
    const CQIRLogConfigEntryList& entries = refusing.getEntries();
    ASSERT_EQ(entries.getCount(), 3u);
    EXPECT_TRUE(entries.getEntries()[0].m_bEnabled);
    EXPECT_FALSE(entries.getEntries()[1].m_bEnabled);
    EXPECT_TRUE(entries.getEntries()[2].m_bEnabled);
    EXPECT_EQ(entries.getEntries()[2].m_ulDetail, 4u);
}

TEST_F(LogConfigTest, NoMemoryForTheEntriesFailsTheLoad) {
    ASSERT_TRUE(load(section(application + "\\Out") + "\"Enabled\"=dword:00000001\n"));
    RefusingOpen starved(application, application, std::optional<uint64_t>(0));
    EXPECT_FALSE(starved.load());
    EXPECT_EQ(starved.getOutcome(), CQIRLogConfigWindows::Outcome::NoMemory);
    EXPECT_EQ(starved.getError(), 8u);
    EXPECT_EQ(starved.getEntries().getCount(), 0u);
}

TEST_F(LogConfigTest, NoMemoryWhileReadingASubkeyLosesWholeValuesOnly) {
    ASSERT_TRUE(load(section(application + "\\Out") +
                     "\"Enabled\"=dword:00000001\n"
                     "\"Target\"=\"C:\\\\a.log\"\n"
                     "\"AllowObjects\"=" +
                     multi({"A", "B"}) + "\n"));
    // Each allocation after the subkey is open is refused in turn: the load still succeeds with
    // its one entry, and each text is either read whole or left empty.
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " refused");
        RefusingOpen starved(application, "\\Out", std::optional<uint64_t>(n));
        ASSERT_TRUE(starved.load());
        ASSERT_EQ(starved.getEntries().getCount(), 1u);
        const CQIRLogConfigEntry& entry = starved.getEntries().getEntries()[0];
        const std::string target = ascii(entry.m_strTarget);
        const std::string objects = ascii(entry.m_strAllowObjects);
        if (!starved.fired()) {
            EXPECT_TRUE(entry.m_bEnabled);
            EXPECT_EQ(target, "C:\\a.log");
            EXPECT_EQ(objects, "A,B");
            break;
        }
        EXPECT_TRUE(target == "<empty>" || target == "C:\\a.log") << target;
        EXPECT_TRUE(objects == "<empty>" || objects == "A,B") << objects;
        ASSERT_LT(n, 100u) << "the sweep does not end";
    }
}

TEST(LogConfigEntryListTest, ResizeToZeroFailsAndEmpties) {
    CQIRLogConfigEntryList list;
    ASSERT_TRUE(list.resize(3));
    EXPECT_EQ(list.getCount(), 3u);
    EXPECT_FALSE(list.getEntries()[2].m_bEnabled);
    EXPECT_FALSE(list.resize(0));
    EXPECT_EQ(list.getCount(), 0u);
    EXPECT_EQ(list.getEntries(), nullptr);
}

}  // namespace
