// The failure points of the three exports and the one function through which every failure
// point reports what it passes on.
#pragma once

#include <cstdint>

namespace velnor {

enum class Export : uint8_t {
    GetTouchpadLaunchState,
    SetTouchpadLaunchState,
    GetTouchpadRegistryKey,
};

enum class FailurePoint : uint8_t {
    NullState,        // GetTouchpadLaunchState: no byte to store the state in
    NullDestination,  // GetTouchpadRegistryKey: no buffer to copy the key into
    CreateApi,        // SynCreateAPI failed or gave no object (its code)
    FindDevice,       // FindDevice failed or left the handle at -1 (its code)
    CreateDevice,     // CreateDevice failed or gave no object (its code)
    GestureQuery,     // reading SP_HasTwoFingerDoubleTap failed (its code)
    NotSupported,     // the touchpad lacks the gesture (0)
    StateQuery,       // reading SP_TwoFingerDoubleTapState failed (its code)
    StateWrite,       // writing SP_TwoFingerDoubleTapState failed (its code)
    Persist,          // PersistState failed (its code)
    KeyQuery,         // reading the registry-key property failed (its code)
    EmptyKey,         // no usable key text
    TooSmall,         // the key does not fit the caller's buffer (lSize, iCapacity)
    Exception,        // an exception reached SetTouchpadLaunchState's handler
};

// One failure as its failure point passes it on: up to two 32-bit values, unused ones 0.
struct Failure {
    Export exportName;
    FailurePoint point;
    uint32_t first;
    uint32_t second;
};

// The report of the exports: turns a failure into the library's log record.
void reportExportFailure(const Failure& failure) noexcept;

}  // namespace velnor
