// Appending to log files and deleting them, and what an append leaves behind when the system
// refuses one of its steps. (Appends racing from many threads and processes are in
// tests/stress.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

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

// The n-th call at a site fails, for each n until an append makes no such call, then every
// call there does. The append answers 0 with the line appended, or the error as the platform
// maps it with the file as it was (a new file may have come with its mark alone); it leaves
// no handle open and no temporary file.
TEST_F(FileTest, EachFailingCallLeavesTheFileSound) {
    using qir::sys::fault::Site;
#if defined(_WIN32)
    const std::string unmapped = "1359";
#else
    const std::string unmapped = "1";  // no errno stands for 1359: the generic error
#endif
    ASSERT_EQ(append("new.log", "warm"), 0u);  // the first append may open handles for good
    const std::pair<Site, uint32_t> faults[] = {{Site::FileOpen, 5},     {Site::FileOpen, 2},
                                                {Site::FileCreate, 19},  {Site::FileWrite, 112},
                                                {Site::FileWrite, 1359}, {Site::FileClose, 1117}};
    for (const auto& [site, error] : faults) {
        for (const bool old : {true, false}) {
            const std::string name = old ? "old.log" : "new.log";
            const std::string e = error == 1359 ? unmapped : std::to_string(error);
            const std::string allowed[] = {old ? "0 old,z in 2" : "0 z in 3",
                                           e + (old ? " old in 2" : " - in 2"), e + "  in 3"};
            bool fired = true;
            for (uint64_t n = 1; n != 99; n = n == 0 ? 99 : fired ? n + 1 : 0) {
                ASSERT_LT(n, 20u);
                reset();
                const uint64_t handles = qir::sys::fault::openHandleCount();
                const qir::sys::fault::Failing failing(site, n, error);
                const uint32_t answer = append(name, "z");
                const std::string outcome = std::to_string(answer) + " " + state(name);
                fired = failing.fired();
                EXPECT_EQ(qir::sys::fault::openHandleCount(), handles) << "handles left open";
                EXPECT_TRUE(std::count(allowed, allowed + 3 - old, outcome))
                    << outcome << ": site " << static_cast<int>(site) << ", call " << n;
            }
        }
    }
}

}  // namespace
