// probe.exe: the benchmark's clock inside the Wine prefix. Every mode writes
// one JSON line to --out; times are milliseconds from QueryPerformanceCounter.
//
//   probe.exe run --cmdfile F --out F [--timeout MS]
//       starts the command line of F and waits for its end: the whole run's time
//   probe.exe startup --cmdfile F --out F --answer ID [--timeout MS]
//       starts it, looks every millisecond for its first visible dialog (a
//       message box), answers it with button ID and waits for the end: the
//       time from the start to the box
//   probe.exe ping --kind progress|box --out F --for MS [--answer ID] [--pause MS] [--find-timeout MS]
//       finds the dialog (progress: a #32770 with a msctls_progress32 control
//       1000; box: a #32770 with a message box's text), then for MS sends it
//       WM_NULL with SendMessageTimeout in a loop, --pause ms apart: the
//       longest round trip and the longest gap between two answers; with
//       --answer it then answers the box with that button
//   probe.exe watch --out F --for MS --names a.exe,b.exe [--until FILE]
//       for MS, or until FILE exists, notes when each process of those names is first seen and
//       when it ends, and when each progress dialog is shown and gone, on
//       the stand-ins' journal clock (ms since 1970); one line per event.
//       It polls busily: for telling where time goes, not for the figures
//   probe.exe hold --out F --for MS
//       keeps a hidden window on the desktop for MS: without a window of
//       some program on it, Wine ends the desktop process after each run and
//       the next program pays for starting it again
#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

double Now()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

