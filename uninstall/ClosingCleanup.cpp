#include "uninstall/ClosingCleanup.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runner/ShowLastError.h"
#include "uninstall/Commands.h"
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
        RemoveInstallDirectory();
        RestartWebServers();
        if (!RemoveFamily()) return 0;
        ReportOutcome();
        return 1;
    }

private:
    // Stage 1. A directory that can't be entered counts as removed already;
    // one that is kept stays the current directory.
    void RemoveInstallDirectory() {
        const std::string& dir = state_.installDir;
        if (dir.empty() || !platform_.files.SetCurrentDirectoryA(dir) || silent_) return;
        if (Ask("Setup has detected that the directory of " + dir +
                " has not been removed . \nDo you want to remove this entire directory?\n\n"
                "Warning: your files under this directory will be removed if you choose YES.") != kIdYes)
            return;
        deleteRequest_.fFlags = kFofNoConfirmation | kFofAllowUndo;
        Name(dir, kInstallDirBuffer);
        platform_.files.SetCurrentDirectoryA("c:\\");  // a folder can't go while it is current
        if (platform_.files.SHFileOperationA(deleteRequest_) != 0) CannotRemove(dir);
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
        const std::string root = InstallRoot(listPath_, platform_.codePage);
        const std::vector<std::string> startMenus = StartMenuFolders(windows, PlatformId());
        if (startMenus.empty()) return false;
        for (const std::string& folder : startMenus) RemoveStartMenuFolder(folder);

        // Judged by the folder the root names; asked and deleted by its own text.
        if (!MayOfferInstallRoot(root, windows, platform_)) return true;
        Name(root);
        if (silent_ || Ask("Setup has detected that you have uninstalled all Quorvan products. \n"
                           "Do you want to remove " + root + " completely?") != kIdYes)
            return true;
        deleteRequest_.fFlags = kFofNoConfirmation | kFofAllowUndo | kFofNoErrorUi;
        if (platform_.files.SHFileOperationA(deleteRequest_) != 0) CannotRemove(root);
        return true;
    }

    // Stage 4: the InstallShield log outlives an uninstall that did not finish.
    void ReportOutcome() {
        if (std::unique_ptr<ByteSource> log = platform_.files.OpenForReading(state_.isuLogPath)) {
            if (!silent_) platform_.boxes.Show(kUninstallAborted, kOutcomeTitle, kOutcome);
            return;
        }
        if (!silent_) platform_.boxes.Show(kUninstallCompleted, kOutcomeTitle, kOutcome);
        platform_.files.DeleteFileA(listPath_);
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
