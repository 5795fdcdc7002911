// The POSIX .reg file reader on its own, fed any bytes, and the registry facility's handling of
// the file it reads. What Windows' own registry agrees with is in platform_test.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "qir_sys/registry.h"
#include "reg_file.h"
#include "temp_registry.h"

namespace {

namespace regfile = qir::sys::regfile;
using regfile::Key;

// Test text as a file with CR LF line ends (testreg::regFile), "~" standing for a zero byte.
std::string file(const std::string& text) {
    std::string bytes = testreg::TempRegistry::withCrLf(testreg::regFile(text));
    std::replace(bytes.begin(), bytes.end(), '~', '\0');
    return bytes;
}

std::unique_ptr<Key> parse(const std::string& bytes) {
    return regfile::parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// UTF-8 text as UTF-16LE with its byte order mark.
std::string utf16(const std::string& text) {
    const std::u16string units = std::filesystem::u8path(text).u16string();
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(units.data()), 2 * units.size());
}

// The whole tree: " [PATH]" for each key, parents first, subkeys in their order, each followed
// by its values as " NAME=TYPE:DATA".
std::string dump(const Key& key, const std::string& path = "") {
    std::string out;
    for (const auto& [name, value] : key.values()) {
        out += " " + std::filesystem::path(name).u8string() + "=" + std::to_string(value.type) +
               ":" + testreg::shown(value.data.data(), value.data.size());
    }
    for (size_t i = 0; i < key.subkeyCount(); ++i) {
        const std::string inner =
            path + "\\" + std::filesystem::path(key.subkey(i).name()).u8string();
        out += " [" + inner.substr(1) + "]" + dump(key.subkey(i), inner);
    }
    return out;
}

// A file's text and the tree it gives. Lines the reader cannot take are skipped: a value with
// malformed data is missing, and a malformed section line opens no key, so that the values
// after it are skipped until the next section. In the text "$" is HKEY_LOCAL_MACHINE and "|"
// a line end; in the tree TYPE is the value's type as a number. A worked row:
//   {R"([$\T]|"ok"=dword:1|"bad"=hex:01,\)", " [T] ok=4:01000000"}
// gives the key T with the value ok, a REG_DWORD (4) whose bytes are 01 00 00 00; the value
// bad, a hex list continued past the end of the file, is skipped.
const char* const kGrammar[][2] = {
    // Windows orders subkeys by their names in upper case: "[" and "_" after the letters.
    {R"([$\a[]|[$\A_b]|[$\Ab])", " [Ab] [a[] [A_b]"},
    {"  [$\\T]  |\t\"s\" \t= \"x\" |  @ = dword:3|\"l\"=hex: 01 , "
     "02,|\"c\"=hex:03,\\||\"d\"=dword:4",
     R"( [T] =4:03000000 c=3:03 d=4:04000000 l=3:0102 s=1:"x")"},
    {R"([$\\T]|"o"=dword:1|[$\T\]|"t"=dword:2)", " [T] o=4:01000000 t=4:02000000"},
    {R"([$\T]|"b1"=hex:0,01|"b2"=hex:012,01|"b3"=hex:0102|"b4"=hex:zz|"b5"=hex:01,,02|"b6"="abc)"
     R"(|"b7=dword:1|"b8"="a\qb"|"b9"="abc\|"b10"="abc" x|"b11"=dword:000000001|"b12"=dword:)"
     R"(|"b13"=dword:0000000g|"b14" dword:1|"b15"=|"b16"=str:"x"|"b17"=hex(2:00)"
     R"(|"b18"=hex(123456789):00|"b19"="a~b"|"b20"=hex:01,\|  02~,03|"b21"=hex:01,0|junk|@)"
     R"(|"b22"|"ok"=dword:1)",
     " [T] ok=4:01000000"},
    {R"([$\T]|"v"=dword:1|[$\U|"a"=dword:1|[$\U] x|"b"=dword:1|[HKEY_CURRENT_USER\U]|"c"=dword:1)"
     R"(|[HKLM\U]|"d"=dword:1|[Software\U]|"e"=dword:1|[ $\U]|"f"=dword:1|[$\U~V]|"g"=dword:1)"
     R"(|[-$]|"h"=dword:1|[-$\Missing]|"i"=dword:1)",
     " [T] v=4:01000000"},
    {R"([$\T]|"bad"=hex:01,\|[$\U]|"ok"=dword:1)", " [T] [U] ok=4:01000000"},
    {R"([$\T]|"ok"=dword:1|"bad"=hex:01,\)", " [T] ok=4:01000000"},
    {"[$\\T]|\"t\"=\"\xC3(\xC0\xAF\xED\xA0\x80\xFF\x81\x80\x80\x80\xE0\x80\x80\xF4\x90\x80\x80\"|;"
     "\xE6\x97",
     " [T] t=1:fdff2800fdfffdfffdfffdfffdfffdfffdfffdfffdfffdfffdfffdfffdfffdfffdfffdfffdff0000"},
};

