#include "app/UninstallApp.h"

#include "text/PathText.h"
#include "uninstall/FolderGuard.h"
#include "uninstall/UninstallList.h"

namespace qv {

namespace {
const char kConfirmText[] =
    "Are you sure you want to completely remove the selected application and all of its components?";

// A log kept in the list itself would feed the driver its own lines as it reads them.
bool IsTheList(Platform& platform, const std::string& logPath, const std::string& listPath) {
    if (listPath.empty()) return false;
    std::string log, list;
    if (platform.system.GetFullPathNameA(logPath, log) && platform.system.GetFullPathNameA(listPath, list) &&
        SamePath(log, list))
        return true;
    FileIdentity logFile, listFile;
    return platform.files.GetFileIdentity(logPath, logFile) && platform.files.GetFileIdentity(listPath, listFile) &&
           logFile == listFile;
}
}  // namespace

UninstallApp::UninstallApp(Platform& platform) : Application(platform), commandLine(platform) {}

bool UninstallApp::StartQuietly() {
    const bool quiet = verdict && AsksForQuiet(Arguments());
    if (quiet) verdict->BeQuiet();
    return quiet;
}

// A quiet run does nothing without the record it was asked for, nor without
// anything to do; else the verdict learns the list the run deletes when it
// completes, made full as the clean-up makes it.
bool UninstallApp::QuietStartRefused() {
    if (!commandLine.logPath.empty() && !(log && log->IsOpen())) {
        verdict->Refuse(kExitLogNotOpened, "the log " + commandLine.logPath +
                                               " cannot be opened, or holds something other than this program's log");
        return true;
    }
    if (commandLine.listPath.empty() && commandLine.deleteDirectory.empty()) {
        verdict->Refuse(kExitInvalidCommandLine, "the command line names no uninstall list (-p) and no directory (-d)");
        return true;
    }
    if (!commandLine.listPath.empty()) {
        const std::string full = FullPathNow(commandLine.listPath, platform_.system);
        verdict->Uninstalls(full.empty() ? commandLine.listPath : full);
    }
    return false;
}

bool UninstallApp::InitInstance() {
    // Three-dimensional dialog drawing is the system's own look today; nothing to switch on.
    const bool quiet = StartQuietly();
    ParseCommandLine(commandLine);
    // The log opens once the options are read, so it holds the usage boxes too.
    if (log && !commandLine.logPath.empty() && !IsTheList(platform_, commandLine.logPath, commandLine.listPath))
        log->Open(commandLine.logPath);
    if (log && !log->IsOpen()) log->Discard();
    if (commandLine.invalidOption) return false;
    if (quiet && QuietStartRefused()) return false;

    // -d comes first and asks nothing; only an empty directory can go.
    if (!commandLine.deleteDirectory.empty()) platform_.files.RemoveDirectoryA(commandLine.deleteDirectory);

    listPath = commandLine.listPath;
    if (listPath.empty()) return false;

    if (commandLine.silent) return RunUninstallList(listPath, true) != 0;

    if (platform_.boxes.Show(kConfirmText, "Confirm File Deletion", kMbYesNo | kMbIconQuestion | kMbTaskModal) !=
        kIdYes)
        return false;
    return RunUninstallList(listPath, false) != 0;
}

int UninstallApp::RunUninstallList(const std::string& path, bool silent) {
    return qv::RunUninstallList(platform_, path, silent, observer);
}

}  // namespace qv
