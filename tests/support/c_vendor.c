// A vendor library in plain C whose objects' tables are laid out by hand from the vendor's slot
// table, knowing nothing of the library's declaration of them. Each function checks the object
// and the arguments the library always passes; a slot that is never called, or a call that
// does not fit its slot, breaks the vendor for good: every later call then fails with 0xBAD.
// The touchpad (handle 7) has the gesture, its state starts at 5, SetProperty stores it, and
// only GetStringProperty gives the key text.
#include <stdint.h>
#include <string.h>

#ifdef _WIN32
#define CALL __stdcall
#define EXPORT __declspec(dllexport)
#else
#define CALL
#define EXPORT __attribute__((visibility("default")))
#endif

typedef void (*Slot)(void);
typedef const Slot* Object;  // an object is the address of its table
enum { kHandle = 7, kGesture = 0x1000019a, kState = 0x10000199, kKey = 0x10000603 };
static const Object g_api, g_device;
static int32_t g_broken, g_state = 5;

// Answers 0, or 0xBAD from the first call that did not fit its slot on. A call that fits stores
// `size` bytes of `value` in `out`.
static int32_t answer(int ok, void* out, const void* value, size_t size) {
    g_broken |= !ok;
    if (ok && size != 0) {
        memcpy(out, value, size);
    }
    return g_broken ? 0xBAD : 0;
}
static int32_t CALL misuse(void) {
    return answer(0, NULL, NULL, 0);
}
static uint32_t CALL release(const Object* self) {
    return (uint32_t)answer(self == &g_api || self == &g_device, NULL, NULL, 0);
}
static int32_t CALL findDevice(const Object* self, int32_t connection, int32_t type, int32_t* out) {
    const int ok = self == &g_api && connection == 2 && type == 2 && *out == -1;
    return answer(ok, out, &(int32_t){kHandle}, sizeof *out);
}
static int32_t CALL createDevice(const Object* self, int32_t handle, const Object** out) {
    return answer(self == &g_api && handle == kHandle, out, &(const Object*){&g_device},
                  sizeof *out);
}
static int32_t CALL persistState(const Object* self, int32_t flags) {
    return answer(self == &g_api && flags == 0, NULL, NULL, 0);
}
static int32_t CALL getProperty(const Object* self, int32_t id, int32_t* out) {
    const int ok = self == &g_device && (id == kGesture || id == kState);
    return answer(ok, out, id == kGesture ? &(int32_t){1} : &g_state, sizeof *out);
}
static int32_t CALL getStringProperty(const Object* self, int32_t id, char* text, int32_t* size) {
    static const char key[] = "HKLM\\Slot5";
    const int ok = self == &g_device && id == kKey && *size == 256;
    answer(ok, text, key, sizeof key);
    return answer(ok, size, &(int32_t){sizeof key}, sizeof *size);
}
static int32_t CALL setProperty(const Object* self, int32_t id, int32_t value) {
    const int ok = self == &g_device && id == kState && (value == 0 || value == 1);
    return answer(ok, &g_state, &value, sizeof value);
}

// clang-format off
#define NEVER ((Slot)misuse)
static const Slot kApiSlots[12] = {
    NEVER, NEVER, (Slot)release, NEVER, (Slot)findDevice, (Slot)createDevice,  // 0-5
    NEVER, NEVER, NEVER, NEVER, NEVER, (Slot)persistState};                     // 6-11
static const Slot kDeviceSlots[7] = {
    NEVER, NEVER, (Slot)release, (Slot)getProperty,                             // 0-3
    NEVER, (Slot)getStringProperty, (Slot)setProperty};                         // 4-6
// clang-format on
static const Object g_api = kApiSlots, g_device = kDeviceSlots;

EXPORT int32_t SynCreateAPI(const Object** api) {
    return answer(1, api, &(const Object*){&g_api}, sizeof *api);
}
