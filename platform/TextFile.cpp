#include "platform/TextFile.h"

namespace qv {

namespace {
constexpr int kCtrlZ = 0x1A;
constexpr std::size_t kWriteBuffer = 4096;
}  // namespace

TextModeReader::TextModeReader(std::unique_ptr<ByteSource> source, CtrlZ ctrlZ)
    : source_(std::move(source)), ctrlZ_(ctrlZ) {}

int TextModeReader::PeekByte() {
    if (position_ == length_) {
        if (ended_ || !source_) return -1;
        const long got = source_->Read(buffer_, sizeof buffer_);
        if (got <= 0) {
            ended_ = true;
            failed_ = got < 0;
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
    if (byte == kCtrlZ && ctrlZ_ == CtrlZ::EndsFile) {
        ended_ = true;
        length_ = position_ = 0;
        return -1;
    }
    if (byte == '\r' && PeekByte() == '\n') byte = NextByte();
    return byte;
}

bool TextModeReader::ReadPiece(std::string& piece, std::size_t bufferSize) {
    piece.clear();
    while (piece.size() + 1 < bufferSize) {
        const int c = NextChar();
        if (c < 0) break;
        piece.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    if (failed_) piece.clear();  // as fgets: a read error gives no piece at all
    return !piece.empty();
}

TextModeWriter::TextModeWriter(std::unique_ptr<ByteSink> sink) : sink_(std::move(sink)) {}

bool TextModeWriter::Write(const std::string& piece) {
    if (failed_ || !sink_) return false;
    for (char c : piece) {
        if (c == '\n') pending_.push_back('\r');
        pending_.push_back(c);
    }
    return pending_.size() < kWriteBuffer || Flush();
}

bool TextModeWriter::Flush() {
    if (!failed_ && !pending_.empty() && !sink_->Write(pending_.data(), pending_.size())) failed_ = true;
    pending_.clear();
    return !failed_;
}

bool TextModeWriter::Close() {
    if (!sink_) return !failed_;
    Flush();
    if (!sink_->Close()) failed_ = true;
    sink_.reset();
    return !failed_;
}

}  // namespace qv