// Whole files and the trees they give: the text rows above, what REGEDIT4 and each encoding
// the reader takes make of them, and files that are no registry file at all.
TEST(RegFileTest, ReadsEachFileAsRegeditWrites) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& [text, tree] : kGrammar) {
        files.emplace_back(file(text), tree);
    }
    // REGEDIT4 files store the bytes of text types as 8-bit text.
    const std::string ansi = file(R"([$\T]|"e"=hex(2):25,54,25,00|"m"=hex(7):61,00,c3,a9,00,00)"
                                  R"(|"b"=hex:25,54,25,00)");
    files.emplace_back("REGEDIT4" + ansi.substr(36),
                       R"( [T] b=3:25542500 e=2:"%T%" m=7:61000000e90000000000)");
    const std::string lf =
        testreg::regFile(R"(|; Ω|[$\Ünï\Ω]|@="d"|"Text"="€ 😀 \\ \""|"Number"=dword:1234abcd)"
                         R"(|[$\Ünï\B\C]|"Blob"=hex:01,\|  02,03,\  |  04,05)"
                         R"(|"Big"=hex(b):01,00,00,00,00,00,00,00)");
    const std::string text = testreg::TempRegistry::withCrLf(lf);
    for (const std::string& whole :
         {text, "\xEF\xBB\xBF" + text, lf, utf16(text), utf16(lf), "REGEDIT4" + text.substr(36)}) {
        files.emplace_back(
            whole, R"( [Ünï] [Ünï\B] [Ünï\B\C] Big=11:0100000000000000 Blob=3:0102030405 [Ünï\Ω])"
                   R"( =1:"d" Number=4:cdab3412 Text=1:ac2020003dd800de20005c00200022000000)");
    }
    // Unpaired surrogates are kept; the odd last byte is dropped.
    files.emplace_back(utf16(file("[$\\T]|\"t\"=\"a")) +
                           std::string{'\0', '\xD8', 'b', '\0', '\0', '\xDC', '"', '\0', 'A'},
                       " [T] t=1:610000d8620000dc0000");
    const std::string body = "\r\n[HKEY_LOCAL_MACHINE\\T]\r\n";
    std::string bigEndian = utf16(file("[$\\T]"));
    for (size_t i = 0; i < bigEndian.size(); i += 2) {
        std::swap(bigEndian[i], bigEndian[i + 1]);
    }
    for (const std::string& none :
         {std::string(), body, "\r\n" + file("[$\\T]"), std::string("\xFF\xFE"),
          "Windows Registry Editor Version 6.00" + body, std::string("REGEDIT4\0", 9) + body,
          bigEndian}) {
        files.emplace_back(none, "");
    }
    for (const auto& [whole, tree] : files) {
        EXPECT_EQ(dump(*parse(whole)), tree) << whole;
    }
}

// Each skipped line by its number (a continued value by its first) and the start of its reason;
// blank lines, comments and the values below a section that opens no key are no skips.
TEST(RegFileTest, ReportsEachLineItSkips) {
    const std::string longName(regfile::kMaxKeyNameUnits + 1, 'k');
    const std::pair<std::string, const char*> rows[] = {
        {file(R"("v"=dword:1|[$\T]|junk|"a"=dword:zz|"b" dword:1|"c=dword:1|"d"="x~"|"e"=hex:01,\)"
              R"(|  02,\|[$\U|"f"=dword:1|[HKEY_CURRENT_USER\X]|"g"=1|;c||[-$\T]|"h"=dword:1)"
              R"(|[$\)" +
              longName + R"(]|[$\W]|"i"=hex:01,\|02|x)"),
         " 3:a value before 5:neither a sect 6:data that is n 7:no '=' after t 8:a value name t"
         " 9:a NUL characte 10:a hex list con 12:a section with 14:a section of a 19:a value below "
         " 20:a key name ove 24:neither a sect"},
        {"REGEDIT5\n" + file("[$\\T]"), " 1:no header \"Win"},
        {std::string(regfile::kMaxFileBytes + 1, ';'), " 1:the file is ov"},
    };
    for (const auto& [bytes, expected] : rows) {
        regfile::SkipReport skipped;
        regfile::parse(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &skipped);
        std::string shown;
        for (const regfile::Skipped& line : skipped.lines) {
            shown += " " + std::to_string(line.line) + ":" + line.reason.substr(0, 14);
        }
        EXPECT_EQ(shown, expected) << bytes;
    }
    // A file of junk: the first lines by number, then only a count.
    regfile::SkipReport junk;
    const std::string many =
        file(testreg::replaced(std::string(regfile::kMaxSkipsListed + 8, 'x'), "x", "x|"));
    regfile::parse(reinterpret_cast<const uint8_t*>(many.data()), many.size(), &junk);
    EXPECT_EQ(std::to_string(junk.lines.size()) + "+" + std::to_string(junk.more), "32+8");
}

