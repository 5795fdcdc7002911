// Finding the vendor library at run time: no library answers 0x8007007E and one without the
// factory 0x8007007F, the current directory is never searched, and a load that failed is
// tried again on the next call.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "qir_sys/library.h"
#include "qir_sys/process.h"
#include "test_paths.h"
#include "vendor_loader.h"

namespace {

namespace fs = std::filesystem;

// A library as the build places it beside the boundary suite.
fs::path built(const std::string& stem) {
    return testpaths::executableDirectory() / "boundary" / qir::sys::libraryFileName(stem);
}

// A library file name of this process alone, and a loader that looks for it.
struct Named {
    explicit Named(const std::string& stem, const char* variable = nullptr)
        : file(qir::sys::libraryFileName(stem + std::to_string(qir::sys::processId()))),
          loader({file.c_str(), file.c_str(), variable}) {}

    // SynCreateAPI through the loader: its code, with an object exactly on success.
    int32_t create() {
        ISynAPI* api = nullptr;
        const int32_t code = loader.createApi(&api);
        EXPECT_EQ(api != nullptr, code == 0);
        if (api != nullptr) {
            api->Release();
        }
        return code;
    }

    const std::string file;
    velnor::VendorLoader loader;
};

TEST(VendorLoaderTest, AFailedLoadIsTriedAgainOnTheNextCall) {
    std::optional<testpaths::PlacedFile> placed;
    Named late("VelnorLateVendor");
    EXPECT_EQ(late.create(), velnor::kHResultModuleNotFound);
    placed.emplace(built("SynCom"), late.file);
    EXPECT_EQ(late.create(), 0);
}

TEST(VendorLoaderTest, ALibraryWithoutTheFactoryAnswersProcNotFound) {
    Named other("VelnorNoFactory");
    testpaths::PlacedFile placed(built("VelnorApi"), other.file);
    EXPECT_EQ(other.create(), velnor::kHResultProcNotFound);
    EXPECT_EQ(other.create(), velnor::kHResultProcNotFound);
}

TEST(VendorLoaderTest, LibraryInTheCurrentDirectoryIsNotLoaded) {
    Named here("VelnorCwdVendor");
    const fs::path dir = testpaths::scratchDirectory("velnor-cwd");
    fs::create_directories(dir);
    fs::copy_file(built("SynCom"), dir / here.file);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    EXPECT_EQ(here.create(), velnor::kHResultModuleNotFound);
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

#if !defined(_WIN32)
// On POSIX a variable that is set and not empty names the library in place of the search.
TEST(VendorLoaderTest, TheVariableNamesTheLibraryWhenSet) {
    Named named("VelnorNoSuchVendor", "VELNOR_TEST_VENDOR");
    setenv("VELNOR_TEST_VENDOR", "", 1);
    EXPECT_EQ(named.create(), velnor::kHResultModuleNotFound);
    setenv("VELNOR_TEST_VENDOR", built("SynCom").c_str(), 1);
    EXPECT_EQ(named.create(), 0);
    unsetenv("VELNOR_TEST_VENDOR");
}
#endif

}  // namespace
