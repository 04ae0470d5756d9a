// The one seam between the uninstaller's logic and Windows. Everything the
// logic needs from the system goes through these small interfaces, one
// method per system call, taking the values the logic chose and giving back
// what the call gave. The real implementation lives in platform/win32, the
// fakes in tests/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv {

// Win32 values the logic passes through unchanged.
enum : unsigned {
    kMbOk = 0x0,
    kMbYesNo = 0x4,
    kMbIconHand = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconExclamation = 0x30,
    kMbIconInformation = 0x40,
    kMbIconMask = 0xF0,
    kMbTypeMask = 0x0F,
    kMbTaskModal = 0x2000,
};
enum : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };
enum : unsigned long {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorInvalidDrive = 15,
    kErrorSharingViolation = 32,
    kErrorFileExists = 80,
    kErrorAlreadyExists = 183,
    kErrorMoreData = 234,
};
enum : unsigned short { kSwShow = 5, kSwShowMinNoActive = 7 };
// "File not found" or "path not found": nothing is there.
constexpr bool IsNotFound(unsigned long error) { return error == kErrorFileNotFound || error == kErrorPathNotFound; }
enum : unsigned long { kWaitObject0 = 0, kWaitTimeout = 0x102 };

using Handle = std::uintptr_t;  // an opaque system handle; 0 is none

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // MessageBoxA with no owner window; returns the button pressed.
    virtual int Show(const std::string& text, const std::string& title, unsigned style) = 0;
    // MessageBoxW with no owner window.
    virtual int ShowWide(const std::u16string& text, const std::u16string& title, unsigned style) = 0;
};

// A file opened for reading raw bytes; closed when destroyed.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes; returns how many, 0 at the end, -1 on a read error.
    virtual long Read(char* buffer, std::size_t size) = 0;
};

// A file opened for writing raw bytes; closed when destroyed.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes all `size` bytes; false when they could not all be written.
    virtual bool Write(const char* data, std::size_t size) = 0;
    // Flushes and closes; false when what was written may not have reached the file.
    virtual bool Close() = 0;
};

// SHFILEOPSTRUCTA, field for field: the logic owns the record and its texts.
struct ShellFileOperation {
    Handle hwnd = 0;
    unsigned wFunc = 0;
    const char* pFrom = nullptr;  // paths, each NUL-terminated, the list ending in a second NUL
    const char* pTo = nullptr;
    unsigned short fFlags = 0;
    bool fAnyOperationsAborted = false;
    Handle hNameMappings = 0;
    const char* lpszProgressTitle = nullptr;
};
enum : unsigned { kFoDelete = 3 };
enum : unsigned long {
    kFileAttributeReadOnly = 0x1,
    kFileAttributeHidden = 0x2,
    kFileAttributeSystem = 0x4,
    kFileAttributeDirectory = 0x10,
    kFileAttributeNormal = 0x80,
    kInvalidFileAttributes = 0xFFFFFFFF,
};
// What BY_HANDLE_FILE_INFORMATION says a file or folder is: the same for
// every name that reaches it (an 8.3 name, another drive letter, a junction).
struct FileIdentity {
    unsigned long volumeSerialNumber = 0;
    unsigned long fileIndexHigh = 0;
    unsigned long fileIndexLow = 0;
    bool operator==(const FileIdentity& other) const {
        return volumeSerialNumber == other.volumeSerialNumber && fileIndexHigh == other.fileIndexHigh &&
               fileIndexLow == other.fileIndexLow;
    }
};
enum : unsigned { kDriveRemote = 4 };
// The shell's folder ids (CSIDL_*) the logic asks for.
enum : int {
    kCsidlCommonStartMenu = 0x16,
    kCsidlCommonPrograms = 0x17,
    kCsidlCommonDesktop = 0x19,
    kCsidlCommonAppData = 0x23,
    kCsidlWindows = 0x24,
    kCsidlSystem = 0x25,
    kCsidlProgramFiles = 0x26,
    kCsidlProfile = 0x28,  // the caller's own
    kCsidlSystemX86 = 0x29,
    kCsidlProgramFilesX86 = 0x2a,
    kCsidlProgramFilesCommon = 0x2b,
    kCsidlProgramFilesCommonX86 = 0x2c,
    kCsidlCommonDocuments = 0x2e,
};
enum : unsigned short {
    kFofSilent = 0x4,
    kFofNoConfirmation = 0x10,
    kFofAllowUndo = 0x40,
    kFofNoErrorUi = 0x400,
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // The file's bytes, or null when it cannot be opened for reading.
    virtual std::unique_ptr<ByteSource> OpenForReading(const std::string& path) = 0;
    // Creates the file or empties it; null (last error set) when it cannot.
    virtual std::unique_ptr<ByteSink> OpenForWriting(const std::string& path) = 0;
    virtual bool DeleteFileA(const std::string& path) = 0;
    virtual bool RemoveDirectoryA(const std::string& path) = 0;
    virtual bool SetCurrentDirectoryA(const std::string& path) = 0;
    // 0 is success.
    virtual int SHFileOperationA(ShellFileOperation& request) = 0;
    // What stands at the path: kInvalidFileAttributes when nothing does (or it can't be told).
    virtual unsigned long GetFileAttributesA(const std::string& path) = 0;
    // MoveFileA of a file or folder: 0 once it has the new name, else the
    // system's error (kErrorFileNotFound: nothing at `from`; kErrorFileExists
    // or kErrorAlreadyExists: `to` is taken). It never replaces `to`.
    virtual unsigned long MoveFileA(const std::string& from, const std::string& to) = 0;
    // CreateFileA(path, no access, every share mode, OPEN_EXISTING,
    // FILE_FLAG_BACKUP_SEMANTICS), which opens folders too, then
    // GetFileInformationByHandle and CloseHandle. False, with the last error
    // set, when the path opens on nothing or the system tells no identity.
    virtual bool GetFileIdentity(const std::string& path, FileIdentity& identity) = 0;
    // FindFirstFileA and FindClose: the name of what the path's last part
    // matches, as the folder holds it. False, with the last error set, when none.
    virtual bool FindFirstFileA(const std::string& path, std::string& foundName) = 0;
    // Opened as for GetFileIdentity, then GetFinalPathNameByHandleA
    // (normalized, with its drive letter) and CloseHandle: the path the
    // system itself gives what `path` reaches, a subst drive or a junction on
    // the way resolved, "\\?\" in front. False where the system lacks the
    // call (before Vista) or cannot give it.
    virtual bool GetFinalPathName(const std::string& path, std::string& finalPath) = 0;
    // FindFirstFileA and FindNextFileA of "folder\*", then FindClose: the
    // names of the folders directly inside `folder`, "." and ".." left out.
    // False when it cannot be listed.
    virtual bool ListSubfolders(const std::string& folder, std::vector<std::string>& names) = 0;
    // A file kept open for adding to its end, created when missing, shared
    // for reading and writing, each write reaching the disk before it
    // returns (FILE_APPEND_DATA, OPEN_ALWAYS, FILE_FLAG_WRITE_THROUGH); null
    // (last error set) when it cannot be opened.
    virtual std::unique_ptr<ByteSink> OpenForAppending(const std::string& path) = 0;
};

