// Appending to log files and deleting them, through the platform layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "param_name.h"
#include "qir_sys/file.h"
#include "qir_sys/process.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#endif

namespace {

namespace fs = std::filesystem;
using qir::sys::appendToFile;
using qir::sys::deleteFile;
using qir::sys::WideUnit;
using WideString = std::basic_string<WideUnit>;

constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kWriteFault = 29;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kInvalidName = 123;
constexpr uint32_t kFileTooLarge = 223;

const std::string kBom = "\xFF\xFE";

WideString wide(const fs::path& path) {
    return path.string<WideUnit>();
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t append(const WideString& path, const std::string& header, const std::string& line) {
    return appendToFile(path.c_str(), header.data(), header.size(), line.data(), line.size());
}

// Each test works in a fresh folder of its own under the temporary directory.
class FileTest : public testing::Test {
  protected:
    void SetUp() override {
        static int counter = 0;
        m_folder =
            fs::temp_directory_path() / ("qir-file-test-" + std::to_string(qir::sys::processId()) +
                                         "-" + std::to_string(++counter));
        fs::remove_all(m_folder);
        ASSERT_TRUE(fs::create_directory(m_folder));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(m_folder, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_folder, ignored);
    }

    WideString pathOf(const fs::path& name) const { return wide(m_folder / name); }

    // The names in the folder as UTF-8, sorted: temporary files would show here.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_folder)) {
            names.push_back(entry.path().filename().u8string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path m_folder;
};

struct HeaderCase {
    const char* name;
    std::string header;
};

void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << c.name;
}

class AppendHeaderTest : public FileTest, public testing::WithParamInterface<HeaderCase> {};

TEST_P(AppendHeaderTest, OnlyTheFirstAppendWritesTheHeader) {
    const std::string& header = GetParam().header;
    const WideString path = pathOf("app.log");
    ASSERT_EQ(append(path, header, "first\r\n"), 0u);
    EXPECT_EQ(readAll(m_folder / "app.log"), header + "first\r\n");
    ASSERT_EQ(append(path, header, "second\r\n"), 0u);
    ASSERT_EQ(append(path, header, "third\r\n"), 0u);
    EXPECT_EQ(readAll(m_folder / "app.log"), header + "first\r\nsecond\r\nthird\r\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"app.log"});
}

INSTANTIATE_TEST_SUITE_P(Headers, AppendHeaderTest,
                         testing::Values(HeaderCase{"Utf16Bom", kBom},
                                         HeaderCase{"Utf8Bom", "\xEF\xBB\xBF"},
                                         HeaderCase{"None", ""}),
                         caseName<HeaderCase>);

TEST_F(FileTest, AFileThatExistsGetsNoHeader) {
    std::ofstream(m_folder / "old.log", std::ios::binary) << "kept";
    ASSERT_EQ(append(pathOf("old.log"), kBom, "+line"), 0u);
    EXPECT_EQ(readAll(m_folder / "old.log"), "kept+line");
}

struct NoFolderCase {
    const char* name;
    fs::path path;  // in the test's folder, which otherwise holds only "file.log"
};

void PrintTo(const NoFolderCase& c, std::ostream* os) {
    *os << c.name;
}

class NoFolderTest : public FileTest, public testing::WithParamInterface<NoFolderCase> {};

// Appending finds no folder and creates none; deleting finds no file there.
TEST_P(NoFolderTest, AppendAnswersPathNotFoundAndDeleteFileNotFound) {
    std::ofstream(m_folder / "file.log", std::ios::binary) << "kept";
    const WideString path = pathOf(GetParam().path);
    EXPECT_EQ(append(path, kBom, "line"), kPathNotFound);
    EXPECT_EQ(deleteFile(path.c_str()), kFileNotFound);
    EXPECT_EQ(entries(), std::vector<std::string>{"file.log"});
    EXPECT_EQ(readAll(m_folder / "file.log"), "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, NoFolderTest,
    testing::Values(NoFolderCase{"MissingFolder", fs::path("missing") / "app.log"},
                    NoFolderCase{"MissingFolders", fs::path("missing") / "deeper" / "app.log"},
                    NoFolderCase{"BelowAFile", fs::path("file.log") / "app.log"}),
    caseName<NoFolderCase>);

TEST_F(FileTest, AnEmptyPathNamesNoFolderAndNoFile) {
    const WideString empty;
    EXPECT_EQ(append(empty, kBom, "line"), kPathNotFound);
    EXPECT_EQ(deleteFile(empty.c_str()), kFileNotFound);
}

// POSIX refuses the name at once. Wine finds no such file and refuses the name only when the
// new file is published, so the temporary file must go again.
TEST_F(FileTest, ANameTooLongForTheFileSystemLeavesNothing) {
    const WideString path = pathOf(std::string(300, 'a'));
    EXPECT_NE(append(path, kBom, "line"), 0u);
    EXPECT_TRUE(entries().empty());
}

TEST_F(FileTest, AFolderAtThePathIsNotAppendedTo) {
    fs::create_directory(m_folder / "logs");
    EXPECT_EQ(append(pathOf("logs"), kBom, "line"), kAccessDenied);
    EXPECT_TRUE(fs::is_empty(m_folder / "logs"));
}

TEST_F(FileTest, NonAsciiNamesAreKeptWhole) {
    // "café-日-" U+1F600 ".log": units of two and three UTF-8 bytes, and a surrogate pair.
    const WideUnit name[] = {'c',    'a',    'f', 0x00E9, '-', 0x65E5, '-',
                             0xD83D, 0xDE00, '.', 'l',    'o', 'g',    0};
    const WideString path = wide(m_folder) + WideUnit(fs::path::preferred_separator) + name;
    ASSERT_EQ(append(path, kBom, "x"), 0u);
    ASSERT_EQ(append(path, kBom, "y"), 0u);
    const std::string expected = "caf\xC3\xA9-\xE6\x97\xA5-\xF0\x9F\x98\x80.log";
    EXPECT_EQ(entries(), std::vector<std::string>{expected});
    EXPECT_EQ(readAll(m_folder / fs::u8path(expected)), kBom + "xy");
    EXPECT_EQ(deleteFile(path.c_str()), 0u);
    EXPECT_TRUE(entries().empty());
}

// A bare file name is a file in the current folder, created there with its header and no
// temporary file left beside it.
TEST_F(FileTest, ABareNameIsAFileInTheCurrentFolder) {
    const fs::path before = fs::current_path();
    fs::current_path(m_folder);
    const WideUnit name[] = {'b', 'a', 'r', 'e', '.', 'l', 'o', 'g', 0};
    const uint32_t first = append(name, kBom, "x");
    const uint32_t second = append(name, kBom, "y");
    fs::current_path(before);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(second, 0u);
    EXPECT_EQ(entries(), std::vector<std::string>{"bare.log"});
    EXPECT_EQ(readAll(m_folder / "bare.log"), kBom + "xy");
}

TEST_F(FileTest, NoPathIsAnInvalidParameter) {
    EXPECT_EQ(appendToFile(nullptr, kBom.data(), kBom.size(), "x", 1), kInvalidParameter);
    EXPECT_EQ(deleteFile(nullptr), kInvalidParameter);
}

struct SurrogateCase {
    const char* name;
    WideString text;
};

void PrintTo(const SurrogateCase& c, std::ostream* os) {
    *os << c.name;
}

class UnpairedSurrogateTest : public FileTest, public testing::WithParamInterface<SurrogateCase> {};

TEST_P(UnpairedSurrogateTest, IsNoFileNameOnPosix) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows file names may hold unpaired surrogates";
#else
    const WideString path = pathOf("a") + GetParam().text;
    EXPECT_EQ(append(path, kBom, "line"), kInvalidName);
    EXPECT_EQ(deleteFile(path.c_str()), kInvalidName);
    EXPECT_TRUE(entries().empty());
#endif
}

INSTANTIATE_TEST_SUITE_P(Texts, UnpairedSurrogateTest,
                         testing::Values(SurrogateCase{"HighAtTheEnd", {0xD83D}},
                                         SurrogateCase{"HighBeforeAnotherUnit", {0xD83D, 'b'}},
                                         SurrogateCase{"HighBeforeHigh", {0xD83D, 0xD83D, 0xDE00}},
                                         SurrogateCase{"LowAlone", {'b', 0xDE00, 'c'}}),
                         caseName<SurrogateCase>);

// Threads that start together and append to one file that none of them finds: one of them
// creates it, and every line lands whole after the header.
TEST_F(FileTest, ThreadsRacingToCreateOneFileLoseNothing) {
    constexpr int kThreads = 8;
    constexpr int kLines = 25;
    constexpr int kRounds = 10;
    std::vector<std::string> names;
    for (int round = 0; round < kRounds; ++round) {
        const std::string name = "race" + std::to_string(round) + ".log";
        const WideString path = pathOf(name);
        std::promise<void> go;
        const std::shared_future<void> start = go.get_future().share();
        std::vector<std::future<int>> failures;
        for (int t = 0; t < kThreads; ++t) {
            failures.push_back(std::async(std::launch::async, [&path, start, t] {
                start.wait();
                int failed = 0;
                for (int n = 0; n < kLines; ++n) {
                    const std::string line =
                        "t" + std::to_string(t) + "-" + std::to_string(n) + "\n";
                    failed += append(path, kBom, line) != 0u ? 1 : 0;
                }
                return failed;
            }));
        }
        go.set_value();
        for (auto& failed : failures) {
            EXPECT_EQ(failed.get(), 0);
        }

        const std::string text = readAll(m_folder / name);
        ASSERT_EQ(text.compare(0, kBom.size(), kBom), 0) << name;
        EXPECT_EQ(text.find(kBom, kBom.size()), std::string::npos) << name;
        std::vector<std::string> lines;
        std::string::size_type begin = kBom.size();
        for (auto end = text.find('\n', begin); end != std::string::npos;
             end = text.find('\n', begin)) {
            lines.push_back(text.substr(begin, end - begin));
            begin = end + 1;
        }
        EXPECT_EQ(begin, text.size()) << name << ": text after the last line";
        std::vector<std::string> expected;
        for (int t = 0; t < kThreads; ++t) {
            for (int n = 0; n < kLines; ++n) {
                expected.push_back("t" + std::to_string(t) + "-" + std::to_string(n));
            }
        }
        std::sort(lines.begin(), lines.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(lines, expected) << name;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(entries(), names);
}

#if !defined(_WIN32)

TEST_F(FileTest, AFolderThatCannotBeWrittenKeepsNoTemporaryFile) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders";
    }
    fs::permissions(m_folder, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(append(pathOf("app.log"), kBom, "line"), kAccessDenied);
    fs::permissions(m_folder, fs::perms::owner_all);
    EXPECT_TRUE(entries().empty());
}

// Lowers the file size limit of the process for one scope, so that writes fail even for root.
class ScopedFileSizeLimit {
  public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit lowered = m_previous;
        lowered.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~ScopedFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

    bool active() const { return m_active; }

  private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
    bool m_active = false;
};

struct WriteFailureCase {
    const char* name;
    rlim_t limit;
    uint32_t error;
    bool published;  // the file appears, holding the header alone
};

void PrintTo(const WriteFailureCase& c, std::ostream* os) {
    *os << c.name;
}

class WriteFailureTest : public FileTest, public testing::WithParamInterface<WriteFailureCase> {};

TEST_P(WriteFailureTest, LeavesNoTemporaryFile) {
    const WriteFailureCase& c = GetParam();
    uint32_t result = 0;
    {
        const ScopedFileSizeLimit limit(c.limit);
        ASSERT_TRUE(limit.active());
        result = append(pathOf("app.log"), kBom, "line");
    }
    EXPECT_EQ(result, c.error);
    if (c.published) {
        EXPECT_EQ(entries(), std::vector<std::string>{"app.log"});
        EXPECT_EQ(readAll(m_folder / "app.log"), kBom);
    } else {
        EXPECT_TRUE(entries().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(FileSizeLimits, WriteFailureTest,
                         testing::Values(WriteFailureCase{"NoByte", 0, kFileTooLarge, false},
                                         WriteFailureCase{"HalfTheHeader", 1, kWriteFault, false},
                                         WriteFailureCase{"HeaderOnly", 2, kFileTooLarge, true}),
                         caseName<WriteFailureCase>);

#endif

TEST_F(FileTest, DeleteRemovesTheFileOnce) {
    const WideString path = pathOf("app.log");
    ASSERT_EQ(append(path, kBom, "line"), 0u);
    EXPECT_EQ(deleteFile(path.c_str()), 0u);
    EXPECT_TRUE(entries().empty());
    EXPECT_EQ(deleteFile(path.c_str()), kFileNotFound);
}

TEST_F(FileTest, DeleteLeavesAFolderAlone) {
    fs::create_directory(m_folder / "logs");
    EXPECT_EQ(deleteFile(pathOf("logs").c_str()), kAccessDenied);
    EXPECT_TRUE(fs::is_directory(m_folder / "logs"));
}

}  // namespace
