#include "text/Text.h"

#include <cstdio>

namespace qv {

std::string WithoutLineFeed(const std::string& line) {
    if (!line.empty() && line.back() == '\n') return line.substr(0, line.size() - 1);
    return line;
}

std::string FoldedCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool StartsWith(const std::string& text, const std::string& part) { return text.compare(0, part.size(), part) == 0; }

bool EndsWith(const std::string& text, const std::string& part) {
    return text.size() >= part.size() && text.compare(text.size() - part.size(), part.size(), part) == 0;
}

namespace {
std::string Shown(const std::string& text, bool highBytesShown) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20 || c == 0x7F || (c > 0x7F && highBytesShown)) out += "\\x" + Hex(c, 2).substr(2);
        else out.push_back(static_cast<char>(c));
    }
    return out;
}
}  // namespace

std::string Visible(const std::string& text) { return Shown(text, true); }

std::string VisibleControls(const std::string& text) { return Shown(text, false); }

std::string Hex(unsigned long value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*lX", digits, value);
    return text;
}

std::u16string Widened(const std::string& text) {
    std::u16string wide;
    for (unsigned char c : text) wide.push_back(c);
    return wide;
}

std::string Narrowed(const std::u16string& text) {
    std::string narrow;
    for (char16_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

}  // namespace qv
