/* A host built for the MSVC ABI without Microsoft's headers or C runtime, which this project's
 * machines lack: it links VelnorApi through VelnorApi.lib and kernel32 alone, and prints what
 * examples/host.c prints.
 *   clang --target=x86_64-pc-windows-msvc -O0 -I include -c msvc_host.c
 *   lld-link /entry:start /subsystem:console /nodefaultlib msvc_host.obj VelnorApi.lib
 *            kernel32.lib */
#include "VelnorApi.h"

typedef void* HANDLE;
__declspec(dllimport) HANDLE __stdcall GetStdHandle(unsigned long nStdHandle);
__declspec(dllimport) int __stdcall WriteFile(HANDLE hFile, const void* lpBuffer,
                                              unsigned long nNumberOfBytesToWrite,
                                              unsigned long* lpNumberOfBytesWritten,
                                              void* lpOverlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int uExitCode);

#define STD_OUTPUT_HANDLE ((unsigned long)-11)

static void print(const char* text, unsigned long length) {
    unsigned long written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, NULL);
}

void start(void) {
    uint8_t before = 0;
    uint8_t after = 0;
    if (!GetTouchpadLaunchState(&before) || !SetTouchpadLaunchState(!before) ||
        !GetTouchpadLaunchState(&after) || after != !before || !SetTouchpadLaunchState(before)) {
        print("could not switch the launch state\n", 34);
        ExitProcess(1);
    }
    VelnorUtf16 key[256];
    char line[256 + 1];
    unsigned long length = 0;
    if (!GetTouchpadRegistryKey(key, 256)) {
        print("could not read the registry key\n", 32);
        ExitProcess(1);
    }
    for (int i = 0; i < 256 && key[i] != 0; ++i) {
        line[length++] = key[i] < 0x80 ? (char)key[i] : '?';
    }
    line[length++] = '\n';
    print("registry key: ", 14);
    print(line, length);
    ExitProcess(0);
}
