// Reading a file the way the C runtime's text mode does on Windows, over raw
// bytes, so the host and Windows read a list identically: CR LF reads as LF,
// a lone CR stays, and a Ctrl-Z byte ends the file.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qv {

class TextModeReader {
public:
    explicit TextModeReader(std::unique_ptr<ByteSource> source);

    // Like fgets into a buffer of `bufferSize` bytes: at most bufferSize - 1
    // characters, ending after the first line feed. False at the end of the
    // file or on a read error with nothing read. A NUL byte ends the piece's
    // text, as it would end the C string.
    bool ReadPiece(std::string& piece, std::size_t bufferSize);

    void Close() {
        source_.reset();
        length_ = position_ = 0;
        ended_ = true;
    }
    bool IsOpen() const { return source_ != nullptr; }

private:
    int NextByte();  // -1 at the end
    int PeekByte();
    int NextChar();  // the next character after text-mode translation, -1 at the end

    std::unique_ptr<ByteSource> source_;
    char buffer_[512];
    std::size_t length_ = 0;
    std::size_t position_ = 0;
    bool ended_ = false;
};

}  // namespace qv