// Names, depth, keys, values and bytes up to their limits are read; past them they are
// skipped (a file: not read at all).
TEST(RegFileTest, ReadsUpToItsLimits) {
    const std::string deep =
        "[$" + testreg::replaced(std::string(regfile::kMaxDepth, 'd'), "d", "\\d");
    const std::string key(regfile::kMaxKeyNameUnits, 'k');
    const std::string value(regfile::kMaxValueNameUnits, 'v');
    const auto root = parse(file(deep + "\\e]|" + deep + "]|\"" + value + "\"=dword:1|\"" + value +
                                 "v\"=dword:1|[$\\" + key + "k]|[$\\" + key + "]"));
    const Key* bottom = root.get();
    for (size_t level = 0; bottom != nullptr && level < regfile::kMaxDepth; ++level) {
        bottom = bottom->findSubkey(u"d");
    }
    ASSERT_TRUE(bottom != nullptr && bottom->values().size() == 1);
    // The hive's subkeys, the deepest key's subkeys, the length of its value's name.
    EXPECT_EQ(std::to_string(root->subkeyCount()) + " " + std::to_string(bottom->subkeyCount()) +
                  " " + std::to_string(bottom->values().begin()->first.size()),
              "2 0 16383");

    std::string keys;
    for (size_t i = 0; i <= regfile::kMaxKeys; ++i) {
        keys += "[$\\k" + std::to_string(i) + "]|\"v\"=dword:1|";
    }
    const auto many = parse(file(keys + "[$\\k0]|\"v\"=dword:2|[$\\k1]|\"w\"=dword:1"));
    EXPECT_EQ(many->subkeyCount(), regfile::kMaxKeys);
    EXPECT_EQ(many->findSubkey(u"k65536"), nullptr);
    EXPECT_EQ(dump(*many->findSubkey(u"k0")) + dump(*many->findSubkey(u"k1")),
              " v=4:02000000 v=4:01000000")
        << "past the limit, values still change but none is added";

    const std::string huge = file("[$\\T]|\"t\"=\"" + std::string(3 << 20, 'x') + "\"|;");
    const std::string full = huge + std::string(regfile::kMaxFileBytes - huge.size(), ';');
    EXPECT_EQ(parse(full)->findSubkey(u"T")->findValue(u"t")->data.size(), (6u << 20) + 2);
    EXPECT_EQ(dump(*parse(full + ";")), "");
}

// The facility reads the file that $QIR_REGISTRY names at every open. A file it cannot read (a
// FIFO, none, a folder, one whose reads fail, too large) is an empty registry, and none blocks
// the open. A file whose size the system does not tell (a /proc file) is read; an empty
// $QIR_REGISTRY is taken as unset.
TEST(RegFileTest, AFileItCannotReadIsAnEmptyRegistry) {
    const testreg::TempRegistry registry(testreg::regFile("[$\\T]"), {});
    const std::string path = std::getenv("QIR_REGISTRY");
    qir::sys::RegistryKey key;
    ASSERT_EQ(qir::sys::openRegistryKey(u"T", key), 0u);
    ASSERT_EQ(mkfifo((path + ".fifo").c_str(), 0600), 0);
    std::ofstream(path) << file("[$\\T]|;" + std::string(regfile::kMaxFileBytes, ';'));
    setenv("QIR_REGISTRY", "", 1);
    EXPECT_NE(qir::sys::registrySource().find(" (QIR_REGISTRY is not set)"), std::string::npos);
    setenv("QIR_REGISTRY", "/proc/self/status", 1);
    EXPECT_EQ(qir::sys::registrySource().find(", which"), std::string::npos);
    for (const std::string& unread : {path + ".fifo", path + ".none", std::string("/proc/self/mem"),
                                      std::filesystem::path(path).parent_path().string(), path}) {
        setenv("QIR_REGISTRY", unread.c_str(), 1);
        EXPECT_EQ(qir::sys::openRegistryKey(u"T", key), 2u) << unread;
        EXPECT_EQ(qir::sys::openRegistryKey(u"", key), 0u) << unread;
        EXPECT_NE(qir::sys::registrySource().find(unread == path ? "over the limit of 4 MiB"
                                                                 : "which cannot be read"),
                  std::string::npos)
            << unread;
        EXPECT_TRUE(qir::sys::registryWarnings().empty()) << unread;
    }
    std::filesystem::remove(path + ".fifo");
}

}  // namespace
