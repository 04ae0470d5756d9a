#include "check/HostFiles.h"

#include <cstdio>

namespace qv::check {

namespace {
class HostFile : public ByteSource {
public:
    explicit HostFile(std::FILE* file) : file_(file) {}
    ~HostFile() override { std::fclose(file_); }
    long Read(char* buffer, std::size_t size) override {
        const std::size_t got = std::fread(buffer, 1, size, file_);
        return got == 0 && std::ferror(file_) ? -1 : static_cast<long>(got);
    }

private:
    std::FILE* file_;
};
}  // namespace

std::unique_ptr<ByteSource> HostFiles::OpenForReading(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return nullptr;
    return std::make_unique<HostFile>(file);
}

}  // namespace qv::check
