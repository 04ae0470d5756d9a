// standin.exe: takes the place of net.exe, isuninst.exe, the server
// executables and portinst.exe. It appends one JSON line to the journal
// named by QV_JOURNAL (a Windows path) saying who it is, how it was started,
// and when; then it behaves as the environment tells it for its name NAME
// (upper case, without .exe):
//   QV_<NAME>_SLEEP      milliseconds to live once the parent's dialog is up
//                        (else QV_SLEEP)
//   QV_<NAME>_EXIT       exit code
//   QV_<NAME>_DELETELOG  when set, delete the file named after " -f"
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

#include "jsonline.h"

// An environment variable's value, empty when unset or too long.
static std::string Env(const std::string& var)
{
    char buf[1024];
    DWORD n = GetEnvironmentVariableA(var.c_str(), buf, sizeof buf);
    if (n == 0 || n >= sizeof buf)
        return "";
    return buf;
}

static std::string Setting(const std::string& name, const char* what)
{
    return Env("QV_" + name + "_" + what);
}

// Several stand-ins can run at once (after the user closed a progress
// dialog), so each line goes out in one append, retried while another
// writer holds the file.
static void Append(const std::string& line)
{
    std::string path = Env("QV_JOURNAL");
    if (path.empty())
        return;
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD written;
            WriteFile(h, line.data(), (DWORD)line.size(), &written, NULL);
            CloseHandle(h);
            return;
        }
        Sleep(10);
    }
}

static DWORD ParentProcessId()
{
    DWORD self = GetCurrentProcessId(), parent = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snap, &entry); more; more = Process32Next(snap, &entry))
        if (entry.th32ProcessID == self)
            parent = entry.th32ParentProcessID;
    CloseHandle(snap);
    return parent;
}

static BOOL CALLBACK FindTitledDialog(HWND hwnd, LPARAM lParam)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[16], title[8];
    if (pid != *(DWORD*)lParam || !IsWindowVisible(hwnd) || !GetClassNameA(hwnd, cls, sizeof cls) ||
        strcmp(cls, "#32770") != 0 || !GetWindowTextA(hwnd, title, sizeof title))
        return TRUE;
    *(DWORD*)lParam = 0;
    return FALSE;
}

// The parent shows its progress dialog only after starting us; the time to
// live counts from then, so that a busy machine cannot hide the dialog from
// the robot. Someone else's child waits at most two seconds.
static void WaitForParentDialog()
{
    DWORD parent = ParentProcessId();
    for (int waited = 0; parent != 0 && waited < 2000; waited += 10) {
        DWORD wanted = parent;
        EnumWindows(FindTitledDialog, (LPARAM)&wanted);
        if (wanted == 0)
            return;
        Sleep(10);
    }
}

int main()
{
    char module[MAX_PATH];
    GetModuleFileNameA(NULL, module, sizeof module);
    std::string name = module;
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".exe") == 0)
        name.resize(name.size() - 4);
    std::string upper = name;
    for (char& c : upper)
        c = (char)toupper((unsigned char)c);

    std::string cmdline = GetCommandLineA();
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    GetStartupInfoA(&si);

    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    Append("{\"name\":" + Quote(name) + ",\"cmdline\":" + Quote(cmdline) +
           ",\"flags\":" + std::to_string(si.dwFlags) + ",\"show\":" + std::to_string(si.wShowWindow) +
           ",\"module\":" + Quote(module) + ",\"cwd\":" + Quote(cwd) + ",\"t\":" + std::to_string(NowMs()) + "}\n");

    if (!Setting(upper, "DELETELOG").empty()) {
        size_t f = cmdline.find(" -f");
        if (f != std::string::npos) {
            std::string log;
            for (char c : cmdline.substr(f + 3))
                if (c != '"' && c != '\r' && c != '\n')
                    log += c;
            DeleteFileA(log.c_str());
        }
    }
    WaitForParentDialog();
    std::string sleep = Setting(upper, "SLEEP");
    if (sleep.empty())
        sleep = Env("QV_SLEEP");
    if (!sleep.empty())
        Sleep(strtoul(sleep.c_str(), NULL, 10));
    std::string code = Setting(upper, "EXIT");
    return code.empty() ? 0 : atoi(code.c_str());
}