std::string ReadFileBytes(const char* path)
{
    std::string out;
    FILE* f = fopen(path, "rb");
    if (!f)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

void WriteLine(const char* path, const std::string& json)
{
    FILE* f = fopen(path, "wb");
    if (!f)
        return;
    fprintf(f, "%s\n", json.c_str());
    fclose(f);
}

std::string Num(double v)
{
    char buf[64];
    snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

std::string ClassOf(HWND hwnd)
{
    char buf[64];
    return GetClassNameA(hwnd, buf, sizeof buf) ? buf : "";
}

enum class Kind { AnyDialog, Progress, Box };

struct Search {
    DWORD pid;  // 0: any process but this one
    Kind kind;
    HWND found;
};

bool Matches(HWND hwnd, Kind kind)
{
    if (!IsWindowVisible(hwnd) || ClassOf(hwnd) != "#32770")
        return false;
    switch (kind) {
    case Kind::Progress: {
        HWND bar = GetDlgItem(hwnd, 1000);
        return bar && ClassOf(bar) == "msctls_progress32";
    }
    case Kind::Box:
        return GetDlgItem(hwnd, 0xFFFF) != NULL;
    default:
        return true;
    }
}

BOOL CALLBACK Look(HWND hwnd, LPARAM param)
{
    Search* s = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if ((s->pid ? pid != s->pid : pid == GetCurrentProcessId()) || !Matches(hwnd, s->kind))
        return TRUE;
    s->found = hwnd;
    return FALSE;
}

HWND Find(DWORD pid, Kind kind)
{
    Search s = {pid, kind, NULL};
    EnumWindows(Look, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

bool Start(const std::string& cmdline, PROCESS_INFORMATION& pi)
{
    std::vector<char> line(cmdline.begin(), cmdline.end());
    line.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    return CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi) != 0;
}

DWORD Finish(PROCESS_INFORMATION& pi, DWORD timeout)
{
    DWORD code = 259;
    if (WaitForSingleObject(pi.hProcess, timeout) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 255);
        WaitForSingleObject(pi.hProcess, 5000);
        code = 255;
    } else {
        GetExitCodeProcess(pi.hProcess, &code);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

int Run(const std::string& cmdline, const char* out, DWORD timeout)
{
    PROCESS_INFORMATION pi = {};
    const double began = Now();
    if (!Start(cmdline, pi)) {
        WriteLine(out, "{\"ev\":\"start_failed\",\"error\":" + std::to_string(GetLastError()) + "}");
        return 1;
    }
    const DWORD pid = pi.dwProcessId;
    const bool timedOut = WaitForSingleObject(pi.hProcess, timeout) != WAIT_OBJECT_0;
    const double ended = Now();
    const DWORD code = Finish(pi, 0);
    WriteLine(out, "{\"ev\":\"run\",\"pid\":" + std::to_string(pid) + ",\"ms\":" + Num(ended - began) +
                       ",\"code\":" + std::to_string(code) + ",\"timeout\":" + (timedOut ? "true" : "false") + "}");
    return 0;
}

int Startup(const std::string& cmdline, const char* out, int answer, DWORD timeout)
{
    PROCESS_INFORMATION pi = {};
    const double began = Now();
    if (!Start(cmdline, pi)) {
        WriteLine(out, "{\"ev\":\"start_failed\",\"error\":" + std::to_string(GetLastError()) + "}");
        return 1;
    }
    HWND box = NULL;
    double shown = 0;
    while (Now() - began < timeout) {
        box = Find(pi.dwProcessId, Kind::Box);
        if (box) {
            shown = Now();
            break;
        }
        if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0)
            break;
    }
    if (box)
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)GetDlgItem(box, answer));
    const DWORD code = Finish(pi, timeout);
    const double ended = Now();
    WriteLine(out, std::string("{\"ev\":\"startup\",\"box\":") + (box ? "true" : "false") +
                       ",\"box_ms\":" + Num(box ? shown - began : -1) + ",\"total_ms\":" + Num(ended - began) +
                       ",\"code\":" + std::to_string(code) + "}");
    return box ? 0 : 1;
}

int Ping(Kind kind, const char* out, double forMs, DWORD pauseMs, int answer, DWORD findTimeout)
{
    const double looking = Now();
    HWND target = NULL;
    while (!(target = Find(0, kind))) {
        if (Now() - looking > findTimeout) {
            WriteLine(out, "{\"ev\":\"ping\",\"found\":false}");
            return 1;
        }
        Sleep(1);
    }
    const double began = Now();
    double lastAnswer = 0, longestGap = 0, longestTrip = 0;
    long answered = 0, unanswered = 0, over5 = 0;
    std::vector<double> trips;
    bool gone = false;
    while (Now() - began < forMs) {
        DWORD_PTR result = 0;
        const double sent = Now();
        const LRESULT ok = SendMessageTimeoutA(target, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
        const double back = Now();
        if (!ok) {
            if (!IsWindow(target)) {
                gone = true;
                break;
            }
            ++unanswered;
            continue;
        }
        const double trip = back - sent;
        trips.push_back(trip);
        longestTrip = std::max(longestTrip, trip);
        if (trip > 5)
            ++over5;
        if (answered)
            longestGap = std::max(longestGap, back - lastAnswer);
        lastAnswer = back;
        ++answered;
        if (pauseMs)
            Sleep(pauseMs);
    }
    const double span = Now() - began;
    double median = 0;
    if (!trips.empty()) {
        std::nth_element(trips.begin(), trips.begin() + trips.size() / 2, trips.end());
        median = trips[trips.size() / 2];
    }
    if (answer && IsWindow(target))
        PostMessageA(target, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)GetDlgItem(target, answer));
    WriteLine(out, std::string("{\"ev\":\"ping\",\"found\":true,\"gone\":") + (gone ? "true" : "false") +
                       ",\"span_ms\":" + Num(span) + ",\"answered\":" + std::to_string(answered) +
                       ",\"unanswered\":" + std::to_string(unanswered) + ",\"over5\":" + std::to_string(over5) +
                       ",\"longest_gap_ms\":" + Num(longestGap) + ",\"longest_trip_ms\":" + Num(longestTrip) +
                       ",\"median_trip_ms\":" + Num(median) + "}");
    return 0;
}

// Milliseconds since 1970 with the fraction, the clock of the stand-ins' journal.
double EpochMs()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    return u.QuadPart / 10000.0 - 11644473600000.0;
}

