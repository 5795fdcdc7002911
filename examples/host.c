/* A host application as small as they come: it loads VelnorApi by name at run time, reads
 * the launch state, switches it and back, and prints the touchpad's registry key.
 * From the top of the source tree, on Linux:
 *   cc -I api/include examples/host.c -o host -ldl
 *   LD_LIBRARY_PATH=build/native/lib ./host
 * For Windows (mingw-w64), to run beside VelnorApi.dll and the vendor library:
 *   x86_64-w64-mingw32-gcc -I api/include examples/host.c -o build/windows/bin/host.exe
 * Against an installed release: cc examples/host.c $(pkg-config --cflags --libs velnorapi) -ldl,
 * or the CMake project examples/consumer. Built with VELNOR_LINKED defined, the host is linked
 * against the library instead (VelnorApi::VelnorApi, or pkg-config's flags) and the loader maps it
 * when the program starts. */
#include <stdint.h>
#include <stdio.h>

#include "VelnorApi.h"

/* The three functions, looked up in the library or linked. */
struct Exports {
    PFN_GetTouchpadLaunchState get;
    PFN_SetTouchpadLaunchState set;
    PFN_GetTouchpadRegistryKey key;
};

#if defined(VELNOR_LINKED)
static int resolve(struct Exports* exports) {
    exports->get = GetTouchpadLaunchState;
    exports->set = SetTouchpadLaunchState;
    exports->key = GetTouchpadRegistryKey;
    return 1;
}
#else
#if defined(_WIN32)
#include <windows.h>
#define LIBRARY_NAME "VelnorApi.dll"
typedef HMODULE Library;
static Library openLibrary(void) {
    return LoadLibraryExA(LIBRARY_NAME, NULL, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}
static void* findSymbol(Library library, const char* name) {
    return (void*)GetProcAddress(library, name);
}
#else
#include <dlfcn.h>
#define LIBRARY_NAME "libVelnorApi.so"
typedef void* Library;
static Library openLibrary(void) {
    return dlopen(LIBRARY_NAME, RTLD_NOW);
}
static void* findSymbol(Library library, const char* name) {
    return dlsym(library, name);
}
#endif

static int resolve(struct Exports* exports) {
    Library library = openLibrary();
    if (library == NULL) {
        fprintf(stderr, "cannot load %s\n", LIBRARY_NAME);
        return 0;
    }
    exports->get = (PFN_GetTouchpadLaunchState)findSymbol(library, "GetTouchpadLaunchState");
    exports->set = (PFN_SetTouchpadLaunchState)findSymbol(library, "SetTouchpadLaunchState");
    exports->key = (PFN_GetTouchpadRegistryKey)findSymbol(library, "GetTouchpadRegistryKey");
    if (exports->get == NULL || exports->set == NULL || exports->key == NULL) {
        fprintf(stderr, "%s lacks an export\n", LIBRARY_NAME);
        return 0;
    }
    return 1;
}
#endif

int main(void) {
    struct Exports exports;
    if (!resolve(&exports)) {
        return 1;
    }
    PFN_GetTouchpadLaunchState get = exports.get;
    PFN_SetTouchpadLaunchState set = exports.set;
    PFN_GetTouchpadRegistryKey key = exports.key;

    uint8_t before = 0;
    uint8_t after = 0;
    if (!get(&before) || !set(!before) || !get(&after) || after != !before || !set(before)) {
        fprintf(stderr, "could not switch the launch state\n");
        return 1;
    }
    printf("launch state: %s, switched to %s and back\n", before ? "on" : "off",
           after ? "on" : "off");

    VelnorUtf16 text[256];
    if (!key(text, 256)) {
        fprintf(stderr, "could not read the registry key\n");
        return 1;
    }
    printf("registry key: ");
    for (int i = 0; i < 256 && text[i] != 0; ++i) {
        putchar(text[i] < 0x80 ? (int)text[i] : '?');
    }
    putchar('\n');
    return 0;
}
