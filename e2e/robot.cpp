// robot.exe: drives QvUnInstall.exe inside the Wine prefix the way a user
// would, and writes what it sees as JSON lines (one event per line).
//
//   robot.exe --cmdfile F --out F [--cwd D] [--answers YNY] [--answer-delay MS]
//             [--escape-after MS [--end-with escape|enter|close]] [--restore-after MS]
//             [--timeout MS]
//   robot.exe --errtext CODE [--wide 1] --out F
//   robot.exe --shortname PATH --out F
//   robot.exe --hold FILE [--share r|rw|none] --out F [--timeout MS]
//
// The command line of the exe is read from --cmdfile byte for byte, so the
// cases control its quoting exactly.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "jsonline.h"

static FILE* transcript;
static std::string answers;
static size_t nextAnswer;
static DWORD answerDelay;
static DWORD escapeAfter;
static bool escapeWanted;
static std::string endWith = "escape";  // how the user ends a progress dialog's wait
static DWORD restoreAfter;
static bool restoreWanted;

// One JSON object built field by field.
struct Event {
    std::string body;
    explicit Event(const char* kind) { body = "{\"ev\":" + Quote(kind) + ",\"t\":" + std::to_string(NowMs()); }
    Event& Str(const char* k, const std::string& v) { body += std::string(",\"") + k + "\":" + Quote(v); return *this; }
    Event& Num(const char* k, long long v) { body += std::string(",\"") + k + "\":" + std::to_string(v); return *this; }
    Event& Bool(const char* k, bool v) { body += std::string(",\"") + k + "\":" + (v ? "true" : "false"); return *this; }
    Event& Raw(const char* k, const std::string& v) { body += std::string(",\"") + k + "\":" + v; return *this; }
    void Write()
    {
        fprintf(transcript, "%s}\n", body.c_str());
        fflush(transcript);
    }
};

static std::string WindowText(HWND hwnd)
{
    char buf[4096];
    buf[0] = 0;
    // Another process's window: WM_GETTEXT is marshalled, GetWindowText would
    // only return the caption for our own windows on some systems.
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof buf, (LPARAM)buf, SMTO_ABORTIFHUNG, 2000, NULL);
    buf[sizeof buf - 1] = 0;
    return buf;
}

static std::string ClassOf(HWND hwnd)
{
    char buf[256];
    if (!GetClassNameA(hwnd, buf, sizeof buf))
        return "";
    return buf;
}

// ---- icon recognition -------------------------------------------------
// Icon handles mean nothing across processes, so the box's icon area is
// read back from the screen and compared with the standard icons as this
// process draws them. Only pixels that the icon covers (same on a black and
// on a white background) take part.

struct Reference {
    const char* name;
    LPCSTR id;
};
static const Reference references[] = {
    { "error", IDI_HAND },
    { "question", IDI_QUESTION },
    { "exclamation", IDI_EXCLAMATION },
    { "information", IDI_ASTERISK },
};

// A w x h 32-bit top-down bitmap in a memory DC, whose pixels can be read.
struct PixelCanvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    void* bits = NULL;
    int count;

    PixelCanvas(int w, int h) : dc(CreateCompatibleDC(NULL)), count(w * h)
    {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
        old = SelectObject(dc, bitmap);
    }
    ~PixelCanvas()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    std::vector<DWORD> Pixels()
    {
        GdiFlush();
        return std::vector<DWORD>((DWORD*)bits, (DWORD*)bits + count);
    }
};

static bool Grab(HDC src, int x, int y, int w, int h, std::vector<DWORD>& px)
{
    PixelCanvas canvas(w, h);
    bool ok = BitBlt(canvas.dc, 0, 0, w, h, src, x, y, SRCCOPY) != 0;
    px = canvas.Pixels();
    return ok;
}

static void DrawReference(LPCSTR id, int w, int h, DWORD background, std::vector<DWORD>& px)
{
    PixelCanvas canvas(w, h);
    HBRUSH brush = CreateSolidBrush(background);
    RECT r = { 0, 0, w, h };
    FillRect(canvas.dc, &r, brush);
    DeleteObject(brush);
    DrawIconEx(canvas.dc, 0, 0, LoadIconA(NULL, id), w, h, 0, NULL, DI_NORMAL);
    px = canvas.Pixels();
}

