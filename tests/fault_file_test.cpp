// Log file appends when the system refuses a step: opening, creating, writing or closing. The
// same table drives the platform facility (its answer, the bytes left, no temporary file, no
// handle left open) and the text output above it (its answer and the lines read back).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "log_file.h"
#include "log_text.h"
#include "param_name.h"
#include "qir_log_output.h"
#include "qir_sys/error.h"
#include "qir_sys/fault.h"
#include "qir_sys/file.h"
#include "qir_sys/process.h"
#include "test_paths.h"

namespace {

using logtext::pathText;
using logtext::w;

namespace fs = std::filesystem;
using qir::sys::fault::Failing;
using qir::sys::fault::openHandleCount;
using qir::sys::fault::Site;
using WideString = std::basic_string<qir::sys::WideUnit>;

constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kTooManyOpenFiles = 4;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kWriteProtect = 19;
constexpr uint32_t kSharingViolation = 32;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kDiskFull = 112;
constexpr uint32_t kIoDevice = 1117;

const std::string kMark = "\xFF\xFE";

// What the file holds afterwards: nothing at all, the mark alone, the line written before the
// faulty append, that line and the new one, or the new one alone.
enum class Left { NoFile, MarkOnly, Old, OldAndNew, New };

struct FileFault {
    const char* name;
    Site site;
    uint64_t n;
    uint32_t error;
    bool existing;    // the file holds one line before the append
    uint32_t answer;  // what appendToFile answers
    Left left;
};

void PrintTo(const FileFault& c, std::ostream* os) {
    *os << c.name;
}

const FileFault kFileFaults[] = {
    {"OpenDenied", Site::FileOpen, 1, kAccessDenied, true, kAccessDenied, Left::Old},
    {"OpenSharingViolation", Site::FileOpen, 1, kSharingViolation, true, kSharingViolation,
     Left::Old},
    {"OpenOutOfHandles", Site::FileOpen, 1, kTooManyOpenFiles, true, kTooManyOpenFiles, Left::Old},
    // The file exists again when the creation looks: it is appended to once, with one mark.
    {"OpenFindsNoFileThatThenExists", Site::FileOpen, 1, kFileNotFound, true, 0, Left::OldAndNew},
    // Every open finds nothing while the file is there: the append gives up, leaving no
    // temporary file behind.
    {"EveryOpenFindsNoFile", Site::FileOpen, 0, kFileNotFound, true, kFileNotFound, Left::Old},
    {"CreateDenied", Site::FileCreate, 1, kAccessDenied, false, kAccessDenied, Left::NoFile},
    {"CreateOnFullDisk", Site::FileCreate, 1, kDiskFull, false, kDiskFull, Left::NoFile},
    {"CreateOnWriteProtectedDisk", Site::FileCreate, 1, kWriteProtect, false, kWriteProtect,
     Left::NoFile},
    // No file appears without its mark.
    {"MarkNotWritten", Site::FileWrite, 1, kDiskFull, false, kDiskFull, Left::NoFile},
    {"LineNotWrittenToNewFile", Site::FileWrite, 2, kDiskFull, false, kDiskFull, Left::MarkOnly},
    {"LineNotWrittenToExistingFile", Site::FileWrite, 1, kDiskFull, true, kDiskFull, Left::Old},
    {"LineNotWrittenForIoError", Site::FileWrite, 1, kIoDevice, true, kIoDevice, Left::Old},
    {"LineRefusedAsInvalid", Site::FileWrite, 1, kInvalidParameter, true, kInvalidParameter,
     Left::Old},
    // A close that fails comes after the bytes were handed over: the append stands.
    {"CloseFailsAfterAppend", Site::FileClose, 1, kIoDevice, true, 0, Left::OldAndNew},
    {"EveryCloseFailsOnNewFile", Site::FileClose, 0, kIoDevice, false, 0, Left::New},
};

class FileFaultTest : public testing::TestWithParam<FileFault> {
  protected:
    void SetUp() override {
        m_dir = testpaths::scratchDirectory("qir-fault-file");
        fs::remove_all(m_dir);
        ASSERT_TRUE(fs::create_directories(m_dir));
        // The first append of the process may open handles that stay (Wine opens some for
        // good): one append before any count is taken.
        const WideString warm = (m_dir / "warm.log").string<qir::sys::WideUnit>();
        ASSERT_EQ(qir::sys::appendToFile(warm.c_str(), kMark.data(), 2, "x", 1), 0u);
        fs::remove(m_dir / "warm.log");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    fs::path file() const { return m_dir / "target.log"; }

    // The names in the folder: a temporary file left behind would show here.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(m_dir)) {
            out.push_back(entry.path().filename().u8string());
        }
        return out;
    }

    std::vector<std::string> namesLeft(Left left) const {
        return left == Left::NoFile ? std::vector<std::string>{}
                                    : std::vector<std::string>{"target.log"};
    }

