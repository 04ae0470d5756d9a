// A machine with nothing on it but the uninstall list: no keys, no folders
// but those the list lies in, no IIS. Windows NT in C:\WINDOWS, whose system
// folders have their usual names, so that the clean-up can be previewed to
// its end; the current directory is C:\ until one of its folders is entered.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace qv::check {

class EmptyMachine : MessageBoxes,
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
    // `listFiles` reads the one file there is; on this machine it lies at
    // `listPath` (read against C:\), when one is given.
    EmptyMachine(FileSystem& listFiles, std::string listFile, const std::string& listPath = std::string());

    Platform& Get() { return platform_; }

private:
    int Show(const std::string&, const std::string&, unsigned) override { return kIdOk; }
    int ShowWide(const std::u16string&, const std::u16string&, unsigned) override { return kIdOk; }

    std::unique_ptr<ByteSource> OpenForReading(const std::string& path) override;
    std::unique_ptr<ByteSink> OpenForWriting(const std::string&) override { return nullptr; }
    bool DeleteFileA(const std::string&) override { return false; }
    bool RemoveDirectoryA(const std::string&) override { return false; }
    bool SetCurrentDirectoryA(const std::string& path) override;
    int SHFileOperationA(ShellFileOperation&) override { return kErrorFileNotFound; }
    unsigned long GetFileAttributesA(const std::string& path) override;
    unsigned long MoveFileA(const std::string&, const std::string&) override { return kErrorFileNotFound; }
    bool GetFileIdentity(const std::string&, FileIdentity&) override { return false; }
    bool FindFirstFileA(const std::string&, std::string&) override { return false; }
    bool GetFinalPathName(const std::string&, std::string&) override { return false; }
    bool ListSubfolders(const std::string&, std::vector<std::string>&) override { return false; }
    std::unique_ptr<ByteSink> OpenForAppending(const std::string&) override { return nullptr; }

    bool CreateProcessA(const std::string&, bool, unsigned long, const StartupInfo&, ProcessInfo&) override {
        return false;
    }
    unsigned long WaitForSingleObject(Handle, unsigned long) override { return kWaitObject0; }
    bool GetExitCodeProcess(Handle, unsigned long&) override { return false; }
    bool CloseHandle(Handle) override { return false; }

    long OpenKey(const std::string&, unsigned long, Handle& key) override { return key = 0, kErrorFileNotFound; }
    long CloseKey(Handle) override { return kErrorInvalidHandle; }
    long QueryValue(Handle, const std::string&, char*, unsigned long&) override { return kErrorInvalidHandle; }
    long SetValue(Handle, const std::string&, unsigned long, const char*, unsigned long) override {
        return kErrorInvalidHandle;
    }
    long DeleteKey(const std::string&) override { return kErrorFileNotFound; }

    unsigned long GetLastError() override { return kErrorFileNotFound; }
    void SetLastError(unsigned long) override {}
    bool FormatMessageA(unsigned long, unsigned long messageId, unsigned long, std::string& text) override {
        return text = "(the system's text for error " + std::to_string(messageId) + ")", true;
    }
    // Only the COM errors of the metabase come this way; an empty machine has no text for them.
    bool FormatMessageW(unsigned long, unsigned long, unsigned long, std::u16string&) override { return false; }
    bool IsDBCSLeadByte(unsigned char) override { return false; }

    std::string GetModuleFileNameA() override { return "QvUnInstall.exe"; }
    unsigned GetWindowsDirectoryA(char* buffer, unsigned size) override;
    bool GetVersionExA(OsVersionInfo& info) override;
    bool SHGetFolderPathA(int csidl, std::string& path) override;
    bool GetProfilesDirectoryA(std::string& path) override { return path = "C:\\Documents and Settings", true; }
    bool GetEnvironmentVariableA(const std::string&, std::string&) override { return false; }
    bool GetShortPathNameA(const std::string&, std::string&) override { return false; }
    bool GetComputerNameA(std::string& name) override { return name = "EMPTY", true; }
    bool GetSystemWindowsDirectoryA(std::string& path) override;
    bool GetFullPathNameA(const std::string& path, std::string& fullPath) override;
    bool GetLongPathNameA(const std::string&, std::string&) override { return false; }
    unsigned GetDriveTypeA(const std::string&) override { return 3; }  // DRIVE_FIXED
    std::string GetCommandLineA() override { return "QvUnInstall.exe"; }
    unsigned long GetTickCount() override { return 0; }
    void GetSystemTime(SystemTime&) override {}

    HResult CoInitialize() override { return 0; }
    void CoUninitialize() override {}
    // No IIS: the class is not registered.
    HResult CoCreateInstance(const Guid&, unsigned long, const Guid&, Metabase*& object) override {
        return object = nullptr, kClassNotRegistered;
    }

    [[noreturn]] void Exit(int status) override;
    int RunModal(int, DialogHandler&) override { return -1; }

    FileSystem& listFiles_;
    std::string listFile_;
    std::string currentDirectory_;
    std::string listFull_;  // where the list lies here; empty when no path was given
    Platform platform_;
};

}  // namespace qv::check
