// Finding the vendor library at run time: no library answers 0x8007007E and one without the
// factory 0x8007007F, the current directory is never searched, and a load that failed is
// tried again on the next call.
#include <optional>

#include "qir_sys/error.h"
#include "test_paths.h"
#include "vendor_loader.h"

namespace {

namespace fs = std::filesystem;

// A library as the build places it beside the boundary suite.
fs::path built(const std::string& stem) {
    return testpaths::executableDirectory() / "boundary" / qir::sys::libraryFileName(stem);
}

// A library file name of this process and test alone: a library once loaded may stay.
std::string unique() {
    return qir::sys::libraryFileName(testpaths::scratchDirectory("Velnor").filename().string());
}

// SynCreateAPI through `loader`: its code, with an object exactly on success.
int32_t create(velnor::VendorLoader& loader) {
    ISynAPI* api = nullptr;
    const int32_t code = loader.createApi(&api);
    EXPECT_EQ(api != nullptr, code == 0);
    return code;
}

TEST(VendorLoaderTest, AnswersWhatItFindsAndLooksAgainAfterAFailedLoad) {
    const std::string file = unique();
    std::optional<testpaths::PlacedFile> placed;
    velnor::VendorLoader loader({file.c_str(), file.c_str(), nullptr});
    EXPECT_EQ(create(loader), velnor::kHResultModuleNotFound);
    placed.emplace(built("VelnorApi"), file);
    EXPECT_EQ(create(loader), velnor::kHResultProcNotFound);
    EXPECT_EQ(qir::sys::lastError(), 127u) << "the failed lookup's error, for the report";
    placed.reset();
    placed.emplace(built("SynCom"), file);
    EXPECT_EQ(create(loader), 0);
}

TEST(VendorLoaderTest, LibraryInTheCurrentDirectoryIsNotLoaded) {
    const std::string file = unique();
    const fs::path dir = testpaths::scratchDirectory("velnor-cwd"), previous = fs::current_path();
    fs::create_directories(dir);
    fs::copy_file(built("SynCom"), dir / file);
    fs::current_path(dir);
    velnor::VendorLoader loader({file.c_str(), file.c_str(), nullptr});
    EXPECT_EQ(create(loader), velnor::kHResultModuleNotFound);
    fs::current_path(previous);
    fs::remove_all(dir);
}

#if !defined(_WIN32)
// On POSIX a variable that is set and not empty names the library in place of the search.
TEST(VendorLoaderTest, TheVariableNamesTheLibraryWhenSet) {
    const std::string file = unique();
    velnor::VendorLoader loader({"", file.c_str(), "VELNOR_TEST_VENDOR"});
    setenv("VELNOR_TEST_VENDOR", "", 1);
    EXPECT_EQ(create(loader), velnor::kHResultModuleNotFound);
    setenv("VELNOR_TEST_VENDOR", built("SynCom").c_str(), 1);
    EXPECT_EQ(create(loader), 0);
    unsetenv("VELNOR_TEST_VENDOR");
}
#endif

}  // namespace
