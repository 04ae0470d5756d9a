// The real platform: each Windows call wrapped once, its failure turned into
// the value the logic expects.
#pragma once

#include "platform/Platform.h"

namespace qv::win32 {

class Win32MessageBoxes : public MessageBoxes {
public:
    int Show(const std::string& text, const std::string& title, unsigned style) override;
    int ShowWide(const std::u16string& text, const std::u16string& title, unsigned style) override;
};

class Win32FileSystem : public FileSystem {
public:
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
    std::unique_ptr<ByteSink> OpenForAppending(const std::string& path) override;
    bool GetFinalPathName(const std::string& path, std::string& finalPath) override;
    bool ListSubfolders(const std::string& folder, std::vector<std::string>& names) override;
};

class Win32Processes : public Processes {
public:
    bool CreateProcessA(const std::string& commandLine, bool inheritHandles, unsigned long creationFlags,
                        const StartupInfo& startup, ProcessInfo& info) override;
    unsigned long WaitForSingleObject(Handle process, unsigned long milliseconds) override;
    bool GetExitCodeProcess(Handle process, unsigned long& exitCode) override;
    bool CloseHandle(Handle handle) override;
};

class Win32Registry : public Registry {
public:
    long OpenKey(const std::string& subKey, unsigned long access, Handle& key) override;
    long CloseKey(Handle key) override;
    long QueryValue(Handle key, const std::string& name, char* data, unsigned long& size) override;
    long SetValue(Handle key, const std::string& name, unsigned long type, const char* data,
                  unsigned long size) override;
    long DeleteKey(const std::string& subKey) override;
};

class Win32Errors : public Errors {
public:
    unsigned long GetLastError() override;
    void SetLastError(unsigned long code) override;
    bool FormatMessageA(unsigned long flags, unsigned long messageId, unsigned long languageId,
                        std::string& text) override;
    bool FormatMessageW(unsigned long flags, unsigned long messageId, unsigned long languageId,
                        std::u16string& text) override;
};

class Win32CodePage : public CodePage {
public:
    bool IsDBCSLeadByte(unsigned char byte) override;
};

class Win32SystemInfo : public SystemInfo {
public:
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
};

class Win32Com : public Com {
public:
    HResult CoInitialize() override;
    void CoUninitialize() override;
    HResult CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid, Metabase*& object) override;
};

class Win32Runtime : public Runtime {
public:
    [[noreturn]] void Exit(int status) override;
};

class Win32DialogHost : public DialogHost {
public:
    int RunModal(int templateId, DialogHandler& handler) override;
};

// All of the above, bundled for the logic.
class Win32Platform {
public:
    Platform& Get() { return platform_; }

private:
    Win32MessageBoxes boxes_;
    Win32FileSystem files_;
    Win32Processes processes_;
    Win32Registry registry_;
    Win32Errors errors_;
    Win32CodePage codePage_;
    Win32SystemInfo system_;
    Win32Com com_;
    Win32Runtime runtime_;
    Win32DialogHost dialogs_;
    Platform platform_{boxes_, files_, processes_, registry_, errors_, codePage_,
                       system_, com_,   runtime_,   dialogs_};
};

}  // namespace qv::win32
