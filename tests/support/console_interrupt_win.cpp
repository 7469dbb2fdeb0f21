// Presses Ctrl-C for a program: starts it on this console, waits MS milliseconds, sends the
// console's Ctrl-C event, and ends with the program's exit status. Wine turns no signal into that
// event, so the end-to-end table presses it this way (on a console: run under a terminal).
//   console-interrupt.exe MS PROGRAM [ARGUMENT...]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return 64;
    }
    std::wstring command;
    for (int i = 2; i < argc; ++i) {
        command += (i > 2 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &child)) {
        return 65;
    }
    // The event goes to every process on the console: this one ignores it.
    SetConsoleCtrlHandler(nullptr, TRUE);
    if (WaitForSingleObject(child.hProcess, std::wcstoul(argv[1], nullptr, 10)) != WAIT_OBJECT_0 &&
        !GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        std::fwprintf(stderr, L"console-interrupt: no console to press Ctrl-C on (%lu)\n",
                      GetLastError());
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    return static_cast<int>(status);
}