    fs::path m_dir;
};

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_P(FileFaultTest, PlatformAnswersTheErrorAndLeavesNothingBehind) {
    const FileFault& c = GetParam();
    const WideString path = file().string<qir::sys::WideUnit>();
    const std::string before = "old line\n";
    const std::string line = "new line\n";
    if (c.existing) {
        ASSERT_EQ(
            qir::sys::appendToFile(path.c_str(), kMark.data(), 2, before.data(), before.size()),
            0u);
    }
    const uint64_t handles = openHandleCount();
    uint32_t answer = 0;
    {
        Failing failing(c.site, c.n, c.error);
        answer = qir::sys::appendToFile(path.c_str(), kMark.data(), 2, line.data(), line.size());
        EXPECT_TRUE(failing.fired());
    }
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(openHandleCount(), handles) << "handles left open";
    EXPECT_EQ(names(), namesLeft(c.left));
    const std::string expected[] = {"", kMark, kMark + before, kMark + before + line, kMark + line};
    if (c.left != Left::NoFile) {
        EXPECT_EQ(readAll(file()), expected[static_cast<int>(c.left)]);
    }
    // Disarmed, the same call succeeds again.
    EXPECT_EQ(qir::sys::appendToFile(path.c_str(), kMark.data(), 2, line.data(), line.size()), 0u);
}

// An error that no errno stands for (POSIX) still fails the append, with a number of its own
// or the generic one, and leaves the file as it was.
TEST_F(FileFaultTest, AnErrorWithoutAnErrnoStillFailsTheAppend) {
    const WideString path = file().string<qir::sys::WideUnit>();
    const std::string before = "old line\n";
    ASSERT_EQ(qir::sys::appendToFile(path.c_str(), kMark.data(), 2, before.data(), before.size()),
              0u);
    uint32_t answer = 0;
    {
        Failing failing(Site::FileWrite, 1, 1359);  // ERROR_INTERNAL_ERROR
        answer = qir::sys::appendToFile(path.c_str(), kMark.data(), 2, "x", 1);
    }
    EXPECT_NE(answer, 0u);
    EXPECT_EQ(readAll(file()), kMark + before);
}

CQIRLogData record(const std::string& message) {
    return CQIRLogData(QIR_LOG_ERROR, w(message), 0x4D2, w("Write"), nullptr, 0, 42, 7,
                       w("host.exe"), w("Fri Dec 04 09:41:24 2026"), w("CQIRTest::write"),
                       w(".\\fault"), 9);
}

std::string lineOf(const std::string& message) {
    return "<Fri Dec 04 09:41:24 2026> <ERROR> <host.exe : 7, 42> <CQIRTest::write> <\"" + message +
           "\"> <While performing task: \"Write\"> <Return Code: 0x000004d2> <fault> <9>";
}

TEST_P(FileFaultTest, OutputAnswersWhetherTheLineWasAppended) {
    const FileFault& c = GetParam();
    CQIRLogOutputTextWindows output;
    const CQIRLogStringWChar target = pathText(file());
    if (c.existing) {
        ASSERT_TRUE(output.write(record("old"), target));
    }
    const uint64_t handles = openHandleCount();
    bool answer = false;
    {
        Failing failing(c.site, c.n, c.error);
        EXPECT_NO_THROW(answer = output.write(record("new"), target));
        EXPECT_TRUE(failing.fired());
    }
    EXPECT_EQ(answer, c.answer == 0);
    EXPECT_EQ(openHandleCount(), handles) << "handles left open";
    EXPECT_EQ(names(), namesLeft(c.left));
    const logfile::Contents contents = logfile::read(file());
    const std::vector<std::vector<std::string>> expected = {
        {}, {}, {lineOf("old")}, {lineOf("old"), lineOf("new")}, {lineOf("new")}};
    if (c.left != Left::NoFile) {
        EXPECT_TRUE(logfile::sound(contents));
        EXPECT_EQ(contents.lines, expected[static_cast<int>(c.left)]);
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, FileFaultTest, testing::ValuesIn(kFileFaults), caseName<FileFault>);

// Plans are per thread and counted: the n-th call fails, the ones before and after do not,
// and a thread that armed nothing is not touched.
TEST(FaultPlanTest, FailsTheNthCallOfItsOwnThreadOnly) {
    const fs::path dir = testpaths::scratchDirectory("qir-fault-plan");
    fs::remove_all(dir);
    ASSERT_TRUE(fs::create_directories(dir));
    const WideString path = (dir / "plan.log").string<qir::sys::WideUnit>();
    auto append = [&] { return qir::sys::appendToFile(path.c_str(), kMark.data(), 2, "ab", 2); };
    ASSERT_EQ(append(), 0u);
    std::vector<uint32_t> answers;
    uint32_t otherThread = 1;
    {
        Failing failing(Site::FileWrite, 3, kDiskFull);
        for (int i = 0; i < 4; ++i) {
            answers.push_back(append());
            if (i == 1) {
                std::thread([&] { otherThread = append(); }).join();
            }
        }
        EXPECT_EQ(failing.calls(), 4u);
    }
    EXPECT_EQ(answers, (std::vector<uint32_t>{0, 0, kDiskFull, 0}));
    EXPECT_EQ(otherThread, 0u);
    // The append before arming, three of the four armed ones, and the other thread's.
    EXPECT_EQ(readAll(dir / "plan.log"), kMark + "ababababab");
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

}  // namespace