// PROCESS_INFORMATION of a started child.
struct ProcessInfo {
    Handle process = 0;
    Handle thread = 0;
    unsigned long processId = 0;
    unsigned long threadId = 0;
};

// The STARTUPINFOA fields the uninstaller sets; every other field is zero.
struct StartupInfo {
    unsigned long cb = 0;
    unsigned long dwFlags = 0;
    unsigned short wShowWindow = 0;
};
enum : unsigned long { kStartfUseShowWindow = 0x1, kRealtimePriorityClass = 0x100 };

class Processes {
public:
    virtual ~Processes() = default;
    // CreateProcessA(NULL, commandLine, NULL, NULL, inheritHandles,
    // creationFlags, NULL, NULL, startup, info). On failure returns false
    // with the system's last error set.
    virtual bool CreateProcessA(const std::string& commandLine, bool inheritHandles, unsigned long creationFlags,
                                const StartupInfo& startup, ProcessInfo& info) = 0;
    // WaitForSingleObject: kWaitObject0 when the child has ended.
    virtual unsigned long WaitForSingleObject(Handle process, unsigned long milliseconds) = 0;
    // GetExitCodeProcess; false with the last error set when it fails.
    virtual bool GetExitCodeProcess(Handle process, unsigned long& exitCode) = 0;
    virtual bool CloseHandle(Handle handle) = 0;
};

// KEY_READ is all a preview or a verification ever opens a key for.
enum : unsigned long { kKeyAllAccess = 0xF003F, kKeyRead = 0x20019, kRegSz = 1 };

// The registry under HKEY_LOCAL_MACHINE, the only root the uninstaller uses.
class Registry {
public:
    virtual ~Registry() = default;
    // RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access, &key): 0 and a handle on success.
    virtual long OpenKey(const std::string& subKey, unsigned long access, Handle& key) = 0;
    virtual long CloseKey(Handle key) = 0;
    // RegQueryValueExA without asking the type: `size` is the buffer's size
    // going in, the value's size coming out.
    virtual long QueryValue(Handle key, const std::string& name, char* data, unsigned long& size) = 0;
    // RegSetValueExA of `size` bytes.
    virtual long SetValue(Handle key, const std::string& name, unsigned long type, const char* data,
                          unsigned long size) = 0;
    virtual long DeleteKey(const std::string& subKey) = 0;  // RegDeleteKeyA(HKEY_LOCAL_MACHINE, subKey)
};

