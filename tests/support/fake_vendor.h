// A scripted stand-in for the vendor library: every operation answers what the script says
// (a result code, a missing object, a handle left at -1, an exception), and every call is
// recorded with its arguments in order. The script and the record are plain data so that
// the same fake also serves from a separate module across the C boundary.
#pragma once

#include <cstdint>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "syn_com.h"

namespace fake {

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
    kReport = kOpCount,  // not a vendor call: a failure report, recorded by test harnesses
};

const char* opName(int32_t op);

struct Script {
    int32_t code[kOpCount] = {};                  // the result each operation answers (0: success)
    bool throws[kOpCount] = {};                   // the operation throws instead (after recording)
    bool nullApi = false;                         // SynCreateAPI answers its code with no object
    bool nullDevice = false;                      // CreateDevice answers its code with no object
    bool handleUntouched = false;                 // FindDevice leaves the handle as it was given
    int32_t handle = 1;                           // the handle FindDevice hands out
    int32_t hasGesture = 1;                       // value of SP_HasTwoFingerDoubleTap
    int32_t state = 0;                            // value of SP_TwoFingerDoubleTapState
    unsigned char key[syn::kKeyBufferSize] = {};  // bytes GetStringProperty copies ...
    int32_t keyBytes = 0;          // ... this many of them, at most the buffer's size
    int32_t keySize = 0;           // the size GetStringProperty reports
    bool objectOnFailure = false;  // failing creations still hand out their object

    void setKey(const std::string& text);  // text and its zero byte, size reported as bytes
};

// One recorded call: the operation and its inputs. FindDevice: (connection, type, preset
// handle); CreateDevice: (handle); GetProperty: (id, preset value); GetStringProperty: (id,
// preset size); SetProperty: (id, value); PersistState: (flags); a report: (failure point,
// first value, second value).
struct Call {
    int32_t op = 0;
    int64_t a = 0;
    int64_t b = 0;
    int64_t c = 0;

    bool operator==(const Call& other) const {
        return op == other.op && a == other.a && b == other.b && c == other.c;
    }
};

std::string describe(const Call& call);
inline void PrintTo(const Call& call, std::ostream* os) {
    *os << describe(call);
}

class Error : public std::runtime_error {
  public:
    explicit Error(const char* op) : std::runtime_error(op) {}
};

class Vendor;

class Device final : public ISynDevice {
  public:
    explicit Device(Vendor& vendor) : m_vendor(vendor) {}
    int32_t SYN_CALL QueryInterface(const void*, void**) override;
    uint32_t SYN_CALL AddRef() override;
    uint32_t SYN_CALL Release() override;
    int32_t SYN_CALL GetProperty(int32_t lId, int32_t* plValue) override;
    int32_t SYN_CALL Reserved4() override;
    int32_t SYN_CALL GetStringProperty(int32_t lId, unsigned char* pBuffer,
                                       int32_t* plSize) override;
    int32_t SYN_CALL SetProperty(int32_t lId, int32_t lValue) override;

  private:
    Vendor& m_vendor;
};

class Api final : public ISynAPI {
  public:
    explicit Api(Vendor& vendor) : m_vendor(vendor) {}
    int32_t SYN_CALL QueryInterface(const void*, void**) override;
    uint32_t SYN_CALL AddRef() override;
    uint32_t SYN_CALL Release() override;
    int32_t SYN_CALL Reserved3() override;
    int32_t SYN_CALL FindDevice(int32_t lConnection, int32_t lType, int32_t* plHandle) override;
    int32_t SYN_CALL CreateDevice(int32_t lHandle, ISynDevice** ppDevice) override;
    int32_t SYN_CALL Reserved6() override;
    int32_t SYN_CALL Reserved7() override;
    int32_t SYN_CALL Reserved8() override;
    int32_t SYN_CALL Reserved9() override;
    int32_t SYN_CALL Reserved10() override;
    int32_t SYN_CALL PersistState(int32_t lFlags) override;

  private:
    Vendor& m_vendor;
};

// The vendor: its script, its two objects and the record of calls.
class Vendor {
  public:
    Script script;
    std::vector<Call> calls;  // guarded by callLock: the factory may be called from threads
    std::mutex callLock;
    int32_t stateWritten = -1;  // the last value SetProperty took, -1 for none
    int unexpectedCalls = 0;    // calls to slots that must never be called
    // When set, an operation that fails or throws first leaves `failureError` as the thread's
    // last-error value through this function, as a real vendor call may.
    void (*leaveError)(uint32_t) = nullptr;
    uint32_t failureError = 0;

    // SynCreateAPI.
    int32_t createApi(ISynAPI** ppApi);
    void record(int32_t op, int64_t a = 0, int64_t b = 0, int64_t c = 0);
    // Records the call, then throws if the script says so; answers the scripted code.
    int32_t enter(int32_t op, int64_t a = 0, int64_t b = 0, int64_t c = 0);

    Api api{*this};
    Device device{*this};
};

}  // namespace fake
