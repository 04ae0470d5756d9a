#include "text/Text.h"

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

std::string Visible(const std::string& text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20 || c >= 0x7F) out += std::string("\\x") + kDigits[c >> 4] + kDigits[c & 15];
        else out.push_back(static_cast<char>(c));
    }
    return out;
}

}  // namespace qv
