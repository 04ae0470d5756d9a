// A layer over the seam that hands every call, unchanged, to the platform
// below it. A layer that records or simulates derives from it and overrides
// only the calls it changes; the rest reach the layer below as they were made.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qv {

class ForwardingPlatform : protected MessageBoxes,
                           protected FileSystem,
                           protected Processes,
                           protected Registry,
                           protected Errors,
                           protected CodePage,
                           protected SystemInfo,
                           protected Com,
                           protected Runtime,
                           protected DialogHost {
public:
    explicit ForwardingPlatform(Platform& lower)
        : lower_(lower), platform_{*this, *this, *this, *this, *this, *this, *this, *this, *this, *this} {}
    ForwardingPlatform(const ForwardingPlatform&) = delete;
    ForwardingPlatform& operator=(const ForwardingPlatform&) = delete;

    // The platform the logic is given: this layer over the one below.
    Platform& Get() { return platform_; }

protected:
    int Show(const std::string& text, const std::string& title, unsigned style) override {
        return lower_.boxes.Show(text, title, style);
    }
    int ShowWide(const std::u16string& text, const std::u16string& title, unsigned style) override {
        return lower_.boxes.ShowWide(text, title, style);
    }

    std::unique_ptr<ByteSource> OpenForReading(const std::string& p) override { return lower_.files.OpenForReading(p); }
    std::unique_ptr<ByteSink> OpenForWriting(const std::string& p) override { return lower_.files.OpenForWriting(p); }
    bool DeleteFileA(const std::string& p) override { return lower_.files.DeleteFileA(p); }
    bool RemoveDirectoryA(const std::string& p) override { return lower_.files.RemoveDirectoryA(p); }
    bool SetCurrentDirectoryA(const std::string& p) override { return lower_.files.SetCurrentDirectoryA(p); }
    int SHFileOperationA(ShellFileOperation& request) override { return lower_.files.SHFileOperationA(request); }
    unsigned long GetFileAttributesA(const std::string& p) override { return lower_.files.GetFileAttributesA(p); }
    unsigned long MoveFileA(const std::string& from, const std::string& to) override {
        return lower_.files.MoveFileA(from, to);
    }
    bool GetFileIdentity(const std::string& p, FileIdentity& id) override { return lower_.files.GetFileIdentity(p, id); }
    bool FindFirstFileA(const std::string& p, std::string& name) override { return lower_.files.FindFirstFileA(p, name); }
    bool GetFinalPathName(const std::string& p, std::string& f) override { return lower_.files.GetFinalPathName(p, f); }
    bool ListSubfolders(const std::string& folder, std::vector<std::string>& names) override {
        return lower_.files.ListSubfolders(folder, names);
    }
    std::unique_ptr<ByteSink> OpenForAppending(const std::string& p) override { return lower_.files.OpenForAppending(p); }

    bool CreateProcessA(const std::string& commandLine, bool inheritHandles, unsigned long creationFlags,
                        const StartupInfo& startup, ProcessInfo& info) override {
        return lower_.processes.CreateProcessA(commandLine, inheritHandles, creationFlags, startup, info);
    }
    unsigned long WaitForSingleObject(Handle process, unsigned long ms) override {
        return lower_.processes.WaitForSingleObject(process, ms);
    }
    bool GetExitCodeProcess(Handle process, unsigned long& code) override {
        return lower_.processes.GetExitCodeProcess(process, code);
    }
    bool CloseHandle(Handle handle) override { return lower_.processes.CloseHandle(handle); }

    long OpenKey(const std::string& subKey, unsigned long access, Handle& key) override {
        return lower_.registry.OpenKey(subKey, access, key);
    }
    long CloseKey(Handle key) override { return lower_.registry.CloseKey(key); }
    long QueryValue(Handle key, const std::string& name, char* data, unsigned long& size) override {
        return lower_.registry.QueryValue(key, name, data, size);
    }
    long SetValue(Handle key, const std::string& name, unsigned long type, const char* data,
                  unsigned long size) override {
        return lower_.registry.SetValue(key, name, type, data, size);
    }
    long DeleteKey(const std::string& subKey) override { return lower_.registry.DeleteKey(subKey); }

    unsigned long GetLastError() override { return lower_.errors.GetLastError(); }
    void SetLastError(unsigned long code) override { lower_.errors.SetLastError(code); }
    bool FormatMessageA(unsigned long flags, unsigned long id, unsigned long language, std::string& text) override {
        return lower_.errors.FormatMessageA(flags, id, language, text);
    }
    bool FormatMessageW(unsigned long flags, unsigned long id, unsigned long language, std::u16string& text) override {
        return lower_.errors.FormatMessageW(flags, id, language, text);
    }

    bool IsDBCSLeadByte(unsigned char byte) override { return lower_.codePage.IsDBCSLeadByte(byte); }

    std::string GetModuleFileNameA() override { return lower_.system.GetModuleFileNameA(); }
    unsigned GetWindowsDirectoryA(char* buffer, unsigned size) override {
        return lower_.system.GetWindowsDirectoryA(buffer, size);
    }
    bool GetVersionExA(OsVersionInfo& info) override { return lower_.system.GetVersionExA(info); }
    bool SHGetFolderPathA(int csidl, std::string& path) override { return lower_.system.SHGetFolderPathA(csidl, path); }
    bool GetProfilesDirectoryA(std::string& path) override { return lower_.system.GetProfilesDirectoryA(path); }
    bool GetEnvironmentVariableA(const std::string& name, std::string& value) override {
        return lower_.system.GetEnvironmentVariableA(name, value);
    }
    bool GetShortPathNameA(const std::string& p, std::string& s) override { return lower_.system.GetShortPathNameA(p, s); }
    bool GetComputerNameA(std::string& name) override { return lower_.system.GetComputerNameA(name); }
    bool GetSystemWindowsDirectoryA(std::string& path) override { return lower_.system.GetSystemWindowsDirectoryA(path); }
    bool GetFullPathNameA(const std::string& p, std::string& f) override { return lower_.system.GetFullPathNameA(p, f); }
    bool GetLongPathNameA(const std::string& p, std::string& l) override { return lower_.system.GetLongPathNameA(p, l); }
    unsigned GetDriveTypeA(const std::string& rootPath) override { return lower_.system.GetDriveTypeA(rootPath); }
    std::string GetCommandLineA() override { return lower_.system.GetCommandLineA(); }
    unsigned long GetTickCount() override { return lower_.system.GetTickCount(); }
    void GetSystemTime(SystemTime& time) override { lower_.system.GetSystemTime(time); }

    HResult CoInitialize() override { return lower_.com.CoInitialize(); }
    void CoUninitialize() override { lower_.com.CoUninitialize(); }
    HResult CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid, Metabase*& object) override {
        return lower_.com.CoCreateInstance(clsid, context, iid, object);
    }

    [[noreturn]] void Exit(int status) override {
        lower_.runtime.Exit(status);
        std::abort();  // never reached: the exit below does not return
    }

    int RunModal(int templateId, DialogHandler& handler) override { return lower_.dialogs.RunModal(templateId, handler); }

    Platform& lower_;