int Watch(const char* out, double forMs, const std::string& names, const char* until)
{
    FILE* f = fopen(out, "wb");
    if (!f)
        return 1;
    struct Child {
        DWORD pid;
        std::string name;
        HANDLE handle;
        double seen;
    };
    std::vector<Child> open;
    std::vector<DWORD> known;
    HWND dialog = NULL;
    double shown = 0;
    const double began = Now();
    while (Now() - began < forMs && !(until && GetFileAttributesA(until) != INVALID_FILE_ATTRIBUTES)) {
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snap, &entry); more; more = Process32Next(snap, &entry)) {
            const std::string name = entry.szExeFile;
            if (("," + names + ",").find("," + name + ",") == std::string::npos ||
                std::find(known.begin(), known.end(), entry.th32ProcessID) != known.end())
                continue;
            known.push_back(entry.th32ProcessID);
            HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
            if (h)
                open.push_back({entry.th32ProcessID, name, h, EpochMs()});
        }
        CloseHandle(snap);
        HWND now = Find(0, Kind::Progress);
        if (now != dialog) {
            if (dialog)
                fprintf(f, "{\"ev\":\"dialog\",\"shown\":%.3f,\"gone\":%.3f}\n", shown, EpochMs());
            dialog = now;
            shown = EpochMs();
        }
        std::vector<HANDLE> handles;
        for (const Child& c : open)
            handles.push_back(c.handle);
        const DWORD got = handles.empty() ? (Sleep(1), WAIT_TIMEOUT)
                                          : WaitForMultipleObjects((DWORD)handles.size(), handles.data(), FALSE, 1);
        if (got < WAIT_OBJECT_0 + handles.size()) {
            Child c = open[got - WAIT_OBJECT_0];
            fprintf(f, "{\"ev\":\"child\",\"name\":\"%s\",\"pid\":%lu,\"seen\":%.3f,\"exit\":%.3f}\n",
                    c.name.c_str(), (unsigned long)c.pid, c.seen, EpochMs());
            CloseHandle(c.handle);
            open.erase(open.begin() + (got - WAIT_OBJECT_0));
        }
    }
    if (dialog)
        fprintf(f, "{\"ev\":\"dialog\",\"shown\":%.3f,\"gone\":null}\n", shown);
    fprintf(f, "{\"ev\":\"watched\"}\n");
    fclose(f);
    return 0;
}

int Hold(const char* out, double forMs)
{
    HWND hidden = CreateWindowExA(0, "STATIC", "bench keeper", WS_POPUP, 0, 0, 1, 1, NULL, NULL,
                                  GetModuleHandleA(NULL), NULL);
    WriteLine(out, std::string("{\"ev\":\"holding\",\"ok\":") + (hidden ? "true" : "false") + "}");
    const double began = Now();
    while (Now() - began < forMs) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(0, NULL, FALSE, 1000, QS_ALLINPUT);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "probe: run|startup|ping ...\n");
        return 2;
    }
    const std::string mode = argv[1];
    const char* cmdFile = NULL;
    const char* out = NULL;
    const char* until = NULL;
    DWORD timeout = 120000, pause = 1, findTimeout = 30000;
    int answer = 0;
    double forMs = 3000;
    Kind kind = Kind::Progress;
    std::string names;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        const char* val = argv[i + 1];
        if (opt == "--cmdfile") cmdFile = val;
        else if (opt == "--out") out = val;
        else if (opt == "--timeout") timeout = strtoul(val, NULL, 10);
        else if (opt == "--answer") answer = atoi(val);
        else if (opt == "--for") forMs = atof(val);
        else if (opt == "--pause") pause = strtoul(val, NULL, 10);
        else if (opt == "--find-timeout") findTimeout = strtoul(val, NULL, 10);
        else if (opt == "--names") names = val;
        else if (opt == "--until") until = val;
        else if (opt == "--kind") kind = strcmp(val, "box") == 0 ? Kind::Box : Kind::Progress;
        else {
            fprintf(stderr, "probe: unknown option %s\n", opt.c_str());
            return 2;
        }
    }
    if (!out)
        return 2;
    if (mode == "watch")
        return Watch(out, forMs, names, until);
    if (mode == "hold")
        return Hold(out, forMs);
    if (mode == "ping")
        return Ping(kind, out, forMs, pause, answer, findTimeout);
    if (!cmdFile)
        return 2;
    const std::string cmdline = ReadFileBytes(cmdFile);
    if (mode == "run")
        return Run(cmdline, out, timeout);
    if (mode == "startup")
        return Startup(cmdline, out, answer ? answer : IDNO, timeout);
    return 2;
}
