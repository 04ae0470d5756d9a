#include "runner/RunDialog.h"

#include "platform/Framework.h"
#include "runner/ShowLastError.h"

namespace qv {

namespace {
const char kInstallerMarker[] = "isuninst";
constexpr unsigned long kStartupInfoSize = 68;  // STARTUPINFOA on 32-bit Windows
}

RunDialog::RunDialog(Handle /*parent*/, const std::string& program, const std::string& arguments,
                     const std::string& caption, Platform& platform)
    : platform_(platform), program(program), arguments(arguments), caption(caption) {}

int RunDialog::DoModal() { return platform_.dialogs.RunModal(kRunDialogTemplate, *this); }

// The uninstaller shows its own window; the progress dialog keeps out of its way.
bool RunDialog::IsInstallerCommand() const { return program.find(kInstallerMarker) != std::string::npos; }

bool RunDialog::OnInitDialog(DialogWindow& window) {
    const std::string commandLine = program + " " + arguments;
    // A failed start has ended the dialog already; it closes before it is shown.
    StartProcess(window, commandLine);
    window.SetTitle(caption);
    if (IsInstallerCommand()) {
        window.Minimize();
    } else {
        window.SetProgressRange(0, kProgressEnd);
        window.SetProgressStep(1);
    }
    window.StartTimer(kRunTimerId, kRunTimerPeriodMs);
    return true;
}

bool RunDialog::StartProcess(DialogWindow& window, const std::string& commandLine) {
    const unsigned short show =
        commandLine.find(kInstallerMarker) != std::string::npos ? kSwShow : kSwShowMinNoActive;
    StartupInfo startup;
    startup.cb = kStartupInfoSize;
    startup.dwFlags = kStartfUseShowWindow;
    startup.wShowWindow = show;
    if (platform_.processes.CreateProcessA(commandLine, true, kRealtimePriorityClass, startup, processInfo))
        return true;

    const unsigned long error = platform_.errors.GetLastError();  // the code the box below shows
    ShowLastError(platform_);
    std::string text = "Cannot run " + commandLine;
    if (error == kErrorFileNotFound) text += ". File not found!";
    FrameworkMessageBox(platform_, text, kMbOk);
    window.End(static_cast<int>(error));
    return false;
}

// A box shown from here runs its own message loop while the timer goes on
// firing; a tick that came in then would show the box again and again and
// close the same handle twice. Such ticks are refused.
void RunDialog::OnTimer(DialogWindow& window, unsigned timerId) {
    if (inTick_) return;
    inTick_ = true;
    Tick(window, timerId);
    inTick_ = false;
}

void RunDialog::Tick(DialogWindow& window, unsigned /*timerId*/) {
    if (processInfo.process == 0) {
        window.StopTimer(kRunTimerId);
        window.End(0);
        platform_.runtime.Exit(0);
    }

    unsigned long exitCode = 0;
    if (platform_.processes.WaitForSingleObject(processInfo.process, kRunWaitMs) != kWaitObject0) {
        if (IsInstallerCommand())
            window.Minimize();
        else
            window.StepProgress();
        if (!platform_.processes.GetExitCodeProcess(processInfo.process, exitCode)) {
            ShowLastError(platform_);
            window.End(0);
        }
        return;
    }

    const bool read = platform_.processes.GetExitCodeProcess(processInfo.process, exitCode);
    if (!read) ShowLastError(platform_);
    window.SetProgressPos(kProgressEnd);
    platform_.processes.CloseHandle(processInfo.process);
    window.End(read ? 1 : 0);
}

void RunCommand(Platform& platform, const std::string& program, const std::string& arguments,
                const std::string& caption) {
    RunDialog dialog(0, program, arguments, caption, platform);
    dialog.DoModal();
}

}  // namespace qv