private:
    Platform platform_;
};

// The same for the metabase object: a layer over it overrides what it
// changes; Release ends the layer with the object below.
class ForwardingMetabase : public Metabase {
public:
    explicit ForwardingMetabase(Metabase* lower) : lower_(lower) {}
    unsigned long Release() override {
        const unsigned long left = lower_ ? lower_->Release() : 0;
        delete this;
        return left;
    }
    HResult DeleteKey(MetadataHandle handle, const std::u16string& path) override { return lower_->DeleteKey(handle, path); }
    HResult SetData(MetadataHandle handle, const std::u16string& path, MetadataRecord& record) override {
        return lower_->SetData(handle, path, record);
    }
    HResult GetData(MetadataHandle handle, const std::u16string& path, MetadataRecord& record,
                    unsigned long& requiredLength) override {
        return lower_->GetData(handle, path, record, requiredLength);
    }
    HResult OpenKey(MetadataHandle handle, const std::u16string& path, unsigned long access, unsigned long timeout,
                    MetadataHandle& opened) override {
        return lower_->OpenKey(handle, path, access, timeout, opened);
    }
    HResult CloseKey(MetadataHandle handle) override { return lower_->CloseKey(handle); }

protected:
    virtual ~ForwardingMetabase() = default;
    Metabase* lower_;
};

}  // namespace qv
