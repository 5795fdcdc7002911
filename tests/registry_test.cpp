// Reading HKEY_LOCAL_MACHINE through the platform layer: the same cases against a .reg file on
// POSIX and against the real registry, filled by `reg import`, on Windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "param_name.h"
#include "qir_sys/registry.h"
#include "temp_registry.h"

namespace {

using qir::sys::openRegistryKey;
using qir::sys::RegistryKey;
using qir::sys::registryQueryValue;
using qir::sys::registrySubkeyCount;
using qir::sys::registrySubkeyName;
using qir::sys::WideUnit;
using WideString = std::basic_string<WideUnit>;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSuccess = 0;
constexpr uint32_t kNotFound = 2;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kBadPathname = 161;
constexpr uint32_t kMoreData = 234;
constexpr uint32_t kNoMoreItems = 259;
constexpr uint8_t kSentinel = 0xA5;

WideString wide(const std::string& ascii) {
    return WideString(ascii.begin(), ascii.end());
}

std::string narrow(const WideUnit* text) {
    std::string out;
    for (; *text != 0; ++text) {
        out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    }
    return out;
}

// ASCII text as REG_SZ stores it: UTF-16LE with its terminator.
Bytes stringData(const std::string& ascii) {
    Bytes out;
    for (char c : ascii) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes dwordData(uint32_t number) {
    return {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
            static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to,
                       size_t* count = nullptr) {
    size_t replaced = 0;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
        ++replaced;
    }
    if (count != nullptr) {
        *count = replaced;
    }
    return text;
}

struct Query {
    uint32_t error;
    Bytes data;
};

// Reads a value into a 256-byte buffer.
Query query(const RegistryKey& key, const WideUnit* name) {
    Bytes buffer(256, kSentinel);
    auto size = static_cast<uint32_t>(buffer.size());
    const uint32_t error = registryQueryValue(key, name, buffer.data(), size);
    buffer.resize(error == kSuccess ? size : 0);
    return {error, buffer};
}

Query query(const RegistryKey& key, const std::string& name) {
    return query(key, wide(name).c_str());
}

// The names a key's subkeys enumerate under, in order.
std::vector<std::string> subkeyNames(const RegistryKey& key) {
    std::vector<std::string> names;
    uint32_t count = 0;
    EXPECT_EQ(registrySubkeyCount(key, count), kSuccess);
    for (uint32_t index = 0; index < count; ++index) {
        WideUnit name[256] = {};
        EXPECT_EQ(registrySubkeyName(key, index, name, 256), kSuccess) << "index " << index;
        names.push_back(narrow(name));
    }
    WideUnit past[256] = {};
    EXPECT_EQ(registrySubkeyName(key, count, past, 256), kNoMoreItems);
    return names;
}

// Each test installs its own .reg text under a root of its own; "$ROOT" in the text stands for
// that root's section path.
class RegistryTest : public testing::Test {
  protected:
    const std::string root = testreg::uniqueRoot("Registry");

    testing::AssertionResult install(const std::string& body) {
        return installFile("Windows Registry Editor Version 5.00\n\n" +
                           replaceAll(body, "$ROOT", "HKEY_LOCAL_MACHINE\\" + root));
    }

    testing::AssertionResult installFile(const std::string& text) {
        m_registry.reset();  // on Windows its roots go before the new text comes in
        m_registry = std::make_unique<testreg::TempRegistry>(text, std::vector<std::string>{root});
        if (!m_registry->failure().empty()) {
            return testing::AssertionFailure() << m_registry->failure();
        }
        return testing::AssertionSuccess();
    }

    WideString pathTo(const std::string& below) const {
        return wide(below.empty() ? root : root + "\\" + below);
    }

    uint32_t open(const std::string& below, RegistryKey& key) const {
        return openRegistryKey(pathTo(below).c_str(), key);
    }

  private:
    std::unique_ptr<testreg::TempRegistry> m_registry;
};

TEST_F(RegistryTest, OpensKeysThatExistAndAnswers2ForOthers) {
    ASSERT_TRUE(install("[$ROOT\\Present\\Child]\n"));
    RegistryKey key;
    EXPECT_EQ(open("Present", key), kSuccess);
    EXPECT_TRUE(key);
    EXPECT_EQ(open("Present\\Child", key), kSuccess);
    EXPECT_TRUE(key);

    for (const char* missing : {"Absent", "Present\\Absent", "Present\\Child\\Absent", "Pres"}) {
        ASSERT_EQ(open("Present", key), kSuccess);
        EXPECT_EQ(open(missing, key), kNotFound) << missing;
        EXPECT_FALSE(key) << missing << ": a failed open leaves the owner empty";
    }
}

TEST_F(RegistryTest, ASectionCreatesItsMissingParents) {
    ASSERT_TRUE(install("[$ROOT\\A\\B\\C]\n\"Leaf\"=dword:00000001\n"));
    RegistryKey key;
    ASSERT_EQ(open("", key), kSuccess);
    EXPECT_EQ(subkeyNames(key), std::vector<std::string>{"A"});
    ASSERT_EQ(open("A", key), kSuccess);
    EXPECT_EQ(subkeyNames(key), std::vector<std::string>{"B"});
    ASSERT_EQ(open("A\\B", key), kSuccess);
    EXPECT_EQ(subkeyNames(key), std::vector<std::string>{"C"});
    EXPECT_EQ(query(key, "Leaf").error, kNotFound) << "the value belongs to C only";
    ASSERT_EQ(open("A\\B\\C", key), kSuccess);
    EXPECT_EQ(subkeyNames(key), std::vector<std::string>{});
    EXPECT_EQ(query(key, "Leaf").data, dwordData(1));
}

TEST_F(RegistryTest, KeyNamesCompareCaseInsensitivelyAndKeepTheirFirstSpelling) {
    ASSERT_TRUE(install(R"([$ROOT\Mixed\Case]
"Value"="x"
[$ROOT\MIXED\CASE]
"Other"="y"
)"));
    RegistryKey key;
    ASSERT_EQ(open("", key), kSuccess);
    EXPECT_EQ(subkeyNames(key), std::vector<std::string>{"Mixed"});
    ASSERT_EQ(open("mIXED\\cASE", key), kSuccess);
    EXPECT_EQ(query(key, "VALUE").data, stringData("x"));
    EXPECT_EQ(query(key, "other").data, stringData("y"));
}

// Windows skips empty names between, and after, the names of a path, but refuses a path that
// starts with a backslash.
TEST_F(RegistryTest, ExtraBackslashesAreSkippedButALeadingOneIsRefused) {
    ASSERT_TRUE(install("[$ROOT\\A\\B]\n\"Here\"=dword:00000002\n"));
    for (const char* path : {"A\\B\\", "A\\\\B", "A\\\\\\B\\\\"}) {
        RegistryKey key;
        ASSERT_EQ(open(path, key), kSuccess) << path;
        EXPECT_EQ(query(key, "Here").data, dwordData(2)) << path;
    }
    RegistryKey key;
    EXPECT_EQ(openRegistryKey(wide("\\" + root + "\\A\\B").c_str(), key), kBadPathname);
    EXPECT_FALSE(key);
}

TEST_F(RegistryTest, SubkeysEnumerateInCaseInsensitiveAlphabeticalOrder) {
    ASSERT_TRUE(install(R"([$ROOT\beta]
[$ROOT\Alpha]
[$ROOT\x9]
[$ROOT\GAMMA]
[$ROOT\alpha2]
[$ROOT\X10]
[$ROOT\b]
[$ROOT\delta]
)"));
    RegistryKey key;
    ASSERT_EQ(open("", key), kSuccess);
    uint32_t count = 0;
    ASSERT_EQ(registrySubkeyCount(key, count), kSuccess);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(subkeyNames(key), (std::vector<std::string>{"Alpha", "alpha2", "b", "beta", "delta",
                                                          "GAMMA", "X10", "x9"}));
}

TEST_F(RegistryTest, ASubkeyNameNeedsRoomForItsTerminator) {
    ASSERT_TRUE(install("[$ROOT\\Sixsix]\n"));
    RegistryKey key;
    ASSERT_EQ(open("", key), kSuccess);
    WideUnit name[8] = {};
    EXPECT_EQ(registrySubkeyName(key, 0, name, 0), kMoreData);
    EXPECT_EQ(registrySubkeyName(key, 0, name, 6), kMoreData);
    ASSERT_EQ(registrySubkeyName(key, 0, name, 7), kSuccess);
    EXPECT_EQ(narrow(name), "Sixsix");
}

TEST_F(RegistryTest, AnIndexPastTheLastSubkeyAnswers259) {
    ASSERT_TRUE(install("[$ROOT\\Parent\\One]\n[$ROOT\\Parent\\Two]\n"));
    RegistryKey key;
    ASSERT_EQ(open("Parent", key), kSuccess);
    WideUnit name[16] = {};
    EXPECT_EQ(registrySubkeyName(key, 1, name, 16), kSuccess);
    EXPECT_EQ(registrySubkeyName(key, 2, name, 16), kNoMoreItems);
    EXPECT_EQ(registrySubkeyName(key, 1000, name, 16), kNoMoreItems);
    ASSERT_EQ(open("Parent\\One", key), kSuccess);
    EXPECT_EQ(registrySubkeyName(key, 0, name, 16), kNoMoreItems);
}

TEST_F(RegistryTest, DataLargerThanTheBufferAnswers234WithTheSizeItNeeds) {
    ASSERT_TRUE(install("[$ROOT\\K]\n\"Text\"=\"abc\"\n\"Number\"=dword:00000005\n"));
    RegistryKey key;
    ASSERT_EQ(open("K", key), kSuccess);
    Bytes buffer(16, kSentinel);

    uint32_t size = 7;
    EXPECT_EQ(registryQueryValue(key, wide("Text").c_str(), buffer.data(), size), kMoreData);
    EXPECT_EQ(size, 8u);
    size = 0;
    EXPECT_EQ(registryQueryValue(key, wide("Text").c_str(), buffer.data(), size), kMoreData);
    EXPECT_EQ(size, 8u);
    size = 3;
    EXPECT_EQ(registryQueryValue(key, wide("Number").c_str(), buffer.data(), size), kMoreData);
    EXPECT_EQ(size, 4u);

    size = 8;
    ASSERT_EQ(registryQueryValue(key, wide("Text").c_str(), buffer.data(), size), kSuccess);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 8), stringData("abc"));
    EXPECT_EQ(buffer[8], kSentinel) << "nothing is written past the data";
}

TEST_F(RegistryTest, ANullBufferAsksForTheSizeOnly) {
    ASSERT_TRUE(install("[$ROOT\\K]\n\"Text\"=\"abcd\"\n"));
    RegistryKey key;
    ASSERT_EQ(open("K", key), kSuccess);
    uint32_t size = 0;
    EXPECT_EQ(registryQueryValue(key, wide("Text").c_str(), nullptr, size), kSuccess);
    EXPECT_EQ(size, 10u);
}

TEST_F(RegistryTest, AMissingValueAnswers2AndLeavesTheSizeAlone) {
    ASSERT_TRUE(install("[$ROOT\\K]\n\"Present\"=\"x\"\n"));
    RegistryKey key;
    ASSERT_EQ(open("K", key), kSuccess);
    Bytes buffer(16, kSentinel);
    for (const WideString& name : {wide("Absent"), wide("Presen"), wide("")}) {
        uint32_t size = 16;
        EXPECT_EQ(registryQueryValue(key, name.c_str(), buffer.data(), size), kNotFound);
        EXPECT_EQ(size, 16u);
    }
    uint32_t size = 16;
    EXPECT_EQ(registryQueryValue(key, nullptr, buffer.data(), size), kNotFound)
        << "no default value was set";
}

TEST_F(RegistryTest, TheDefaultValueAnswersToAnEmptyOrNullName) {
    ASSERT_TRUE(install("[$ROOT\\K]\n@=\"standard\"\n"));
    RegistryKey key;
    ASSERT_EQ(open("K", key), kSuccess);
    EXPECT_EQ(query(key, "").data, stringData("standard"));
    const Query byNull = query(key, static_cast<const WideUnit*>(nullptr));
    EXPECT_EQ(byNull.error, kSuccess);
    EXPECT_EQ(byNull.data, stringData("standard"));
}

TEST_F(RegistryTest, DeletionsRemoveKeysWithTheirSubtreesAndValues) {
    ASSERT_TRUE(install(R"([$ROOT\Keep]
@="default"
"Gone"="x"
"Stays"="y"
[$ROOT\Doomed\Child\Grandchild]
"Deep"="1"
[$ROOT\Again]
"Old"="1"
[$ROOT\Keep]
"Gone"=-
@=-
[-$ROOT\Doomed]
[-$ROOT\Again]
[$ROOT\Again]
"New"="2"
[-$ROOT\NeverThere]
)"));
    RegistryKey key;
    EXPECT_EQ(open("Doomed", key), kNotFound);
    EXPECT_EQ(open("Doomed\\Child\\Grandchild", key), kNotFound);
    ASSERT_EQ(open("", key), kSuccess);
    EXPECT_EQ(subkeyNames(key), (std::vector<std::string>{"Again", "Keep"}));

    ASSERT_EQ(open("Keep", key), kSuccess);
    EXPECT_EQ(query(key, "Gone").error, kNotFound);
    EXPECT_EQ(query(key, "").error, kNotFound);
    EXPECT_EQ(query(key, "Stays").data, stringData("y"));

    ASSERT_EQ(open("Again", key), kSuccess);
    EXPECT_EQ(query(key, "Old").error, kNotFound) << "a key made again starts empty";
    EXPECT_EQ(query(key, "New").data, stringData("2"));
}

TEST_F(RegistryTest, CommentsAndBlankLinesAreSkipped) {
    ASSERT_TRUE(install(R"(; [$ROOT\Commented]

[$ROOT\Real]
;"Hidden"="x"
   ; an indented comment

"Shown"="y"
)"));
    RegistryKey key;
    EXPECT_EQ(open("Commented", key), kNotFound);
    ASSERT_EQ(open("Real", key), kSuccess);
    EXPECT_EQ(query(key, "Hidden").error, kNotFound);
    EXPECT_EQ(query(key, "Shown").data, stringData("y"));
}

TEST_F(RegistryTest, AnEmptyOwnerAnswers6) {
    const RegistryKey key;
    uint32_t count = 7;
    EXPECT_EQ(registrySubkeyCount(key, count), kInvalidHandle);
    EXPECT_EQ(count, 7u);
    WideUnit name[8] = {};
    EXPECT_EQ(registrySubkeyName(key, 0, name, 8), kInvalidHandle);
    EXPECT_EQ(query(key, "x").error, kInvalidHandle);
}

TEST_F(RegistryTest, AMovedOwnerTakesTheKeyAlong) {
    ASSERT_TRUE(install("[$ROOT\\K]\n\"V\"=dword:00000009\n[$ROOT\\L]\n\"W\"=dword:00000003\n"));
    RegistryKey first;
    ASSERT_EQ(open("K", first), kSuccess);
    RegistryKey second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(query(second, "V").data, dwordData(9));

    RegistryKey third;
    ASSERT_EQ(open("L", third), kSuccess);
    third = std::move(second);
    EXPECT_FALSE(second);
    EXPECT_EQ(query(third, "V").data, dwordData(9));
    EXPECT_EQ(query(third, "W").error, kNotFound);
}

// One value form a case: the lines of a section [$ROOT\Values], the name asked for and the
// bytes expected.
struct ValueCase {
    const char* name;
    const char* lines;
    const char* queried;
    Bytes expected;
};

void PrintTo(const ValueCase& c, std::ostream* os) {
    *os << c.name;
}

class RegistryValueTest : public RegistryTest, public testing::WithParamInterface<ValueCase> {};

TEST_P(RegistryValueTest, ReadsTheDataAsStored) {
    const ValueCase& c = GetParam();
    ASSERT_TRUE(install(std::string("[$ROOT\\Values]\n") + c.lines + "\n"));
    RegistryKey key;
    ASSERT_EQ(open("Values", key), kSuccess);
    const Query result = query(key, c.queried);
    ASSERT_EQ(result.error, kSuccess);
    EXPECT_EQ(result.data, c.expected);
}

const ValueCase kValueCases[] = {
    {"String", R"("Text"="C:\\Logs\\\"q\"")", "Text", stringData(R"(C:\Logs\"q")")},
    {"EmptyString", R"("Empty"="")", "Empty", {0, 0}},
    {"Dword", R"("Detail"=dword:0000000e)", "Detail", dwordData(0x0e)},
    {"DwordAllBits", R"("Mask"=dword:FEdcba98)", "Mask", dwordData(0xfedcba98)},
    {"Binary", R"("Blob"=hex:01,ab,FF,00)", "Blob", {0x01, 0xab, 0xff, 0x00}},
    {"EmptyBinary", R"("Nothing"=hex:)", "Nothing", {}},
    {"MultiString",
     R"("List"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00)",
     "List",
     {0x61, 0, 0, 0, 0x62, 0, 0x63, 0, 0, 0, 0, 0}},
    {"Qword",
     R"("Big"=hex(b):88,77,66,55,44,33,22,11)",
     "Big",
     {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
    {"ExpandString",
     R"("Path"=hex(2):25,00,54,00,25,00,00,00)",
     "Path",
     {0x25, 0, 0x54, 0, 0x25, 0, 0, 0}},
    {"AnyOtherType", R"("Typed"=hex(4):2a,00,00,00)", "Typed", dwordData(42)},
    {"NoneType", R"("Raw"=hex(0):01,02)", "Raw", {0x01, 0x02}},
    {"ContinuedOnLaterLines", "\"Long\"=hex:01,02,\\\n  03,04,\\\n\t05", "Long", {1, 2, 3, 4, 5}},
    {"Default", R"(@="standard")", "", stringData("standard")},
    {"NameInAnotherCase", R"("MiXeD"=dword:00000007)", "mixed", dwordData(7)},
    {"EscapedName", R"("Quote\"And\\Slash"="v")", R"(Quote"And\Slash)", stringData("v")},
    {"LaterDefinitionWins", "\"Twice\"=\"first\"\n\"TWICE\"=dword:00000002", "twice", dwordData(2)},
};

INSTANTIATE_TEST_SUITE_P(Forms, RegistryValueTest, testing::ValuesIn(kValueCases),
                         caseName<ValueCase>);

// The logging configurations in examples/, read through this facility with their keys moved
// under the test's root.
struct ExampleCase {
    const char* name;
    const char* file;
    const char* target;
};

void PrintTo(const ExampleCase& c, std::ostream* os) {
    *os << c.name;
}

class ExampleRegistryTest : public RegistryTest, public testing::WithParamInterface<ExampleCase> {};

TEST_P(ExampleRegistryTest, HoldsAWorkingTextFileConfiguration) {
    const ExampleCase& c = GetParam();
    std::ifstream in(std::filesystem::u8path(QIR_EXAMPLES_DIR) / c.file, std::ios::binary);
    ASSERT_TRUE(in) << c.file;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t i = 0; i < text.size(); ++i) {
        ASSERT_LT(static_cast<unsigned char>(text[i]), 0x80) << "reg import wants ASCII, at " << i;
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "a line without CR LF, at " << i;
        }
    }

    size_t moved = 0;
    const std::string local = replaceAll(text, "[HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\",
                                         "[HKEY_LOCAL_MACHINE\\" + root + "\\", &moved);
    ASSERT_EQ(moved, 1u);
    ASSERT_TRUE(installFile(local));

    RegistryKey key;
    ASSERT_EQ(open("Default\\TextFile", key), kSuccess);
    EXPECT_EQ(query(key, "Enabled").data, dwordData(1));
    EXPECT_EQ(query(key, "Detail").data, dwordData(2 | 4 | 8));
    EXPECT_EQ(query(key, "Type").data, dwordData(1));
    EXPECT_EQ(query(key, "SeparateThreads").data, dwordData(0));
    EXPECT_EQ(query(key, "Target").data, stringData(c.target));
}

INSTANTIATE_TEST_SUITE_P(Files, ExampleRegistryTest,
                         testing::Values(ExampleCase{"Windows", "logging.reg",
                                                     R"(C:\ProgramData\Halvex\Logs\VelnorApi.log)"},
                                         ExampleCase{"Linux", "logging-linux.reg",
                                                     "/var/log/halvex/VelnorApi.log"}),
                         caseName<ExampleCase>);

}  // namespace
