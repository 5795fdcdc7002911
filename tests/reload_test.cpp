// A host that loads the library, unloads it and loads it again: each loaded copy reads the
// configuration afresh on its first report, and an unloaded copy leaves no code mapped and no
// log file open.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "VelnorApi.h"
#include "loaded_module.h"
#include "log_capture.h"
#include "qir_sys/library.h"
#include "qir_sys/process.h"
#include "temp_registry.h"
#include "test_paths.h"

namespace {

namespace fs = std::filesystem;

// Loads the library, makes GetTouchpadRegistryKey fail once at its first check (no vendor is
// involved) and unloads it again.
void failOnce(const fs::path& dir, const std::string& name) {
    uint32_t error = 0;
    qir::sys::Library api = qir::sys::openLibrary((dir / name).u8string(), error);
    ASSERT_TRUE(api) << "not loaded, error " << error;
    EXPECT_TRUE(testpaths::moduleLoaded(name));
    auto key = reinterpret_cast<PFN_GetTouchpadRegistryKey>(api.symbol("GetTouchpadRegistryKey"));
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key(nullptr, 16), 0);
}

TEST(ReloadTest, EachLoadWritesWhereTheConfigurationThenSays) {
    const fs::path dir = testpaths::executableDirectory();
    const std::string name =
        qir::sys::libraryFileName("VelnorApiReload" + std::to_string(qir::sys::processId()));
    testpaths::PlacedFile copy(dir / qir::sys::libraryFileName("VelnorApi"), name);
    const fs::path scratch = testpaths::scratchDirectory("qir-reload");
    fs::create_directories(scratch);
    const std::string key = "Software\\Halvex\\Logs\\" + LogCapture::programName();
    const std::string expected =
        LogCapture::expectedLine("ERROR", "::GetTouchpadRegistryKey", "strRegistryKey is null",
                                 "GetTouchpadRegistryKey", 0, "VelnorApi", 81);
    const std::vector<fs::path> targets{scratch / "first.log", scratch / "second.log"};

    for (size_t round = 0; round < targets.size(); ++round) {
        SCOPED_TRACE("load " + std::to_string(round + 1));
        testreg::TempRegistry registry(LogCapture::everythingTo(key, targets[round]),
                                       std::vector<std::string>{key});
        ASSERT_EQ(registry.failure(), "");
        failOnce(dir, name);
        EXPECT_FALSE(testpaths::moduleLoaded(name)) << "the unloaded copy is still mapped";
        // The copy held no handle on its file: the file can be moved away and back.
        const fs::path moved = targets[round].string() + ".moved";
        std::error_code error;
        fs::rename(targets[round], moved, error);
        EXPECT_FALSE(error) << error.message();
        fs::rename(moved, targets[round], error);
        EXPECT_FALSE(error) << error.message();
    }
    for (const fs::path& target : targets) {
        std::vector<std::string> lines = LogCapture::lines(LogCapture::asciiText(target));
        // The return code is whatever the loader left as last error; only the rest is fixed.
        for (std::string& line : lines) {
            const size_t code = line.find("<Return Code: 0x");
            if (code != std::string::npos) {
                line.replace(code + 16, 8, "00000000");
            }
        }
        EXPECT_EQ(lines, std::vector<std::string>{expected}) << target;
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
}

}  // namespace
