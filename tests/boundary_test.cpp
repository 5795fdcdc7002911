// The built VelnorApi library, loaded as a host loads it, with the scripted vendor built as a
// separate vendor library (its own C++ runtime) found through the real loading path: beside
// the library on POSIX, in the application directory on Windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "VelnorApi.h"
#include "fake_vendor_module.h"
#include "param_name.h"
#include "qir_sys/library.h"
#include "qir_sys/process.h"
#include "test_paths.h"

namespace {

using fake::Call;

class BoundaryTest : public testing::Test {
  protected:
    void SetUp() override {
        const auto dir = testpaths::executableDirectory();
        uint32_t error = 0;
        m_vendor =
            qir::sys::openLibrary((dir / qir::sys::libraryFileName("SynCom")).u8string(), error);
        ASSERT_TRUE(m_vendor) << "scripted vendor library not loaded, error " << error;
        m_api =
            qir::sys::openLibrary((dir / qir::sys::libraryFileName("VelnorApi")).u8string(), error);
        ASSERT_TRUE(m_api) << "VelnorApi not loaded, error " << error;
        get = reinterpret_cast<PFN_GetTouchpadLaunchState>(m_api.symbol("GetTouchpadLaunchState"));
        set = reinterpret_cast<PFN_SetTouchpadLaunchState>(m_api.symbol("SetTouchpadLaunchState"));
        key = reinterpret_cast<PFN_GetTouchpadRegistryKey>(m_api.symbol("GetTouchpadRegistryKey"));
        reset = reinterpret_cast<FakeVendorResetFn>(m_vendor.symbol("FakeVendorReset"));
        count = reinterpret_cast<FakeVendorCallCountFn>(m_vendor.symbol("FakeVendorCallCount"));
        at = reinterpret_cast<FakeVendorCallAtFn>(m_vendor.symbol("FakeVendorCallAt"));
        unexpected = reinterpret_cast<FakeVendorUnexpectedCallsFn>(
            m_vendor.symbol("FakeVendorUnexpectedCalls"));
        ASSERT_TRUE(get && set && key && reset && count && at && unexpected);
        reset(&script);
    }

    void apply() { reset(&script); }

    std::vector<Call> calls() const {
        std::vector<Call> result(static_cast<size_t>(count()));
        for (size_t i = 0; i < result.size(); ++i) {
            at(static_cast<int32_t>(i), &result[i]);
        }
        return result;
    }

    fake::Script script;
    PFN_GetTouchpadLaunchState get = nullptr;
    PFN_SetTouchpadLaunchState set = nullptr;
    PFN_GetTouchpadRegistryKey key = nullptr;
    FakeVendorResetFn reset = nullptr;
    FakeVendorCallCountFn count = nullptr;
    FakeVendorCallAtFn at = nullptr;
    FakeVendorUnexpectedCallsFn unexpected = nullptr;

  private:
    qir::sys::Library m_vendor;
    qir::sys::Library m_api;
};

const Call kCreate{fake::kCreateApi};
const Call kFind{fake::kFindDevice, 2, 2, -1};
const Call kCreateDevice{fake::kCreateDevice, 1};
const Call kGesture{fake::kGetGesture, 0x1000019a, 0};
const Call kState{fake::kGetState, 0x10000199, 0};
const Call kKey{fake::kGetKey, 0x10000603, 256, 1};
const Call kPersist{fake::kPersist, 0};
const Call kReleaseDevice{fake::kReleaseDevice};
const Call kReleaseApi{fake::kReleaseApi};

TEST_F(BoundaryTest, GetReadsTheStateAndReleasesBoth) {
    script.state = 7;
    apply();
    uint8_t state = 0xA5;
    EXPECT_EQ(get(&state), 1);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(calls(), (std::vector<Call>{kCreate, kFind, kCreateDevice, kGesture, kState,
                                          kReleaseDevice, kReleaseApi}));
    EXPECT_EQ(unexpected(), 0);
}

TEST_F(BoundaryTest, SetWritesOneAndPersists) {
    EXPECT_EQ(set(2), 1);
    EXPECT_EQ(calls(), (std::vector<Call>{kCreate, kFind, kCreateDevice, kGesture,
                                          Call{fake::kSetState, 0x10000199, 1}, kPersist,
                                          kReleaseDevice, kReleaseApi}));
}

TEST_F(BoundaryTest, KeyIsCopiedAsUtf16) {
    script.setKey("SYSTEM\\Touchpad");
    apply();
    std::vector<VelnorUtf16> buffer(32, 0x7777);
    EXPECT_EQ(key(buffer.data(), 20), 1);
    EXPECT_EQ(buffer[0], VelnorUtf16('S'));
    EXPECT_EQ(buffer[14], VelnorUtf16('d'));
    EXPECT_EQ(buffer[15], 0);
    EXPECT_EQ(buffer[19], 0);
    EXPECT_EQ(buffer[20], 0x7777);
    EXPECT_EQ(calls(), (std::vector<Call>{kCreate, kFind, kCreateDevice, kKey, kReleaseDevice,
                                          kReleaseApi}));
}

TEST_F(BoundaryTest, FailureReleasesOnlyWhatWasCreated) {
    script.code[fake::kCreateDevice] = static_cast<int32_t>(0x80004005);
    apply();
    uint8_t state = 0xA5;
    EXPECT_EQ(get(&state), 0);
    EXPECT_EQ(state, 0xA5);
    EXPECT_EQ(calls(), (std::vector<Call>{kCreate, kFind, kCreateDevice, kReleaseApi}));
}

TEST_F(BoundaryTest, NullPointersTouchNoVendor) {
    EXPECT_EQ(get(nullptr), 0);
    EXPECT_EQ(key(nullptr, 64), 0);
    EXPECT_EQ(count(), 0);
}

// An exception thrown inside the vendor library is caught by the export in the other module.
struct ThrowCase {
    const char* name;
    int32_t op;
    std::vector<Call> getCalls;
    int32_t getResult;
    int32_t keyResult;
    int32_t setResult;
};

void PrintTo(const ThrowCase& c, std::ostream* os) {
    *os << c.name;
}

class BoundaryThrowTest : public BoundaryTest, public testing::WithParamInterface<ThrowCase> {};

TEST_P(BoundaryThrowTest, ExportCatchesAndReleases) {
    const ThrowCase& c = GetParam();
    script.throws[c.op] = true;
    script.setKey("K");
    apply();
    uint8_t state = 0xA5;
    EXPECT_EQ(get(&state), c.getResult);
    EXPECT_EQ(calls(), c.getCalls);

    apply();
    std::vector<VelnorUtf16> buffer(8, 0x7777);
    EXPECT_EQ(key(buffer.data(), 8), c.keyResult);

    apply();
    EXPECT_EQ(set(1), c.setResult);
}

INSTANTIATE_TEST_SUITE_P(
    Vendor, BoundaryThrowTest,
    testing::Values(
        ThrowCase{"FindDevice", fake::kFindDevice, {kCreate, kFind, kReleaseApi}, 0, 0, 0},
        ThrowCase{"CreateDevice",
                  fake::kCreateDevice,
                  {kCreate, kFind, kCreateDevice, kReleaseApi},
                  0,
                  0,
                  0},
        // Only get reads the state: the other two succeed.
        ThrowCase{"GetProperty",
                  fake::kGetState,
                  {kCreate, kFind, kCreateDevice, kGesture, kState, kReleaseDevice, kReleaseApi},
                  0,
                  1,
                  1},
        // Thrown after each export's success step: the answer stays 1.
        ThrowCase{"ReleaseOfTheDevice",
                  fake::kReleaseDevice,
                  {kCreate, kFind, kCreateDevice, kGesture, kState, kReleaseDevice, kReleaseApi},
                  1,
                  1,
                  1}),
    caseName<ThrowCase>);

}  // namespace

