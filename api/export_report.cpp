#include "export_report.h"

namespace velnor {

const char* exportName(Export e) {
    switch (e) {
        case Export::GetTouchpadLaunchState:
            return "GetTouchpadLaunchState";
        case Export::SetTouchpadLaunchState:
            return "SetTouchpadLaunchState";
        case Export::GetTouchpadRegistryKey:
            return "GetTouchpadRegistryKey";
    }
    return "";
}

const char* failurePointName(FailurePoint p) {
    switch (p) {
        case FailurePoint::NullState:
            return "null state";
        case FailurePoint::NullDestination:
            return "null destination";
        case FailurePoint::CreateApi:
            return "create API";
        case FailurePoint::FindDevice:
            return "find device";
        case FailurePoint::CreateDevice:
            return "create device";
        case FailurePoint::GestureQuery:
            return "gesture query";
        case FailurePoint::NotSupported:
            return "not supported";
        case FailurePoint::StateQuery:
            return "state query";
        case FailurePoint::StateWrite:
            return "state write";
        case FailurePoint::Persist:
            return "persist";
        case FailurePoint::KeyQuery:
            return "key query";
        case FailurePoint::EmptyKey:
            return "empty key";
        case FailurePoint::TooSmall:
            return "too small";
        case FailurePoint::Exception:
            return "exception";
    }
    return "";
}

void reportExportFailure(const Failure& failure) noexcept {
    // Failures are not written anywhere yet: the log record of each failure point arrives
    // with the logging framework.
    static_cast<void>(failure);
}

}  // namespace velnor
