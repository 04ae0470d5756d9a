// One fake for every platform interface: a small machine with files,
// folders, registry keys and an IIS metabase. Each call that changes
// something or that a user could notice appends a readable line to `log`,
// so a test can assert the exact order of boxes, process starts, deletions,
// registry and COM calls, and full paths made. Other pure look-ups (last
// error, error texts, lead bytes, the program's name, shell folders) are not
// logged.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qvtest {

// Thrown by Runtime::Exit: past it, the real program would be gone.
struct ProgramExit {
    int status;
};

// Windows compares paths and key names without regard to letter case.
struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const;
};
using PathSet = std::set<std::string, NoCase>;
template <typename T>
using PathMap = std::map<std::string, T, NoCase>;

std::string Utf8(const std::u16string& text);
std::u16string Utf16(const std::string& text);

class FakeDialogWindow : public qv::DialogWindow {
public:
    explicit FakeDialogWindow(std::vector<std::string>& log) : log_(log) {}
    void SetTitle(const std::string& title) override { log_.push_back("title " + title); }
    void Minimize() override { log_.push_back("minimize"); }
    void SetProgressRange(int low, int high) override { Log("range ", low, "..", high); }
    void SetProgressStep(int step) override { Log("step ", step); }
    void StepProgress() override { log_.push_back("stepit"); }
    void SetProgressPos(int position) override { Log("pos ", position); }
    void StartTimer(unsigned id, unsigned milliseconds) override {
        Log("timer ", id, " ", milliseconds);
        timerRunning = true;
    }
    void StopTimer(unsigned id) override {
        Log("killtimer ", id);
        timerRunning = false;
    }
    void End(int value) override {
        Log("end ", value);
        ended = true;
        result = value;
    }

    bool ended = false, timerRunning = false;
    int result = 0;

private:
    void Log(const char* what, long long a, const char* between = "", long long b = -1) {
        log_.push_back(what + std::to_string(a) + (b < 0 ? "" : between + std::to_string(b)));
    }
    std::vector<std::string>& log_;
};

class FakeMetabase;

