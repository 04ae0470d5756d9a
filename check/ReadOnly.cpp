#include "check/ReadOnly.h"

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

}  // namespace qv::check
