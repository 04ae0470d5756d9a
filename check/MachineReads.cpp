#include "check/MachineReads.h"

#include <memory>

namespace qv::check {

bool ReadAll(FileSystem& files, const std::string& path, std::string& bytes, std::size_t limit) {
    std::unique_ptr<ByteSource> file = files.OpenForReading(path);
    if (!file) return false;
    char buffer[65536];
    for (long got; (got = file->Read(buffer, sizeof buffer)) != 0;) {
        if (got < 0 || bytes.size() > limit) return false;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

std::string WindowsDirectory(Platform& machine) {
    char buffer[1024] = {};
    const unsigned length = machine.system.GetWindowsDirectoryA(buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

}  // namespace qv::check
