// The one seam between the uninstaller's logic and Windows. Everything the
// logic needs from the system goes through these small interfaces; the real
// implementation lives in platform/win32, the fakes in tests/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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
};
enum : unsigned short { kSwShow = 5, kSwShowMinNoActive = 7 };
enum : unsigned long { kWaitObject0 = 0, kWaitTimeout = 0x102 };

using Handle = std::uintptr_t;  // an opaque system handle; 0 is none

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // MessageBoxA with no owner window; returns the button pressed.
    virtual int Show(const std::string& text, const std::string& title, unsigned style) = 0;
};

// A file opened for reading raw bytes; closed when destroyed.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes; returns how many, 0 at the end, -1 on a read error.
    virtual long Read(char* buffer, std::size_t size) = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    virtual std::unique_ptr<ByteSource> OpenForReading(const std::string& path) = 0;
    virtual bool DeletePath(const std::string& path) = 0;                // DeleteFileA
    virtual bool RemoveEmptyDirectory(const std::string& path) = 0;           // RemoveDirectoryA
    virtual bool ChangeDirectory(const std::string& path) = 0;       // SetCurrentDirectoryA
    // SHFileOperationA(FO_DELETE) of one path with the given FOF_ flags,
    // progress title and no owner; returns the shell's result (0 is success).
    virtual int ShellDelete(const std::string& path, unsigned flags, const std::string& progressTitle) = 0;
};

// PROCESS_INFORMATION of a started child.
struct ProcessInfo {
    Handle process = 0;
    Handle thread = 0;
    unsigned long processId = 0;
    unsigned long threadId = 0;
};

class Processes {
public:
    virtual ~Processes() = default;
    // CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0x100, NULL, NULL,
    // startup info with STARTF_USESHOWWINDOW and showWindow, info).
    // On failure returns false with the system's last error set.
    virtual bool Create(const std::string& commandLine, unsigned short showWindow, ProcessInfo& info) = 0;
    // WaitForSingleObject: kWaitObject0 when the child has ended.
    virtual unsigned long Wait(Handle process, unsigned long milliseconds) = 0;
    // GetExitCodeProcess; false with the last error set when it fails.
    virtual bool ReadExitCode(Handle process, unsigned long& exitCode) = 0;
    virtual void CloseHandle(Handle handle) = 0;
};

class Registry {
public:
    virtual ~Registry() = default;
    // RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS); 0 and a handle on success.
    virtual long OpenKey(const std::string& key, Handle& handle) = 0;
    virtual void CloseKey(Handle handle) = 0;
    // RegQueryValueExA into a buffer of `capacity` bytes; the bytes read on success.
    virtual long QueryValue(Handle key, const std::string& name, std::size_t capacity, std::string& data) = 0;
    // RegSetValueExA as REG_SZ with `byteCount` bytes of `data`.
    virtual long SetStringValue(Handle key, const std::string& name, const std::string& data, std::size_t byteCount) = 0;
    virtual long DeleteKey(const std::string& key) = 0;  // RegDeleteKeyA under HKEY_LOCAL_MACHINE
};

class SystemInfo {
public:
    virtual ~SystemInfo() = default;
    virtual unsigned long LastError() = 0;                          // GetLastError
    virtual std::string ErrorText(unsigned long code) = 0;          // FormatMessageA, system text
    virtual bool IsLeadByte(unsigned char byte) = 0;                // IsDBCSLeadByte of the ANSI code page
    virtual std::string ApplicationName() = 0;                      // exe file name without extension
    // GetWindowsDirectoryA; false (last error set) when it cannot be read.
    virtual bool WindowsDirectory(std::string& directory) = 0;
    virtual unsigned long PlatformId() = 0;                         // GetVersionExA's dwPlatformId
    virtual void CoInitialize() = 0;
    virtual void CoUninitialize() = 0;
    // The runtime's orderly exit: static objects destroyed, then the process ends.
    [[noreturn]] virtual void ExitProgram(int status) = 0;
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
    SystemInfo& system;
    DialogHost& dialogs;
};

}  // namespace qv
