// The touchpad vendor's automation objects as this library calls them. Declared slot by slot
// from the vendor's binary interface: pure virtual functions only, no virtual destructor (it
// would shift the slots). Every integer is 32 bits wide whatever `long` is.
#pragma once

#include <cstdint>

#include "qir_sys/abi.h"

#define SYN_CALL QIR_SYS_STDCALL

class ISynDevice {
  public:
    virtual int32_t SYN_CALL QueryInterface(const void* iid, void** out) = 0;  // slot 0
    virtual uint32_t SYN_CALL AddRef() = 0;                                    // slot 1
    virtual uint32_t SYN_CALL Release() = 0;                                   // slot 2
    virtual int32_t SYN_CALL GetProperty(int32_t lId, int32_t* plValue) = 0;   // slot 3
    virtual int32_t SYN_CALL Reserved4() = 0;                                  // slot 4
    virtual int32_t SYN_CALL GetStringProperty(int32_t lId, unsigned char* pBuffer,
                                               int32_t* plSize) = 0;        // slot 5
    virtual int32_t SYN_CALL SetProperty(int32_t lId, int32_t lValue) = 0;  // slot 6
};

class ISynAPI {
  public:
    virtual int32_t SYN_CALL QueryInterface(const void* iid, void** out) = 0;  // slot 0
    virtual uint32_t SYN_CALL AddRef() = 0;                                    // slot 1
    virtual uint32_t SYN_CALL Release() = 0;                                   // slot 2
    virtual int32_t SYN_CALL Reserved3() = 0;                                  // slot 3
    virtual int32_t SYN_CALL FindDevice(int32_t lConnection, int32_t lType,
                                        int32_t* plHandle) = 0;                         // slot 4
    virtual int32_t SYN_CALL CreateDevice(int32_t lHandle, ISynDevice** ppDevice) = 0;  // slot 5
    virtual int32_t SYN_CALL Reserved6() = 0;                                           // slot 6
    virtual int32_t SYN_CALL Reserved7() = 0;                                           // slot 7
    virtual int32_t SYN_CALL Reserved8() = 0;                                           // slot 8
    virtual int32_t SYN_CALL Reserved9() = 0;                                           // slot 9
    virtual int32_t SYN_CALL Reserved10() = 0;                                          // slot 10
    virtual int32_t SYN_CALL PersistState(int32_t lFlags) = 0;                          // slot 11
};

// The vendor library's factory, exported with C linkage under the name "SynCreateAPI".
using SynCreateAPIFn = int32_t (*)(ISynAPI** ppApi);
constexpr const char* kSynCreateAPIName = "SynCreateAPI";

namespace syn {

constexpr int32_t kInvalidHandle = -1;
constexpr int32_t kFindConnection = 2;
constexpr int32_t kFindType = 2;
constexpr int32_t kPropertyHasTwoFingerDoubleTap = 0x1000019a;
constexpr int32_t kPropertyTwoFingerDoubleTapState = 0x10000199;
constexpr int32_t kPropertyRegistryKey = 0x10000603;
constexpr int32_t kKeyBufferSize = 256;

}  // namespace syn
