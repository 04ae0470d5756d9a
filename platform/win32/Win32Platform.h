// The real platform: each Windows call wrapped once, its failure turned into
// the value the logic expects.
#pragma once

#include "platform/Platform.h"

namespace qv::win32 {

class Win32MessageBoxes : public MessageBoxes {
public:
    int Show(const std::string& text, const std::string& title, unsigned style) override;
};

class Win32FileSystem : public FileSystem {
public:
    std::unique_ptr<ByteSource> OpenForReading(const std::string& path) override;
    bool DeletePath(const std::string& path) override;
    bool RemoveEmptyDirectory(const std::string& path) override;
    bool ChangeDirectory(const std::string& path) override;
    int ShellDelete(const std::string& path, unsigned flags, const std::string& progressTitle) override;
};

class Win32Processes : public Processes {
public:
    bool Create(const std::string& commandLine, unsigned short showWindow, ProcessInfo& info) override;
    unsigned long Wait(Handle process, unsigned long milliseconds) override;
    bool ReadExitCode(Handle process, unsigned long& exitCode) override;
    void CloseHandle(Handle handle) override;
};

class Win32Registry : public Registry {
public:
    long OpenKey(const std::string& key, Handle& handle) override;
    void CloseKey(Handle handle) override;
    long QueryValue(Handle key, const std::string& name, std::size_t capacity, std::string& data) override;
    long SetStringValue(Handle key, const std::string& name, const std::string& data, std::size_t byteCount) override;
    long DeleteKey(const std::string& key) override;
};

class Win32SystemInfo : public SystemInfo {
public:
    unsigned long LastError() override;
    std::string ErrorText(unsigned long code) override;
    bool IsLeadByte(unsigned char byte) override;
    std::string ApplicationName() override;
    bool WindowsDirectory(std::string& directory) override;
    unsigned long PlatformId() override;
    void CoInitialize() override;
    void CoUninitialize() override;
    [[noreturn]] void ExitProgram(int status) override;
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
    Win32SystemInfo system_;
    Win32DialogHost dialogs_;
    Platform platform_{boxes_, files_, processes_, registry_, system_, dialogs_};
};

}  // namespace qv::win32
