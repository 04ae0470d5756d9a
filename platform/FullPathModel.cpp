#include "platform/FullPathModel.h"

#include <vector>

#include "text/Text.h"

namespace qv {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The top folder that no ".." climbs above ("C:\", "\\server\share"), and what follows it.
struct Rooted {
    std::string top, rest;
};

Rooted SplitShare(const std::string& path) {  // path begins with two separators
    std::size_t i = 2;
    std::string server, share;
    while (i < path.size() && !IsSeparator(path[i])) server.push_back(path[i++]);
    while (i < path.size() && IsSeparator(path[i])) ++i;
    while (i < path.size() && !IsSeparator(path[i])) share.push_back(path[i++]);
    return {"\\\\" + server + (share.empty() ? "" : "\\" + share), path.substr(i)};
}

Rooted SplitFull(const std::string& full) {
    if (full.size() >= 2 && IsSeparator(full[0]) && IsSeparator(full[1])) return SplitShare(full);
    return {full.substr(0, 2) + "\\", full.size() > 3 ? full.substr(3) : std::string()};
}

}  // namespace

bool IsFullPath(const std::string& path) {
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return true;
    return path.size() >= 3 && IsLetter(path[0]) && path[1] == ':' && IsSeparator(path[2]);
}

bool ModelFullPath(const std::string& path, const std::string& currentDirectory, std::string& fullPath) {
    if (path.empty()) return false;
    if (path.compare(0, 4, "\\\\?\\") == 0) {
        fullPath = path;
        return true;
    }
    std::string text = path;
    for (char& c : text)
        if (c == '/') c = '\\';

    const Rooted current = SplitFull(currentDirectory);
    Rooted start;
    std::string tail;
    if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') {
        start = SplitShare(text);
        tail = start.rest;
        start.rest.clear();
    } else if (text.size() >= 2 && text[1] == ':' && IsLetter(text[0])) {
        const bool onCurrentDrive =
            current.top.size() == 3 && FoldedCase(current.top.substr(0, 2)) == FoldedCase(text.substr(0, 2));
        if (text.size() < 3 || text[2] != '\\')  // "C:name" goes on from that drive's current folder
            start = onCurrentDrive ? current : Rooted{text.substr(0, 2) + "\\", ""};
        else
            start = {text.substr(0, 2) + "\\", ""};
        tail = text.substr(2);
    } else if (text[0] == '\\') {
        start = {current.top, ""};
        tail = text;
    } else {
        start = current;
        tail = text;
    }

    const std::string all = start.rest + "\\" + tail;
    std::vector<std::string> names;
    std::size_t from = 0;
    for (;;) {
        const std::size_t end = all.find('\\', from);
        std::string name = all.substr(from, end == std::string::npos ? std::string::npos : end - from);
        const bool last = end == std::string::npos;
        from = end + 1;
        if (name == "..") {
            if (!names.empty()) names.pop_back();
        } else if (name != ".") {
            if (last)
                while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
            else if (!name.empty() && name.back() == '.')
                name.pop_back();
            if (!name.empty()) names.push_back(name);
        }
        if (last) break;
    }

    fullPath = start.top;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (fullPath.back() != '\\') fullPath.push_back('\\');
        fullPath += names[i];
    }
    if (!names.empty() && tail.size() > 0 && tail.back() == '\\') fullPath.push_back('\\');
    return true;
}

}  // namespace qv
