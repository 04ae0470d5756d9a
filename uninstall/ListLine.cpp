#include "uninstall/ListLine.h"

#include <climits>

namespace qv {

bool ContainsKeyword(const std::string& line, const std::string& keyword, CodePage& codePage) {
    if (keyword.empty()) return true;
    std::size_t i = 0;
    while (i + keyword.size() <= line.size()) {
        if (line.compare(i, keyword.size(), keyword) == 0) return true;
        const bool lead = codePage.IsDBCSLeadByte(static_cast<unsigned char>(line[i])) && i + 1 < line.size();
        i += lead ? 2 : 1;
    }
    return false;
}

std::string WithoutQuotesAndLineFeeds(const std::string& line) {
    std::string result;
    result.reserve(line.size());
    for (char c : line)
        if (c != '"' && c != '\n') result.push_back(c);
    return result;
}

int ReadDecimal(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace qv
