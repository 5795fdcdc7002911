// Finding the vendor library at run time: a missing library or factory answers its code, a
// library that appears later is found on the next call, and concurrent first calls load it
// once and all succeed.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fake_vendor_module.h"
#include "qir_sys/library.h"
#include "qir_sys/process.h"
#include "test_paths.h"
#include "touchpad.h"
#include "vendor_loader.h"

namespace {

// A plug-in name of this test process alone, the same file name on every platform.
struct UniqueName {
    explicit UniqueName(const std::string& stem)
        : file(qir::sys::libraryFileName(stem + std::to_string(qir::sys::processId()))) {}
    qir::sys::PluginName plugin() const { return {file.c_str(), file.c_str(), nullptr}; }
    std::string file;
};

std::filesystem::path fakeVendorFile() {
    return testpaths::executableDirectory() / QIR_FAKE_VENDOR_FILE;
}

// The exports' code over a loader of its own, with the reports recorded.
struct LoaderBackend {
    explicit LoaderBackend(const qir::sys::PluginName& name) : loader(name) {}
    velnor::Backend backend() { return velnor::Backend{this, &createApi, &report}; }

    velnor::VendorLoader loader;
    std::vector<velnor::Failure> failures;

  private:
    static int32_t createApi(void* context, ISynAPI** ppApi) {
        return static_cast<LoaderBackend*>(context)->loader.createApi(ppApi);
    }
    static void report(void* context, const velnor::Failure& failure) {
        static_cast<LoaderBackend*>(context)->failures.push_back(failure);
    }
};

TEST(VendorLoaderTest, MissingLibraryFailsAtCreateApiUntilItAppears) {
    const UniqueName name("VelnorLateVendor");
    std::optional<testpaths::PlacedFile> placed;
    {
        LoaderBackend late(name.plugin());
        unsigned char state = 0xA5;
        EXPECT_EQ(velnor::getLaunchState(late.backend(), &state), 0);
        EXPECT_EQ(velnor::getLaunchState(late.backend(), &state), 0);
        EXPECT_EQ(state, 0xA5);
        ASSERT_EQ(late.failures.size(), 2u);
        for (const velnor::Failure& failure : late.failures) {
            EXPECT_EQ(failure.exportName, velnor::Export::GetTouchpadLaunchState);
            EXPECT_EQ(failure.point, velnor::FailurePoint::CreateApi);
            EXPECT_EQ(failure.first, 0x8007007Eu);
        }

        placed.emplace(fakeVendorFile(), name.file);
        EXPECT_EQ(velnor::getLaunchState(late.backend(), &state), 1);
        EXPECT_EQ(state, 0);
        EXPECT_EQ(late.failures.size(), 2u);
    }  // the loader lets the library go before the file is removed
}

TEST(VendorLoaderTest, LibraryInTheCurrentDirectoryIsNotLoaded) {
    namespace fs = std::filesystem;
    const UniqueName name("VelnorCwdVendor");
    const fs::path dir = fs::temp_directory_path() / ("velnor-cwd-" + name.file);
    fs::create_directories(dir);
    fs::copy_file(fakeVendorFile(), dir / name.file, fs::copy_options::overwrite_existing);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    {
        velnor::VendorLoader loader(name.plugin());
        ISynAPI* api = nullptr;
        EXPECT_EQ(loader.createApi(&api), velnor::kHResultModuleNotFound);
        EXPECT_EQ(api, nullptr);
    }
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

TEST(VendorLoaderTest, LibraryWithoutFactoryAnswersProcedureNotFound) {
    const std::string file = qir::sys::libraryFileName("VelnorNoFactory");
    velnor::VendorLoader loader({file.c_str(), file.c_str(), nullptr});
    ISynAPI* api = nullptr;
    EXPECT_EQ(loader.createApi(&api), velnor::kHResultProcNotFound);
    EXPECT_EQ(loader.createApi(&api), velnor::kHResultProcNotFound);
    EXPECT_EQ(api, nullptr);
}

TEST(VendorLoaderTest, FactoryCodeIsAnsweredAsItIs) {
    const UniqueName name("VelnorCodeVendor");
    testpaths::PlacedFile placed(fakeVendorFile(), name.file);
    velnor::VendorLoader loader(name.plugin());
    ISynAPI* api = nullptr;
    ASSERT_EQ(loader.createApi(&api), 0);
    api->Release();

    // The loaded copy is the one the test scripts through its C interface.
    uint32_t error = 0;
    qir::sys::Library same =
        qir::sys::openLibrary((testpaths::executableDirectory() / name.file).u8string(), error);
    ASSERT_TRUE(same) << error;
    auto reset = reinterpret_cast<FakeVendorResetFn>(same.symbol("FakeVendorReset"));
    ASSERT_NE(reset, nullptr);
    fake::Script script;
    script.code[fake::kCreateApi] = 0x7E;
    reset(&script);
    EXPECT_EQ(loader.createApi(&api), 0x7E);
    EXPECT_EQ(api, nullptr);
}

TEST(VendorLoaderTest, ConcurrentFirstCallsAllSucceed) {
    const UniqueName name("VelnorRaceVendor");
    testpaths::PlacedFile placed(fakeVendorFile(), name.file);
    velnor::VendorLoader loader(name.plugin());
    std::atomic<int> ready{0};
    std::atomic<int> succeeded{0};
    constexpr int kThreads = 8;
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            ++ready;
            while (ready.load() < kThreads) {
                std::this_thread::yield();
            }
            ISynAPI* api = nullptr;
            if (loader.createApi(&api) == 0 && api != nullptr) {
                api->Release();
                ++succeeded;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(succeeded.load(), kThreads);
}

}  // namespace
