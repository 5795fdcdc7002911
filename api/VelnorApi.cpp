// The library's three exports. Each call creates the vendor API object, finds the touchpad,
// creates its device object, reads or writes one property, releases both objects and
// answers 1 or 0. Nothing is kept between calls and no exception leaves an export.
#include "VelnorApi.h"

#include <cstring>
#include <utility>

#include "qir_sys/wide.h"
#include "backend.h"
#include "vendor_loader.h"

static_assert(sizeof(VelnorUtf16) == sizeof(qir_wchar_t), "a wide unit is one UTF-16 unit");

namespace velnor {

namespace {

// The objects one call holds; each is released once, the device before the API object.
struct Held {
    ISynAPI* api = nullptr;
    ISynDevice* device = nullptr;

    void release() {
        releaseDevice();
        releaseApi();
    }

    // For the catch-all handler: whatever a Release throws, the other object is still
    // released and nothing propagates.
    void releaseAfterException() noexcept {
        try {
            releaseDevice();
        } catch (...) {
        }
        try {
            releaseApi();
        } catch (...) {
        }
    }

  private:
    // The pointer is cleared before Release, so a Release that throws is never repeated.
    void releaseDevice() {
        if (ISynDevice* d = std::exchange(device, nullptr)) {
            d->Release();
        }
    }
    void releaseApi() {
        if (ISynAPI* a = std::exchange(api, nullptr)) {
            a->Release();
        }
    }
};

class Call {
  public:
    Call(const Backend& backend, Export name) : m_backend(backend), m_export(name) {}

    void report(FailurePoint point, uint32_t first = 0, uint32_t second = 0) noexcept {
        try {
            m_backend.report(m_backend.context, Failure{m_export, point, first, second});
        } catch (...) {
        }
    }

    // Creates the API object, finds the touchpad and creates its device object. On failure
    // reports, releases what was created and answers false.
    bool openDevice() {
        ISynAPI* api = nullptr;
        int32_t hResult = m_backend.createApi(m_backend.context, &api);
        if (hResult != 0 || api == nullptr) {
            report(FailurePoint::CreateApi, static_cast<uint32_t>(hResult));
            return false;
        }
        held.api = api;

        int32_t handle = syn::kInvalidHandle;
        hResult = held.api->FindDevice(syn::kFindConnection, syn::kFindType, &handle);
        if (hResult != 0 || handle == syn::kInvalidHandle) {
            report(FailurePoint::FindDevice, static_cast<uint32_t>(hResult));
            held.release();
            return false;
        }

        ISynDevice* device = nullptr;
        hResult = held.api->CreateDevice(handle, &device);
        if (hResult != 0 || device == nullptr) {
            report(FailurePoint::CreateDevice, static_cast<uint32_t>(hResult));
            held.release();
            return false;
        }
        held.device = device;
        return true;
    }

    // Whether the touchpad has the two-finger double tap gesture; reports when it does not
    // or cannot tell.
    bool hasGesture() {
        int32_t has = 0;
        const int32_t hResult = held.device->GetProperty(syn::kPropertyHasTwoFingerDoubleTap, &has);
        if (hResult != 0) {
            report(FailurePoint::GestureQuery, static_cast<uint32_t>(hResult));
            return false;
        }
        if (has == 0) {
            report(FailurePoint::NotSupported, 0);
            return false;
        }
        return true;
    }

    Held held;

