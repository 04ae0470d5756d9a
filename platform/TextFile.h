// Files read and written the way the C runtime's text mode does it on
// Windows, over raw bytes, so the host and Windows treat them identically:
// CR LF reads as LF and each LF is written as CR LF; a lone CR stays.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qv {

// Whether a Ctrl-Z byte ends the file, as text mode has it, or is kept as
// any other byte (for files whose every byte must survive a rewrite).
enum class CtrlZ { EndsFile, IsText };

class TextModeReader {
public:
    explicit TextModeReader(std::unique_ptr<ByteSource> source, CtrlZ ctrlZ = CtrlZ::EndsFile);

    // Like fgets into a buffer of `bufferSize` bytes: at most bufferSize - 1
    // characters, ending after the first line feed. The piece holds every
    // byte read, NUL bytes included. False at the end of the file, and on a
    // read error, which also drops the piece it cut short.
    bool ReadPiece(std::string& piece, std::size_t bufferSize);

    // True once a read error has ended the file.
    bool Failed() const { return failed_; }

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
    CtrlZ ctrlZ_;
    char buffer_[512];
    std::size_t length_ = 0;
    std::size_t position_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};

class TextModeWriter {
public:
    explicit TextModeWriter(std::unique_ptr<ByteSink> sink);
    ~TextModeWriter() { Close(); }

    // Writes the piece's bytes unchanged but for the line feeds. False once
    // anything could not be written; later writes are then dropped.
    bool Write(const std::string& piece);
    // Writes out what is held back and closes the file; false when any
    // write, or the close, failed.
    bool Close();

private:
    bool Flush();

    std::unique_ptr<ByteSink> sink_;
    std::string pending_;
    bool failed_ = false;
};

}  // namespace qv
