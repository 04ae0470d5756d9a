// What the fuzz targets share: a failed property stops the fuzzer with the
// property's text, and plain models of the text-mode reads, written apart
// from platform/TextFile so that the two can disagree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qvfuzz {

[[noreturn]] inline void Fail(const char* property, const char* file, int line, const std::string& detail) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, property);
    if (!detail.empty()) std::fprintf(stderr, "  %s\n", detail.c_str());
    std::fflush(stderr);
    __builtin_trap();
}

// With QV_FUZZ_LOG set, a target prints what the fake machine saw: to read
// a crashing input's run, not while fuzzing.
inline void ShowLog(const std::vector<std::string>& log) {
    static const bool wanted = std::getenv("QV_FUZZ_LOG") != nullptr;
    if (!wanted) return;
    for (const std::string& line : log) std::fprintf(stderr, "| %s\n", line.c_str());
}

#define QV_PROPERTY(holds) \
    ((holds) ? (void)0 : ::qvfuzz::Fail(#holds, __FILE__, __LINE__, std::string()))
#define QV_PROPERTY_DETAIL(holds, detail) \
    ((holds) ? (void)0 : ::qvfuzz::Fail(#holds, __FILE__, __LINE__, (detail)))

// The bytes a C runtime in text mode hands out: CR LF is one LF, a lone CR
// stays; with `ctrlZEnds` the first Ctrl-Z byte ends the file.
inline std::string TextModeChars(const std::string& bytes, bool ctrlZEnds) {
    std::string chars;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (ctrlZEnds && bytes[i] == '\x1a') break;
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        chars.push_back(bytes[i]);
    }
    return chars;
}

// Those characters as successive fgets calls with a buffer of `bufferSize`
// bytes give them: at most bufferSize - 1 each, a piece ending after its LF.
inline std::vector<std::string> Pieces(const std::string& chars, std::size_t bufferSize) {
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : chars) {
        piece.push_back(c);
        if (c == '\n' || piece.size() == bufferSize - 1) {
            pieces.push_back(piece);
            piece.clear();
        }
    }
    if (!piece.empty()) pieces.push_back(piece);
    return pieces;
}

// Each LF written as CR LF, as text mode writes it.
inline std::string TextModeWritten(const std::string& chars) {
    std::string bytes;
    for (char c : chars) {
        if (c == '\n') bytes.push_back('\r');
        bytes.push_back(c);
    }
    return bytes;
}

// An obj.conf less its marked blocks, read and written back in pieces of a
// 200-byte buffer: a piece naming the begin marker starts a block and goes,
// as does every piece in it; a piece naming the end marker closes it.
inline std::string RestoredConfig(const std::string& original) {
    static const char kBegin[] = "#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####";
    static const char kEnd[] = "#### QUORVAN WEB GATEWAY EXTENSION -- END ####";
    std::string kept;
    bool inBlock = false;
    for (const std::string& piece : Pieces(TextModeChars(original, false), 200)) {
        const bool begins = piece.find(kBegin) != std::string::npos;
        const bool ends = piece.find(kEnd) != std::string::npos;
        if (begins) {
            inBlock = !ends;
            continue;
        }
        if (!inBlock) kept += piece;
        if (ends) inBlock = false;
    }
    return TextModeWritten(kept);
}

inline bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Windows compares paths without regard to ASCII letter case.
inline std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}
inline bool SamePath(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }
// `path` is `folder` or lies inside it.
inline bool WithinPath(const std::string& path, std::string folder) {
    if (SamePath(path, folder)) return true;
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();  // a drive's root: "C:\\"
    if (folder.empty()) return false;
    return path.size() > folder.size() && path[folder.size()] == '\\' &&
           SamePath(path.substr(0, folder.size()), folder);
}

}  // namespace qvfuzz
