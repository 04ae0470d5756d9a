#include "app/UninstallCommandLineInfo.h"

namespace qv {

int pendingOption = None;

const char kUsageTitle[] = "Usage";

bool AsksForQuiet(const std::vector<std::string>& arguments) {
    for (std::size_t i = 1; i < arguments.size(); ++i)
        if (arguments[i] == "-q" || arguments[i] == "/q") return true;
    return false;
}

UninstallCommandLineInfo::UninstallCommandLineInfo(Platform& platform) : platform_(platform) {
    // One parser per process; starting it afresh keeps each parse on its own.
    pendingOption = None;
}

void UninstallCommandLineInfo::ParseParam(const std::string& token, bool isSwitch, bool /*isLast*/) {
    if (isSwitch)
        ParseSwitch(token);
    else
        ParsePlain(token);
}

// A switch never looks at what was pending: an accepted one simply replaces it.
void UninstallCommandLineInfo::ParseSwitch(const std::string& token) {
    if (token == "p") {
        pendingOption = ExpectListPath;
    } else if (token == "a") {
        pendingOption = AfterSilent;
        silent = true;
    } else if (token == "d") {
        pendingOption = ExpectDirectory;
    } else if (token == "l") {
        pendingOption = ExpectLogPath;
    } else if (token == "q") {
        // Quiet takes no value: a token after it is rejected, not swallowed as after -a.
        pendingOption = None;
        silent = true;
    } else {
        ShowUsage(token);
        invalidOption = true;
    }
}

void UninstallCommandLineInfo::ParsePlain(const std::string& token) {
    switch (pendingOption) {
    case ExpectListPath:
        listPath = token;
        pendingOption = None;
        break;
    case AfterSilent:
        // -a takes no value, but tolerates one token after it.
        silent = true;
        pendingOption = None;
        break;
    case ExpectDirectory:
        deleteDirectory = token;
        pendingOption = None;
        break;
    case ExpectLogPath:
        logPath = token;
        pendingOption = None;
        break;
    default:
        ShowUsage(token);
        invalidOption = true;
        break;
    }
}

void UninstallCommandLineInfo::ShowUsage(const std::string& token) {
    const std::string text = "Invalid command line option: " + token +
                             "\n\nUsage: \n"
                             "QvUnInstall to uninstall Quorvan product.\n"
                             "QvUnInstall -p path\\QvUninst.txt to uninstall Quorvan product specified in QvUninstall.txt.\n"
                             "QvUnInstall -d directory to delete directory.\n"
                             "QvUnInstall -a silent uninstall.\n";
    platform_.boxes.Show(text, kUsageTitle, kMbOk);
}

}  // namespace qv