class FakePlatform : public qv::MessageBoxes,
                     public qv::FileSystem,
                     public qv::Processes,
                     public qv::Registry,
                     public qv::Errors,
                     public qv::CodePage,
                     public qv::SystemInfo,
                     public qv::Com,
                     public qv::Runtime,
                     public qv::DialogHost {
public:
    FakePlatform();
    ~FakePlatform() override;

    qv::Platform platform{*this, *this, *this, *this, *this, *this, *this, *this, *this, *this};
    std::vector<std::string> log;

    // --- The machine ---
    PathMap<std::string> files;     // path -> raw bytes
    PathSet directories;            // folders that exist
    std::string currentDirectory = "C:\\work";
    // Files and folders named without a drive, or relatively, are found
    // against the current directory, as the system finds them; when false,
    // such a name is a file or folder of its own.
    bool readsAgainstCurrentDirectory = false;
    PathMap<int> shellFailures;     // path -> SHFileOperationA's result for it
    PathSet lockedFiles;            // held open by another program: they can't be written
    PathSet unreadableFiles;        // there, but they can't be opened for reading
    PathSet refused;                // paths and keys the caller may not look at: access denied
    PathMap<long> readErrorAfter;   // path -> bytes read before a read error
    PathMap<long> writeErrorAfter;  // path -> bytes written before a write error
    std::size_t chunkSize = 7;      // small, so CR and LF can fall in different reads
    PathMap<PathMap<std::string>> keys;  // registry key -> value name -> bytes
    std::unique_ptr<FakeMetabase> metabase;  // the IIS Admin Base Object, when it is registered

    std::string moduleFileName = "C:\\app\\QvUnInstall.exe";
    std::string computerName = "QVTEST";
    std::string commandLine = "QvUnInstall.exe";
    unsigned long ticks = 1000, tickStep = 0;
    qv::SystemTime systemTime{2026, 12, 9, 8, 30, 5};
    PathMap<unsigned long> fileAttributes;  // read-only, hidden, system files and folders; others are plain
    std::string windowsDirectory = "C:\\WINDOWS";
    std::string systemWindowsDirectory;       // empty: the same as windowsDirectory
    bool windowsDirectoryLengthFails = false, windowsDirectoryReadFails = false;
    unsigned long platformId = qv::kPlatformWin32Nt;
    std::map<int, std::string> shellFolders;  // CSIDL -> path
    std::string profilesDirectory;            // empty: the system has none
    std::map<std::string, std::string> environment;
    PathMap<std::string> shortNames;          // long path -> 8.3 form
    // Other names of a folder, each reaching the folder it maps to: a second
    // drive letter (X:\ for C:\ as subst makes it), a share, a junction.
    PathMap<std::string> otherNames;
    bool lacksLongPathNames = false;          // a system without GetLongPathNameA
    bool lacksFinalPathNames = false;         // a system without GetFinalPathNameByHandleA
    bool lacksFileIdentities = false;         // Windows 95: no folder can be opened to ask what it is
    std::set<char> remoteDrives;              // drive letters (upper case) of network drives
    std::set<char> missingDrives;             // drive letters (upper case) this session lacks: nothing on them is found
    // What MoveFileA says when the new name is taken: NT's own file systems
    // say ERROR_ALREADY_EXISTS; a redirector passing on a server's DOS error says ERROR_FILE_EXISTS (80).
    unsigned long nameTakenError = qv::kErrorAlreadyExists;
    std::set<unsigned long> codesWithoutText;  // FormatMessage gives nothing for these
    bool textsEndInBlankAndCrLf = false;       // as some of the system's own texts do
    std::set<unsigned long> codesWithInserts;  // their text can only be had with its inserts left

    // --- Script ---
    std::deque<int> boxAnswers;                        // for Yes/No boxes, then IDNO; other boxes get IDOK
    std::function<void(FakePlatform&)> whileAsking;    // what changes on the machine while a question waits
    std::map<std::string, unsigned long> startErrors;  // command-line prefix -> error of the failed start
    std::map<std::string, int> runningWaits;           // command-line prefix -> waits the child outlives
    std::map<std::string, unsigned long> exitCodes;    // command-line prefix -> the child's exit code
    std::set<int> failingExitReads;                    // 1-based numbers of GetExitCodeProcess calls that fail
    std::map<int, int> escapeAfterTicks;               // 1-based dialog number -> ticks before Escape
    int ticksWhileBoxUp = 0;  // timer ticks a box's own message loop lets through to a running dialog
    std::function<bool(unsigned char)> leadByte = [](unsigned char) { return false; };

    // Fault injection: every platform call counts; the one numbered
    // `failCall` fails as the real call would, logged as "FAIL <call>".
    int calls = 0, failCall = 0;
    std::string failed;  // the call that was made to fail
    bool Inject(const std::string& call);

    // Called when the logic uses a call against its contract (a test fails;
    // a fuzzer stops). By default it aborts.
    static std::function<void(const std::string&)> onBrokenContract;

    // The log lines of these kinds; a line's kind is its first word.
    std::vector<std::string> Only(const std::vector<std::string>& kinds) const;
    // Registry keys opened and not closed again.
    int OpenKeys() const { return static_cast<int>(openKeys_.size()); }
    void AddFile(const std::string& path, const std::string& bytes);  // its folders too
    void AddKey(const std::string& key);                              // its parents too
    void AddFolder(const std::string& name);  // the folder the name reaches, and those above it
    // A REG_DWORD: RegQueryValueExA, not asked the type, hands over its four bytes, low byte first.
    void AddDword(const std::string& key, const std::string& name, std::uint32_t value);

    // MessageBoxes
    int Show(const std::string& text, const std::string& title, unsigned style) override;
    int ShowWide(const std::u16string& text, const std::u16string& title, unsigned style) override;

    // FileSystem
    std::unique_ptr<qv::ByteSource> OpenForReading(const std::string& path) override;
    std::unique_ptr<qv::ByteSink> OpenForWriting(const std::string& path) override;
    bool DeleteFileA(const std::string& path) override;
    bool RemoveDirectoryA(const std::string& path) override;
    bool SetCurrentDirectoryA(const std::string& path) override;
    // Deletes the folder the path names: its full path, 8.3 names read as the long ones.
    int SHFileOperationA(qv::ShellFileOperation& request) override;
    unsigned long GetFileAttributesA(const std::string& path) override;
    unsigned long MoveFileA(const std::string& from, const std::string& to) override;
    // One identity for every name of a file or folder: its path once all names are resolved.
    bool GetFileIdentity(const std::string& path, qv::FileIdentity& identity) override;
    bool FindFirstFileA(const std::string& path, std::string& foundName) override;
    std::unique_ptr<qv::ByteSink> OpenForAppending(const std::string& path) override;
    // The path once every other name is resolved, as Windows gives it.
    bool GetFinalPathName(const std::string& path, std::string& finalPath) override;
    bool ListSubfolders(const std::string& folder, std::vector<std::string>& names) override;

    // Processes
    bool CreateProcessA(const std::string& commandLine, bool inheritHandles, unsigned long creationFlags,
                        const qv::StartupInfo& startup, qv::ProcessInfo& info) override;
    unsigned long WaitForSingleObject(qv::Handle process, unsigned long milliseconds) override;
    bool GetExitCodeProcess(qv::Handle process, unsigned long& exitCode) override;
    bool CloseHandle(qv::Handle handle) override;

    // Registry
    long OpenKey(const std::string& subKey, unsigned long access, qv::Handle& key) override;
    long CloseKey(qv::Handle key) override;
    long QueryValue(qv::Handle key, const std::string& name, char* data, unsigned long& size) override;
    long SetValue(qv::Handle key, const std::string& name, unsigned long type, const char* data,
                  unsigned long size) override;
    long DeleteKey(const std::string& subKey) override;

    // Errors, CodePage
    unsigned long GetLastError() override { return lastError; }
    void SetLastError(unsigned long code) override { lastError = code; }
    bool FormatMessageA(unsigned long flags, unsigned long messageId, unsigned long languageId,
                        std::string& text) override;
    bool FormatMessageW(unsigned long flags, unsigned long messageId, unsigned long languageId,
                        std::u16string& text) override;
    bool IsDBCSLeadByte(unsigned char byte) override { return leadByte(byte); }

    // SystemInfo
    std::string GetModuleFileNameA() override { return moduleFileName; }
    unsigned GetWindowsDirectoryA(char* buffer, unsigned size) override;
    bool GetVersionExA(qv::OsVersionInfo& info) override;
    bool SHGetFolderPathA(int csidl, std::string& path) override;
    bool GetProfilesDirectoryA(std::string& path) override;
    bool GetEnvironmentVariableA(const std::string& name, std::string& value) override;
    bool GetShortPathNameA(const std::string& path, std::string& shortPath) override;
    bool GetComputerNameA(std::string& name) override;
    bool GetSystemWindowsDirectoryA(std::string& path) override;
    // Against `currentDirectory`, as Windows makes them (platform/FullPathModel).
    bool GetFullPathNameA(const std::string& path, std::string& fullPath) override;
    // The full path with 8.3 names read as the long ones; other names stay as spelt.
    bool GetLongPathNameA(const std::string& path, std::string& longPath) override;
    unsigned GetDriveTypeA(const std::string& rootPath) override;
    std::string GetCommandLineA() override { return commandLine; }
    unsigned long GetTickCount() override;  // `ticks`, then `tickStep` more at each call
    void GetSystemTime(qv::SystemTime& time) override { time = systemTime; }

    // Com, Runtime
    qv::HResult CoInitialize() override;
    void CoUninitialize() override;
    qv::HResult CoCreateInstance(const qv::Guid& clsid, unsigned long context, const qv::Guid& iid,
                          qv::Metabase*& object) override;
    [[noreturn]] void Exit(int status) override;

    // DialogHost
    int RunModal(int templateId, qv::DialogHandler& handler) override;

    unsigned long lastError = 0;

private:
    friend class FakeFile;
    friend class FakeSink;
    friend class FakeMetabase;
    void Log(std::string line) { log.push_back(std::move(line)); }
    static void Require(bool holds, const std::string& what);
    bool Exists(const std::string& path) const;
    // Where the file system looks for `path` (see readsAgainstCurrentDirectory).
    std::string At(const std::string& path) const;
    unsigned long Attributes(const std::string& path) const;
    // The error for a path that reaches nothing: "path not found" when a folder on the way is missing.
    unsigned long NotThere(const std::string& path) const;
    // The full path of `path`, trimmed, 8.3 names read as long ones; empty when none.
    std::string LongNamed(const std::string& path) const;
    // The same with every other name resolved: the file or folder it reaches.
    std::string Named(const std::string& path) const;

    qv::Handle nextHandle_ = 100;
    std::map<qv::Handle, int> running_;          // child -> waits it still outlives
    std::map<qv::Handle, unsigned long> exitCode_;
    std::map<qv::Handle, std::string> openKeys_;  // registry handle -> key
    int exitReads_ = 0, dialogs_ = 0, boxDepth_ = 0;
    qv::DialogHandler* handler_ = nullptr;  // the dialog whose modal loop runs now
    FakeDialogWindow* window_ = nullptr;
};

