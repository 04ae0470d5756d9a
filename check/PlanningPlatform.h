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

#include "platform/Platform.h"

namespace qv::check {

// One step the uninstaller would take that a user or the machine would see.
struct PlannedStep {
    std::string kind;    // box, run, delete-folder, remove-folder, delete-file, write-file, rename, rewrite-config,
                         // remove-log, set-value, delete-key, metabase-delete-key, metabase-set-data,
                         // current-directory, note, exit
    std::string target;  // the command line, path, key or box text
    std::string detail;  // caption, flags, title, value
    int answer = 0;      // the button a box was answered with
    unsigned style = 0;  // a box's style
    int piece = -1;      // the list piece being carried out; -1 before the list, -2 in the closing clean-up
    std::string value;   // the value a registry or metabase value is set to
    unsigned long identifier = 0;  // the metabase value's identifier
    std::string fails;   // why the machine as read makes this call fail; empty when it is taken to succeed
    std::string question;  // the question whose Yes this change needs
};

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
                         CodePage,
                         SystemInfo,
                         Com,
                         Runtime,
                         DialogHost {
public:
    PlanningPlatform(Platform& reading, PlanningOptions options);
    ~PlanningPlatform() override;

    Platform& Get() { return platform_; }
    const std::vector<PlannedStep>& Steps() const { return steps_; }
    void SetPiece(int piece) { piece_ = piece; }
    // The InstallShield logs the run took as removed.
    const std::set<std::string>& RemovedLogs() const { return removedLogs_; }

private:
    friend class PlannedFile;
    friend class PlanningMetabase;
    friend class PlanningWindow;

    PlannedStep& Record(std::string kind, std::string target, std::string detail = std::string(), int answer = 0,
                        unsigned style = 0);
    bool Removed(const std::string& path) const;
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
    bool GetFileIdentity(const std::string& path, FileIdentity& identity) override;
    bool FindFirstFileA(const std::string& path, std::string& foundName) override;
    // A preview keeps no log of its own.
    std::unique_ptr<ByteSink> OpenForAppending(const std::string&) override { return nullptr; }

    bool CreateProcessA(const std::string& commandLine, bool inheritHandles, unsigned long creationFlags,
                        const StartupInfo& startup, ProcessInfo& info) override;
    unsigned long WaitForSingleObject(Handle process, unsigned long milliseconds) override;
    bool GetExitCodeProcess(Handle process, unsigned long& exitCode) override;
    bool CloseHandle(Handle handle) override;

    long OpenKey(const std::string& subKey, unsigned long access, Handle& key) override;
    long CloseKey(Handle key) override;
    long QueryValue(Handle key, const std::string& name, char* data, unsigned long& size) override;
    long SetValue(Handle key, const std::string& name, unsigned long type, const char* data,
                  unsigned long size) override;
    long DeleteKey(const std::string& subKey) override;

    unsigned long GetLastError() override;
    void SetLastError(unsigned long code) override { lastError_ = code; }
    bool FormatMessageA(unsigned long flags, unsigned long messageId, unsigned long languageId,
                        std::string& text) override;
    bool FormatMessageW(unsigned long flags, unsigned long messageId, unsigned long languageId,
                        std::u16string& text) override;
    bool IsDBCSLeadByte(unsigned char byte) override;

    std::string GetModuleFileNameA() override;
    unsigned GetWindowsDirectoryA(char* buffer, unsigned size) override;
    bool GetVersionExA(OsVersionInfo& info) override;
    bool SHGetFolderPathA(int csidl, std::string& path) override;
    bool GetProfilesDirectoryA(std::string& path) override;
    bool GetEnvironmentVariableA(const std::string& name, std::string& value) override;
    bool GetShortPathNameA(const std::string& path, std::string& shortPath) override;
    bool GetComputerNameA(std::string& name) override;
    bool GetSystemWindowsDirectoryA(std::string& path) override;
    bool GetFullPathNameA(const std::string& path, std::string& fullPath) override;
    bool GetLongPathNameA(const std::string& path, std::string& longPath) override;
    unsigned GetDriveTypeA(const std::string& rootPath) override;
    std::string GetCommandLineA() override;
    unsigned long GetTickCount() override;
    void GetSystemTime(SystemTime& time) override;

    HResult CoInitialize() override;
    void CoUninitialize() override;
    HResult CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid, Metabase*& object) override;

    [[noreturn]] void Exit(int status) override;

    int RunModal(int templateId, DialogHandler& handler) override;

    Platform& reading_;
    PlanningOptions options_;
    Platform platform_;
    std::vector<PlannedStep> steps_;
    int piece_ = -1;
    std::map<std::string, std::string> written_;  // files the run wrote, by upper-cased path
    std::set<std::string> removed_;                // files, folders and keys the run took away, upper-cased
    std::set<std::string> removedLogs_;
    std::map<Handle, std::string> openKeys_;  // for naming the key a value is written to
    Handle nextHandle_ = 0x1000;
    unsigned long lastError_ = 0;  // of a call this platform answered with a failure
};

}  // namespace qv::check
