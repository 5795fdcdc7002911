// A host that loads the library, unloads it and loads it again: each loaded copy reads the
// configuration afresh on its first report, and an unloaded copy leaves no code mapped and no
// log file open.
#include <regex>

#include "VelnorApi.h"
#include "log_capture.h"
#include "qir_sys/library.h"
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
    return std::string(std::istreambuf_iterator<char>(maps), {}).find("/" + fileName + "\n") !=
           std::string::npos;
#endif
}

TEST(ReloadTest, EachLoadWritesWhereTheConfigurationThenSays) {
    const std::string name =
        qir::sys::libraryFileName("VelnorApiReload" + std::to_string(qir::sys::processId()));
    const fs::path dir = testpaths::executableDirectory();
    const fs::path scratch = testpaths::scratchDirectory("qir-reload");
    const testpaths::PlacedFile copy(dir / qir::sys::libraryFileName("VelnorApi"), name);
    fs::create_directories(scratch);
    const std::string key = "Software\\Halvex\\Logs\\" + LogCapture::programName();
    // The record's return code is whatever the loading left.
    const std::regex code("Return Code: 0x[0-9a-f]{8}");
    const std::string expected = std::regex_replace(
        LogCapture::expectedLine("ERROR", "::GetTouchpadRegistryKey", "strRegistryKey is null",
                                 "GetTouchpadRegistryKey", 0, "VelnorApi", 81),
        code, "");
    for (const fs::path& target : {scratch / "first.log", scratch / "second.log"}) {
        SCOPED_TRACE(target);
        testreg::TempRegistry registry(LogCapture::everythingTo(key, target), {key});
        ASSERT_EQ(registry.failure(), "");
        {
            uint32_t error = 0;
            const qir::sys::Library api = qir::sys::openLibrary((dir / name).u8string(), error);
            ASSERT_TRUE(api && mapped(name)) << "not loaded, error " << error;
            EXPECT_EQ(reinterpret_cast<PFN_GetTouchpadRegistryKey>(
                          api.symbol("GetTouchpadRegistryKey"))(nullptr, 8),
                      0);
        }
        EXPECT_FALSE(mapped(name)) << "the unloaded copy is still mapped";
        // Nothing holds the file open: it can be moved away.
        fs::rename(target, target.string() + ".moved");
        const std::string text = LogCapture::asciiText(target.string() + ".moved");
        EXPECT_EQ(LogCapture::lines(std::regex_replace(text, code, "")), std::vector{expected});
    }
    fs::remove_all(scratch);
}

}  // namespace
