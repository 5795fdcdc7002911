// A vendor whose every call answers at once, kept in a translation unit of its own so that the
// calls into it stay real virtual calls.
#include "quiet_vendor.h"

namespace {

class QuietDevice final : public ISynDevice {
  public:
    int32_t SYN_CALL QueryInterface(const void*, void**) override { return -1; }
    uint32_t SYN_CALL AddRef() override { return 1; }
    uint32_t SYN_CALL Release() override { return 0; }
    int32_t SYN_CALL GetProperty(int32_t, int32_t* plValue) override {
        *plValue = 1;
        return 0;
    }
    int32_t SYN_CALL Reserved4() override { return -1; }
    int32_t SYN_CALL GetStringProperty(int32_t, unsigned char*, int32_t*) override { return -1; }
    int32_t SYN_CALL SetProperty(int32_t, int32_t) override { return 0; }
};

class QuietApi final : public ISynAPI {
  public:
    int32_t SYN_CALL QueryInterface(const void*, void**) override { return -1; }
    uint32_t SYN_CALL AddRef() override { return 1; }
    uint32_t SYN_CALL Release() override { return 0; }
    int32_t SYN_CALL Reserved3() override { return -1; }
    int32_t SYN_CALL FindDevice(int32_t, int32_t, int32_t* plHandle) override {
        *plHandle = 1;
        return 0;
    }
    int32_t SYN_CALL CreateDevice(int32_t, ISynDevice** ppDevice) override {
        *ppDevice = &device;
        return 0;
    }
    int32_t SYN_CALL Reserved6() override { return -1; }
    int32_t SYN_CALL Reserved7() override { return -1; }
    int32_t SYN_CALL Reserved8() override { return -1; }
    int32_t SYN_CALL Reserved9() override { return -1; }
    int32_t SYN_CALL Reserved10() override { return -1; }
    int32_t SYN_CALL PersistState(int32_t) override { return 0; }

    QuietDevice device;
};

QuietApi g_api;

}  // namespace

int32_t createQuietApi(void*, ISynAPI** ppApi) {
    *ppApi = &g_api;
    return 0;
}