// The IIS Admin Base Object with one metabase behind it. Each call is logged
// as "mb <Call> <arguments> -> 0x<result>"; any call can be made to fail.
class FakeMetabase final : public qv::Metabase {
public:
    explicit FakeMetabase(FakePlatform& fake) : fake_(fake) {}

    struct Data {
        unsigned long attributes = 1, userType = 1, dataType = 2;
        std::u16string text;  // string data, without its terminating zero
    };
    PathSet keys;                               // "/LM/W3SVC/Filters", ...
    std::map<std::pair<std::string, unsigned long>, Data> data;  // (key, identifier) -> value
    std::map<std::string, qv::HResult> failures;  // call name -> HRESULT it fails with
    qv::HResult createResult = 0;               // CoCreateInstance's result
    int references = 0;                         // held by the program
    int openHandles() const { return static_cast<int>(handles_.size()); }

    unsigned long Release() override;
    qv::HResult DeleteKey(qv::MetadataHandle handle, const std::u16string& path) override;
    qv::HResult SetData(qv::MetadataHandle handle, const std::u16string& path, qv::MetadataRecord& record) override;
    qv::HResult GetData(qv::MetadataHandle handle, const std::u16string& path, qv::MetadataRecord& record,
                 unsigned long& requiredLength) override;
    qv::HResult OpenKey(qv::MetadataHandle handle, const std::u16string& path, unsigned long access, unsigned long timeout,
                 qv::MetadataHandle& opened) override;
    qv::HResult CloseKey(qv::MetadataHandle handle) override;

private:
    qv::HResult Result(const std::string& call, const std::string& arguments, qv::HResult ok);
    std::string Join(qv::MetadataHandle handle, const std::u16string& path) const;

    FakePlatform& fake_;
    std::map<qv::MetadataHandle, std::string> handles_;
    qv::MetadataHandle nextHandle_ = 1;
};

}  // namespace qvtest
