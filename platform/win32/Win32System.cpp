// Message boxes, error texts, the code page, what the system says of itself,
// and the runtime's exit.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/GrowingBuffer.h"
#include "platform/win32/Win32Lookup.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Text.h"

namespace qv::win32 {


int Win32MessageBoxes::Show(const std::string& text, const std::string& title, unsigned style) {
    return MessageBoxA(nullptr, text.c_str(), title.c_str(), style);
}

int Win32MessageBoxes::ShowWide(const std::u16string& text, const std::u16string& title, unsigned style) {
    return MessageBoxW(nullptr, Wide(text), Wide(title), style);
}

unsigned long Win32Errors::GetLastError() { return ::GetLastError(); }

void Win32Errors::SetLastError(unsigned long code) { ::SetLastError(code); }

bool Win32Errors::FormatMessageA(unsigned long flags, unsigned long messageId, unsigned long languageId,
                                 std::string& text) {
    if (!(flags & FORMAT_MESSAGE_ALLOCATE_BUFFER)) return false;  // the only form the logic uses
    char* buffer = nullptr;
    const DWORD length =
        ::FormatMessageA(flags, nullptr, messageId, languageId, reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) return false;
    text.assign(buffer, length);
    LocalFree(buffer);
    return true;
}

bool Win32Errors::FormatMessageW(unsigned long flags, unsigned long messageId, unsigned long languageId,
                                 std::u16string& text) {
    if (!(flags & FORMAT_MESSAGE_ALLOCATE_BUFFER)) return false;
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(flags, nullptr, messageId, languageId, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) return false;
    text.assign(reinterpret_cast<const char16_t*>(buffer), length);
    LocalFree(buffer);
    return true;
}

bool Win32CodePage::IsDBCSLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != 0; }

std::string Win32SystemInfo::GetModuleFileNameA() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::string();
        if (length < path.size()) return std::string(path.data(), length);
        path.resize(path.size() * 2);
    }
}

unsigned Win32SystemInfo::GetWindowsDirectoryA(char* buffer, unsigned size) {
    return ::GetWindowsDirectoryA(buffer, size);
}

bool Win32SystemInfo::GetVersionExA(OsVersionInfo& info) {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = info.dwOSVersionInfoSize;
    if (version.dwOSVersionInfoSize > sizeof version) version.dwOSVersionInfoSize = sizeof version;
    if (!::GetVersionExA(&version)) return false;
    info.dwMajorVersion = version.dwMajorVersion;
    info.dwMinorVersion = version.dwMinorVersion;
    info.dwBuildNumber = version.dwBuildNumber;
    info.dwPlatformId = version.dwPlatformId;
    return true;
}

bool Win32SystemInfo::SHGetFolderPathA(int csidl, std::string& path) {
    using Call = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
    static const Call call = [] {
        const Call shell = Find<Call>("shell32.dll", "SHGetFolderPathA");
        return shell ? shell : Find<Call>("shfolder.dll", "SHGetFolderPathA");
    }();
    char buffer[MAX_PATH] = {};
    if (!call || call(nullptr, csidl, nullptr, 0, buffer) != S_OK) return false;
    path = buffer;
    return !path.empty();
}

bool Win32SystemInfo::GetProfilesDirectoryA(std::string& path) {
    using Call = BOOL(WINAPI*)(LPSTR, LPDWORD);
    static const Call call = Find<Call>("userenv.dll", "GetProfilesDirectoryA");
    if (!call) return false;
    return ReadGrowingBuffer(
        [](char* buffer, unsigned long size) -> unsigned long {
            DWORD needed = size;
            if (call(buffer, &needed)) return static_cast<unsigned long>(std::strlen(buffer));
            return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER ? needed : 0;
        },
        path);
}

bool Win32SystemInfo::GetEnvironmentVariableA(const std::string& name, std::string& value) {
    return ReadGrowingBuffer(
        [&](char* buffer, unsigned long size) { return ::GetEnvironmentVariableA(name.c_str(), buffer, size); },
        value);
}

bool Win32SystemInfo::GetShortPathNameA(const std::string& path, std::string& shortPath) {
    return ReadGrowingBuffer(
        [&](char* buffer, unsigned long size) { return ::GetShortPathNameA(path.c_str(), buffer, size); }, shortPath);
}

bool Win32SystemInfo::GetComputerNameA(std::string& name) {
    char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof buffer;
    if (!::GetComputerNameA(buffer, &size)) return false;
    name.assign(buffer, size);
    return true;
}

bool Win32SystemInfo::GetSystemWindowsDirectoryA(std::string& path) {
    using Call = UINT(WINAPI*)(LPSTR, UINT);
    static const Call call = [] {
        const Call system = Find<Call>("kernel32.dll", "GetSystemWindowsDirectoryA");
        return system ? system : &::GetWindowsDirectoryA;
    }();
    return ReadGrowingBuffer([](char* buffer, unsigned long size) -> unsigned long { return call(buffer, size); },
                             path);
}

bool Win32SystemInfo::GetFullPathNameA(const std::string& path, std::string& fullPath) {
    if (path.empty()) return false;
    return ReadGrowingBuffer(
        [&](char* buffer, unsigned long size) { return ::GetFullPathNameA(path.c_str(), size, buffer, nullptr); },
        fullPath);
}

bool Win32SystemInfo::GetLongPathNameA(const std::string& path, std::string& longPath) {
    using Call = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
    static const Call call = Find<Call>("kernel32.dll", "GetLongPathNameA");  // not on Windows 95 or NT 4
    if (!call) return false;
    return ReadGrowingBuffer(
        [&](char* buffer, unsigned long size) -> unsigned long { return call(path.c_str(), buffer, size); }, longPath);
}

unsigned Win32SystemInfo::GetDriveTypeA(const std::string& rootPath) { return ::GetDriveTypeA(rootPath.c_str()); }

std::string Win32SystemInfo::GetCommandLineA() {
    const char* line = ::GetCommandLineA();
    return line ? line : "";
}

unsigned long Win32SystemInfo::GetTickCount() { return ::GetTickCount(); }

void Win32SystemInfo::GetSystemTime(SystemTime& time) {
    SYSTEMTIME now = {};
    ::GetSystemTime(&now);
    time.year = now.wYear;
    time.month = now.wMonth;
    time.day = now.wDay;
    time.hour = now.wHour;
    time.minute = now.wMinute;
    time.second = now.wSecond;
}

void Win32Runtime::Exit(int status) { std::exit(status); }

}  // namespace qv::win32
