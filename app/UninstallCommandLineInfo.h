// The uninstaller's options: -p list, -a (silent), -d directory, and -l log.
#pragma once

#include <string>

#include "platform/Framework.h"

namespace qv {

// What the parser waits for between tokens; one process-wide value.
enum PendingOption { None = 0, ExpectListPath = 1, AfterSilent = 2, ExpectDirectory = 3, ExpectLogPath = 4 };
extern int pendingOption;

class UninstallCommandLineInfo : public CommandLineInfo {
public:
    explicit UninstallCommandLineInfo(Platform& platform);

    void ParseParam(const std::string& token, bool isSwitch, bool isLast) override;

    std::string listPath;
    std::string deleteDirectory;
    std::string logPath;  // where the run writes what it did; empty: nowhere
    bool silent = false;
    bool invalidOption = false;

private:
    void ParseSwitch(const std::string& token);
    void ParsePlain(const std::string& token);
    void ShowUsage(const std::string& token);

    Platform& platform_;
};

}  // namespace qv