enum : unsigned long {
    kFormatMessageAllocateBuffer = 0x100,
    kFormatMessageIgnoreInserts = 0x200,
    kFormatMessageFromSystem = 0x1000,
    kLangUserDefault = 0x400,
};

class Errors {
public:
    virtual ~Errors() = default;
    virtual unsigned long GetLastError() = 0;
    virtual void SetLastError(unsigned long code) = 0;
    // FormatMessageA with no source and no arguments, the system allocating
    // (and the platform freeing) the text; false when the system gave none.
    virtual bool FormatMessageA(unsigned long flags, unsigned long messageId, unsigned long languageId,
                                std::string& text) = 0;
    // Likewise for UTF-16 text.
    virtual bool FormatMessageW(unsigned long flags, unsigned long messageId, unsigned long languageId,
                                std::u16string& text) = 0;
};

class CodePage {
public:
    virtual ~CodePage() = default;
    virtual bool IsDBCSLeadByte(unsigned char byte) = 0;  // of the ANSI code page
};

// SYSTEMTIME's date and time of day, in UTC.
struct SystemTime {
    unsigned short year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// OSVERSIONINFOA; the caller sets the size.
struct OsVersionInfo {
    unsigned long dwOSVersionInfoSize = 0;
    unsigned long dwMajorVersion = 0;
    unsigned long dwMinorVersion = 0;
    unsigned long dwBuildNumber = 0;
    unsigned long dwPlatformId = 0;
};
enum : unsigned long { kPlatformWin32Windows = 1, kPlatformWin32Nt = 2 };
constexpr unsigned long kOsVersionInfoSize = 148;  // sizeof(OSVERSIONINFOA)

class SystemInfo {
public:
    virtual ~SystemInfo() = default;
    // The running executable's full path.
    virtual std::string GetModuleFileNameA() = 0;
    // Into `buffer` of `size` bytes (null and 0 ask for the length): the
    // length, counting the NUL when the buffer is too small; 0 on failure.
    virtual unsigned GetWindowsDirectoryA(char* buffer, unsigned size) = 0;
    virtual bool GetVersionExA(OsVersionInfo& info) = 0;
    // A folder the shell names by CSIDL (below); false when it names none.
    virtual bool SHGetFolderPathA(int csidl, std::string& path) = 0;
    // The folder that holds the users' profiles; false when the system has none.
    virtual bool GetProfilesDirectoryA(std::string& path) = 0;
    // False when it is not set.
    virtual bool GetEnvironmentVariableA(const std::string& name, std::string& value) = 0;
    // The 8.3 form of an existing path; false when the system cannot give one.
    virtual bool GetShortPathNameA(const std::string& path, std::string& shortPath) = 0;
    // The machine's NetBIOS name; false when the system gives none.
    virtual bool GetComputerNameA(std::string& name) = 0;
    // The system's own Windows folder, which a terminal server does not swap
    // for a user's private one (GetSystemWindowsDirectoryA; where the system
    // lacks that call, GetWindowsDirectoryA). False when it gives none.
    virtual bool GetSystemWindowsDirectoryA(std::string& path) = 0;
    // The full path the system reads `path` as (GetFullPathNameA): a missing
    // drive or folder taken from the current directory, doubled backslashes,
    // "." and ".." resolved. False when the system can make none.
    virtual bool GetFullPathNameA(const std::string& path, std::string& fullPath) = 0;
    // The long form of an existing path, each part its long name
    // (GetLongPathNameA). False where the system lacks the call or cannot give it.
    virtual bool GetLongPathNameA(const std::string& path, std::string& longPath) = 0;
    // GetDriveTypeA of a drive's top folder ("C:\"): kDriveRemote for a network drive.
    virtual unsigned GetDriveTypeA(const std::string& rootPath) = 0;
    // The command line the process was started with, as given (GetCommandLineA).
    virtual std::string GetCommandLineA() = 0;
    // Milliseconds since the system started (GetTickCount).
    virtual unsigned long GetTickCount() = 0;
    // The date and time now, in UTC (GetSystemTime).
    virtual void GetSystemTime(SystemTime& time) = 0;
};

// GUID, field for field.
struct Guid {
    unsigned long data1;
    unsigned short data2, data3;
    unsigned char data4[8];
};

// METADATA_RECORD, field for field; `data` points into the caller's buffer.
struct MetadataRecord {
    unsigned long identifier = 0;
    unsigned long attributes = 0;
    unsigned long userType = 0;
    unsigned long dataType = 0;
    unsigned long dataLength = 0;  // bytes
    unsigned char* data = nullptr;
    unsigned long dataTag = 0;
};
using MetadataHandle = unsigned long;

// A COM result: negative is a failure. 32 bits on every host.
using HResult = std::int32_t;
constexpr HResult kHresult(std::uint32_t code) { return static_cast<HResult>(code); }
// The HRESULTs the logic and the companion tell apart.
constexpr HResult kEPointer = kHresult(0x80004003);               // E_POINTER: no object given back
constexpr HResult kClassNotRegistered = kHresult(0x80040154);     // REGDB_E_CLASSNOTREG: no such server here
constexpr HResult kHresultFileNotFound = kHresult(0x80070002);    // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
constexpr HResult kHresultPathNotFound = kHresult(0x80070003);    // HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)
constexpr HResult kHresultInsufficientBuffer = kHresult(0x8007007A);  // HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)
constexpr HResult kMdErrorDataNotFound = kHresult(0x800CC801);    // MD_ERROR_DATA_NOT_FOUND: no such metabase value
// The Win32 error an HRESULT of FACILITY_WIN32 wraps; any other HRESULT stands for itself.
constexpr unsigned long MessageIdOf(HResult result) {
    const unsigned long code = static_cast<std::uint32_t>(result);
    return ((code >> 16) & 0x1FFF) == 7 ? (code & 0xFFFF) : code;
}

// The IIS Admin Base Object (IMSAdminBaseW), the calls the uninstaller
// makes of it; each returns its HRESULT.
class Metabase {
public:
    // Release, as COM does it: the object goes with its last reference.
    virtual unsigned long Release() = 0;
    virtual HResult DeleteKey(MetadataHandle handle, const std::u16string& path) = 0;
    virtual HResult SetData(MetadataHandle handle, const std::u16string& path, MetadataRecord& record) = 0;
    virtual HResult GetData(MetadataHandle handle, const std::u16string& path, MetadataRecord& record,
                         unsigned long& requiredLength) = 0;
    virtual HResult OpenKey(MetadataHandle handle, const std::u16string& path, unsigned long access,
                         unsigned long timeout, MetadataHandle& opened) = 0;
    virtual HResult CloseKey(MetadataHandle handle) = 0;

protected:
    ~Metabase() = default;  // only Release ends it
};

class Com {
public:
    virtual ~Com() = default;
    virtual HResult CoInitialize() = 0;  // its reserved argument null
    virtual void CoUninitialize() = 0;
    // CoCreateInstance(clsid, no outer object, context, iid) of the Admin
    // Base Object; `object` is null unless the result is a success.
    virtual HResult CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid, Metabase*& object) = 0;
};

