#include "uninstall/Commands.h"

#include "runner/RunDialog.h"
#include "text/Text.h"
#include "uninstall/ListLine.h"

namespace qv {

namespace {
const char kIisService[] = "w3svc";

struct ServerTag {
    const char* tag;
    const char* caption;
};
const ServerTag kServerTags[] = {
    {"mgmtsrvr", "Stopping Quorvan Management Server"},
    {"storsrvr", "Stopping Quorvan Object Store Server"},
    {"jobsrvr", "Stopping Quorvan Job Server"},
};
}  // namespace

void StopServerService(Platform& platform, std::string line) {
    std::string caption;
    for (const ServerTag& server : kServerTags) {
        if (ContainsKeyword(line, server.tag, platform.codePage)) {
            caption = server.caption;
            break;
        }
    }
    RunCommand(platform, line, "-Sremove", caption);
}

void RemovePortMapper(Platform& platform, const std::string& line) {
    RunCommand(platform, line, "nogui remove tcp", "Uninstalling NobleNet Portmapper for TCP");
}

void StopIis(Platform& platform, CleanupState& state) {
    state.iisService = kIisService;
    RunCommand(platform, "net stop", state.iisService, "Stopping Microsoft Internet Information Server...");
}

void StopNetscape(Platform& platform, CleanupState& state, const std::string& line) {
    state.netscapeService = "\"" + WithoutLineFeed(line) + "\"";
    RunCommand(platform, "net stop", state.netscapeService, "Stopping Netscape Web Server...");
}

// The argument carries the raw line, quotes and line feed kept, not the cleaned log path.
void RunInstallShieldUninstaller(Platform& platform, const std::string& line, bool silent) {
    RunCommand(platform, silent ? "isuninst -mQuorvan -y -a" : "isuninst -mQuorvan -y", "-f" + line,
               "Uninstalling");
}

void RestartNetscape(Platform& platform, const CleanupState& state) {
    RunCommand(platform, "net start", state.netscapeService, "Restarting Netscape Web Server...");
}

void RestartIis(Platform& platform, CleanupState& state) {
    state.iisService = kIisService;
    RunCommand(platform, "net start", state.iisService, "Restarting Microsoft Internet Information Server...");
}

}  // namespace qv
