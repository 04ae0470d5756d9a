// Files, folders and the shell's deletion.
#include <windows.h>
#include <shellapi.h>

#include "platform/win32/Win32Lookup.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Text.h"

namespace qv::win32 {

namespace {

// The C runtime's fopen shares a file for reading and writing; so do we.
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

class Win32File : public ByteSource, public ByteSink {
public:
    explicit Win32File(HANDLE file) : file_(file) {}
    ~Win32File() override { Close(); }

    long Read(char* buffer, std::size_t size) override {
        DWORD got = 0;
        if (!ReadFile(file_, buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
        return static_cast<long>(got);
    }
    bool Write(const char* data, std::size_t size) override {
        DWORD written = 0;
        return WriteFile(file_, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    }
    bool Close() override {
        if (file_ == INVALID_HANDLE_VALUE) return true;
        const bool closed = ::CloseHandle(file_) != 0;
        file_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE file_;
};

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, kShare, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Open on a file or folder only to ask what it is: no access, nobody kept out.
HANDLE OpenToName(const std::string& path) {
    return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

std::unique_ptr<ByteSource> Win32FileSystem::OpenForReading(const std::string& path) {
    const HANDLE file = Open(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32File>(file);
}

std::unique_ptr<ByteSink> Win32FileSystem::OpenForWriting(const std::string& path) {
    const HANDLE file = Open(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32File>(file);
}

bool Win32FileSystem::DeleteFileA(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool Win32FileSystem::RemoveDirectoryA(const std::string& path) { return ::RemoveDirectoryA(path.c_str()) != 0; }

bool Win32FileSystem::SetCurrentDirectoryA(const std::string& path) {
    return ::SetCurrentDirectoryA(path.c_str()) != 0;
}

unsigned long Win32FileSystem::MoveFileA(const std::string& from, const std::string& to) {
    if (::MoveFileA(from.c_str(), to.c_str())) return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;  // a failure never reads as success
}

int Win32FileSystem::SHFileOperationA(ShellFileOperation& request) {
    SHFILEOPSTRUCTA operation = {};
    operation.hwnd = reinterpret_cast<HWND>(request.hwnd);
    operation.wFunc = request.wFunc;
    operation.pFrom = request.pFrom;
    operation.pTo = request.pTo;
    operation.fFlags = request.fFlags;
    operation.hNameMappings = reinterpret_cast<LPVOID>(request.hNameMappings);
    operation.lpszProgressTitle = request.lpszProgressTitle;
    const int result = ::SHFileOperationA(&operation);
    request.fAnyOperationsAborted = operation.fAnyOperationsAborted != FALSE;
    return result;
}

unsigned long Win32FileSystem::GetFileAttributesA(const std::string& path) {
    return ::GetFileAttributesA(path.c_str());
}

bool Win32FileSystem::GetFileIdentity(const std::string& path, FileIdentity& identity) {
    const HANDLE file = OpenToName(path);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information = {};
    const BOOL told = GetFileInformationByHandle(file, &information);
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    if (!told) {
        SetLastError(error);
        return false;
    }
    identity.volumeSerialNumber = information.dwVolumeSerialNumber;
    identity.fileIndexHigh = information.nFileIndexHigh;
    identity.fileIndexLow = information.nFileIndexLow;
    return true;
}

std::unique_ptr<ByteSink> Win32FileSystem::OpenForAppending(const std::string& path) {
    const HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, kShare, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32File>(file);
}

bool Win32FileSystem::FindFirstFileA(const std::string& path, std::string& foundName) {
    WIN32_FIND_DATAA found = {};
    const HANDLE search = ::FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    foundName = found.cFileName;
    return true;
}

bool Win32FileSystem::GetFinalPathName(const std::string& path, std::string& finalPath) {
    using Call = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
    static const Call call = Find<Call>("kernel32.dll", "GetFinalPathNameByHandleA");  // from Vista on
    if (!call) return false;
    const HANDLE file = OpenToName(path);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[MAX_PATH * 4] = {};
    const DWORD length = call(file, buffer, sizeof buffer, 0 /* FILE_NAME_NORMALIZED | VOLUME_NAME_DOS */);
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    if (length == 0 || length >= sizeof buffer) {
        SetLastError(length ? ERROR_INSUFFICIENT_BUFFER : error);
        return false;
    }
    finalPath.assign(buffer, length);
    return true;
}

bool Win32FileSystem::ListSubfolders(const std::string& folder, std::vector<std::string>& names) {
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    WIN32_FIND_DATAA found = {};
    const HANDLE search = ::FindFirstFileA((pattern + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    names.clear();
    do {
        const std::string name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != "." && name != "..") names.push_back(name);
    } while (::FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

}  // namespace qv::win32
