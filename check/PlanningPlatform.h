// A platform that lets the uninstaller's own logic run without changing
// anything: calls that only read go to a reading platform (an empty machine,
// or the live one), every call that would change something is written down
// as a planned step and answered as a success, and what the run itself
// wrote or removed is remembered so that its later reads see it.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "check/Step.h"
#include "platform/Platform.h"

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
};

class PlanningPlatform : MessageBoxes,
                         FileSystem,
                         Processes,
                         Registry,
                         Errors,
                         SystemInfo,
                         Com,
                         Runtime,
                         DialogHost {
public:
    PlanningPlatform(Platform& reading, PlanningOptions options);
    ~PlanningPlatform() override;

    Platform& Get() { return platform_; }
    const std::vector<Step>& Steps() const { return steps_; }
    void SetPiece(int piece) { piece_ = piece; }
    // The InstallShield logs the run took as removed.
    const std::set<std::string>& RemovedLogs() const { return removedLogs_; }

private:
    friend class PlannedFile;
    friend class PlanningMetabase;
    friend class PlanningWindow;

    Step& Record(StepKind kind, std::string target, std::string detail = std::string(), int answer = 0,
                 unsigned style = 0);
    // A step whose target is a path, with the full path the run makes of it now.
    Step& RecordPath(StepKind kind, const std::string& path, std::string detail = std::string());
    // The full path the system makes of `path` against the run's current directory; empty when none.
    std::string Full(const std::string& path);
    // How the run's own writes and removals know a path, whatever its spelling against the current directory.
    std::string Where(const std::string& path);
    bool Gone(const std::string& where) const;  // `where` as Where gives it, or a key's "key:" name
    bool Removed(const std::string& path) { return Gone(Where(path)); }
    // Why creating the file must fail on the machine as read, with the error the call would give.
    std::string WriteFails(const std::string& path, unsigned long& error);
    bool Present(const std::string& path);

    int Show(const std::string& text, const std::string& title, unsigned style) override;
    int ShowWide(const std::u16string& text, const std::u16string& title, unsigned style) override;

    std::unique_ptr<ByteSource> OpenForReading(const std::string& path) override;
    std::unique_ptr<ByteSink> OpenForWriting(const std::string& path) override;
    bool DeleteFileA(const std::string& path) override;
    bool RemoveDirectoryA(const std::string& path) override;
    bool SetCurrentDirectoryA(const std::string& path) override;
    int SHFileOperationA(ShellFileOperation& request) override;
    unsigned long GetFileAttributesA(const std::string& path) override;
    unsigned long MoveFileA(const std::string& from, const std::string& to) override;
    // What the run took away is not there to be named.
    bool GetFileIdentity(const std::string& path, FileIdentity& identity) override {
        return !Removed(path) && reading_.files.GetFileIdentity(path, identity);
    }
    bool FindFirstFileA(const std::string& path, std::string& foundName) override {
        return !Removed(path) && reading_.files.FindFirstFileA(path, foundName);
    }
    bool GetFinalPathName(const std::string& path, std::string& finalPath) override {
        return !Removed(path) && reading_.files.GetFinalPathName(path, finalPath);
    }
    // Less what the run took away.
    bool ListSubfolders(const std::string& folder, std::vector<std::string>& names) override;
    // A preview keeps no log of its own.
    std::unique_ptr<ByteSink> OpenForAppending(const std::string&) override { return nullptr; }

    bool CreateProcessA(const std::string& commandLine, bool inheritHandles, unsigned long creationFlags,
                        const StartupInfo& startup, ProcessInfo& info) override;
    // A planned child ends at once, and well.
    unsigned long WaitForSingleObject(Handle, unsigned long) override { return kWaitObject0; }
    bool GetExitCodeProcess(Handle, unsigned long& exitCode) override { return exitCode = 0, true; }
    bool CloseHandle(Handle) override { return true; }

    long OpenKey(const std::string& subKey, unsigned long access, Handle& key) override;
    long CloseKey(Handle key) override;
    long QueryValue(Handle key, const std::string& name, char* data, unsigned long& size) override {
        return reading_.registry.QueryValue(key, name, data, size);
    }
    long SetValue(Handle key, const std::string& name, unsigned long type, const char* data,
                  unsigned long size) override;
    long DeleteKey(const std::string& subKey) override;

    unsigned long GetLastError() override { return lastError_ ? lastError_ : reading_.errors.GetLastError(); }
    void SetLastError(unsigned long code) override { lastError_ = code; }
    bool FormatMessageA(unsigned long flags, unsigned long id, unsigned long language, std::string& text) override {
        return reading_.errors.FormatMessageA(flags, id, language, text);
    }
    bool FormatMessageW(unsigned long flags, unsigned long id, unsigned long language, std::u16string& text) override {
        return reading_.errors.FormatMessageW(flags, id, language, text);
    }

    // Boxes that go through the framework are titled with the uninstaller's name, not ours.
    std::string GetModuleFileNameA() override { return "QvUnInstall.exe"; }
    unsigned GetWindowsDirectoryA(char* buffer, unsigned size) override {
        return reading_.system.GetWindowsDirectoryA(buffer, size);
    }
    bool GetVersionExA(OsVersionInfo& info) override { return reading_.system.GetVersionExA(info); }
    bool SHGetFolderPathA(int csidl, std::string& path) override {
        return reading_.system.SHGetFolderPathA(csidl, path);
    }
    bool GetProfilesDirectoryA(std::string& path) override { return reading_.system.GetProfilesDirectoryA(path); }
    bool GetEnvironmentVariableA(const std::string& name, std::string& value) override {
        return reading_.system.GetEnvironmentVariableA(name, value);
    }
    bool GetShortPathNameA(const std::string& path, std::string& shortPath) override {
        return reading_.system.GetShortPathNameA(path, shortPath);
    }
    bool GetComputerNameA(std::string& name) override { return reading_.system.GetComputerNameA(name); }
    bool GetSystemWindowsDirectoryA(std::string& path) override {
        return reading_.system.GetSystemWindowsDirectoryA(path);
    }
    bool GetFullPathNameA(const std::string& path, std::string& fullPath) override {
        return reading_.system.GetFullPathNameA(path, fullPath);
    }
    bool GetLongPathNameA(const std::string& path, std::string& longPath) override {
        return !Removed(path) && reading_.system.GetLongPathNameA(path, longPath);
    }
    unsigned GetDriveTypeA(const std::string& rootPath) override { return reading_.system.GetDriveTypeA(rootPath); }
    std::string GetCommandLineA() override { return reading_.system.GetCommandLineA(); }
    unsigned long GetTickCount() override { return reading_.system.GetTickCount(); }
    void GetSystemTime(SystemTime& time) override { reading_.system.GetSystemTime(time); }

    HResult CoInitialize() override { return reading_.com.CoInitialize(); }
    void CoUninitialize() override { reading_.com.CoUninitialize(); }
    HResult CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid, Metabase*& object) override;

    [[noreturn]] void Exit(int status) override;

    int RunModal(int templateId, DialogHandler& handler) override;

    Platform& reading_;
    PlanningOptions options_;
    Platform platform_;
    std::vector<Step> steps_;
    int piece_ = kPieceStartup;
    std::map<std::string, std::string> written_;  // files the run wrote, by Where
    std::set<std::string> removed_;                // files and folders the run took away (by Where), and keys
    std::string startDirectory_;                   // the reading platform's, given back when the plan is made
    bool moved_ = false;                           // the run has entered a folder
    std::set<std::string> removedLogs_;
    std::map<Handle, std::string> openKeys_;  // for naming the key a value is written to
    Handle nextHandle_ = 0x1000;
    unsigned long lastError_ = 0;  // of a call this platform answered with a failure
};

}  // namespace qv::check
