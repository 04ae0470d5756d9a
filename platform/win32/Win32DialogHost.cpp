// The modal dialog: a dialog box from the program's own template, whose
// messages go to a DialogHandler. The system's dialog manager turns Escape
// and the close box into IDCANCEL and Enter into IDOK.
#include <windows.h>
#include <commctrl.h>

#include "platform/win32/Win32Platform.h"

namespace qv::win32 {

namespace {

constexpr int kProgressControl = 1000;

class Win32DialogWindow : public DialogWindow {
public:
    explicit Win32DialogWindow(HWND hwnd) : hwnd_(hwnd) {}

    void SetTitle(const std::string& title) override { SetWindowTextA(hwnd_, title.c_str()); }
    void Minimize() override { ShowWindow(hwnd_, SW_MINIMIZE); }
    void SetProgressRange(int low, int high) override { Progress(PBM_SETRANGE, 0, MAKELPARAM(low, high)); }
    void SetProgressStep(int step) override { Progress(PBM_SETSTEP, step, 0); }
    void StepProgress() override { Progress(PBM_STEPIT, 0, 0); }
    void SetProgressPos(int position) override { Progress(PBM_SETPOS, position, 0); }
    void StartTimer(unsigned id, unsigned milliseconds) override { SetTimer(hwnd_, id, milliseconds, nullptr); }
    void StopTimer(unsigned id) override { KillTimer(hwnd_, id); }
    void End(int result) override {
        ended_ = true;
        EndDialog(hwnd_, result);
    }
    bool Ended() const { return ended_; }

private:
    void Progress(UINT message, WPARAM wParam, LPARAM lParam) {
        SendDlgItemMessageA(hwnd_, kProgressControl, message, wParam, lParam);
    }

    HWND hwnd_;
    bool ended_ = false;
};

struct DialogContext {
    DialogHandler* handler;
    Win32DialogWindow* window;
};

// What the framework does after the dialog's own initialisation: centre it
// unless it is already minimised, and keep a system-modal dialog on top.
void FinishInit(HWND hwnd) {
    const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    if (style & DS_SYSMODAL)
        SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (IsIconic(hwnd)) return;
    RECT dialog, screen;
    GetWindowRect(hwnd, &dialog);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &screen, 0);
    const int x = screen.left + ((screen.right - screen.left) - (dialog.right - dialog.left)) / 2;
    const int y = screen.top + ((screen.bottom - screen.top) - (dialog.bottom - dialog.top)) / 2;
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* context = reinterpret_cast<DialogContext*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        context = reinterpret_cast<DialogContext*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        Win32DialogWindow window(hwnd);
        context->window = &window;
        const BOOL result = context->handler->OnInitDialog(window) ? TRUE : FALSE;
        if (!window.Ended()) FinishInit(hwnd);
        context->window = nullptr;
        return result;
    }
    case WM_TIMER:
        if (context) {
            Win32DialogWindow window(hwnd);
            context->handler->OnTimer(window, static_cast<unsigned>(wParam));
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(hwnd, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(hwnd, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

int Win32DialogHost::RunModal(int templateId, DialogHandler& handler) {
    DialogContext context = {&handler, nullptr};
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr,
                                           DialogProc, reinterpret_cast<LPARAM>(&context));
    return static_cast<int>(result);
}

}  // namespace qv::win32
