// Reading a file of the host for the preview: the list it is given.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qv::check {

class HostFiles : public FileSystem {
public:
    std::unique_ptr<ByteSource> OpenForReading(const std::string& path) override;
    std::unique_ptr<ByteSink> OpenForWriting(const std::string&) override { return nullptr; }
    bool DeleteFileA(const std::string&) override { return false; }
    bool RemoveDirectoryA(const std::string&) override { return false; }
    bool SetCurrentDirectoryA(const std::string&) override { return false; }
    int SHFileOperationA(ShellFileOperation&) override { return kErrorAccessDenied; }
    unsigned long GetFileAttributesA(const std::string&) override { return kInvalidFileAttributes; }
    unsigned long MoveFileA(const std::string&, const std::string&) override { return kErrorAccessDenied; }
    bool GetFileIdentity(const std::string&, FileIdentity&) override { return false; }
    bool FindFirstFileA(const std::string&, std::string&) override { return false; }
    bool GetFinalPathName(const std::string&, std::string&) override { return false; }
    bool ListSubfolders(const std::string&, std::vector<std::string>&) override { return false; }
    std::unique_ptr<ByteSink> OpenForAppending(const std::string&) override { return nullptr; }
};

}  // namespace qv::check
