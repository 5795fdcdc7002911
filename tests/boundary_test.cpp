// The built VelnorApi library, loaded as a host loads it, with the scripted vendor built as a
// vendor library of its own (its own C++ runtime) found through the real loading path: beside
// the library on POSIX, in the application directory on Windows.
#include <regex>

#include "export_table.h"
#include "fake_vendor_module.h"
#include "param_name.h"
#include "qir_sys/library.h"
#include "qir_sys/process.h"
#include "test_paths.h"

namespace {

namespace fs = std::filesystem;
using qir::sys::libraryFileName;

// A library loaded by its path, by default the build's beside this suite.
struct Loaded {
    explicit Loaded(const std::string& stem, const std::string& path = "")
        : library(qir::sys::openLibrary(
              path.empty() ? (testpaths::executableDirectory() / libraryFileName(stem)).u8string()
                           : path,
              error)) {}
    template <class F>
    F get(const char* name) const {
        return reinterpret_cast<F>(library.symbol(name));
    }
    uint32_t error = 0;
    const qir::sys::Library library;
};

// Every row of the exports' table across the boundary: the same answers, memory and vendor
// calls as in process; an exception thrown in the vendor's module is caught in the library's.
class BoundaryTest : public testing::TestWithParam<exports::Row> {};

TEST_P(BoundaryTest, AnswersAndCallsTheVendorAsInProcess) {
    const exports::Row& row = GetParam();
    const Loaded vendor("SynCom"), api("VelnorApi");
    ASSERT_TRUE(vendor.library && api.library) << vendor.error << " " << api.error;
    const fake::Script script = fake::parse(row.script);
    vendor.get<FakeVendorResetFn>("FakeVendorReset")(&script);
    const auto outcome =
        exports::run({api.get<PFN_GetTouchpadLaunchState>("GetTouchpadLaunchState"),
                      api.get<PFN_SetTouchpadLaunchState>("SetTouchpadLaunchState"),
                      api.get<PFN_GetTouchpadRegistryKey>("GetTouchpadRegistryKey")},
                     row);
    EXPECT_EQ(outcome[1], outcome[0]);
    // The reports stay inside the library.
    EXPECT_EQ(vendor.get<FakeVendorTraceFn>("FakeVendorTrace")(),
              std::regex_replace(row.calls, std::regex(" ?R"), ""));
}

INSTANTIATE_TEST_SUITE_P(Table, BoundaryTest, testing::ValuesIn(exports::kRows),
                         caseName<exports::Row>);

// A host that loads the library by a relative path and then changes its current directory:
// the vendor library is still looked for beside the library, never in the current directory,
// where a library without the factory waits.
TEST(RelativeLoadTest, VendorIsFoundBesideTheLibraryNotInTheCurrentDirectory) {
    if (libraryFileName("V").rfind("lib", 0) != 0) {
        GTEST_SKIP() << "a relative path is a POSIX loader's notion here";
    }
    const fs::path dir = testpaths::executableDirectory();
    const Loaded vendor("SynCom");
    const fake::Script script;
    vendor.get<FakeVendorResetFn>("FakeVendorReset")(&script);
    // A copy of its own, that has not looked for its vendor yet.
    const std::string copy = "VelnorApiRelative" + std::to_string(qir::sys::processId());
    testpaths::PlacedFile placed(dir / libraryFileName("VelnorApi"), libraryFileName(copy));
    const fs::path decoy = testpaths::scratchDirectory("qir-decoy");
    fs::create_directories(decoy);
    fs::copy_file(dir / libraryFileName("VelnorApi"), decoy / libraryFileName("SynCom"));
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    const Loaded api(copy, "./" + libraryFileName(copy));
    fs::current_path(decoy);
    uint8_t state = 0xA5;
    const auto get = api.get<PFN_GetTouchpadLaunchState>("GetTouchpadLaunchState");
    const int32_t result = get != nullptr ? get(&state) : -1;
    fs::current_path(previous);
    fs::remove_all(decoy);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(state, 0);
}

}  // namespace
