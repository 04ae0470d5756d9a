#include "uninstall/ClosingCleanup.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runner/ShowLastError.h"
#include "uninstall/Commands.h"
#include "uninstall/FolderGuard.h"
#include "uninstall/InstallRoot.h"

namespace qv {

const char kUninstallAborted[] = "Uninstall aborted.";
const char kUninstallCompleted[] = "You have completed uninstall.";

namespace {

const char kTitle[] = "Quorvan Uninstall Program";
const char kOutcomeTitle[] = "Information";
const unsigned kQuestion = kMbYesNo | kMbIconQuestion | kMbTaskModal;
const unsigned kOutcome = kMbOk | kMbIconInformation | kMbTaskModal;

const char kNtStartMenu[] = "\\Profiles\\All Users\\Start Menu\\Programs\\Quorvan";
const char kWindowsStartMenu[] = "\\start menu\\programs\\Quorvan";
const char kSuiteStartMenu[] = " Delvora Suite 4";

constexpr std::size_t kInstallDirBuffer = 1000;

}  // namespace

// One product of the family still installed keeps the family's keys, menus and root.
const char* const kProductKeys[9] = {
    "Software\\Quorvan\\Quorvan Admin Station",
    "Software\\Quorvan\\Quorvan User Station",
    "Software\\Quorvan\\Quorvan Design Studio",
    "Software\\Quorvan\\Quorvan Page Viewer",
    "Software\\Quorvan\\Quorvan Live Plug-in for Microsoft Internet Explorer",
    "Software\\Quorvan\\Quorvan Live Plug-in for Netscape Navigator",
    "Software\\Quorvan\\Quorvan Kit",
    "Software\\Quorvan\\Quorvan Document Server",
    "Software\\Quorvan\\Quorvan Web Gateway",
};
const char* const kFamilyKeys[2] = {"Software\\Quorvan\\DocumentServer", "Software\\Quorvan"};

std::vector<std::string> StartMenuFolders(const std::string& windows, unsigned long platformId) {
    const char* suffix = platformId == kPlatformWin32Nt        ? kNtStartMenu
                         : platformId == kPlatformWin32Windows ? kWindowsStartMenu
                                                               : nullptr;
    if (!suffix) return {};
    return {windows + suffix, windows + suffix + kSuiteStartMenu};
}

// A length call, then the read. A length of 0 stops the clean-up too:
// the start-menu paths would otherwise be taken from the current drive.
bool ReadWindowsDirectory(Platform& platform, std::string& windows) {
    const unsigned length = platform.system.GetWindowsDirectoryA(nullptr, 0);
    if (length == 0) return false;
    std::vector<char> buffer(length + 1, '\0');
    if (platform.system.GetWindowsDirectoryA(buffer.data(), length + 1) == 0) return false;
    windows.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
    return true;
}

namespace {

class ClosingCleanup {
public:
    ClosingCleanup(Platform& platform, CleanupState& state, const std::string& listPath, bool silent)
        : platform_(platform), state_(state), listPath_(listPath), silent_(silent) {
        deleteRequest_.hwnd = 0;
        deleteRequest_.wFunc = kFoDelete;
        deleteRequest_.pTo = nullptr;
        deleteRequest_.fFlags = kFofSilent | kFofNoConfirmation | kFofAllowUndo | kFofNoErrorUi;
        deleteRequest_.hNameMappings = 0;
        deleteRequest_.lpszProgressTitle = "Deleting folders";
    }

    int Run() {
        MakeFullWhereNamed();
        RemoveInstallDirectory();
        RestartWebServers();
        if (!RemoveFamily()) return 0;
        ReportOutcome();
        return 1;
    }

private:
    // The root, the list and the InstallShield log are named by the list
    // path and the list, against the folder the run started in: stage 1
    // changes the current folder before any of them is used.
    void MakeFullWhereNamed() {
        root_ = InstallRoot(listPath_, platform_.codePage);
        rootFull_ = FullPathNow(root_, platform_.system);
        listFull_ = FullPathNow(listPath_, platform_.system);
        if (listFull_.empty()) listFull_ = listPath_;
        isuLogFull_ = FullPathNow(state_.isuLogPath, platform_.system);
        if (isuLogFull_.empty()) isuLogFull_ = state_.isuLogPath;
    }