namespace {

// A host that loads the library by a relative path and then changes its current directory:
// the vendor library is still looked for beside the library, never in the current directory.
TEST(RelativeLoadTest, VendorIsFoundBesideTheLibraryNotInTheCurrentDirectory) {
    namespace fs = std::filesystem;
    if (qir::sys::libraryFileName("V").rfind("lib", 0) != 0) {
        GTEST_SKIP() << "a relative path is a POSIX loader's notion here";
    }
    const fs::path dir = testpaths::executableDirectory();
    uint32_t error = 0;
    qir::sys::Library vendor =
        qir::sys::openLibrary((dir / qir::sys::libraryFileName("SynCom")).u8string(), error);
    ASSERT_TRUE(vendor);
    const fake::Script script;
    reinterpret_cast<FakeVendorResetFn>(vendor.symbol("FakeVendorReset"))(&script);

    // A fresh copy of the library, so that it has not found its vendor yet, and a decoy vendor
    // without a factory in the directory the host moves to.
    const std::string copyName =
        "libVelnorApiRelative" + std::to_string(qir::sys::processId()) + ".so";
    testpaths::PlacedFile copy(dir / qir::sys::libraryFileName("VelnorApi"), copyName);
    const fs::path decoyDir = testpaths::scratchDirectory("qir-decoy");
    fs::create_directories(decoyDir);
    fs::copy_file(dir.parent_path() / qir::sys::libraryFileName("VelnorNoFactory"),
                  decoyDir / qir::sys::libraryFileName("SynCom"));

    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    qir::sys::Library api = qir::sys::openLibrary("./" + copyName, error);
    fs::current_path(decoyDir);
    uint8_t state = 0xA5;
    int32_t result = -1;
    if (api) {
        auto get =
            reinterpret_cast<PFN_GetTouchpadLaunchState>(api.symbol("GetTouchpadLaunchState"));
        result = get != nullptr ? get(&state) : -1;
    }
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(decoyDir, ignored);

    ASSERT_TRUE(api) << error;
    EXPECT_EQ(result, 1);
    EXPECT_EQ(state, 0);
}

}  // namespace

namespace {

// The library-wide objects come into being when the library is loaded and go when it is
// unloaded; a library that never reported leaves nothing behind, however often it comes and
// goes (the sanitizers and valgrind watch the teardown).
TEST(LoadUnloadTest, ALibraryThatNeverReportedUnloadsCleanly) {
    const std::filesystem::path dir = testpaths::executableDirectory();
    const std::string name =
        qir::sys::libraryFileName("VelnorApiCycle" + std::to_string(qir::sys::processId()));
    testpaths::PlacedFile copy(dir / qir::sys::libraryFileName("VelnorApi"), name);
    for (int cycle = 0; cycle < 3; ++cycle) {
        uint32_t error = 0;
        qir::sys::Library api = qir::sys::openLibrary((dir / name).u8string(), error);
        ASSERT_TRUE(api) << "cycle " << cycle << ", error " << error;
        EXPECT_NE(api.symbol("GetTouchpadLaunchState"), nullptr);
    }
}

}  // namespace
