#include "fake_vendor.h"

#include <algorithm>
#include <cstring>

namespace fake {

const char* opName(int32_t op) {
    static const char* const names[] = {
        "SynCreateAPI",       "FindDevice",        "CreateDevice", "GetProperty(gesture)",
        "GetProperty(state)", "GetStringProperty", "SetProperty",  "PersistState",
        "Release(device)",    "Release(API)",      "report"};
    return op >= 0 && op <= kReport ? names[op] : "?";
}

std::string describe(const Call& call) {
    return std::string(opName(call.op)) + "(" + std::to_string(call.a) + ", " +
           std::to_string(call.b) + ", " + std::to_string(call.c) + ")";
}

void Script::setKey(const std::string& text) {
    std::memset(key, 0, sizeof key);
    keyBytes = static_cast<int32_t>(std::min(text.size() + 1, sizeof key));
    std::memcpy(key, text.data(), std::min(text.size(), sizeof key));
    keySize = keyBytes;
}

void Vendor::record(int32_t op, int64_t a, int64_t b, int64_t c) {
    std::lock_guard<std::mutex> guard(callLock);
    calls.push_back(Call{op, a, b, c});
}

int32_t Vendor::enter(int32_t op, int64_t a, int64_t b, int64_t c) {
    record(op, a, b, c);
    if (op >= kOpCount) {
        return 0;
    }
    if (leaveError != nullptr && (script.throws[op] || script.code[op] != 0)) {
        leaveError(failureError);
    }
    if (script.throws[op]) {
        throw Error(opName(op));
    }
    return script.code[op];
}

int32_t Vendor::createApi(ISynAPI** ppApi) {
    const int32_t code = enter(kCreateApi);
    const bool hand = !script.nullApi && (code == 0 || script.objectOnFailure);
    *ppApi = hand ? &api : nullptr;
    return code;
}

int32_t Api::QueryInterface(const void*, void**) {
    return ++m_vendor.unexpectedCalls, -1;
}
uint32_t Api::AddRef() {
    return ++m_vendor.unexpectedCalls, 1;
}
uint32_t Api::Release() {
    return static_cast<uint32_t>(m_vendor.enter(kReleaseApi));
}
int32_t Api::Reserved3() {
    return ++m_vendor.unexpectedCalls, -1;
}
int32_t Api::Reserved6() {
    return ++m_vendor.unexpectedCalls, -1;
}
int32_t Api::Reserved7() {
    return ++m_vendor.unexpectedCalls, -1;
}
int32_t Api::Reserved8() {
    return ++m_vendor.unexpectedCalls, -1;
}
int32_t Api::Reserved9() {
    return ++m_vendor.unexpectedCalls, -1;
}
int32_t Api::Reserved10() {
    return ++m_vendor.unexpectedCalls, -1;
}

int32_t Api::FindDevice(int32_t lConnection, int32_t lType, int32_t* plHandle) {
    const int32_t code = m_vendor.enter(kFindDevice, lConnection, lType, *plHandle);
    if (!m_vendor.script.handleUntouched) {
        *plHandle = m_vendor.script.handle;
    }
    return code;
}

int32_t Api::CreateDevice(int32_t lHandle, ISynDevice** ppDevice) {
    const int32_t code = m_vendor.enter(kCreateDevice, lHandle);
    const Script& s = m_vendor.script;
    *ppDevice = !s.nullDevice && (code == 0 || s.objectOnFailure) ? &m_vendor.device : nullptr;
    return code;
}

int32_t Api::PersistState(int32_t lFlags) {
    return m_vendor.enter(kPersist, lFlags);
}

int32_t Device::QueryInterface(const void*, void**) {
    return ++m_vendor.unexpectedCalls, -1;
}
uint32_t Device::AddRef() {
    return ++m_vendor.unexpectedCalls, 1;
}
uint32_t Device::Release() {
    return static_cast<uint32_t>(m_vendor.enter(kReleaseDevice));
}
int32_t Device::Reserved4() {
    return ++m_vendor.unexpectedCalls, -1;
}

int32_t Device::GetProperty(int32_t lId, int32_t* plValue) {
    const bool gesture = lId == syn::kPropertyHasTwoFingerDoubleTap;
    if (!gesture && lId != syn::kPropertyTwoFingerDoubleTapState) {
        ++m_vendor.unexpectedCalls;
        return -1;
    }
    const int32_t code = m_vendor.enter(gesture ? kGetGesture : kGetState, lId, *plValue);
    if (code == 0) {
        *plValue = gesture ? m_vendor.script.hasGesture : m_vendor.script.state;
    }
    return code;
}

int32_t Device::GetStringProperty(int32_t lId, unsigned char* pBuffer, int32_t* plSize) {
    const int32_t code = m_vendor.enter(kGetKey, lId, *plSize, pBuffer != nullptr);
    const Script& s = m_vendor.script;
    if (code == 0) {
        const auto bytes =
            std::clamp<int32_t>(s.keyBytes, 0, std::min(*plSize, syn::kKeyBufferSize));
        std::memcpy(pBuffer, s.key, static_cast<size_t>(bytes));
        *plSize = s.keySize;
    }
    return code;
}

int32_t Device::SetProperty(int32_t lId, int32_t lValue) {
    const int32_t code = m_vendor.enter(kSetState, lId, lValue);
    if (code == 0 && lId == syn::kPropertyTwoFingerDoubleTapState) {
        m_vendor.stateWritten = lValue;
    }
    return code;
}

}  // namespace fake
