// Reading HKEY_LOCAL_MACHINE through the platform layer: one .reg text, imported into the real
// registry on Windows and read as the .reg file on POSIX, and what each query of it answers.
// Calls that the system refuses are in fault_logger_test.cpp, as the logger meets them, and
// below as the logging configuration's own outcome.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "log_text.h"
#include "qir_log_config.h"
#include "qir_sys/fault.h"
#include "qir_sys/registry.h"
#include "temp_registry.h"

namespace {

using qir::sys::RegistryKey;
using qir::sys::WideUnit;
using Wide = std::basic_string<WideUnit>;

Wide wide(const std::string& ascii) {
    return Wide(ascii.begin(), ascii.end());
}

const char kRegistry[] = R"([$\Values]|"Text"="C:\\Logs\\\"q\""|"Abc"="abc"|"Empty"=""
"Mask"=dword:FEdcba98|"Blob"=hex:01,ab,FF,00|"Nothing"=hex:|"Raw"=hex(0):01,02
"List"=hex(7):61,00,00,00,62,00,00,00,00,00|"Big"=hex(b):88,77,66,55,44,33,22,11
"Expand"=hex(2):25,00,54,00,25,00,00,00|"Typed"=hex(4):2b,01,00,00|"Long"=hex:01,02,\
  03,04,\
	05
@="standard"|"MiXeD"=dword:00000007|"Quote\"And\\Slash"="v"|"Twice"="first"|"TWICE"=dword:2
[$\Order\beta]|[$\Order\Alpha]|[$\Order\x9]|[$\Order\GAMMA]|[$\Order\alpha2]|[$\Order\X10]
[$\Order\b]|[$\Order\delta]|[$\Mixed\Case]|"Value"="x"|[$\MIXED\CASE]|"Other"="y"
[$\Deep\A\B\C]|"Leaf"=dword:00000001|; [$\Commented]|[$\Size\Sixsix]
[$\Keep]|@="default"|"Gone"="x"|"Stays"="y"|;"Hidden"="x"|   ; an indented comment

[$\Doomed\Child]|[$\Again]|"Old"="1"|[$\Keep]|"Gone"=-|@=-|[-$\Doomed]|[-$\Again]|[$\Again]
"New"="2"|[-$\NeverThere])";

// Queries and their answers, " | " between rows. "PATH" (below the test's root; "\..." before
// it) lists the subkeys, read into names of "*UNITS" units; "PATH>NAME" reads a value ("@": a
// null name) into a buffer of "/BYTES" bytes ("/-": no buffer). Answers: "open ERROR"; the
// names ("#ERROR" for one not read); "ERROR:SIZE"; or "0:" and the data (testreg::shown).
const char kQueries[] = R"( = Again Deep Keep Mixed Order Size Values | Deep\A\B\C = (none)
Order = Alpha alpha2 b beta delta GAMMA X10 x9 | Mixed = Case | Size*6 = #234 | Size*0 = #234
Deep = A | Deep\A\B = C | Deep\A\\B\\ = C | deep\a\b\\\C>leaf = 0:01000000 | \Deep = open 161
Deep\A\B>Leaf = 2:256 | Size*7 = Sixsix | Absent = open 2 | Deep\Absent = open 2 | Dee = open 2
Doomed = open 2 | Doomed\Child = open 2 | Commented = open 2 | mIXED\cASE>VALUE = 0:"x"
Mixed\Case>other = 0:"y" | Keep>Gone = 2:256 | Keep>@ = 2:256 | Keep> = 2:256 | Keep>x = 2:256
Keep>Hidden = 2:256 | Keep>Stays = 0:"y" | Again>Old = 2:256 | Again>New = 0:"2"
Values>Text = 0:"C:\Logs\"q"" | Values>Empty = 0:"" | Values>Mask = 0:98badcfe
Values>Blob = 0:01abff00 | Values>Nothing = 0: | Values>Raw = 0:0102 | Values>Presen = 2:256
Values>List = 0:61000000620000000000 | Values>Big = 0:8877665544332211 | Values>@ = 0:"standard"
Values>Expand = 0:"%T%" | Values>Typed = 0:2b010000 | Values>Long = 0:0102030405
Values> = 0:"standard" | Values>mixed = 0:07000000 | Values>Quote"And\Slash = 0:"v"
Values>twice = 0:02000000 | Values>Abc/8 = 0:"abc" | Values>Abc/7 = 234:8 | Values>Abc/0 = 234:8
Values>Abc/- = 0:8 | Values>Mask/3 = 234:4)";

