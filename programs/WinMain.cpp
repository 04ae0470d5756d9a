// The program's entry point: the one static application object, run by the
// framework's main routine with the arguments the C runtime split, over the
// recorder, which hands every event to the verdict a quiet run ends with and
// on to the run's log when -l asks for one.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/RunLog.h"
#include "app/RunVerdict.h"
#include "app/UninstallApp.h"
#include "platform/win32/Win32Platform.h"
#include "record/Recorder.h"

namespace {
qv::win32::Win32Platform thePlatform;
qv::RunLog theLog(thePlatform.Get());
qv::RunVerdict theVerdict(theLog);
qv::Recorder theRecorder(thePlatform.Get(), theVerdict);
qv::UninstallApp theApp(theRecorder.Get());
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    theLog.Start();
    // Outside programs are never looked for in the current directory: after
    // the clean-up enters the install directory, a planted net.exe there
    // would otherwise run with the uninstaller's rights.
    SetEnvironmentVariableA("NoDefaultCurrentDirectoryInExePath", "1");

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    theApp.log = &theLog;
    theApp.verdict = &theVerdict;
    theApp.observer = &theRecorder.Lines();
    std::vector<std::string> arguments(__argv, __argv + __argc);
    return theVerdict.Exiting(qv::RunApplication(theApp, std::move(arguments)), std::string());
}
