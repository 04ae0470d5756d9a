// The progress dialog that runs one outside program: it starts the child,
// polls it on a timer while the bar moves, and closes when the child ends.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace qv {

constexpr int kRunDialogTemplate = 129;
constexpr unsigned kRunTimerId = 1;
constexpr unsigned kRunTimerPeriodMs = 120;
constexpr unsigned long kRunWaitMs = 10;
constexpr int kProgressEnd = 300;

class RunDialog : public DialogHandler {
public:
    // `parent` is the owner window; every caller gives none (0).
    RunDialog(Handle parent, const std::string& program, const std::string& arguments, const std::string& caption,
              Platform& platform);

    // Returns 1 when the child ended, 0 when its exit code could not be read,
    // the start's error code when it could not start, IDCANCEL or IDOK when
    // the user closed the dialog first.
    int DoModal();

    bool OnInitDialog(DialogWindow& window) override;
    void OnTimer(DialogWindow& window, unsigned timerId) override;

private:
    bool StartProcess(DialogWindow& window, const std::string& commandLine);
    void Tick(DialogWindow& window, unsigned timerId);
    bool IsInstallerCommand() const;

    Platform& platform_;
    std::string program;
    std::string arguments;
    std::string caption;
    ProcessInfo processInfo;
    bool inTick_ = false;
};

// Runs one command behind its progress dialog and returns when it is over.
void RunCommand(Platform& platform, const std::string& program, const std::string& arguments,
                const std::string& caption);

}  // namespace qv
