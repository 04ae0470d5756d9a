// What the list driver collects while it reads, for later lines and the
// closing clean-up. The last line of each kind wins.
#pragma once

#include <set>
#include <string>

namespace qv {

struct CleanupState {
    std::string installDir;       // directory line, quotes and line feeds removed
    std::string isuLogPath;       // InstallShield log, quotes and line feeds removed
    std::string netscapeService;  // the Netscape line in double quotes
    std::string isapiFilterPath;  // the filter line without its line feed
    int iisVersion = -1;          // -1 until an IIS line is read
    std::string iisService;       // "w3svc" once IIS was stopped
    std::set<std::string> keptNetscapeCopies;  // obj.conf copies a failed rewrite left, known by the file named
};

}  // namespace qv
