// The machine a preview runs the uninstaller on: the machine as it is now
// (an empty one, or the live one) read as it is, with what the run itself
// wrote or removed remembered so that its later reads see it. Every change
// succeeds, or fails as the machine as read makes it fail; nothing is
// changed. What the run does is named by the recorder above it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/ForwardingPlatform.h"
#include "uninstall/StepKind.h"

namespace qv::check {

// Thrown where the uninstaller would end the whole program.
struct PlannedExit {
    int status;
};

struct PlanningOptions {
    std::string listPath;  // the list path as the uninstaller is given it
    std::string listFile;  // where its bytes are read from
    std::deque<int> answers;  // IDYES or IDNO for each question in turn, then defaultAnswer
    int defaultAnswer = kIdYes;
    bool logStays = false;  // the InstallShield uninstaller leaves its log behind
    bool machine = false;   // the reading platform is the live machine: a program file not there is seen so
};

class SimulatedMachine : public ForwardingPlatform {
public:
    SimulatedMachine(Platform& reading, PlanningOptions options);
    ~SimulatedMachine() override;

    // The InstallShield logs the run took as removed.
    const std::set<std::string>& RemovedLogs() const { return removedLogs_; }
    // Why the last change that failed fails, said of the machine as read; then forgotten.
    std::string TakeFailure();
    // What the program just started is taken to do (the InstallShield
    // uninstaller removing its log), as steps; then forgotten.
    std::vector<Step> TakeAssumed();
    // Told the caption of each progress dialog, for the program it shows.
    std::function<void(const std::string&)> onCaption;

private:
    friend class SimulatedFile;
    friend class SimulatedWindow;

    // The full path the system makes of `path` against the run's current directory; empty when none.
    std::string Full(const std::string& path);
    // How the run's own writes and removals know a path, whatever its spelling against the current directory.
    std::string Where(const std::string& path);
    bool Gone(const std::string& where) const;  // `where` as Where gives it, or a key's "key:" name
    bool Removed(const std::string& path) { return Gone(Where(path)); }
    // Why creating the file must fail on the machine as read, with the error the call would give.
    std::string WriteFails(const std::string& path, unsigned long& error);
    bool Present(const std::string& path) { return GetFileAttributesA(path) != kInvalidFileAttributes; }

    int Show(const std::string& text, const std::string& title, unsigned style) override;
    int ShowWide(const std::u16string&, const std::u16string&, unsigned) override { return kIdOk; }

    // Reads see what the run wrote and miss what it removed.
    std::unique_ptr<ByteSource> OpenForReading(const std::string& path) override;
    unsigned long GetFileAttributesA(const std::string& path) override;
    // Changes are remembered, never made; entering a folder follows the run there.
    std::unique_ptr<ByteSink> OpenForWriting(const std::string& path) override;
    unsigned long MoveFileA(const std::string& from, const std::string& to) override;
    bool DeleteFileA(const std::string& path) override;
    bool RemoveDirectoryA(const std::string& path) override;
    int SHFileOperationA(ShellFileOperation& request) override;
    bool SetCurrentDirectoryA(const std::string& path) override;
    // What the run took away is not there to be named.
    bool GetFileIdentity(const std::string& path, FileIdentity& identity) override {
        return !Removed(path) && lower_.files.GetFileIdentity(path, identity);
    }
    bool FindFirstFileA(const std::string& path, std::string& foundName) override {
        return !Removed(path) && lower_.files.FindFirstFileA(path, foundName);
    }
    bool GetFinalPathName(const std::string& path, std::string& finalPath) override {
        return !Removed(path) && lower_.files.GetFinalPathName(path, finalPath);
    }
    bool GetLongPathNameA(const std::string& path, std::string& longPath) override {
        return !Removed(path) && lower_.system.GetLongPathNameA(path, longPath);
    }
    // Less what the run took away.
    bool ListSubfolders(const std::string& folder, std::vector<std::string>& names) override;
    // A preview keeps no log of its own.
    std::unique_ptr<ByteSink> OpenForAppending(const std::string&) override { return nullptr; }

    bool CreateProcessA(const std::string& commandLine, bool inheritHandles, unsigned long creationFlags,
                        const StartupInfo& startup, ProcessInfo& info) override;
    // A child of the run ends at once, and well.
    unsigned long WaitForSingleObject(Handle, unsigned long) override { return kWaitObject0; }
    bool GetExitCodeProcess(Handle, unsigned long& exitCode) override { return exitCode = 0, true; }
    bool CloseHandle(Handle) override { return true; }

    long OpenKey(const std::string& subKey, unsigned long access, Handle& key) override;
    long SetValue(Handle, const std::string&, unsigned long, const char*, unsigned long) override {
        return kErrorSuccess;
    }
    long DeleteKey(const std::string& subKey) override;

    unsigned long GetLastError() override { return lastError_ ? lastError_ : lower_.errors.GetLastError(); }
    void SetLastError(unsigned long code) override { lastError_ = code; }

    // Boxes that go through the framework are titled with the uninstaller's name, not ours.
    std::string GetModuleFileNameA() override { return "QvUnInstall.exe"; }

    HResult CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid, Metabase*& object) override;

    [[noreturn]] void Exit(int status) override;

    int RunModal(int templateId, DialogHandler& handler) override;

    PlanningOptions options_;
    std::map<std::string, std::string> written_;  // files the run wrote, by Where
    std::set<std::string> removed_;                // files and folders the run took away (by Where), and keys
    std::string startDirectory_;                   // the reading platform's, given back when the plan is made
    bool moved_ = false;                           // the run has entered a folder
    std::set<std::string> removedLogs_;
    std::vector<Step> assumed_;
    std::string failure_;
    unsigned long lastError_ = 0;  // of a call this machine answered with a failure
    Handle nextHandle_ = 0x1000;
};

}  // namespace qv::check
