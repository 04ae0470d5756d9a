// baseline.exe CMDFILE [--no-window]
//
// The direct way to run a list of programs: each command line of CMDFILE
// (separated by NUL bytes, since a command line may hold a line feed) is
// started with CreateProcessA, with the flags the uninstaller uses, and
// waited for with WaitForSingleObject(INFINITE) before the next one starts.
//
// The stand-in programs wait up to 2 s for a titled dialog of their parent
// before they go on; a baseline without one would measure that wait, not
// its own. So a titled, empty dialog stays up (on a thread of its own that
// answers its messages) while the commands run; --no-window leaves it out
// to show that wait.
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

HANDLE windowReady;

INT_PTR CALLBACK EmptyDialog(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

DWORD WINAPI WindowThread(LPVOID)
{
    // DLGTEMPLATE, then no menu, the default class and the caption.
    alignas(4) WORD buffer[64] = {};
    DLGTEMPLATE* t = reinterpret_cast<DLGTEMPLATE*>(buffer);
    t->style = WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME;
    t->cx = 160;
    t->cy = 24;
    WORD* p = reinterpret_cast<WORD*>(t + 1);
    *p++ = 0;
    *p++ = 0;
    for (const char* c = "Baseline"; *c; ++c)
        *p++ = static_cast<WORD>(*c);
    *p = 0;
    HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(NULL), t, NULL, EmptyDialog, 0);
    if (dialog)
        ShowWindow(dialog, SW_SHOWNOACTIVATE);
    SetEvent(windowReady);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

std::vector<std::string> ReadCommands(const char* path)
{
    std::vector<std::string> commands;
    FILE* f = fopen(path, "rb");
    if (!f)
        return commands;
    std::string all;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        all.append(chunk, n);
    fclose(f);
    size_t at = 0;
    while (at < all.size()) {
        size_t end = all.find('\0', at);
        if (end == std::string::npos)
            end = all.size();
        if (end > at)
            commands.push_back(all.substr(at, end - at));
        at = end + 1;
    }
    return commands;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    std::vector<std::string> commands = ReadCommands(argv[1]);
    if (commands.empty())
        return 2;
    if (!(argc > 2 && strcmp(argv[2], "--no-window") == 0)) {
        windowReady = CreateEventA(NULL, TRUE, FALSE, NULL);
        CreateThread(NULL, 0, WindowThread, NULL, 0, NULL);
        WaitForSingleObject(windowReady, 10000);
    }

    int failed = 0;
    for (const std::string& command : commands) {
        std::vector<char> line(command.begin(), command.end());
        line.push_back(0);
        // As the uninstaller starts a child: inherited handles, the same
        // priority class, shown minimised without activation.
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_SHOWMINNOACTIVE;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, REALTIME_PRIORITY_CLASS, NULL, NULL, &si, &pi)) {
            ++failed;
            continue;
        }
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    return failed ? 1 : 0;
}
