/* VelnorApi: read and switch the touchpad's two-finger double tap gesture ("launch state")
 * and read the touchpad's registry key. Every call is complete in itself and may be made from
 * any thread. Each function answers 1 on success and 0 on failure. */
#ifndef VELNORAPI_H
#define VELNORAPI_H

#include <stdint.h>

#if defined(_WIN32)
#include <stddef.h>          /* wchar_t, a type of its own in C++ only */
typedef wchar_t VelnorUtf16; /* one UTF-16 code unit */
#elif defined(__cplusplus)
typedef char16_t VelnorUtf16;
#else
typedef uint_least16_t VelnorUtf16;
#endif

#if defined(_WIN32)
#define VELNORAPI_API
#else
#define VELNORAPI_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Stores 1 (gesture on) or 0 (off) in *pbLaunchState and answers 1; answers 0 and leaves the
 * byte untouched on any failure, a null pointer included. */
VELNORAPI_API int32_t GetTouchpadLaunchState(uint8_t* pbLaunchState);

/* Switches the gesture on (nonzero) or off (0) and has the vendor library persist it.
 * Answers 1 once the state has persisted, else 0. */
VELNORAPI_API int32_t SetTouchpadLaunchState(uint8_t bLaunchState);

/* Copies the touchpad's registry key as UTF-16 into strRegistryKey, which holds iCapacity
 * units: the text, then zero units up to iCapacity. Answers 1 when it did; 0 with the buffer
 * untouched when the key cannot be read or iCapacity is not larger than the size the touchpad
 * reports for it (where that size counts the key's bytes and its terminator, as the simulated
 * touchpad's does, a key of n characters needs n + 2 units). */
VELNORAPI_API int32_t GetTouchpadRegistryKey(VelnorUtf16* strRegistryKey, int32_t iCapacity);

/* Pointer types for hosts that resolve the functions at run time. */
typedef int32_t (*PFN_GetTouchpadLaunchState)(uint8_t*);
typedef int32_t (*PFN_SetTouchpadLaunchState)(uint8_t);
typedef int32_t (*PFN_GetTouchpadRegistryKey)(VelnorUtf16*, int32_t);

#ifdef __cplusplus
}
#endif

#endif /* VELNORAPI_H */
