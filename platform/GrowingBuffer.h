// A string read from a Windows call that fills a caller's buffer and names
// the size it needs when that is too small. The call gets a buffer from the
// start, never a query of the size alone: Wine refuses that query for some
// calls (GetProfilesDirectoryA) where Windows answers it.
#pragma once

#include <string>
#include <vector>

namespace qv {

constexpr unsigned long kFirstBufferSize = 260;  // MAX_PATH
constexpr unsigned long kLongestBuffer = 65536;  // past any path or variable Windows allows

// `call(buffer, size)` returns the length it wrote (less than `size`), the
// size it needs (more than `size`) when the buffer is too small, or 0 when
// it fails. False when it fails or gives an empty string.
template <typename Call>
bool ReadGrowingBuffer(Call call, std::string& text) {
    std::vector<char> buffer;
    for (unsigned long size = kFirstBufferSize; size <= kLongestBuffer;) {
        buffer.assign(size, '\0');
        const unsigned long length = call(buffer.data(), size);
        if (length == 0) return false;
        if (length < size) {
            text.assign(buffer.data(), length);
            return true;
        }
        size = length > size ? length : size * 2;
    }
    return false;
}

}  // namespace qv
