// The built VelnorApi library, loaded as a host loads it, with the scripted vendor built as a
// vendor library of its own (its own C++ runtime) found through the real loading path: beside
// the library on POSIX, in the application directory on Windows.
#include <regex>

#include "export_table.h"
#include "fake_vendor_module.h"
#include "param_name.h"
#include "qir_sys/library.h"
#include "test_paths.h"

namespace {

namespace fs = std::filesystem;
using qir::sys::libraryFileName;

template <class F>
F symbol(const qir::sys::Library& library, const char* name) {
    return reinterpret_cast<F>(library.symbol(name));
}

// Every row of the exports' table across the boundary: the same answers, memory and vendor
// calls as in process; an exception thrown in the vendor's module is caught in the library's.
class BoundaryTest : public testing::TestWithParam<exports::Row> {};

TEST_P(BoundaryTest, AnswersAndCallsTheVendorAsInProcess) {
    const exports::Row& row = GetParam();
    const fs::path dir = testpaths::executableDirectory();
    uint32_t error = 0;
    const auto vendor = qir::sys::openLibrary((dir / libraryFileName("SynCom")).u8string(), error);
    const auto api = qir::sys::openLibrary((dir / libraryFileName("VelnorApi")).u8string(), error);
    ASSERT_TRUE(vendor && api) << error;
    const fake::Script script = fake::parse(row.script);
    symbol<FakeVendorResetFn>(vendor, "FakeVendorReset")(&script);
    const auto outcome =
        exports::run({symbol<PFN_GetTouchpadLaunchState>(api, "GetTouchpadLaunchState"),
                      symbol<PFN_SetTouchpadLaunchState>(api, "SetTouchpadLaunchState"),
                      symbol<PFN_GetTouchpadRegistryKey>(api, "GetTouchpadRegistryKey")},
                     row);
    EXPECT_EQ(outcome[1], outcome[0]);
    // The reports stay inside the library.
    EXPECT_EQ(symbol<FakeVendorTraceFn>(vendor, "FakeVendorTrace")(),
              std::regex_replace(row.calls, std::regex(" ?R"), ""));
}

INSTANTIATE_TEST_SUITE_P(Table, BoundaryTest, testing::ValuesIn(exports::kRows),
                         caseName<exports::Row>);

}  // namespace
