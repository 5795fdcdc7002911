// Appending to log files and deleting them, and what an append leaves behind when the system
// refuses one of its steps. (Appends racing from many threads and processes are in
// tests/stress.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "log_file.h"
#include "qir_sys/fault.h"
#include "qir_sys/file.h"
#include "test_paths.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#endif

namespace {

namespace fs = std::filesystem;
using Wide = std::basic_string<qir::sys::WideUnit>;

// Appends ASCII text as one UTF-16 line to the file at a UTF-8 path.
uint32_t append(const std::string& path, const std::string& text) {
    std::string line;
    for (char c : text + "\r\n") {
        line += {c, '\0'};
    }
    const Wide name = fs::u8path(path).string<qir::sys::WideUnit>();
    return qir::sys::appendToFile(name.c_str(), "\xFF\xFE", 2, line.data(), line.size());
}

// Each test works in a folder of its own, as its current folder, that holds the folder "dir"
// and the log file "old.log" with the line "old".
class FileTest : public testing::Test {
  protected:
    void SetUp() override {
#if !defined(_WIN32)
        umask(027);
#endif
        fs::create_directories(m_dir / "dir");
        fs::current_path(m_dir);
        reset();
    }
    void TearDown() override {
        fs::current_path(m_previous);
        fs::remove_all(m_dir);
    }
    static void reset() {
        fs::remove("new.log");
        std::ofstream("old.log", std::ios::binary) << std::string("\xFF\xFEo\0l\0d\0\r\0\n\0", 12);
    }

    // The lines of a sound log file ("-" for none, "!" for a file that is not sound; "(mode)"
    // when its mode is not 0666 less the umask), and the number of entries in the folder.
    static std::string state(const std::string& path) {
        const logfile::Contents contents = logfile::read(fs::u8path(path));
        std::string lines = contents.exists ? "" : "-";
        for (const std::string& line : contents.lines) {
            lines += (lines.empty() ? "" : ",") + line;
        }
#if !defined(_WIN32)
        struct stat status {};
        lines += stat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode) ||
                         (status.st_mode & 0777) == 0640
                     ? ""
                     : "(mode)";
#endif
        const auto entries = std::distance(fs::directory_iterator("."), fs::directory_iterator());
        return (logfile::sound(contents) || !contents.exists ? lines : "!") + " in " +
               std::to_string(entries);
    }

    const fs::path m_previous = fs::current_path();
    const fs::path m_dir = testpaths::scratchDirectory("qir-file");
};

// Two appends to a path, what the file holds then, two deletions and the entries left: the
// temporary file that a new file is made under never stays.
const char* const kAppends[][2] = {
    {"new.log", "0 0 x,y in 3 0 2 in 2"},
    {"old.log", "0 0 old,x,y in 2 0 2 in 1"},
    {"dir/new.log", "0 0 x,y in 2 0 2 in 2"},
    {"caf\xC3\xA9-\xE6\x97\xA5-\xF0\x9F\x98\x80.log", "0 0 x,y in 3 0 2 in 2"},
    {"missing/new.log", "3 3 - in 2 2 2 in 2"},
    {"old.log/new.log", "3 3 - in 2 2 2 in 2"},
    {"dir", "5 5 ! in 2 5 5 in 2"},
    {"", "3 3 - in 2 2 2 in 2"},
};

TEST_F(FileTest, AppendsAndDeletes) {
    for (const auto& [path, outcome] : kAppends) {
        const Wide name = fs::u8path(path).string<qir::sys::WideUnit>();
        std::string outcomes;
        for (const char* text : {"x", "y"}) {
            outcomes += std::to_string(append(path, text)) + " ";
        }
        outcomes += state(path);
        for (int time = 0; time < 2; ++time) {
            outcomes += " " + std::to_string(qir::sys::deleteFile(name.c_str()));
        }
        EXPECT_EQ(outcomes + " " + state(path).substr(2), outcome) << path;
        reset();
    }
    EXPECT_EQ(qir::sys::appendToFile(nullptr, "\xFF\xFE", 2, "x", 1), 87u);
    EXPECT_EQ(qir::sys::deleteFile(nullptr), 87u);
    // A name too long: POSIX refuses it at once, Wine only when the new file is published.
    EXPECT_NE(append(std::string(300, 'a'), "x"), 0u);
#if !defined(_WIN32)
    // Unpaired surrogates make no UTF-8 file name.
    for (const Wide& path : {Wide{0xD800}, Wide{0xDBFF, 0xE000}, Wide{0xDFFF, 'x'}, Wide{0xDC00}}) {
        EXPECT_EQ(qir::sys::appendToFile(path.c_str(), "", 0, "x", 1), 123u);
        EXPECT_EQ(qir::sys::deleteFile(path.c_str()), 123u);
    }
#endif
    EXPECT_EQ(state("old.log"), "old in 2");
}

#if !defined(_WIN32)
// A file size limit lets the system take none of the bytes, half the mark, or the mark only.
TEST_F(FileTest, AWriteCutShortLeavesNoFileWithoutItsMark) {
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    for (const auto& [limit, outcome] :
         {std::pair<rlim_t, std::string>{0, "223 - in 2"}, {1, "29 - in 2"}, {2, "223  in 3"}}) {
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
        const uint32_t answer = append("new.log", "x");
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(std::to_string(answer) + " " + state("new.log"), outcome);
        reset();
    }
    std::signal(SIGXFSZ, handler);
}
#endif

// A call that the system refuses: the append answers the error as the platform maps it, leaves
// no handle open and no temporary file, and the file as it was, or new with its mark alone.
// (The logger's sweep in fault_logger_test.cpp fails each call in turn.)
TEST_F(FileTest, ARefusedCallLeavesTheFileSound) {
    using qir::sys::fault::Site;
    ASSERT_EQ(append("new.log", "warm"), 0u);  // the first append may open handles for good
    // clang-format off
    const std::tuple<Site, uint64_t, uint32_t, const char*, const char*> refusals[] = {
        // the file is found gone, then there again: it gets the line, and no second mark
        {Site::FileOpen, 1, 2, "old.log", "0 old,z in 2"},
        {Site::FileOpen, 0, 2, "old.log", "2 old in 2"},  // gone at every look: the append gives up
        {Site::FileOpen, 1, 5, "old.log", "5 old in 2"},
        {Site::FileCreate, 1, 19, "new.log", "19 - in 2"},
        {Site::FileWrite, 1, 112, "new.log", "112 - in 2"},  // the mark, into the temporary file
        {Site::FileWrite, 2, 112, "new.log", "112  in 3"},   // the line, into the published file
#if defined(_WIN32)
        {Site::FileWrite, 1, 1359, "old.log", "1359 old in 2"},
#else
        {Site::FileWrite, 1, 1359, "old.log", "1 old in 2"},  // no errno stands for it: generic
#endif
        {Site::FileClose, 0, 1117, "new.log", "0 z in 3"},  // after the bytes were handed over
    };
    // clang-format on
    for (const auto& [site, n, error, name, outcome] : refusals) {
        reset();
        const uint64_t handles = qir::sys::fault::openHandleCount();
        const qir::sys::fault::Failing failing(site, n, error);
        const uint32_t answer = append(name, "z");
        EXPECT_EQ(std::to_string(answer) + " " + state(name), outcome) << name << " " << error;
        EXPECT_TRUE(failing.fired());
        EXPECT_EQ(qir::sys::fault::openHandleCount(), handles) << name << " " << error;
    }
}

}  // namespace