class Runtime {
public:
    virtual ~Runtime() = default;
    // The runtime's orderly exit: static objects destroyed, then the process ends.
    [[noreturn]] virtual void Exit(int status) = 0;
};

// The running modal dialog, as its handler sees it. Progress calls go to the
// progress bar, control 1000 of the template.
class DialogWindow {
public:
    virtual ~DialogWindow() = default;
    virtual void SetTitle(const std::string& title) = 0;      // SetWindowTextA
    virtual void Minimize() = 0;                              // ShowWindow(SW_MINIMIZE)
    virtual void SetProgressRange(int low, int high) = 0;     // PBM_SETRANGE
    virtual void SetProgressStep(int step) = 0;               // PBM_SETSTEP
    virtual void StepProgress() = 0;                          // PBM_STEPIT
    virtual void SetProgressPos(int position) = 0;            // PBM_SETPOS
    virtual void StartTimer(unsigned id, unsigned milliseconds) = 0;  // SetTimer
    virtual void StopTimer(unsigned id) = 0;                  // KillTimer
    virtual void End(int result) = 0;                         // EndDialog
};

// What a modal dialog does with its window's messages.
class DialogHandler {
public:
    virtual ~DialogHandler() = default;
    virtual bool OnInitDialog(DialogWindow& window) = 0;      // WM_INITDIALOG
    virtual void OnTimer(DialogWindow& window, unsigned timerId) = 0;  // WM_TIMER
};

class DialogHost {
public:
    virtual ~DialogHost() = default;
    // Runs the dialog of template `templateId` modally, with no owner, until
    // it is ended; Escape or the close box end it with IDCANCEL, Enter with
    // IDOK. Returns the value it was ended with.
    virtual int RunModal(int templateId, DialogHandler& handler) = 0;
};

// Everything the logic may use, handed down from start-up.
struct Platform {
    MessageBoxes& boxes;
    FileSystem& files;
    Processes& processes;
    Registry& registry;
    Errors& errors;
    CodePage& codePage;
    SystemInfo& system;
    Com& com;
    Runtime& runtime;
    DialogHost& dialogs;
};

}  // namespace qv
