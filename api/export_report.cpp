#include "export_report.h"

#include <cstring>

#include "qir_log.h"
#include "qir_log_string.h"
#include "qir_string_wchar.h"
#include "qir_sys/error.h"

namespace velnor {

namespace {

// What a failure point writes: its message, where each "%x" stands for the next value the
// failure point passes on, and the line the record names.
struct Wording {
    const char* message;
    uint32_t line;
};

// Messages several exports share.
constexpr const char* kCreateApi = "could not create API object, hResult = 0x%x";
constexpr const char* kFindDevice = "could not find device, hResult = 0x%x";
constexpr const char* kCreateDevice = "could not create device object, hResult = 0x%x";
constexpr const char* kGestureQuery =
    "could not get property for SP_HasTwoFingerDoubleTap, hResult = 0x%x";
constexpr const char* kNotSupported = "2FDT is not supported on this system, hResult = 0x%x";

// The wording of a failure point of one export; a null message for a point the export does
// not have.
Wording wordingOf(Export name, FailurePoint point) {
    switch (name) {
        case Export::GetTouchpadLaunchState:
            switch (point) {
                case FailurePoint::StateQuery:
                    return {"2FDT is supported but could not query the state, hResult = 0x%x", 132};
                case FailurePoint::NotSupported:
                    return {kNotSupported, 137};
                case FailurePoint::GestureQuery:
                    return {kGestureQuery, 142};
                case FailurePoint::CreateDevice:
                    return {kCreateDevice, 149};
                case FailurePoint::FindDevice:
                    return {kFindDevice, 154};
                case FailurePoint::CreateApi:
                    return {kCreateApi, 161};
                case FailurePoint::NullState:
                    return {"pbLaunchState is null", 166};
                default:
                    break;
            }
            break;
        case Export::SetTouchpadLaunchState:
            switch (point) {
                case FailurePoint::Persist:
                    return {"pSynAPI->PersistState() failed, hResult = 0x%x", 214};
                case FailurePoint::StateWrite:
                    return {"could not set property for SP_TwoFingerDoubleTapState, hResult = 0x%x",
                            219};
                case FailurePoint::NotSupported:
                    return {kNotSupported, 224};
                case FailurePoint::GestureQuery:
                    return {kGestureQuery, 229};
                case FailurePoint::CreateDevice:
                    return {kCreateDevice, 236};
                case FailurePoint::FindDevice:
                    return {kFindDevice, 241};
                case FailurePoint::CreateApi:
                    return {kCreateApi, 248};
                case FailurePoint::Exception:
                    return {"unhandled exception", 253};
                default:
                    break;
            }
            break;
        case Export::GetTouchpadRegistryKey:
            switch (point) {
                case FailurePoint::EmptyKey:
                    return {"Source buffer lSize is <= 0, nothing to copy", 37};
                case FailurePoint::TooSmall:
                    return {
                        "Destination buffer strRegistryKey is too small, source lSize = 0x%x, "
                        "destination iCapacity = 0x%x",
                        42};
                case FailurePoint::KeyQuery:
                    return {
                        "could not get string property for the registry key (0x10000603), "
                        "hResult = 0x%x",
                        54};
                case FailurePoint::CreateDevice:
                    return {kCreateDevice, 62};
                case FailurePoint::FindDevice:
                    return {kFindDevice, 68};
                case FailurePoint::CreateApi:
                    return {kCreateApi, 76};
                case FailurePoint::NullDestination:
                    return {"strRegistryKey is null", 81};
                default:
                    break;
            }
            break;
    }
    return {nullptr, 0};
}

const char* exportText(Export name) {
    static const char* const kNames[] = {"GetTouchpadLaunchState", "SetTouchpadLaunchState",
                                         "GetTouchpadRegistryKey"};
    return kNames[static_cast<size_t>(name)];
}

// The message with each "%x" replaced by the next value as lower-case hexadecimal digits of
// its 32-bit pattern.
CQIRStringWChar composeMessage(const char* format, const Failure& failure) {
    const uint32_t values[] = {failure.first, failure.second};
    size_t next = 0;
    CQIRStringWChar message;
    const char* piece = format;
    for (const char* marker; (marker = std::strstr(piece, "%x")) != nullptr; piece = marker + 2) {
        const CQIRBuffer<char> text(piece, static_cast<uint32_t>(marker - piece));
        const uint32_t value = next < 2 ? values[next++] : 0;
        message =
            message + CQIRStringWChar(text) + CQIRStringWChar(static_cast<int32_t>(value), 16);
    }
    return message + CQIRStringWChar(piece);
}

}  // namespace

void reportExportFailure(const Failure& failure) noexcept {
    try {
        const Wording wording = wordingOf(failure.exportName, failure.point);
        if (wording.message == nullptr) {
            return;
        }
        const char* name = exportText(failure.exportName);
        const CQIRLogStringWChar file(".\\VelnorApi");
        const CQIRLogStringWChar task(name);
        const CQIRLogStringWChar function(name);
        const CQIRLogStringWChar message(composeMessage(wording.message, failure).getBuffer());
        // The value the failed call left, before anything of the report itself runs.
        const uint32_t lastError = qir::sys::lastError();
        CQIRLogError report;
        report.log(message, task, function, file, wording.line, lastError, nullptr, 0);
    } catch (...) {
        // A report that cannot be made is dropped; the export's result stands.
    }
}

}  // namespace velnor