    // Stage 1. A directory that can't be entered counts as removed already;
    // one that is kept stays the current directory. It is judged, and
    // deleted, as the full path it has where the run stands as it enters it.
    void RemoveInstallDirectory() {
        const std::string& dir = state_.installDir;
        if (dir.empty()) return;
        const std::string full = FullPathNow(dir, platform_.system);
        if (!platform_.files.SetCurrentDirectoryA(dir) || silent_) return;
        const JudgedFolder folder = JudgeFolder(dir, full, std::string(), platform_);
        if (!folder.Offered()) return;
        if (Ask("Setup has detected that the directory of " + dir +
                " has not been removed . \nDo you want to remove this entire directory?\n\n"
                "Warning: your files under this directory will be removed if you choose YES.") != kIdYes)
            return;
        deleteRequest_.fFlags = kFofNoConfirmation | kFofAllowUndo;
        Name(folder.full, kInstallDirBuffer);
        platform_.files.SetCurrentDirectoryA("c:\\");  // a folder can't go while it is current
        Delete(folder, dir);
    }

    // Only while the path still reaches the folder that was judged: the
    // question may have waited for minutes.
    void Delete(const JudgedFolder& folder, const std::string& spelt) {
        if (!StillTheFolderJudged(folder, platform_.files) || platform_.files.SHFileOperationA(deleteRequest_) != 0)
            CannotRemove(spelt);
    }

    // Stage 2: the servers that the list's lines stopped.
    void RestartWebServers() {
        if (state_.netscapeService.size() > 2) RestartNetscape(platform_, state_);
        if (state_.iisVersion > 0) RestartIis(platform_, state_);
    }

    // Stage 3. False when the clean-up has to stop without an outcome.
    bool RemoveFamily() {
        for (const char* key : kProductKeys)
            if (ProductKeyExists(platform_, key) == kErrorSuccess) return true;
        for (const char* key : kFamilyKeys) platform_.registry.DeleteKey(key);

        std::string windows;
        if (!ReadWindowsDirectory(platform_, windows)) {
            ShowLastError(platform_);
            return false;
        }
        const std::vector<std::string> startMenus = StartMenuFolders(windows, PlatformId());
        if (startMenus.empty()) return false;
        for (const std::string& folder : startMenus) RemoveStartMenuFolder(folder);

        // Judged by the folder the root names; asked for by its own text, deleted by its full path.
        const JudgedFolder root = JudgeFolder(root_, rootFull_, windows, platform_);
        if (!root.Offered()) return true;
        Name(root.full);
        if (silent_ || Ask("Setup has detected that you have uninstalled all Quorvan products. \n"
                           "Do you want to remove " + root_ + " completely?") != kIdYes)
            return true;
        deleteRequest_.fFlags = kFofNoConfirmation | kFofAllowUndo | kFofNoErrorUi;
        Delete(root, root_);
        return true;
    }

    // Stage 4: the InstallShield log outlives an uninstall that did not finish.
    void ReportOutcome() {
        if (std::unique_ptr<ByteSource> log = platform_.files.OpenForReading(isuLogFull_)) {
            if (!silent_) platform_.boxes.Show(kUninstallAborted, kOutcomeTitle, kOutcome);
            return;
        }
        if (!silent_) platform_.boxes.Show(kUninstallCompleted, kOutcomeTitle, kOutcome);
        platform_.files.DeleteFileA(listFull_);
    }

    unsigned long PlatformId() {
        OsVersionInfo version;
        version.dwOSVersionInfoSize = kOsVersionInfoSize;
        platform_.system.GetVersionExA(version);
        return version.dwPlatformId;
    }

    // With the flags as stage 1 left them; nothing here is reported.
    void RemoveStartMenuFolder(const std::string& folder) {
        Name(folder);
        platform_.files.SHFileOperationA(deleteRequest_);
        platform_.files.RemoveDirectoryA(folder);
    }

    // The one path to delete, followed by two NUL bytes.
    void Name(const std::string& path, std::size_t bufferSize = 0) {
        from_.assign(std::max(bufferSize, path.size() + 2), '\0');
        std::memcpy(from_.data(), path.data(), path.size());
        deleteRequest_.pFrom = from_.data();
    }

    int Ask(const std::string& question) { return platform_.boxes.Show(question, kTitle, kQuestion); }

    void CannotRemove(const std::string& path) {
        platform_.boxes.Show("Cannot remove the directory of " + path + ".\nThe directory may be in use.\n", kTitle,
                             kMbOk);
    }

    Platform& platform_;
    CleanupState& state_;
    const std::string& listPath_;
    const bool silent_;
    std::string root_, rootFull_, listFull_, isuLogFull_;
    ShellFileOperation deleteRequest_;
    std::vector<char> from_;
};

}  // namespace

long ProductKeyExists(Platform& platform, const std::string& key) {
    Handle opened = 0;
    const long status = platform.registry.OpenKey(key, kKeyAllAccess, opened);
    if (status == kErrorSuccess) platform.registry.CloseKey(opened);
    return status;
}

int RunClosingCleanup(Platform& platform, CleanupState& state, const std::string& listPath, bool silent) {
    return ClosingCleanup(platform, state, listPath, silent).Run();
}

}  // namespace qv
