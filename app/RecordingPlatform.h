// The layer over the platform seam that a run with -l goes through: each
// call is made on the real platform, and what it showed, started or changed
// is written to the run's log in the plan's words, with how it went (done,
// or failed with the system's text). The driver tells it each list line and
// the row that claims it. Reads pass through unrecorded.
#pragma once

#include <map>
#include <string>

#include "app/RunLog.h"
#include "platform/Platform.h"
#include "uninstall/UninstallList.h"

namespace qv {

class RecordingPlatform : MessageBoxes,
                          FileSystem,
                          Processes,
                          Registry,
                          Com,
                          Runtime,
                          DialogHost {
public:
    RecordingPlatform(Platform& real, RunLog& log);
    ~RecordingPlatform() override;

    Platform& Get() { return platform_; }
    // What the driver tells of each list line, for the driver to be given.
    ListObserver& Lines() { return *lines_; }

    // A list line read, and the row that claims it.
    void LineRead(int row, const std::string& piece);
    void CleanupBegins();

private:
    friend class RecordedSink;
    friend class RecordingMetabase;

    // A change made: "<what>: done", or "<what>: failed: <the system's text>".
    void Change(const std::string& what, bool done, unsigned long error = 0);
    // The same for a call that leaves its error as the last error, which is kept for the logic to read.
    void ChangeKeepingLastError(const std::string& what, bool done);

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
    bool GetFinalPathName(const std::string& path, std::string& finalPath) override;
    bool ListSubfolders(const std::string& folder, std::vector<std::string>& names) override;
    std::unique_ptr<ByteSink> OpenForAppending(const std::string& path) override;

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

    HResult CoInitialize() override;
    void CoUninitialize() override;
    HResult CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid, Metabase*& object) override;

    [[noreturn]] void Exit(int status) override;

    int RunModal(int templateId, DialogHandler& handler) override;

    Platform& real_;
    RunLog& log_;
    Platform platform_;
    std::unique_ptr<ListObserver> lines_;
    int line_ = 1, piece_ = 1;  // of the list piece read next
    int row_ = 0;               // of the piece being carried out; 0 outside the list
    std::string configPath_;    // the obj.conf the piece names, when it is a Netscape configuration line
    std::map<Handle, std::string> keys_;  // open registry keys, for naming the values written in them
    struct Command {
        Handle process = 0;
        std::string commandLine;
        unsigned long started = 0;
        bool ended = false;
    } command_;  // the outside program the running dialog waits for
};

}  // namespace qv