std::string ask(const std::string& root, const std::string& query) {
    const size_t end = std::min(query.find('>'), query.find('*'));
    const std::string path = query.substr(0, end);
    const std::string rest = end == std::string::npos ? "" : query.substr(end + 1);
    const std::string full =
        path[0] == '\\' ? "\\" + root + path : root + (path.empty() ? "" : "\\") + path;
    RegistryKey key;
    const uint32_t opened = qir::sys::openRegistryKey(wide(full).c_str(), key);
    if (opened != 0 || !key) {
        return "open " + std::to_string(opened) + (key ? " with a key" : "");
    }
    if (end == std::string::npos || query[end] == '*') {
        uint32_t count = 0;
        std::string names = qir::sys::registrySubkeyCount(key, count) == 0 ? "" : "no count";
        WideUnit name[256];
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t capacity = rest.empty() ? 256 : std::stoul(rest);
            const uint32_t error = qir::sys::registrySubkeyName(key, i, name, capacity);
            names += i == 0 ? "" : " ";
            names += error != 0 ? "#" + std::to_string(error)
                                : std::string(name, std::find(name, name + 256, 0));
        }
        for (const uint32_t past : {count, count + 9}) {
            names += qir::sys::registrySubkeyName(key, past, name, 256) == 259 ? "" : " no 259";
        }
        return count == 0 ? "(none)" + names : names;
    }
    const size_t slash = rest.find('/');
    const std::string name = rest.substr(0, slash);
    const bool none = slash != std::string::npos && rest[slash + 1] == '-';
    uint32_t size = slash == std::string::npos ? 256
                    : none                     ? 0
                                               : std::stoul(rest.substr(slash + 1));
    std::string data(257, '\xA5');
    const uint32_t error = qir::sys::registryQueryValue(
        key, name == "@" ? nullptr : wide(name).c_str(), none ? nullptr : &data[0], size);
    if (error != 0 || none) {
        return std::to_string(error) + ":" + std::to_string(size);
    }
    return "0:" + testreg::shown(reinterpret_cast<const uint8_t*>(data.data()), size) +
           (data[size] == '\xA5' ? "" : " and more");
}

TEST(RegistryTest, AnswersEachQueryAsWindowsDoes) {
    const std::string root = testreg::uniqueRoot("Registry");
    const testreg::TempRegistry registry(testreg::regFile(kRegistry, "\\" + root), {root});
    ASSERT_EQ(registry.failure(), "");
    const std::string queries = testreg::replaced(kQueries, "\n", " | ") + " | ";
    for (size_t start = 0, end = 0; (end = queries.find(" | ", start)) != std::string::npos;
         start = end + 3) {
        const std::string row = queries.substr(start, end - start);
        const size_t is = row.find(" = ");
        EXPECT_EQ(ask(root, row.substr(0, is)), row.substr(is + 3)) << row;
    }
    // An owner without a key answers 6 and leaves the outputs alone.
    const RegistryKey none;
    uint32_t count = 7;
    std::string answers = std::to_string(qir::sys::registrySubkeyCount(none, count));
    answers += std::to_string(qir::sys::registrySubkeyName(none, 0, nullptr, 8));
    answers += std::to_string(qir::sys::registryQueryValue(none, nullptr, nullptr, count));
    EXPECT_EQ(answers + std::to_string(count), "6667");
}

// One configuration loaded three times: its subkeys cannot be counted, then nothing fails (a
// file site is armed), then no key can be found. Each load tells what it found itself
// (outcome, error, key, entries), whatever an earlier load of the object found.
TEST(RegistryTest, EachLoadOfTheConfigurationTellsOnlyWhatItFound) {
    using qir::sys::fault::Failing;
    using qir::sys::fault::Site;
    const std::string application = "qir-" + testreg::uniqueRoot("Load").substr(9) + ".exe";
    const std::string key = "Software\\Halvex\\Logs\\" + application;
    const testreg::TempRegistry registry(testreg::regFile("[$\\" + key + "\\Out]"), {key});
    ASSERT_EQ(registry.failure(), "");
    CQIRLogConfigWindows config(logtext::w(application));
    std::string loads;
    for (const auto& [site, error] : {std::pair<Site, uint32_t>{Site::RegistryCount, 1450},
                                      {Site::FileOpen, 0},
                                      {Site::RegistryOpen, 2}}) {
        const Failing failing(site, 0, error);
        const bool loaded = config.load();
        loads += std::to_string(loaded) + " " +
                 std::to_string(static_cast<int>(config.getOutcome())) + " " +
                 std::to_string(config.getError()) + " " + logtext::ascii(config.getChosenKey()) +
                 " " + std::to_string(config.getEntries().getCount()) + " | ";
    }
    EXPECT_EQ(loads, "0 3 1450 " + key + " 0 | 1 1 0 " + key + " 1 | 0 2 2 <empty> 0 | ");
}

}  // namespace
