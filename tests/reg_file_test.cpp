// The POSIX .reg file reader on its own: encodings, headers, limits and hostile bytes, and the
// registry facility's handling of the file it reads.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "param_name.h"
#include "qir_sys/process.h"
#include "qir_sys/registry.h"
#include "reg_file.h"
#include "temp_registry.h"

namespace {

namespace fs = std::filesystem;
namespace regfile = qir::sys::regfile;
using Bytes = std::vector<uint8_t>;

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n";
const std::string kSection = "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n";

std::u16string utf16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
        for (size_t k = 1; k < length; ++k) {
            code = (code << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
        }
        if (code >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

std::string utf16BigEndianFile(const std::u16string& text) {
    std::string out = "\xFE\xFF";
    for (char16_t unit : text) {
        out.push_back(static_cast<char>(unit >> 8));
        out.push_back(static_cast<char>(unit & 0xFF));
    }
    return out;
}

std::string utf16LeFile(const std::u16string& text) {
    std::string out = "\xFF\xFE";
    for (char16_t unit : text) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
    return out;
}

// What REG_SZ stores for the text: its UTF-16LE units and a terminator.
Bytes stringData(const std::u16string& text) {
    Bytes out;
    for (char16_t unit : text) {
        out.push_back(static_cast<uint8_t>(unit & 0xFF));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes dwordData(uint32_t number) {
    return {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
            static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
}

std::unique_ptr<regfile::Key> parse(const std::string& bytes) {
    return regfile::parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

const regfile::Key* find(const regfile::Key& root, const std::u16string& path) {
    const regfile::Key* key = &root;
    size_t start = 0;
    while (key != nullptr && start <= path.size()) {
        const size_t slash = path.find(u'\\', start);
        const size_t end = slash == std::u16string::npos ? path.size() : slash;
        key = key->findSubkey(std::u16string_view(path).substr(start, end - start));
        start = end + 1;
    }
    return key;
}

// The data of a value of the key at `path`, or nothing for a missing key or value.
std::optional<Bytes> data(const regfile::Key& root, const std::u16string& path,
                          const std::u16string& name) {
    const regfile::Key* key = find(root, path);
    const regfile::Value* value = key != nullptr ? key->findValue(name) : nullptr;
    return value != nullptr ? std::optional<Bytes>(value->data) : std::nullopt;
}

std::vector<std::u16string> subkeyNames(const regfile::Key& key) {
    std::vector<std::u16string> names;
    for (size_t i = 0; i < key.subkeyCount(); ++i) {
        names.push_back(key.subkey(i).name());
    }
    return names;
}

size_t keysBelow(const regfile::Key& key) {
    size_t count = key.subkeyCount();
    for (size_t i = 0; i < key.subkeyCount(); ++i) {
        count += keysBelow(key.subkey(i));
    }
    return count;
}

bool isEmpty(const regfile::Key& root) {
    return root.subkeyCount() == 0 && root.findValue(u"") == nullptr;
}

// The same file in the encodings and line ends the reader takes.
struct EncodingCase {
    const char* name;
    std::string (*encode)(const std::string& utf8CrLf);
};

void PrintTo(const EncodingCase& c, std::ostream* os) {
    *os << c.name;
}

std::string withLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c != '\r') {
            out.push_back(c);
        }
    }
    return out;
}

const EncodingCase kEncodings[] = {
    {"Utf8", [](const std::string& text) { return text; }},
    {"Utf8WithBom", [](const std::string& text) { return "\xEF\xBB\xBF" + text; }},
    {"Utf8LfOnly", [](const std::string& text) { return withLf(text); }},
    {"Utf16Le", [](const std::string& text) { return utf16LeFile(utf16(text)); }},
    {"Utf16LeLfOnly", [](const std::string& text) { return utf16LeFile(utf16(withLf(text))); }},
    {"Regedit4", [](const std::string& text) { return "REGEDIT4" + text.substr(36); }},
};

class RegFileEncodingTest : public testing::TestWithParam<EncodingCase> {};

TEST_P(RegFileEncodingTest, ReadsNamesAndTextBeyondAscii) {
    const std::string text = kHeader +
                             "\r\n[HKEY_LOCAL_MACHINE\\Software\\Ünï\\Ω]\r\n"
                             "\"Text\"=\"€ 😀 \\\\ \\\"\"\r\n"
                             "\"Number\"=dword:0000002a\r\n";
    const auto root = parse(GetParam().encode(text));
    const std::u16string path = utf16("SOFTWARE\\ÜNï\\Ω");
    EXPECT_EQ(data(*root, path, u"Text"), stringData(utf16("€ 😀 \\ \"")));
    EXPECT_EQ(data(*root, path, u"number"), dwordData(42));
    EXPECT_EQ(subkeyNames(*find(*root, u"Software")), std::vector<std::u16string>{utf16("Ünï")});
}

INSTANTIATE_TEST_SUITE_P(Encodings, RegFileEncodingTest, testing::ValuesIn(kEncodings),
                         caseName<EncodingCase>);

TEST(RegFileTest, Regedit4StoresTheBytesOfTextTypesAsUtf16) {
    const auto root = parse(
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\T]\r\n"
        "\"Expand\"=hex(2):25,54,25,00\r\n"
        "\"Multi\"=hex(7):61,00,c3,a9,00,00\r\n"
        "\"Binary\"=hex:25,54,25,00\r\n");
    EXPECT_EQ(data(*root, u"Software\\T", u"Expand"), (Bytes{0x25, 0, 0x54, 0, 0x25, 0, 0, 0}));
    EXPECT_EQ(data(*root, u"Software\\T", u"Multi"), (Bytes{0x61, 0, 0, 0, 0xe9, 0, 0, 0, 0, 0}));
    EXPECT_EQ(data(*root, u"Software\\T", u"Binary"), (Bytes{0x25, 0x54, 0x25, 0x00}));
}

// Windows orders subkeys by their names in upper case, which puts "[" and "_" after the
// letters. (Wine's registry folds to lower case and orders these three the other way round.)
TEST(RegFileTest, SubkeysAreOrderedByTheirUpperCaseNames) {
    const auto root = parse(kHeader +
                            "[HKEY_LOCAL_MACHINE\\a[]\r\n"
                            "[HKEY_LOCAL_MACHINE\\A_b]\r\n"
                            "[HKEY_LOCAL_MACHINE\\Ab]\r\n");
    EXPECT_EQ(subkeyNames(*root), (std::vector<std::u16string>{u"Ab", u"a[", u"A_b"}));
}

TEST(RegFileTest, BlanksBeforeLinesAndAroundTheEqualsSignAreAllowed) {
    const auto root = parse(kHeader +
                            "  [HKEY_LOCAL_MACHINE\\Software\\T]  \r\n"
                            "\t\"Spaced\" \t= \"x\" \r\n"
                            "  @ = dword:00000003\r\n"
                            "\"List\"=hex: 01 , 02,\r\n");
    EXPECT_EQ(data(*root, u"Software\\T", u"Spaced"), stringData(u"x"));
    EXPECT_EQ(data(*root, u"Software\\T", u""), dwordData(3));
    EXPECT_EQ(data(*root, u"Software\\T", u"List"), (Bytes{1, 2}));
}

TEST(RegFileTest, KeysAtTheNameAndDepthLimitsAreRead) {
    const std::string longName(regfile::kMaxKeyNameUnits, 'n');
    std::string deep = "[HKEY_LOCAL_MACHINE";
    for (size_t level = 0; level < regfile::kMaxDepth; ++level) {
        deep += "\\d";
    }
    const auto root = parse(kHeader + "[HKEY_LOCAL_MACHINE\\Software\\" + longName + "]\r\n" +
                            deep + "]\r\n\"Bottom\"=dword:00000001\r\n");
    EXPECT_NE(find(*root, u"Software\\" + utf16(longName)), nullptr);
    std::u16string path = u"d";
    for (size_t level = 1; level < regfile::kMaxDepth; ++level) {
        path += u"\\d";
    }
    EXPECT_EQ(data(*root, path, u"Bottom"), dwordData(1));
}

TEST(RegFileTest, EmptyNamesInASectionPathNameNoKey) {
    // A doubled or a final backslash adds no level: both lines name Software\T.
    const auto root =
        parse(kHeader + "[HKEY_LOCAL_MACHINE\\Software\\\\T]\r\n" + "\"One\"=dword:00000001\r\n" +
              "[HKEY_LOCAL_MACHINE\\Software\\T\\]\r\n" + "\"Two\"=dword:00000002\r\n");
    EXPECT_EQ(data(*root, u"Software\\T", u"One"), dwordData(1));
    EXPECT_EQ(data(*root, u"Software\\T", u"Two"), dwordData(2));
    EXPECT_EQ(keysBelow(*root), 2u);
}

TEST(RegFileTest, ValueNamesOverTheLimitAreSkipped) {
    const std::string atLimit(regfile::kMaxValueNameUnits, 'v');
    const std::string overLimit(regfile::kMaxValueNameUnits + 1, 'w');
    const auto root =
        parse(kHeader + kSection + "\"" + atLimit + "\"=\"x\"\r\n\"" + overLimit + "\"=\"x\"\r\n");
    EXPECT_TRUE(data(*root, u"Software\\T", utf16(atLimit)));
    EXPECT_FALSE(data(*root, u"Software\\T", utf16(overLimit)));
}

TEST(RegFileTest, KeysPastTheLimitAreSkipped) {
    std::string text = kHeader;
    for (size_t i = 0; i <= regfile::kMaxKeys; ++i) {
        text += "[HKEY_LOCAL_MACHINE\\k" + std::to_string(i) + "]\r\n";
    }
    const auto root = parse(text);
    EXPECT_EQ(root->subkeyCount(), regfile::kMaxKeys);
    EXPECT_NE(root->findSubkey(u"k0"), nullptr);
    EXPECT_EQ(root->findSubkey(utf16("k" + std::to_string(regfile::kMaxKeys))), nullptr);
}

TEST(RegFileTest, ValuesPastTheLimitAreSkippedButExistingOnesStillChange) {
    std::string text = kHeader + kSection;
    for (size_t i = 0; i <= regfile::kMaxValues; ++i) {
        text += "\"v" + std::to_string(i) + "\"=dword:00000001\r\n";
    }
    text += "\"v0\"=dword:00000002\r\n";
    const auto root = parse(text);
    EXPECT_EQ(data(*root, u"Software\\T", u"v0"), dwordData(2));
    EXPECT_TRUE(data(*root, u"Software\\T", utf16("v" + std::to_string(regfile::kMaxValues - 1))));
    EXPECT_FALSE(data(*root, u"Software\\T", utf16("v" + std::to_string(regfile::kMaxValues))));
}

// A file padded with a comment line to exactly `size` bytes.
std::string fileOfSize(size_t size) {
    const std::string body = kHeader + kSection + "\"Good\"=dword:00000001\r\n;";
    return body + std::string(size - body.size(), 'c');
}

TEST(RegFileTest, FilesOverTheSizeLimitAreAnEmptyRegistry) {
    EXPECT_EQ(data(*parse(fileOfSize(regfile::kMaxFileBytes)), u"Software\\T", u"Good"),
              dwordData(1));
    EXPECT_TRUE(isEmpty(*parse(fileOfSize(regfile::kMaxFileBytes + 1))));
}

TEST(RegFileTest, AnEnormousLineIsReadWithinTheSizeLimit) {
    const std::string text(3 * 1024 * 1024, 'x');
    const auto root = parse(kHeader + kSection + "\"Huge\"=\"" + text + "\"\r\n");
    const auto huge = data(*root, u"Software\\T", u"Huge");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->size(), 2 * text.size() + 2);
}

TEST(RegFileTest, UnpairedSurrogatesAreKeptAndAnOddLastByteIsDropped) {
    std::u16string text = utf16(kHeader + kSection) + u"\"Text\"=\"a";
    text.push_back(0xD800);
    text += u"b";
    text.push_back(0xDC00);
    text += u"\"\r\n";
    const auto root = parse(utf16LeFile(text) + "\x41");
    EXPECT_EQ(data(*root, u"Software\\T", u"Text"),
              (Bytes{0x61, 0, 0x00, 0xD8, 0x62, 0, 0x00, 0xDC, 0, 0}));
}

TEST(RegFileTest, InvalidUtf8ReadsAsReplacementCharacters) {
    // A lone lead byte, an overlong '/', an encoded surrogate, a byte that never leads.
    const auto root = parse(kHeader + kSection + "\"Text\"=\"\xC3(\xC0\xAF\xED\xA0\x80\xFF\"\r\n");
    const std::u16string expected = {0xFFFD, u'(', 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD};
    EXPECT_EQ(data(*root, u"Software\\T", u"Text"), stringData(expected));
}

// Files that are no registry file at all.
struct NotRegistryCase {
    const char* name;
    std::string bytes;
};

void PrintTo(const NotRegistryCase& c, std::ostream* os) {
    *os << c.name;
}

class RegFileNotRegistryTest : public testing::TestWithParam<NotRegistryCase> {};

TEST_P(RegFileNotRegistryTest, IsAnEmptyRegistry) {
    EXPECT_TRUE(isEmpty(*parse(GetParam().bytes)));
}

const std::string kBody = kSection + "\"Good\"=dword:00000001\r\n";

INSTANTIATE_TEST_SUITE_P(
    Files, RegFileNotRegistryTest,
    testing::Values(NotRegistryCase{"Empty", ""}, NotRegistryCase{"NoHeader", kBody},
                    NotRegistryCase{"HeaderAfterABlankLine", "\r\n" + kHeader + kBody},
                    NotRegistryCase{"OtherVersion",
                                    "Windows Registry Editor Version 6.00\r\n" + kBody},
                    NotRegistryCase{"HeaderCutShort", "Windows Registry Editor"},
                    NotRegistryCase{"Utf16BigEndian", utf16BigEndianFile(utf16(kHeader + kBody))},
                    NotRegistryCase{"NulInHeader", std::string("REGEDIT4") + '\0' + "\r\n" + kBody},
                    NotRegistryCase{"OnlyAByteOrderMark", "\xFF\xFE"}),
    caseName<NotRegistryCase>);

// A line the reader cannot take, between lines it can: the value "Bad" is missing, the lines
// after it are read and nothing else appears.
struct BadValueCase {
    const char* name;
    std::string line;
};

void PrintTo(const BadValueCase& c, std::ostream* os) {
    *os << c.name;
}

class RegFileBadValueTest : public testing::TestWithParam<BadValueCase> {};

TEST_P(RegFileBadValueTest, IsSkippedAndTheLinesAfterItAreRead) {
    const auto root = parse(kHeader + kSection + GetParam().line + "\r\n" + kSection +
                            "\"Good\"=dword:00000001\r\n");
    EXPECT_FALSE(data(*root, u"Software\\T", u"Bad"));
    EXPECT_EQ(data(*root, u"Software\\T", u"Good"), dwordData(1));
    EXPECT_EQ(keysBelow(*root), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RegFileBadValueTest,
    testing::Values(BadValueCase{"OneHexDigit", R"("Bad"=hex:0,01)"},
                    BadValueCase{"ThreeHexDigits", R"("Bad"=hex:012,01)"},
                    BadValueCase{"HexWithoutCommas", R"("Bad"=hex:0102)"},
                    BadValueCase{"HexNotHex", R"("Bad"=hex:zz)"},
                    BadValueCase{"DoubleComma", R"("Bad"=hex:01,,02)"},
                    BadValueCase{"UnterminatedString", R"("Bad"="abc)"},
                    BadValueCase{"UnterminatedName", R"("Bad=dword:00000001)"},
                    BadValueCase{"UnknownEscape", R"("Bad"="a\qb")"},
                    BadValueCase{"EscapeAtTheEnd", R"("Bad"="abc\)"},
                    BadValueCase{"TextAfterTheString", R"("Bad"="abc" x)"},
                    BadValueCase{"DwordTooLong", R"("Bad"=dword:000000001)"},
                    BadValueCase{"DwordEmpty", R"("Bad"=dword:)"},
                    BadValueCase{"DwordNotHex", R"("Bad"=dword:0000000g)"},
                    BadValueCase{"NoEqualsSign", R"("Bad" dword:00000001)"},
                    BadValueCase{"NoData", R"("Bad"=)"},
                    BadValueCase{"UnknownForm", R"("Bad"=str:"x")"},
                    BadValueCase{"HexTypeUnclosed", R"("Bad"=hex(2:00)"},
                    BadValueCase{"HexTypeTooLong", R"("Bad"=hex(123456789):00)"},
                    BadValueCase{"NulInTheData", std::string("\"Bad\"=\"a") + '\0' + "b\""},
                    BadValueCase{"NulInAContinuation",
                                 std::string("\"Bad\"=hex:01,\\\r\n  02") + '\0' + ",03"}),
    caseName<BadValueCase>);

TEST(RegFileTest, AContinuationCutOffByASectionLosesTheValueButNotTheSection) {
    const auto root = parse(kHeader + kSection + "\"Bad\"=hex:01,\\\r\n" +
                            "[HKEY_LOCAL_MACHINE\\Software\\U]\r\n\"Good\"=dword:00000001\r\n");
    EXPECT_FALSE(data(*root, u"Software\\T", u"Bad"));
    EXPECT_EQ(data(*root, u"Software\\U", u"Good"), dwordData(1));
}

TEST(RegFileTest, AContinuationCutOffByTheEndOfTheFileLosesTheValue) {
    const auto root = parse(kHeader + kSection + "\"Good\"=dword:00000001\r\n\"Bad\"=hex:01,\\");
    EXPECT_FALSE(data(*root, u"Software\\T", u"Bad"));
    EXPECT_EQ(data(*root, u"Software\\T", u"Good"), dwordData(1));
}

// A section line the reader cannot take opens no key: the values after it are skipped instead
// of landing in the key before it.
struct BadSectionCase {
    const char* name;
    std::string line;
};

void PrintTo(const BadSectionCase& c, std::ostream* os) {
    *os << c.name;
}

class RegFileBadSectionTest : public testing::TestWithParam<BadSectionCase> {};

TEST_P(RegFileBadSectionTest, OpensNoKey) {
    const auto root = parse(kHeader + kSection + "\"Before\"=dword:00000001\r\n" + GetParam().line +
                            "\r\n\"After\"=dword:00000001\r\n");
    EXPECT_EQ(data(*root, u"Software\\T", u"Before"), dwordData(1));
    EXPECT_FALSE(data(*root, u"Software\\T", u"After"));
    EXPECT_EQ(keysBelow(*root), 2u);
}

std::string tooDeep() {
    std::string line = "[HKEY_LOCAL_MACHINE";
    for (size_t level = 0; level <= regfile::kMaxDepth; ++level) {
        line += "\\d";
    }
    return line + "]";
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RegFileBadSectionTest,
    testing::Values(BadSectionCase{"NoClosingBracket", R"([HKEY_LOCAL_MACHINE\Software\U)"},
                    BadSectionCase{"TextAfterTheBracket", R"([HKEY_LOCAL_MACHINE\Software\U] x)"},
                    BadSectionCase{"OtherHive", R"([HKEY_CURRENT_USER\Software\U])"},
                    BadSectionCase{"AbbreviatedHive", R"([HKLM\Software\U])"},
                    BadSectionCase{"NoHive", R"([Software\U])"},
                    BadSectionCase{"BlankBeforeTheHive", R"([ HKEY_LOCAL_MACHINE\Software\U])"},
                    BadSectionCase{"NulInAName",
                                   std::string("[HKEY_LOCAL_MACHINE\\Software\\U") + '\0' + "V]"},
                    BadSectionCase{"NameOverTheLimit",
                                   "[HKEY_LOCAL_MACHINE\\Software\\" +
                                       std::string(regfile::kMaxKeyNameUnits + 1, 'n') + "]"},
                    BadSectionCase{"DeeperThanTheLimit", tooDeep()},
                    BadSectionCase{"DeletingTheHive", "[-HKEY_LOCAL_MACHINE]"},
                    BadSectionCase{"DeletingAMissingKey", R"([-HKEY_LOCAL_MACHINE\Software\U])"}),
    caseName<BadSectionCase>);

// A file with every form, without deletions or repeated names.
const std::string kRichFile = kHeader +
                              "\r\n; every form\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\Rich\\A]\r\n"
                              "@=\"default\"\r\n"
                              "\"Text\"=\"a \\\\ \\\" é\"\r\n"
                              "\"Number\"=dword:0000000e\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\Rich\\B\\C]\r\n"
                              "\"Blob\"=hex:01,02,03,\\\r\n  04,05\r\n"
                              "\"Multi\"=hex(7):61,00,00,00,00,00\r\n"
                              "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                              "\"Expand\"=hex(2):25,00,00,00\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\Rich\\D]\r\n"
                              "\"Last\"=\"end\"\r\n";

struct Named {
    std::u16string path;
    std::u16string name;
};

const Named kRichValues[] = {
    {u"Software\\Rich\\A", u""},          {u"Software\\Rich\\A", u"Text"},
    {u"Software\\Rich\\A", u"Number"},    {u"Software\\Rich\\B\\C", u"Blob"},
    {u"Software\\Rich\\B\\C", u"Multi"},  {u"Software\\Rich\\B\\C", u"Big"},
    {u"Software\\Rich\\B\\C", u"Expand"}, {u"Software\\Rich\\D", u"Last"},
};

// Whether the first `size` bytes of `file` end with a line feed.
bool endsALine(const std::string& file, size_t size) {
    const bool utf16File = file.size() >= 2 && file[0] == '\xFF' && file[1] == '\xFE';
    if (utf16File) {
        return size >= 4 && size % 2 == 0 && file[size - 2] == '\n' && file[size - 1] == '\0';
    }
    return size >= 1 && file[size - 1] == '\n';
}

class RegFileTruncationTest : public testing::TestWithParam<EncodingCase> {};

// Cut anywhere, the reader reads no byte past the cut (the sanitizers watch a copy of exactly
// that many bytes) and keys only ever come as the cut moves on. Cut at the end of a line, it
// holds the values of the lines before the cut as the whole file has them.
TEST_P(RegFileTruncationTest, APrefixHoldsWhatItsCompleteLinesSay) {
    const std::string file = GetParam().encode(kRichFile);
    const auto whole = parse(file);
    size_t keys = 0;
    size_t values = 0;
    for (size_t size = 0; size <= file.size(); ++size) {
        const std::unique_ptr<uint8_t[]> bytes(new uint8_t[size == 0 ? 1 : size]);
        std::copy(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size), bytes.get());
        const auto root = regfile::parse(bytes.get(), size);
        const size_t keysNow = keysBelow(*root);
        ASSERT_GE(keysNow, keys) << "at " << size;
        keys = keysNow;
        if (!endsALine(file, size)) {
            continue;
        }
        size_t valuesNow = 0;
        for (const Named& value : kRichValues) {
            const auto got = data(*root, value.path, value.name);
            if (got) {
                ++valuesNow;
                EXPECT_EQ(got, data(*whole, value.path, value.name)) << "at " << size;
            }
        }
        ASSERT_GE(valuesNow, values) << "at " << size;
        values = valuesNow;
    }
    EXPECT_EQ(keys, 6u);
    EXPECT_EQ(values, std::size(kRichValues));
}

INSTANTIATE_TEST_SUITE_P(Encodings, RegFileTruncationTest, testing::ValuesIn(kEncodings),
                         caseName<EncodingCase>);

// Random bytes between valid lines: the reader survives them and reads the lines after them.
class RegFileGarbageTest : public testing::TestWithParam<unsigned> {};

TEST_P(RegFileGarbageTest, LinesAfterRandomBytesAreRead) {
    std::mt19937 random(GetParam());
    std::string garbage(64 * 1024, '\0');
    for (char& byte : garbage) {
        byte = static_cast<char>(random() & 0xFF);
    }
    const std::string tail =
        "\r\n[HKEY_LOCAL_MACHINE\\Software\\After]\r\n\"Good\"=dword:00000001\r\n";
    const auto fromUtf8 = parse(kHeader + garbage + tail);
    EXPECT_EQ(data(*fromUtf8, u"Software\\After", u"Good"), dwordData(1));
    const auto fromUtf16 =
        parse(utf16LeFile(utf16(kHeader)) + garbage + utf16LeFile(utf16(tail)).substr(2));
    EXPECT_EQ(data(*fromUtf16, u"Software\\After", u"Good"), dwordData(1));
}

INSTANTIATE_TEST_SUITE_P(Seeds, RegFileGarbageTest, testing::Range(1u, 9u));

// Points $QIR_REGISTRY at a file for one scope.
class ScopedRegistryPath {
  public:
    explicit ScopedRegistryPath(const fs::path& path) {
        const char* previous = std::getenv("QIR_REGISTRY");
        m_hadPrevious = previous != nullptr;
        m_previous = m_hadPrevious ? previous : "";
        setenv("QIR_REGISTRY", path.c_str(), 1);
    }
    ~ScopedRegistryPath() {
        if (m_hadPrevious) {
            setenv("QIR_REGISTRY", m_previous.c_str(), 1);
        } else {
            unsetenv("QIR_REGISTRY");
        }
    }
    ScopedRegistryPath(const ScopedRegistryPath&) = delete;
    ScopedRegistryPath& operator=(const ScopedRegistryPath&) = delete;

  private:
    bool m_hadPrevious = false;
    std::string m_previous;
};

// The facility reads the file that $QIR_REGISTRY names on every open.
class RegistryFileTest : public testing::Test {
  protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() /
                   ("qir-reg-file-test-" + std::to_string(qir::sys::processId()));
        fs::remove_all(m_folder);
        ASSERT_TRUE(fs::create_directory(m_folder));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    static void write(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

    static uint32_t number(const qir::sys::RegistryKey& key, const char16_t* name) {
        uint32_t value = 0;
        uint32_t size = sizeof value;
        EXPECT_EQ(qir::sys::registryQueryValue(key, name, &value, size), 0u);
        return value;
    }

    fs::path m_folder;
};

TEST_F(RegistryFileTest, EveryOpenReadsTheFileAnewAndKeepsItsOwnSnapshot) {
    testreg::TempRegistry registry(kHeader + kSection + "\"V\"=dword:00000001\r\n", {});
    ASSERT_EQ(registry.failure(), "");
    qir::sys::RegistryKey first;
    ASSERT_EQ(qir::sys::openRegistryKey(u"Software\\T", first), 0u);
    EXPECT_EQ(number(first, u"V"), 1u);

    write(registry.file(), kHeader + kSection + "\"V\"=dword:00000002\r\n" +
                               "[HKEY_LOCAL_MACHINE\\Software\\New]\r\n");
    qir::sys::RegistryKey second;
    ASSERT_EQ(qir::sys::openRegistryKey(u"Software\\T", second), 0u);
    EXPECT_EQ(number(second, u"V"), 2u);
    EXPECT_EQ(number(first, u"V"), 1u);
    qir::sys::RegistryKey added;
    EXPECT_EQ(qir::sys::openRegistryKey(u"Software\\New", added), 0u);

    write(registry.file(), "not a registry file");
    EXPECT_EQ(qir::sys::openRegistryKey(u"Software\\T", second), 2u);
    ASSERT_EQ(qir::sys::openRegistryKey(u"", second), 0u) << "the hive is always there";
    uint32_t count = 1;
    EXPECT_EQ(qir::sys::registrySubkeyCount(second, count), 0u);
    EXPECT_EQ(count, 0u);
}

// Files the facility cannot read: each is an empty registry, and none blocks the open.
TEST_F(RegistryFileTest, AFileItCannotReadIsAnEmptyRegistry) {
    const fs::path tooLarge = m_folder / "large.reg";
    write(tooLarge, fileOfSize(regfile::kMaxFileBytes + 1));
    const fs::path fifo = m_folder / "fifo.reg";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const fs::path unreadable = m_folder / "unreadable.reg";
    write(unreadable, fileOfSize(1024));
    fs::permissions(unreadable, fs::perms::none);

    std::vector<fs::path> paths = {m_folder / "missing.reg", m_folder, tooLarge, fifo};
    if (geteuid() != 0) {
        paths.push_back(unreadable);  // root reads it all the same
    }
    for (const fs::path& path : paths) {
        const ScopedRegistryPath scoped(path);
        qir::sys::RegistryKey key;
        EXPECT_EQ(qir::sys::openRegistryKey(u"Software\\T", key), 2u) << path;
        EXPECT_FALSE(key);
    }
}

}  // namespace
