#include "platform/TextFile.h"

namespace qv {

namespace {
constexpr int kCtrlZ = 0x1A;
}

TextModeReader::TextModeReader(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {}

int TextModeReader::PeekByte() {
    if (position_ == length_) {
        if (ended_ || !source_) return -1;
        const long got = source_->Read(buffer_, sizeof buffer_);
        if (got <= 0) {
            ended_ = true;  // a read error ends the file like its end does
            return -1;
        }
        length_ = static_cast<std::size_t>(got);
        position_ = 0;
    }
    return static_cast<unsigned char>(buffer_[position_]);
}

int TextModeReader::NextByte() {
    const int byte = PeekByte();
    if (byte >= 0) ++position_;
    return byte;
}

int TextModeReader::NextChar() {
    int byte = NextByte();
    if (byte == kCtrlZ) {
        ended_ = true;
        length_ = position_ = 0;
        return -1;
    }
    if (byte == '\r' && PeekByte() == '\n') byte = NextByte();
    return byte;
}

bool TextModeReader::ReadPiece(std::string& piece, std::size_t bufferSize) {
    piece.clear();
    std::size_t count = 0;
    bool keep = true;
    while (count + 1 < bufferSize) {
        const int c = NextChar();
        if (c < 0) break;
        ++count;
        if (c == 0) keep = false;  // the C string ends here; the line's count goes on
        if (keep) piece.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return count > 0;
}

}  // namespace qv
