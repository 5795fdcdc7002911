// The built library against a vendor library in C (support/c_vendor.c), found where the library
// looks for its vendor: a slot declared in the wrong place in syn_com.h calls a function of
// another slot, which breaks that vendor and fails the exports.
#include <gtest/gtest.h>

#include "VelnorApi.h"
#include "qir_sys/library.h"
#include "test_paths.h"

// The state starts at 5 (on), is switched off and on again; the key is only slot 5's.
TEST(CVendorTest, EachExportCallsTheSlotsTheVendorLaidOut) {
    uint32_t error = 0;
    const auto api = qir::sys::openLibrary(
        (testpaths::executableDirectory() / qir::sys::libraryFileName("VelnorApi")).u8string(),
        error);
    ASSERT_TRUE(api) << error;
    const auto sym = [&api](const char* name) { return api.symbol(name); };
    const auto get = reinterpret_cast<PFN_GetTouchpadLaunchState>(sym("GetTouchpadLaunchState"));
    const auto set = reinterpret_cast<PFN_SetTouchpadLaunchState>(sym("SetTouchpadLaunchState"));
    const auto key = reinterpret_cast<PFN_GetTouchpadRegistryKey>(sym("GetTouchpadRegistryKey"));
    uint8_t s[3] = {9, 9, 9};
    VelnorUtf16 text[12] = {};
    const std::string answers = {char('0' + get(&s[0])), char('0' + set(0)),
                                 char('0' + get(&s[1])), char('0' + key(text, 12)),
                                 char('0' + set(1)),     char('0' + get(&s[2]))};
    EXPECT_EQ(answers + std::string(text, text + 12) + char('0' + s[0]) + char('0' + s[1]) +
                  char('0' + s[2]),
              "111111HKLM\\Slot5" + std::string(2, '\0') + "101");
}
