// A scripted stand-in for the vendor library: every operation answers what the script says
// (a result code, a missing object, a handle left at -1, an exception), and every call is
// recorded in order. Arguments that the exports always pass the same are checked here; a
// call with other ones, or to a slot the exports never use, is recorded as unexpected. The
// script and the record are plain data, so that the same fake also serves from a vendor
// library of its own across the C boundary (fake_vendor_module.cpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "syn_com.h"

namespace fake {

// The operations in the order of kLetters, the letter that spells each in scripts and traces.
enum Op : int32_t {
    kCreateApi,
    kFindDevice,
    kCreateDevice,
    kGetGesture,  // GetProperty(SP_HasTwoFingerDoubleTap)
    kGetState,    // GetProperty(SP_TwoFingerDoubleTapState)
    kGetKey,      // GetStringProperty(registry key)
    kSetState,    // SetProperty(SP_TwoFingerDoubleTapState)
    kPersist,
    kReleaseDevice,
    kReleaseApi,
    kOpCount,
    kReport = kOpCount,  // not a vendor call: a failure report, recorded by the harness
    kUnexpected,
};
constexpr char kLetters[] = "CFDGSKWPdaR?";

struct Script {
    int32_t code[kOpCount] = {};                  // the result each operation answers (0: success)
    bool throws[kOpCount] = {};                   // the operation throws instead (after recording)
    int32_t nullApi = 0;                          // SynCreateAPI answers its code with no object
    int32_t nullDevice = 0;                       // CreateDevice answers its code with no object
    int32_t handleUntouched = 0;                  // FindDevice leaves the handle as it was given
    int32_t objectOnFailure = 0;                  // failing creations still hand out their object
    int32_t reportThrows = 0;                     // the harness's report throws after recording
    int32_t handle = 1;                           // the handle FindDevice hands out
    int32_t hasGesture = 1;                       // value of SP_HasTwoFingerDoubleTap
    int32_t state = 0;                            // value of SP_TwoFingerDoubleTapState
    unsigned char key[syn::kKeyBufferSize] = {};  // bytes GetStringProperty copies ...
    int32_t keyBytes = 0;                         // ... this many of them
    int32_t keySize = 0;                          // the size it reports
};

// A script from words: "F=3" an operation's result code (by its letter), "P!" an operation
// that throws, "key=TEXT" the key text and its zero byte (size reported as bytes), "fill=1" a
// key of 256 bytes without a zero, else a field: nullApi, nullDevice, keep (the handle
// untouched), obj (objects on failure), rthrow (the report throws), handle, gesture, state,
// size (the key size reported).
Script parse(const std::string& text);

// One recorded call: the operation and the argument that tells calls apart (CreateDevice's
// handle, SetProperty's value).
struct Call {
    int32_t op = 0;
    int64_t value = 0;
};

// The record as words: each operation's letter, CreateDevice and SetProperty with their value.
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

    // A record that never grows while a test makes allocations fail.
    Vendor() { calls.reserve(32); }

    void record(int32_t op, int64_t value = 0) {
        std::lock_guard<std::mutex> guard(callLock);
        calls.push_back(Call{op, value});
    }
    int32_t unexpected() {
        ++unexpectedCalls;
        record(kUnexpected);
        return -1;
    }
    // Records the call, then throws if the script says so; answers the scripted code.
    int32_t enter(Op op, int64_t value = 0) {
        record(op, value);
        if (leaveError != nullptr && (script.throws[op] || script.code[op] != 0)) {
            leaveError(failureError);
        }
        if (script.throws[op]) {
            throw std::runtime_error("scripted");
        }
        return script.code[op];
    }

    // SynCreateAPI.
    int32_t createApi(ISynAPI** ppApi) {
        const int32_t code = enter(kCreateApi);
        *ppApi = !script.nullApi && (code == 0 || script.objectOnFailure) ? &api : nullptr;
        return code;
    }

