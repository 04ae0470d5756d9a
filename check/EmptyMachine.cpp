#include "check/EmptyMachine.h"

#include <cstring>

#include "platform/FullPathModel.h"
#include "check/SimulatedMachine.h"
#include "text/PathText.h"

namespace qv::check {

namespace {
const char kWindows[] = "C:\\WINDOWS";
const char kCurrentDirectory[] = "C:\\";
}

EmptyMachine::EmptyMachine(FileSystem& listFiles, std::string listFile, const std::string& listPath)
    : listFiles_(listFiles),
      listFile_(std::move(listFile)),
      currentDirectory_(kCurrentDirectory),
      platform_{*this, *this, *this, *this, *this, *this, *this, *this, *this, *this} {
    if (listPath.empty() || !ModelFullPath(listPath, currentDirectory_, listFull_)) listFull_.clear();
}

std::unique_ptr<ByteSource> EmptyMachine::OpenForReading(const std::string& path) {
    return path == listFile_ ? listFiles_.OpenForReading(path) : nullptr;
}

// The list is the one file; the drive, the Windows folder and the folders
// the list lies in are the only folders.
unsigned long EmptyMachine::GetFileAttributesA(const std::string& path) {
    if (!listFile_.empty() && path == listFile_) return kFileAttributeNormal;
    std::string full;
    if (!ModelFullPath(path, currentDirectory_, full)) return kInvalidFileAttributes;
    if (!listFull_.empty() && SamePath(full, listFull_)) return kFileAttributeNormal;
    const bool holdsTheList = !listFull_.empty() && PathWithin(listFull_, full);
    return SamePath(full, "C:\\") || SamePath(full, kWindows) || holdsTheList ? kFileAttributeDirectory
                                                                            : kInvalidFileAttributes;
}

bool EmptyMachine::SetCurrentDirectoryA(const std::string& path) {
    std::string full;
    if (!ModelFullPath(path, currentDirectory_, full) || GetFileAttributesA(full) != kFileAttributeDirectory) return false;
    currentDirectory_ = full;
    return true;
}

unsigned EmptyMachine::GetWindowsDirectoryA(char* buffer, unsigned size) {
    const unsigned length = sizeof kWindows - 1;
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, kWindows, length + 1);
    return length;
}

bool EmptyMachine::GetSystemWindowsDirectoryA(std::string& path) {
    path = kWindows;
    return true;
}

bool EmptyMachine::GetFullPathNameA(const std::string& path, std::string& fullPath) {
    return ModelFullPath(path, currentDirectory_, fullPath);
}

bool EmptyMachine::GetVersionExA(OsVersionInfo& info) {
    info.dwMajorVersion = 5;
    info.dwMinorVersion = 1;
    info.dwPlatformId = kPlatformWin32Nt;
    return true;
}

bool EmptyMachine::SHGetFolderPathA(int csidl, std::string& path) {
    switch (csidl) {
    case kCsidlWindows: path = kWindows; return true;
    case kCsidlProgramFiles: path = "C:\\Program Files"; return true;
    case kCsidlProgramFilesCommon: path = "C:\\Program Files\\Common Files"; return true;
    case kCsidlCommonAppData: path = "C:\\Documents and Settings\\All Users\\Application Data"; return true;
    default: return false;
    }
}

void EmptyMachine::Exit(int status) { throw PlannedExit{status}; }

}  // namespace qv::check