static std::string RecogniseIcon(HWND box)
{
    // Wine and Windows both put the message box icon in static control 0x440.
    HWND ctl = GetDlgItem(box, 0x440);
    if (!ctl || !IsWindowVisible(ctl))
        return "none";
    // Without an icon Wine leaves the control visible under the text; the
    // handle's value is only good for telling whether there is one.
    DWORD_PTR icon = 0;
    SendMessageTimeoutA(ctl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 1000, &icon);
    if (!icon)
        return "none";
    RECT r;
    GetWindowRect(ctl, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > 128 || h > 128)
        return "none";
    std::vector<DWORD> shot;
    HDC screen = GetDC(NULL);
    bool ok = Grab(screen, r.left, r.top, w, h, shot);
    ReleaseDC(NULL, screen);
    if (!ok)
        return "present";
    // A control with nothing drawn in it is one flat colour.
    bool flat = true;
    for (DWORD p : shot)
        if ((p & 0xffffff) != (shot[0] & 0xffffff)) { flat = false; break; }
    if (flat)
        return "none";
    const char* best = NULL;
    double bestScore = 0;
    for (const Reference& ref : references) {
        std::vector<DWORD> onBlack, onWhite;
        DrawReference(ref.id, w, h, RGB(0, 0, 0), onBlack);
        DrawReference(ref.id, w, h, RGB(255, 255, 255), onWhite);
        int covered = 0, same = 0;
        for (size_t i = 0; i < shot.size(); ++i) {
            if ((onBlack[i] & 0xffffff) != (onWhite[i] & 0xffffff))
                continue;
            ++covered;
            if ((onBlack[i] & 0xffffff) == (shot[i] & 0xffffff))
                ++same;
        }
        double score = covered ? (double)same / covered : 0;
        if (score > bestScore) {
            bestScore = score;
            best = ref.name;
        }
    }
    return best && bestScore > 0.9 ? best : "present";
}

// ---- the windows of the exe --------------------------------------------

struct Tracked {
    HWND hwnd;
    int number;            // order of appearance, from 1
    enum Kind { Box, Progress, Other } kind;
    DWORD firstSeen;       // GetTickCount when first seen visible
    bool recorded;
    DWORD recordedAt;
    bool answered;
    bool escaped;
    bool restored;
    DWORD lastSample;
    int answerId;
    bool gone;
};

static std::vector<Tracked> tracked;
static std::vector<HWND> found;
static DWORD targetPid;

static BOOL CALLBACK Collect(HWND hwnd, LPARAM)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == targetPid && IsWindowVisible(hwnd))
        found.push_back(hwnd);
    return TRUE;
}

static BOOL CALLBACK CollectButton(HWND child, LPARAM param)
{
    std::vector<HWND>* buttons = (std::vector<HWND>*)param;
    if (ClassOf(child) == "Button" && IsWindowVisible(child))
        buttons->push_back(child);
    return TRUE;
}

static Tracked::Kind Classify(HWND hwnd)
{
    if (ClassOf(hwnd) != "#32770")
        return Tracked::Other;
    HWND bar = GetDlgItem(hwnd, 1000);
    if (bar && ClassOf(bar) == "msctls_progress32")
        return Tracked::Progress;
    if (GetDlgItem(hwnd, 0xFFFF))
        return Tracked::Box;
    return Tracked::Other;
}

// Screen rectangle, for cropping screenshots to the window.
static std::string RectOf(HWND hwnd)
{
    RECT r = {};
    GetWindowRect(hwnd, &r);
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + "]";
}

static void RecordBox(Tracked& t)
{
    HWND hwnd = t.hwnd;
    std::vector<HWND> buttons;
    EnumChildWindows(hwnd, CollectButton, (LPARAM)&buttons);
    std::string list = "[";
    bool hasYes = false, hasNo = false, hasOk = false;
    for (size_t i = 0; i < buttons.size(); ++i) {
        int id = GetDlgCtrlID(buttons[i]);
        hasYes |= id == IDYES;
        hasNo |= id == IDNO;
        hasOk |= id == IDOK;
        if (i)
            list += ",";
        list += "{\"id\":" + std::to_string(id) + ",\"text\":" + Quote(WindowText(buttons[i])) + "}";
    }
    list += "]";

    const char* answer;
    if (hasYes && hasNo) {
        bool yes = nextAnswer < answers.size() && (answers[nextAnswer] == 'Y' || answers[nextAnswer] == 'y');
        ++nextAnswer;
        t.answerId = yes ? IDYES : IDNO;
        answer = yes ? "yes" : "no";
    } else if (hasOk) {
        t.answerId = IDOK;
        answer = "ok";
    } else {
        t.answerId = IDCANCEL;
        answer = "cancel";
    }
    Event("box")
        .Num("n", t.number)
        .Str("title", WindowText(hwnd))
        .Str("text", WindowText(GetDlgItem(hwnd, 0xFFFF)))
        .Raw("buttons", list)
        .Str("icon", RecogniseIcon(hwnd))
        .Str("answer", answer)
        .Raw("rect", RectOf(hwnd))
        .Write();
}

