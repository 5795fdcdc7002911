// Copies of the library as hosts load them: by a relative path, and loaded, unloaded and
// loaded again.
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

using qir::sys::libraryFileName;

bool mapped(const std::string& fileName) {
#if defined(_WIN32)
    return GetModuleHandleA(fileName.c_str()) != nullptr;
#else
    std::ifstream maps("/proc/self/maps");
    return std::string(std::istreambuf_iterator<char>(maps), {}).find("/" + fileName + "\n") !=
           std::string::npos;
#endif
}

// A host that loads the library by a relative path and then changes its current directory:
// the vendor library is still looked for beside the library, never in the current directory,
// where a library without the factory waits.
TEST(RelativeLoadTest, VendorIsFoundBesideTheLibraryNotInTheCurrentDirectory) {
    if (libraryFileName("V").rfind("lib", 0) != 0) {
        GTEST_SKIP() << "a relative path is a POSIX loader's notion here";
    }
    const fs::path dir = testpaths::executableDirectory(), previous = fs::current_path();
    const fs::path decoy = testpaths::scratchDirectory("qir-decoy");
    const std::string copy =
        libraryFileName("VelnorApiRelative" + std::to_string(qir::sys::processId()));
    const testpaths::PlacedFile placed(dir / libraryFileName("VelnorApi"), copy);
    fs::create_directories(decoy);
    fs::copy_file(dir / libraryFileName("VelnorApi"), decoy / libraryFileName("SynCom"));
    fs::current_path(dir);
    uint32_t error = 0;
    const qir::sys::Library api = qir::sys::openLibrary("./" + copy, error);
    fs::current_path(decoy);
    uint8_t state = 0xA5;
    const auto get =
        reinterpret_cast<PFN_GetTouchpadLaunchState>(api.symbol("GetTouchpadLaunchState"));
    // Twice: the second call finds the vendor library the first one loaded.
    const int32_t result = get != nullptr ? get(&state) + get(&state) : -1;
    fs::current_path(previous);
    fs::remove_all(decoy);
    EXPECT_EQ(result, 2) << error;
    EXPECT_EQ(state, 0);
}

// A host that loads the library, unloads it and loads it again: each loaded copy reads the
// configuration afresh on its first report, and an unloaded copy leaves no code mapped and no
// log file open.
TEST(ReloadTest, EachLoadWritesWhereTheConfigurationThenSays) {
    const std::string name =
        libraryFileName("VelnorApiReload" + std::to_string(qir::sys::processId()));
    const fs::path dir = testpaths::executableDirectory();
    const fs::path scratch = testpaths::scratchDirectory("qir-reload");
    const testpaths::PlacedFile copy(dir / libraryFileName("VelnorApi"), name);
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
        const std::vector<std::string> lines = LogCapture::lines(target.string() + ".moved");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(std::regex_replace(lines[0], code, ""), expected);
    }
    fs::remove_all(scratch);
}

}  // namespace