  private:
    const Backend& m_backend;
    const Export m_export;
};

// Converts the device's key text to UTF-16 into `wide` (room for the whole key buffer and
// a terminator). Answers the number of units, or 0 when the buffer holds no terminated
// non-empty text or the text does not convert one unit per byte.
size_t convertKey(const unsigned char (&key)[syn::kKeyBufferSize],
                  qir_wchar_t (&wide)[syn::kKeyBufferSize + 1]) {
    const void* end = std::memchr(key, 0, sizeof key);
    if (end == nullptr) {
        return 0;
    }
    const auto length = static_cast<size_t>(static_cast<const unsigned char*>(end) - key);
    if (length == 0) {
        return 0;
    }
    const size_t units = qir::sys::multiByteToUtf16(reinterpret_cast<const char*>(key), wide,
                                                    syn::kKeyBufferSize + 1);
    return units == length ? units : 0;
}

int32_t productCreateApi(void*, ISynAPI** ppApi) {
    return synComLoader().createApi(ppApi);
}

void productReport(void*, const Failure& failure) {
    reportExportFailure(failure);
}

}  // namespace

const Backend& productBackend() {
    static const Backend backend{nullptr, productCreateApi, productReport};
    return backend;
}

int32_t getLaunchState(const Backend& backend, unsigned char* pbLaunchState) noexcept {
    int32_t result = 0;
    Call call(backend, Export::GetTouchpadLaunchState);
    try {
        if (pbLaunchState == nullptr) {
            call.report(FailurePoint::NullState);
            return 0;
        }
        if (!call.openDevice()) {
            return 0;
        }
        if (call.hasGesture()) {
            int32_t state = 0;
            const int32_t hResult =
                call.held.device->GetProperty(syn::kPropertyTwoFingerDoubleTapState, &state);
            if (hResult != 0) {
                call.report(FailurePoint::StateQuery, static_cast<uint32_t>(hResult));
            } else {
                result = 1;
                *pbLaunchState = state != 0 ? 1 : 0;
            }
        }
        call.held.release();
    } catch (...) {
        call.held.releaseAfterException();
    }
    return result;
}

int32_t setLaunchState(const Backend& backend, unsigned char bLaunchState) noexcept {
    int32_t result = 0;
    Call call(backend, Export::SetTouchpadLaunchState);
    try {
        if (!call.openDevice()) {
            return 0;
        }
        if (call.hasGesture()) {
            int32_t hResult = call.held.device->SetProperty(syn::kPropertyTwoFingerDoubleTapState,
                                                            bLaunchState != 0 ? 1 : 0);
            if (hResult != 0) {
                call.report(FailurePoint::StateWrite, static_cast<uint32_t>(hResult));
            } else if ((hResult = call.held.api->PersistState(0)) != 0) {
                call.report(FailurePoint::Persist, static_cast<uint32_t>(hResult));
            } else {
                result = 1;
            }
        }
        call.held.release();
    } catch (...) {
        call.report(FailurePoint::Exception);
        call.held.releaseAfterException();
    }
    return result;
}

int32_t getRegistryKey(const Backend& backend, qir_wchar_t* strRegistryKey,
                       int32_t iCapacity) noexcept {
    int32_t result = 0;
    Call call(backend, Export::GetTouchpadRegistryKey);
    try {
        if (strRegistryKey == nullptr) {
            call.report(FailurePoint::NullDestination);
            return 0;
        }
        if (!call.openDevice()) {
            return 0;
        }
        unsigned char key[syn::kKeyBufferSize] = {};
        int32_t lSize = syn::kKeyBufferSize;
        const int32_t hResult =
            call.held.device->GetStringProperty(syn::kPropertyRegistryKey, key, &lSize);
        qir_wchar_t wide[syn::kKeyBufferSize + 1];
        size_t units = 0;
        if (hResult != 0) {
            call.report(FailurePoint::KeyQuery, static_cast<uint32_t>(hResult));
        } else if (lSize <= 0) {
            call.report(FailurePoint::EmptyKey);
        } else if (iCapacity <= lSize) {
            call.report(FailurePoint::TooSmall, static_cast<uint32_t>(lSize),
                        static_cast<uint32_t>(iCapacity));
        } else if ((units = convertKey(key, wide)) == 0) {
            call.report(FailurePoint::EmptyKey);
        } else if (units >= static_cast<size_t>(iCapacity)) {
            // The device reported less than it wrote; a cut key without its terminator
            // would look like a whole one to the caller.
            call.report(FailurePoint::TooSmall, static_cast<uint32_t>(lSize),
                        static_cast<uint32_t>(iCapacity));
        } else {
            const auto capacity = static_cast<size_t>(iCapacity);
            for (size_t i = 0; i < capacity; ++i) {
                strRegistryKey[i] = i < units ? wide[i] : 0;
            }
            result = 1;
        }
        call.held.release();
    } catch (...) {
        call.held.releaseAfterException();
    }
    return result;
}

}  // namespace velnor

extern "C" {

int32_t GetTouchpadLaunchState(uint8_t* pbLaunchState) {
    return velnor::getLaunchState(velnor::productBackend(), pbLaunchState);
}

int32_t SetTouchpadLaunchState(uint8_t bLaunchState) {
    return velnor::setLaunchState(velnor::productBackend(), bLaunchState);
}

int32_t GetTouchpadRegistryKey(VelnorUtf16* strRegistryKey, int32_t iCapacity) {
    return velnor::getRegistryKey(velnor::productBackend(), strRegistryKey, iCapacity);
}

}  // extern "C"