    class Device final : public ISynDevice {
      public:
        explicit Device(Vendor& vendor) : m(vendor) {}
        int32_t SYN_CALL QueryInterface(const void*, void**) override { return m.unexpected(); }
        uint32_t SYN_CALL AddRef() override { return static_cast<uint32_t>(m.unexpected()); }
        uint32_t SYN_CALL Release() override {
            return static_cast<uint32_t>(m.enter(kReleaseDevice));
        }
        int32_t SYN_CALL GetProperty(int32_t lId, int32_t* plValue) override {
            const bool gesture = lId == syn::kPropertyHasTwoFingerDoubleTap;
            if (!gesture && lId != syn::kPropertyTwoFingerDoubleTapState) {
                return m.unexpected();
            }
            const int32_t code = m.enter(gesture ? kGetGesture : kGetState);
            if (code == 0) {
                *plValue = gesture ? m.script.hasGesture : m.script.state;
            }
            return code;
        }
        int32_t SYN_CALL Reserved4() override { return m.unexpected(); }
        int32_t SYN_CALL GetStringProperty(int32_t lId, unsigned char* pBuffer,
                                           int32_t* plSize) override {
            if (lId != syn::kPropertyRegistryKey || pBuffer == nullptr ||
                *plSize != syn::kKeyBufferSize) {
                return m.unexpected();
            }
            const int32_t code = m.enter(kGetKey);
            if (code == 0) {
                const auto bytes = std::clamp<int32_t>(m.script.keyBytes, 0, syn::kKeyBufferSize);
                std::memcpy(pBuffer, m.script.key, static_cast<size_t>(bytes));
                *plSize = m.script.keySize;
            }
            return code;
        }
        int32_t SYN_CALL SetProperty(int32_t lId, int32_t lValue) override {
            return lId != syn::kPropertyTwoFingerDoubleTapState ? m.unexpected()
                                                                : m.enter(kSetState, lValue);
        }

      private:
        Vendor& m;
    };

    class Api final : public ISynAPI {
      public:
        explicit Api(Vendor& vendor) : m(vendor) {}
        int32_t SYN_CALL QueryInterface(const void*, void**) override { return m.unexpected(); }
        uint32_t SYN_CALL AddRef() override { return static_cast<uint32_t>(m.unexpected()); }
        uint32_t SYN_CALL Release() override { return static_cast<uint32_t>(m.enter(kReleaseApi)); }
        int32_t SYN_CALL Reserved3() override { return m.unexpected(); }
        int32_t SYN_CALL FindDevice(int32_t lConnection, int32_t lType,
                                    int32_t* plHandle) override {
            if (lConnection != syn::kFindConnection || lType != syn::kFindType ||
                *plHandle != syn::kInvalidHandle) {
                return m.unexpected();
            }
            const int32_t code = m.enter(kFindDevice);
            if (!m.script.handleUntouched) {
                *plHandle = m.script.handle;
            }
            return code;
        }
        int32_t SYN_CALL CreateDevice(int32_t lHandle, ISynDevice** ppDevice) override {
            const int32_t code = m.enter(kCreateDevice, lHandle);
            const bool hand = !m.script.nullDevice && (code == 0 || m.script.objectOnFailure);
            *ppDevice = hand ? &m.device : nullptr;
            return code;
        }
        int32_t SYN_CALL Reserved6() override { return m.unexpected(); }
        int32_t SYN_CALL Reserved7() override { return m.unexpected(); }
        int32_t SYN_CALL Reserved8() override { return m.unexpected(); }
        int32_t SYN_CALL Reserved9() override { return m.unexpected(); }
        int32_t SYN_CALL Reserved10() override { return m.unexpected(); }
        int32_t SYN_CALL PersistState(int32_t lFlags) override {
            return lFlags != 0 ? m.unexpected() : m.enter(kPersist);
        }

      private:
        Vendor& m;
    };

    Api api{*this};
    Device device{*this};
};

}  // namespace fake
