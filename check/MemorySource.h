// Bytes held in memory, read as a file.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace qv::check {

class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    long Read(char* buffer, std::size_t size) override {
        const std::size_t n = bytes_.copy(buffer, size, position_);
        position_ += n;
        return static_cast<long>(n);
    }

private:
    std::string bytes_;
    std::size_t position_ = 0;
};

}  // namespace qv::check
