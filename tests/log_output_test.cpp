// The text file output: log lines compared byte for byte with lines composed here from the
// layout, the byte order mark of new files, failures, clear, and concurrent writers.
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
#include "qir_log_output.h"
#include "qir_sys/process.h"
#include "test_paths.h"

namespace {

using logtext::pathText;
using logtext::w;

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// UTF-16LE bytes of ASCII text.
Bytes utf16(const std::string& ascii) {
    Bytes out;
    for (char c : ascii) {
        out.push_back(static_cast<unsigned char>(c));
        out.push_back(0);
    }
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kMark{0xFF, 0xFE};

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Fields {
    uint32_t severity = QIR_LOG_ERROR;
    std::string message = "could not find device, hResult = 0x80004005";
    uint32_t returnCode = 5;
    std::string task = "GetTouchpadLaunchState";
    uint32_t threadId = 5678;
    uint32_t processId = 1234;
    std::string application = "host.exe";
    std::string time = "Fri Dec 04 09:41:24 2026";
    std::string function = "CQIRBuffer<unsigned char>::alloc";
    std::string file = "C:\\build\\core\\include\\qir_buffer.h";
    uint32_t line = 154;

    CQIRLogData record() const {
        return CQIRLogData(severity, w(message), returnCode, w(task), nullptr, 0, threadId,
                           processId, w(application), w(time), w(function), w(file), line);
    }
};

class LogOutputTest : public testing::Test {
  protected:
    void SetUp() override {
        dir = testpaths::scratchDirectory("qir-output");
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    fs::path dir;
    CQIRLogOutputTextWindows output;
};

TEST_F(LogOutputTest, FirstWriteCreatesTheFileWithTheMarkAndOneLine) {
    const fs::path file = dir / "velnor.log";
    const Fields fields;
    ASSERT_TRUE(output.write(fields.record(), pathText(file)));
    const Bytes line = utf16(
        "<Fri Dec 04 09:41:24 2026> <ERROR> <host.exe : 1234, 5678> "
        "<CQIRBuffer<unsigned char>::alloc> <\"could not find device, hResult = 0x80004005\"> "
        "<While performing task: \"GetTouchpadLaunchState\"> <Return Code: 0x00000005> "
        "<qir_buffer.h> <154>\r\n");
    EXPECT_EQ(readFile(file), kMark + line);

    Fields second;
    second.severity = QIR_LOG_WARNING;
    second.line = 0;
    second.returnCode = 0xDEADBEEF;
    ASSERT_TRUE(output.write(second.record(), pathText(file)));
    const Bytes secondLine = utf16(
        "<Fri Dec 04 09:41:24 2026> <WARNING> <host.exe : 1234, 5678> "
        "<CQIRBuffer<unsigned char>::alloc> <\"could not find device, hResult = 0x80004005\"> "
        "<While performing task: \"GetTouchpadLaunchState\"> <Return Code: 0xdeadbeef> "
        "<qir_buffer.h> <0>\r\n");
    EXPECT_EQ(readFile(file), kMark + line + secondLine);
}

struct LineCase {
    const char* name;
    void (*change)(Fields&);
    const char* line;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class LogLineTest : public LogOutputTest, public testing::WithParamInterface<LineCase> {};

TEST_P(LogLineTest, ComposesTheLayout) {
    Fields fields;
    GetParam().change(fields);
    const fs::path file = dir / "line.log";
    ASSERT_TRUE(output.write(fields.record(), pathText(file)));
    EXPECT_EQ(readFile(file), kMark + utf16(GetParam().line));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, LogLineTest,
    testing::Values(
        LineCase{"NoObjectName",
                 [](Fields& f) {
                     f.function = "GetTouchpadLaunchState";
                     f.file = ".\\VelnorApi";
                     f.line = 161;
                     f.returnCode = 0;
                 },
                 "<Fri Dec 04 09:41:24 2026> <ERROR> <host.exe : 1234, 5678> "
                 "<::GetTouchpadLaunchState> <\"could not find device, hResult = 0x80004005\"> "
                 "<While performing task: \"GetTouchpadLaunchState\"> <Return Code: 0x00000000> "
                 "<VelnorApi> <161>\r\n"},
        LineCase{"EmptyFieldsAndUnspecifiedSeverity",
                 [](Fields& f) {
                     f = Fields{};
                     f.severity = 3;
                     f.message = f.task = f.application = f.function = f.file = "";
                     f.time = "00:00:00";
                     f.returnCode = 5;
                 },
                 "<00:00:00> <UNSPECIFIED> < : 1234, 5678> <::> <\"\"> "
                 "<While performing task: \"\"> <Return Code: 0x00000005> <> <154>\r\n"},
        LineCase{"NumbersAsSignedDecimal",
                 [](Fields& f) {
                     f.processId = 0xFFFFFFFF;
                     f.threadId = 0x80000000;
                     f.line = 0xFFFFFFFF;
                     f.file = "qir_string_base";
                 },
                 "<Fri Dec 04 09:41:24 2026> <ERROR> <host.exe : -1, -2147483648> "
                 "<CQIRBuffer<unsigned char>::alloc> <\"could not find device, hResult = "
                 "0x80004005\"> <While performing task: \"GetTouchpadLaunchState\"> "
                 "<Return Code: 0x00000005> <qir_string_base> <-1>\r\n"},
        LineCase{"SlashSeparatedFile", [](Fields& f) { f.file = "/src/core/include/qir_buffer.h"; },
                 "<Fri Dec 04 09:41:24 2026> <ERROR> <host.exe : 1234, 5678> "
                 "<CQIRBuffer<unsigned char>::alloc> <\"could not find device, hResult = "
                 "0x80004005\"> <While performing task: \"GetTouchpadLaunchState\"> "
                 "<Return Code: 0x00000005> <qir_buffer.h> <154>\r\n"}),
    [](const testing::TestParamInfo<LineCase>& param) { return std::string(param.param.name); });

TEST_F(LogOutputTest, TextBeyondAsciiIsWrittenAsUtf16) {
    const qir_wchar_t message[] = {'a', 0x00E9, 0xD83D, 0xDE00, 0};
    const CQIRLogData data(QIR_LOG_ERROR, CQIRLogStringWChar(message), 0, w("t"), nullptr, 0, 1, 2,
                           w("a"), w("t"), w("f"), w("x"), 3);
    const fs::path file = dir / "wide.log";
    ASSERT_TRUE(output.write(data, pathText(file)));
    const Bytes expected =
        kMark + utf16("<t> <ERROR> <a : 2, 1> <::f> <\"a") +
        Bytes{0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE} +
        utf16("\"> <While performing task: \"t\"> <Return Code: 0x00000000> <x> <3>\r\n");
    EXPECT_EQ(readFile(file), expected);
}

TEST_F(LogOutputTest, MissingFolderFailsAndIsNotCreated) {
    const fs::path missing = dir / "no" / "such" / "folder";
    EXPECT_FALSE(output.write(Fields().record(), pathText(missing / "x.log")));
    EXPECT_FALSE(fs::exists(dir / "no"));
    EXPECT_FALSE(output.write(Fields().record(), CQIRLogStringWChar()));
}

TEST_F(LogOutputTest, NoMemoryForTheLineWritesNothing) {
    const fs::path file = dir / "nomemory.log";
    const CQIRLogData data = Fields().record();
    const CQIRLogStringWChar path = pathText(file);
    {
        allocseam::Failing failing(0);
        EXPECT_FALSE(output.write(data, path));
    }
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(LogOutputTest, ClearDeletesOrFindsNothingToDelete) {
    const fs::path file = dir / "clear.log";
    ASSERT_TRUE(output.write(Fields().record(), pathText(file)));
    EXPECT_TRUE(output.clear(pathText(file)));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(output.clear(pathText(file)));
    EXPECT_TRUE(output.clear(pathText(dir / "missing" / "x.log")));
    EXPECT_FALSE(output.clear(CQIRLogStringWChar()));
}

class OtherOutput : public CQIRLogOutputBase {
  public:
    OtherOutput() : CQIRLogOutputBase(2) {}
    bool clear(const CQIRLogStringWChar&) override { return false; }
    bool write(const CQIRLogData&, const CQIRLogStringWChar&) override { return false; }
};

TEST(LogOutputTypeTest, ComparesTypes) {
    const CQIRLogOutputTextWindows a;
    const CQIRLogOutputTextWindows b;
    const OtherOutput other;
    const CQIRLogOutputInterface& asInterface = a;
    EXPECT_TRUE(asInterface == b);
    EXPECT_FALSE(asInterface != b);
    EXPECT_FALSE(asInterface == other);
    EXPECT_TRUE(asInterface != other);
    EXPECT_EQ(a.getType(), 1u);
}

// Threads of one process racing to create and fill one new file.
TEST_F(LogOutputTest, ConcurrentWritersLeaveOneMarkAndWholeLines) {
    const fs::path file = dir / "shared.log";
    const CQIRLogStringWChar path = pathText(file);
    constexpr int kThreads = 8;
    constexpr int kLines = 100;
    std::atomic<int> ready{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CQIRLogOutputTextWindows mine;
            ++ready;
            while (ready.load() < kThreads) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kLines; ++i) {
                Fields fields;
                fields.threadId = static_cast<uint32_t>(t);
                fields.line = static_cast<uint32_t>(i);
                if (!mine.write(fields.record(), path)) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    const Bytes bytes = readFile(file);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 2), kMark);
    // Every line, whole, once: count them by their thread and line numbers.
    std::vector<int> seen(kThreads * kLines, 0);
    std::string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        ASSERT_EQ(bytes[i + 1], 0) << "not an ASCII unit at " << i;
        text += static_cast<char>(bytes[i]);
    }
    size_t start = 0;
    int lines = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "torn last line";
        const std::string line = text.substr(start, end - start);
        const size_t ids = line.find(" : 1234, ");
        const size_t tail = line.rfind("> <");
        ASSERT_NE(ids, std::string::npos) << line;
        const int t = std::stoi(line.substr(ids + 9));
        const int n = std::stoi(line.substr(tail + 3));
        ASSERT_TRUE(t >= 0 && t < kThreads && n >= 0 && n < kLines) << line;
        ++seen[static_cast<size_t>(t * kLines + n)];
        ++lines;
        start = end + 2;
    }
    EXPECT_EQ(lines, kThreads * kLines);
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i], 1) << "line " << i;
    }
}

}  // namespace
