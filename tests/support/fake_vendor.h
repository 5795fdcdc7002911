// A scripted stand-in for the vendor library: every operation answers what the script says
// (a result code, a missing object, a handle left at -1, an exception), and every call is
// recorded in order. A call to a slot the exports never use, or with arguments other than the
// ones they always pass, is recorded as unexpected. Script and record are plain data, so that
// the same fake also serves as a vendor library of its own (fake_vendor_module.cpp).
#pragma once

#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "syn_com.h"

namespace fake {

// The operations, each spelt by the letter at its index in kLetters: SynCreateAPI, FindDevice,
// CreateDevice, GetProperty of the gesture and of the state, GetStringProperty of the key,
// SetProperty of the state, PersistState, the device's and the API object's Release; then a
// failure report (recorded by the harness) and an unexpected call.
constexpr char kLetters[] = "CFDGSKWPdaR?";
constexpr int32_t kCreateApi = 0, kFindDevice = 1, kCreateDevice = 2, kGetGesture = 3,
                  kGetState = 4, kGetKey = 5, kSetState = 6, kPersist = 7, kReleaseDevice = 8,
                  kReleaseApi = 9, kReport = 10, kUnexpected = 11;

struct Script {
    int32_t code[kReport + 1] = {};               // the result each operation answers (0: success)
    int32_t throws[kReport + 1] = {};             // the operation throws instead (after recording)
    int32_t nullApi = 0;                          // SynCreateAPI answers its code with no object
    int32_t nullDevice = 0;                       // CreateDevice answers its code with no object
    int32_t handleUntouched = 0;                  // FindDevice leaves the handle as it was given
    int32_t objectOnFailure = 0;                  // failing creations still hand out their object
    int32_t handle = 1;                           // the handle FindDevice hands out
    int32_t hasGesture = 1;                       // value of SP_HasTwoFingerDoubleTap
    int32_t state = 0;                            // value of SP_TwoFingerDoubleTapState
    unsigned char key[syn::kKeyBufferSize] = {};  // bytes GetStringProperty copies ...
    int32_t keyBytes = 0;                         // ... this many of them
    int32_t keySize = 0;                          // the size it reports
};

// A script from words: "F=3" the result code of an operation (by its letter), "P!" one that
// throws, "key=TEXT" the key with its zero byte (its size reported as bytes), "fill" a key of
// 256 bytes without a zero, else a field: nullApi, nullDevice, keep (the handle untouched), obj
// (objects on failure), handle, gesture, state, size (the key size reported); no value is 1.
Script parse(const std::string& text);

// One recorded call: the operation and, for CreateDevice and SetProperty, the value passed.
struct Call {
    int32_t op = 0;
    int64_t value = 0;
};

// The record as words: each call's letter, CreateDevice and SetProperty with their value.
std::string trace(const std::vector<Call>& calls);

class Vendor {
  public:
    Script script;
    std::vector<Call> calls;  // guarded by callLock: the factory may be called from threads
    std::mutex callLock;
    int unexpectedCalls = 0;
    // When set, an operation that fails or throws first leaves `failureError` as the thread's
    // last-error value through this function, as a real vendor call may.
    void (*leaveError)(uint32_t) = nullptr;
    uint32_t failureError = 0;

    // Records the call, then answers or throws as scripted; -1 for an unexpected one.
    int32_t enter(int32_t op, int64_t value = 0, bool expected = true) {
        std::lock_guard<std::mutex> guard(callLock);
        calls.push_back(Call{expected ? op : kUnexpected, value});
        if (!expected) {
            return ++unexpectedCalls, -1;
        }
        if (leaveError != nullptr && (script.throws[op] || script.code[op] != 0)) {
            leaveError(failureError);
        }
        return script.throws[op] ? throw std::runtime_error("scripted") : script.code[op];
    }
    int32_t wrong() { return enter(kUnexpected, 0, false); }

    // SynCreateAPI.
    int32_t createApi(ISynAPI** ppApi) {
        const int32_t code = enter(kCreateApi);
        *ppApi = !script.nullApi && (code == 0 || script.objectOnFailure) ? &api : nullptr;
        return code;
    }

    struct Device final : ISynDevice {
        explicit Device(Vendor& vendor) : m(vendor) {}
        int32_t SYN_CALL QueryInterface(const void*, void**) override { return m.wrong(); }
        uint32_t SYN_CALL AddRef() override { return uint32_t(m.wrong()); }
        uint32_t SYN_CALL Release() override { return uint32_t(m.enter(kReleaseDevice)); }
        int32_t SYN_CALL GetProperty(int32_t lId, int32_t* plValue) override {
            const bool gesture = lId == syn::kPropertyHasTwoFingerDoubleTap;
            const int32_t code = m.enter(gesture ? kGetGesture : kGetState, 0,
                                         gesture || lId == syn::kPropertyTwoFingerDoubleTapState);
            *plValue = code != 0 ? *plValue : gesture ? m.script.hasGesture : m.script.state;
            return code;
        }
        int32_t SYN_CALL Reserved4() override { return m.wrong(); }
        int32_t SYN_CALL GetStringProperty(int32_t lId, unsigned char* pBuffer,
                                           int32_t* plSize) override {
            const int32_t code =
                m.enter(kGetKey, 0, lId == syn::kPropertyRegistryKey && *plSize == 256);
            const int32_t bytes = code != 0 ? 0 : std::clamp(m.script.keyBytes, 0, *plSize);
            std::memcpy(pBuffer, m.script.key, static_cast<size_t>(bytes));
            *plSize = code != 0 ? *plSize : m.script.keySize;
            return code;
        }
        int32_t SYN_CALL SetProperty(int32_t lId, int32_t lValue) override {
            return m.enter(kSetState, lValue, lId == syn::kPropertyTwoFingerDoubleTapState);
        }
        Vendor& m;
    };

    struct Api final : ISynAPI {
        explicit Api(Vendor& vendor) : m(vendor) {}
        int32_t SYN_CALL QueryInterface(const void*, void**) override { return m.wrong(); }
        uint32_t SYN_CALL AddRef() override { return uint32_t(m.wrong()); }
        uint32_t SYN_CALL Release() override { return uint32_t(m.enter(kReleaseApi)); }
        int32_t SYN_CALL Reserved3() override { return m.wrong(); }
        int32_t SYN_CALL FindDevice(int32_t lConnection, int32_t lType,
                                    int32_t* plHandle) override {
            const bool expected = lConnection == 2 && lType == 2 && *plHandle == -1;
            const int32_t code = m.enter(kFindDevice, 0, expected);
            *plHandle = m.script.handleUntouched ? *plHandle : m.script.handle;
            return code;
        }
        int32_t SYN_CALL CreateDevice(int32_t lHandle, ISynDevice** ppDevice) override {
            const int32_t code = m.enter(kCreateDevice, lHandle);
            const bool hand = !m.script.nullDevice && (code == 0 || m.script.objectOnFailure);
            *ppDevice = hand ? &m.device : nullptr;
            return code;
        }
        int32_t SYN_CALL Reserved6() override { return m.wrong(); }
        int32_t SYN_CALL Reserved7() override { return m.wrong(); }
        int32_t SYN_CALL Reserved8() override { return m.wrong(); }
        int32_t SYN_CALL Reserved9() override { return m.wrong(); }
        int32_t SYN_CALL Reserved10() override { return m.wrong(); }
        int32_t SYN_CALL PersistState(int32_t lFlags) override {
            return m.enter(kPersist, 0, lFlags == 0);
        }
        Vendor& m;
    };

    Api api{*this};
    Device device{*this};
};

}  // namespace fake
