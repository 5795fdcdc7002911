// The logger set up from a real configuration of three text files while the system refuses the
// n-th registry read or file step, for n = 1, 2, ... until nothing is refused: nothing thrown,
// nothing left open, the set-up made once, and only the entry that met the failure goes
// without the exact line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "log_capture.h"
#include "log_file.h"
#include "log_text.h"
#include "qir_logger.h"
#include "qir_sys/fault.h"
#include "test_paths.h"

namespace {

namespace fs = std::filesystem;
using logtext::w;
using qir::sys::fault::Failing;
using qir::sys::fault::Site;

// `held`: for each n, which of the files a, b and c got the line and what write answered.
// Each entry opens, writes and closes its file, which exists unless `fresh`; set-up opens the
// program's key, counts and names the subkeys, opens each and reads its values: Enabled,
// Detail, SeparateThreads, Type, Target, AllowObjects and ExcludeObjects.
struct Sweep {
    Site site;
    uint32_t error;
    bool fresh;
    const char* held;
};

const Sweep kSweeps[] = {
    {Site::FileOpen, 5, false, "011- 101- 110-"},
    {Site::FileWrite, 112, false, "011- 101- 110-"},
    {Site::FileClose, 1117, false, "111+ 111+ 111+"},
    {Site::FileCreate, 5, true, "011- 101- 110-"},
    {Site::RegistryOpen, 5, true, "000+ 011- 101- 110-"},
    {Site::RegistryCount, 1450, true, "000+"},
    {Site::RegistryName, 5, true, "011- 101- 110-"},
    {Site::RegistryQuery, 5, true,
     "011- 011+ 111+ 011- 011- 111+ 111+ 101- 101+ 111+ 101- 101- 111+ 111+ "
     "110- 110+ 111+ 110- 110- 111+ 111+"},
};

TEST(LoggerFaultTest, ARefusedCallCostsOnlyItsEntryTheLine) {
    const fs::path dir = testpaths::scratchDirectory("qir-fault-logger");
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string key = "Software\\Halvex\\Logs\\" + LogCapture::programName();
    std::string text = "Windows Registry Editor Version 5.00\n\n";
    for (const char* entry : {"a", "b", "c"}) {
        text += LogCapture::output(key + "\\" + entry, dir / (std::string(entry) + ".log"));
    }
    const testreg::TempRegistry registry(text, {key});
    ASSERT_EQ(registry.failure(), "");
    const CQIRLogData record(QIR_LOG_ERROR, w("m"), 0x4D2, w("t"), nullptr, 0, 42, 7, w("h.exe"),
                             w("T"), w("K::f"), w("x"), 9);
    CQIRMutexLW lock;
    CQIRLogStringWChar name;
    CQIRLogger warm(lock, name);
    ASSERT_TRUE(warm.ensureInitialized() && warm.write(record));
    const std::string line = logfile::read(dir / "a.log").lines.at(0);
    const uint64_t handles = qir::sys::fault::openHandleCount();
    for (const Sweep& s : kSweeps) {
        const std::string held = s.held;
        for (uint64_t n = 1;; ++n) {
            SCOPED_TRACE("call " + std::to_string(n) + " at site " +
                         std::to_string(static_cast<int>(s.site)) + " fails");
            for (const char* file : {"a.log", "b.log", "c.log"}) {
                fs::remove(dir / file);
            }
            ASSERT_TRUE(s.fresh || warm.write(record));
            CQIRLogger logger(lock, name);
            bool answer = false, fired = false;
            for (int step = 0; step < 2; ++step) {
                Failing failing(s.site, n, s.error);
                EXPECT_NO_THROW(answer =
                                    step == 0 ? logger.ensureInitialized() : logger.write(record));
                fired = fired || failing.fired();
                // Set up once, whatever the outcome: the configuration is not read again.
                EXPECT_TRUE(step == 1 || logger.ensureInitialized());
            }
            EXPECT_EQ(qir::sys::fault::openHandleCount(), handles) << "handles left open";
            std::string seen;
            for (const char* file : {"a.log", "b.log", "c.log"}) {
                const logfile::Contents c = logfile::read(dir / file);
                EXPECT_TRUE(!c.exists || logfile::sound(c)) << file;
                EXPECT_EQ(std::count(c.lines.begin(), c.lines.end(), line), c.lines.size());
                seen += static_cast<char>('0' + c.lines.size() - (s.fresh ? 0 : 1));
            }
            seen += answer ? '+' : '-';
            if (!fired) {
                EXPECT_EQ(seen, "111+");
                EXPECT_EQ(5 * (n - 1), held.size() + 1) << "calls made";
                break;
            }
            ASSERT_LT(5 * (n - 1), held.size()) << "more calls than expected";
            EXPECT_EQ(seen, held.substr(5 * (n - 1), 4));
        }
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

}  // namespace
