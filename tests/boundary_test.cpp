// The built VelnorApi library, loaded as a host loads it, with the scripted vendor built as a
// vendor library of its own (its own C++ runtime) found through the real loading path: beside
// the library on POSIX, in the application directory on Windows.
#include <gtest/gtest.h>

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

qir::sys::Library load(const std::string& path) {
    uint32_t error = 0;
    qir::sys::Library library = qir::sys::openLibrary(path, error);
    EXPECT_TRUE(library) << path << " not loaded, error " << error;
    return library;
}

template <class F>
F symbol(const qir::sys::Library& library, const char* name) {
    return reinterpret_cast<F>(library.symbol(name));
}

// Every row of the exports' table across the boundary: the same answers, memory and vendor
// calls as in process, an exception thrown in the vendor's module caught in the library's.
class BoundaryTest : public testing::TestWithParam<exports::Row> {};

TEST_P(BoundaryTest, AnswersAndCallsTheVendorAsInProcess) {
    const exports::Row& row = GetParam();
    const fs::path dir = testpaths::executableDirectory();
    const qir::sys::Library vendor = load((dir / libraryFileName("SynCom")).u8string());
    const qir::sys::Library api = load((dir / libraryFileName("VelnorApi")).u8string());
    ASSERT_TRUE(vendor && api);
    const fake::Script script = fake::parse(row.script);
    symbol<FakeVendorResetFn>(vendor, "FakeVendorReset")(&script);
    const exports::Exports exports{
        symbol<PFN_GetTouchpadLaunchState>(api, "GetTouchpadLaunchState"),
        symbol<PFN_SetTouchpadLaunchState>(api, "SetTouchpadLaunchState"),
        symbol<PFN_GetTouchpadRegistryKey>(api, "GetTouchpadRegistryKey")};
    EXPECT_EQ(exports::run(exports, row), std::make_pair(row.result, exports::expectedMemory(row)));
    // The reports stay inside the library here.
    const std::string vendorCalls = std::regex_replace(row.calls, std::regex(" ?R"), "");
    EXPECT_EQ(symbol<FakeVendorTraceFn>(vendor, "FakeVendorTrace")(), vendorCalls);
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
    const qir::sys::Library vendor = load((dir / libraryFileName("SynCom")).u8string());
    const fake::Script script;
    symbol<FakeVendorResetFn>(vendor, "FakeVendorReset")(&script);
    // A copy of its own, that has not looked for its vendor yet.
    const std::string copy =
        libraryFileName("VelnorApiRelative" + std::to_string(qir::sys::processId()));
    testpaths::PlacedFile placed(dir / libraryFileName("VelnorApi"), copy);
    const fs::path decoy = testpaths::scratchDirectory("qir-decoy");
    fs::create_directories(decoy);
    fs::copy_file(dir / libraryFileName("VelnorApi"), decoy / libraryFileName("SynCom"));

    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    const qir::sys::Library api = load("./" + copy);
    fs::current_path(decoy);
    uint8_t state = 0xA5;
    const auto get = symbol<PFN_GetTouchpadLaunchState>(api, "GetTouchpadLaunchState");
    const int32_t result = get != nullptr ? get(&state) : -1;
    fs::current_path(previous);
    fs::remove_all(decoy);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(state, 0);
}

}  // namespace
