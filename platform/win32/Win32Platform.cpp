#include "platform/win32/Win32Platform.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace qv::win32 {

namespace {

HANDLE ToHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle FromHandle(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

// A C string in a buffer the system may write to.
std::vector<char> Writable(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return buffer;
}

class CrtFile : public ByteSource {
public:
    explicit CrtFile(FILE* file) : file_(file) {}
    ~CrtFile() override { std::fclose(file_); }
    long Read(char* buffer, std::size_t size) override {
        const std::size_t got = std::fread(buffer, 1, size, file_);
        if (got == 0 && std::ferror(file_)) return -1;
        return static_cast<long>(got);
    }

private:
    FILE* file_;
};

}  // namespace

int Win32MessageBoxes::Show(const std::string& text, const std::string& title, unsigned style) {
    return MessageBoxA(nullptr, text.c_str(), title.c_str(), style);
}

std::unique_ptr<ByteSource> Win32FileSystem::OpenForReading(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");  // text mode is done by the logic, over raw bytes
    if (!file) return nullptr;
    return std::make_unique<CrtFile>(file);
}

bool Win32FileSystem::DeletePath(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool Win32FileSystem::RemoveEmptyDirectory(const std::string& path) { return RemoveDirectoryA(path.c_str()) != 0; }

bool Win32FileSystem::ChangeDirectory(const std::string& path) {
    return SetCurrentDirectoryA(path.c_str()) != 0;
}

int Win32FileSystem::ShellDelete(const std::string& path, unsigned flags, const std::string& progressTitle) {
    std::vector<char> from(path.begin(), path.end());
    from.push_back('\0');
    from.push_back('\0');
    SHFILEOPSTRUCTA request = {};
    request.hwnd = nullptr;
    request.wFunc = FO_DELETE;
    request.pFrom = from.data();
    request.pTo = nullptr;
    request.fFlags = static_cast<FILEOP_FLAGS>(flags);
    request.lpszProgressTitle = progressTitle.c_str();
    return SHFileOperationA(&request);
}

bool Win32Processes::Create(const std::string& commandLine, unsigned short showWindow, ProcessInfo& info) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = showWindow;
    PROCESS_INFORMATION process = {};
    std::vector<char> line = Writable(commandLine);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, REALTIME_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &process))
        return false;
    info.process = FromHandle(process.hProcess);
    info.thread = FromHandle(process.hThread);
    info.processId = process.dwProcessId;
    info.threadId = process.dwThreadId;
    return true;
}

unsigned long Win32Processes::Wait(Handle process, unsigned long milliseconds) {
    return WaitForSingleObject(ToHandle(process), milliseconds);
}

bool Win32Processes::ReadExitCode(Handle process, unsigned long& exitCode) {
    DWORD code = 0;
    if (!GetExitCodeProcess(ToHandle(process), &code)) return false;
    exitCode = code;
    return true;
}

void Win32Processes::CloseHandle(Handle handle) { ::CloseHandle(ToHandle(handle)); }

long Win32Registry::OpenKey(const std::string& key, Handle& handle) {
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &opened);
    handle = status == ERROR_SUCCESS ? FromHandle(opened) : 0;
    return status;
}

void Win32Registry::CloseKey(Handle handle) { RegCloseKey(reinterpret_cast<HKEY>(handle)); }

long Win32Registry::QueryValue(Handle key, const std::string& name, std::size_t capacity, std::string& data) {
    std::vector<char> buffer(capacity);
    DWORD size = static_cast<DWORD>(capacity);
    const LONG status = RegQueryValueExA(reinterpret_cast<HKEY>(key), name.c_str(), nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status == ERROR_SUCCESS) data.assign(buffer.data(), size);
    return status;
}

long Win32Registry::SetStringValue(Handle key, const std::string& name, const std::string& data,
                                   std::size_t byteCount) {
    return RegSetValueExA(reinterpret_cast<HKEY>(key), name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>(byteCount));
}

long Win32Registry::DeleteKey(const std::string& key) { return RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()); }

unsigned long Win32SystemInfo::LastError() { return GetLastError(); }

std::string Win32SystemInfo::ErrorText(unsigned long code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    if (length == 0 || !text) return "System error " + std::to_string(code) + ".";
    std::string result(text, length);
    LocalFree(text);
    return result;
}

bool Win32SystemInfo::IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }

std::string Win32SystemInfo::ApplicationName() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = path;
    const std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

bool Win32SystemInfo::WindowsDirectory(std::string& directory) {
    const UINT length = GetWindowsDirectoryA(nullptr, 0);
    if (length == 0) {
        directory.clear();
        return true;
    }
    std::vector<char> buffer(length + 1);
    const UINT got = GetWindowsDirectoryA(buffer.data(), length + 1);
    if (got == 0) return false;
    directory.assign(buffer.data(), got);
    return true;
}

unsigned long Win32SystemInfo::PlatformId() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    return version.dwPlatformId;
}

void Win32SystemInfo::CoInitialize() { ::CoInitialize(nullptr); }

void Win32SystemInfo::CoUninitialize() { ::CoUninitialize(); }

void Win32SystemInfo::ExitProgram(int status) { std::exit(status); }

}  // namespace qv::win32