static void Sample(Tracked& t)
{
    HWND bar = GetDlgItem(t.hwnd, 1000);
    DWORD_PTR lo = 0, hi = 0, pos = 0;
    SendMessageTimeoutA(bar, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 1000, &lo);
    SendMessageTimeoutA(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 1000, &hi);
    SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &pos);
    LONG ex = GetWindowLongA(t.hwnd, GWL_EXSTYLE);
    std::string caption = WindowText(t.hwnd);
    // The dialog may have closed while it was being read; such a look says nothing.
    if (!IsWindow(t.hwnd))
        return;
    Event("sample")
        .Num("dlg", t.number)
        .Str("caption", caption)
        .Bool("iconic", IsIconic(t.hwnd) != 0)
        .Bool("topmost", (ex & WS_EX_TOPMOST) != 0)
        .Num("lo", (int)lo)
        .Num("hi", (int)hi)
        .Num("pos", (int)pos)
        .Raw("rect", RectOf(t.hwnd))
        .Write();
}

static void Scan()
{
    found.clear();
    EnumWindows(Collect, 0);
    DWORD now = GetTickCount();
    for (HWND hwnd : found) {
        bool known = false;
        for (Tracked& t : tracked)
            if (t.hwnd == hwnd && !t.gone)
                known = true;
        if (known)
            continue;
        Tracked t = {};
        t.hwnd = hwnd;
        t.number = (int)tracked.size() + 1;
        t.kind = Classify(hwnd);
        t.firstSeen = now;
        tracked.push_back(t);
    }
    for (Tracked& t : tracked) {
        if (t.gone)
            continue;
        if (!IsWindow(t.hwnd) || !IsWindowVisible(t.hwnd)) {
            t.gone = true;
            if (t.kind == Tracked::Progress)
                Event("dialog_closed").Num("dlg", t.number).Write();
            continue;
        }
        switch (t.kind) {
        case Tracked::Box:
            // Give the box time to paint before its icon is read.
            if (!t.recorded && now - t.firstSeen >= 150) {
                RecordBox(t);
                t.recorded = true;
                t.recordedAt = GetTickCount();
            }
            if (t.recorded && !t.answered && GetTickCount() - t.recordedAt >= answerDelay) {
                HWND button = GetDlgItem(t.hwnd, t.answerId);
                PostMessageA(t.hwnd, WM_COMMAND, MAKEWPARAM(t.answerId, BN_CLICKED), (LPARAM)button);
                t.answered = true;
            }
            break;
        case Tracked::Progress:
            if (!t.recorded) {
                Event("dialog").Num("dlg", t.number).Str("caption", WindowText(t.hwnd)).Write();
                t.recorded = true;
            }
            if (now - t.lastSample >= 100) {
                Sample(t);
                t.lastSample = now;
            }
            if (escapeWanted && !t.escaped && now - t.firstSeen >= escapeAfter) {
                if (endWith == "close") {
                    PostMessageA(t.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
                } else {
                    WPARAM key = endWith == "enter" ? VK_RETURN : VK_ESCAPE;
                    PostMessageA(t.hwnd, WM_KEYDOWN, key, 0x00010001);
                    PostMessageA(t.hwnd, WM_KEYUP, key, 0xC0010001);
                }
                Event("escape").Num("dlg", t.number).Str("how", endWith).Write();
                t.escaped = true;
                escapeWanted = false;
            }
            // The user brings a minimised dialog back, once.
            if (restoreWanted && !t.restored && IsIconic(t.hwnd) && now - t.firstSeen >= restoreAfter) {
                PostMessageA(t.hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
                Event("restore").Num("dlg", t.number).Write();
                t.restored = true;
                restoreWanted = false;
            }
            break;
        case Tracked::Other:
            if (!t.recorded) {
                Event("window").Num("n", t.number).Str("class", ClassOf(t.hwnd)).Str("title", WindowText(t.hwnd)).Write();
                t.recorded = true;
            }
            break;
        }
    }
}

// Plays another program that keeps a file open: with no sharing the file
// can't be deleted, with read sharing it can be read but not written.
static int Hold(const char* path, const std::string& share, DWORD ms)
{
    DWORD mode = share == "r" ? FILE_SHARE_READ : share == "rw" ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, mode, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    Event("held").Str("path", path).Bool("ok", h != INVALID_HANDLE_VALUE).Num("error", GetLastError()).Write();
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    Sleep(ms);
    CloseHandle(h);
    return 0;
}

static std::string ReadFileBytes(const char* path)
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

int main(int argc, char** argv)
{
    const char* cmdFile = NULL;
    const char* outFile = NULL;
    const char* cwd = NULL;
    DWORD timeout = 60000;
    long errtext = -1;
    bool wantErrtext = false, wide = false;
    const char* hold = NULL;
    const char* shortName = NULL;
    std::string share = "none";
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string opt = argv[i];
        const char* val = argv[i + 1];
        if (opt == "--cmdfile") cmdFile = val;
        else if (opt == "--out") outFile = val;
        else if (opt == "--cwd") cwd = val;
        else if (opt == "--answers") answers = val;
        else if (opt == "--answer-delay") answerDelay = strtoul(val, NULL, 10);
        else if (opt == "--escape-after") { escapeAfter = strtoul(val, NULL, 10); escapeWanted = true; }
        else if (opt == "--end-with") endWith = val;
        else if (opt == "--restore-after") { restoreAfter = strtoul(val, NULL, 10); restoreWanted = true; }
        else if (opt == "--timeout") timeout = strtoul(val, NULL, 10);
        else if (opt == "--errtext") { errtext = (long)strtoul(val, NULL, 0); wantErrtext = true; }
        else if (opt == "--wide") wide = strcmp(val, "1") == 0;
        else if (opt == "--hold") hold = val;
        else if (opt == "--shortname") shortName = val;
        else if (opt == "--share") share = val;
        else {
            fprintf(stderr, "robot: unknown option %s\n", opt.c_str());
            return 2;
        }
    }
    // The system's own text for an error code, as the exe's error box should
    // show it: the ANSI text of the "Error" box, or with --wide the UTF-16
    // text of the "ERROR" box (shown here in the ANSI code page, as the
    // robot reads every box).
    if (wantErrtext && outFile) {
        transcript = fopen(outFile, "wb");
        std::string out;
        if (wide) {
            wchar_t* text = NULL;
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, NULL, (DWORD)errtext, 0x400,
                           (LPWSTR)&text, 0, NULL);
            if (text) {
                char buf[4096] = "";
                WideCharToMultiByte(CP_ACP, 0, text, -1, buf, sizeof buf, NULL, NULL);
                out = buf;
                LocalFree(text);
            }
        } else {
            char* text = NULL;
            FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           NULL, (DWORD)errtext, 0x400, (LPSTR)&text, 0, NULL);
            if (text) {
                out = text;
                LocalFree(text);
            }
        }
        if (transcript)
            Event("errtext").Num("code", (DWORD)errtext).Str("text", out).Write();
        return 0;
    }
    // The 8.3 name the system gives an existing path.
    if (shortName && outFile) {
        transcript = fopen(outFile, "wb");
        char buf[MAX_PATH] = "";
        DWORD n = GetShortPathNameA(shortName, buf, sizeof buf);
        if (transcript)
            Event("shortname").Str("path", shortName).Str("short", n && n < sizeof buf ? buf : "").Write();
        return 0;
    }
    if (hold && outFile) {
        transcript = fopen(outFile, "wb");
        return transcript ? Hold(hold, share, timeout) : 2;
    }
    if (!cmdFile || !outFile) {
        fprintf(stderr, "robot: --cmdfile and --out are needed\n");
        return 2;
    }
    transcript = fopen(outFile, "wb");
    if (!transcript) {
        fprintf(stderr, "robot: cannot write %s\n", outFile);
        return 2;
    }
    std::string cmdline = ReadFileBytes(cmdFile);
    Event("start").Str("cmdline", cmdline).Write();

    std::vector<char> buffer(cmdline.begin(), cmdline.end());
    buffer.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(NULL, buffer.data(), NULL, NULL, FALSE, 0, NULL, cwd, &si, &pi)) {
        Event("start_failed").Num("error", GetLastError()).Write();
        return 1;
    }
    targetPid = pi.dwProcessId;
    DWORD began = GetTickCount();
    for (;;) {
        DWORD scanStart = GetTickCount();
        Scan();
        // A slow look at the windows can miss a short-lived dialog; say so.
        if (GetTickCount() - scanStart > 300)
            Event("slow_scan").Num("ms", GetTickCount() - scanStart).Write();
        if (WaitForSingleObject(pi.hProcess, 15) == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - began > timeout) {
            Event("timeout").Write();
            TerminateProcess(pi.hProcess, 255);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    Event("exit").Num("code", (long long)code).Write();
    fclose(transcript);
    return 0;
}
