// A named pipe's server that tells whether a client connected to it: it creates \\.\pipe\NAME,
// runs the command line that follows the name, waits for it, and prints "client connected" or
// "no client", then the command's exit status.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: pipe_server NAME COMMAND [ARGUMENT...]\n", stderr);
        return 2;
    }
    const std::wstring name = std::wstring(L"\\\\.\\pipe\\") + argv[1];
    const HANDLE pipe =
        CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE,
                         PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot create the pipe: %lu\n", GetLastError());
        return 2;
    }
    OVERLAPPED connect{};
    connect.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const bool early = !ConnectNamedPipe(pipe, &connect) && GetLastError() == ERROR_PIPE_CONNECTED;
    std::wstring command;
    for (int i = 2; i < argc; ++i) {
        command += (i == 2 ? L"\"" : L" \"") + std::wstring(argv[i]) + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "cannot run the command: %lu\n", GetLastError());
        return 2;
    }
    WaitForSingleObject(process.hProcess, 120000);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    const bool connected = early || WaitForSingleObject(connect.hEvent, 0) == WAIT_OBJECT_0;
    std::printf("%s, exit status %lu\n", connected ? "client connected" : "no client", status);
    return 0;
}
