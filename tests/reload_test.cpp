// A host that loads the library, unloads it and loads it again: each loaded copy reads the
// configuration afresh on its first report, and an unloaded copy leaves no code mapped and no
// log file open.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "export_table.h"
#include "qir_sys/library.h"
#include "qir_sys/process.h"
#include "temp_registry.h"
#include "test_paths.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

bool mapped(const std::string& fileName) {
#if defined(_WIN32)
    return GetModuleHandleA(fileName.c_str()) != nullptr;
#else
    std::ifstream maps("/proc/self/maps");
    const std::string text(std::istreambuf_iterator<char>(maps), {});
    return text.find("/" + fileName + "\n") != std::string::npos;
#endif
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
    for (const fs::path& target : {scratch / "first.log", scratch / "second.log"}) {
        SCOPED_TRACE(target);
        testreg::TempRegistry registry(LogCapture::everythingTo(key, target), {key});
        ASSERT_EQ(registry.failure(), "");
        {
            uint32_t error = 0;
            const qir::sys::Library api = qir::sys::openLibrary((dir / name).u8string(), error);
            ASSERT_TRUE(api) << "not loaded, error " << error;
            EXPECT_TRUE(mapped(name));
            const auto report =
                reinterpret_cast<PFN_GetTouchpadRegistryKey>(api.symbol("GetTouchpadRegistryKey"));
            ASSERT_NE(report, nullptr);
            EXPECT_EQ(report(nullptr, 16), 0);
        }
        EXPECT_FALSE(mapped(name)) << "the unloaded copy is still mapped";
        // Nothing holds the file open: it can be moved away. The record's return code is
        // whatever the loading left.
        std::error_code error;
        fs::rename(target, target.string() + ".moved", error);
        ASSERT_FALSE(error) << error.message();
        const auto lines = LogCapture::lines(LogCapture::asciiText(target.string() + ".moved"));
        EXPECT_EQ(exports::masked(lines), exports::masked({expected}));
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
}

}  // namespace
