// The uninstaller's options: -p list, -a (silent), -d directory, -l log and
// -q (quiet: silent, and no box is ever shown).
#pragma once

#include <string>
#include <vector>

#include "platform/Framework.h"

namespace qv {

// What the parser waits for between tokens; one process-wide value.
enum PendingOption { None = 0, ExpectListPath = 1, AfterSilent = 2, ExpectDirectory = 3, ExpectLogPath = 4 };
extern int pendingOption;

extern const char kUsageTitle[];  // "Usage"

// Whether -q (or /q) stands anywhere among the arguments (the program's name
// first): it holds from the first token on, the usage boxes included.
bool AsksForQuiet(const std::vector<std::string>& arguments);

class UninstallCommandLineInfo : public CommandLineInfo {
public:
    explicit UninstallCommandLineInfo(Platform& platform);

    void ParseParam(const std::string& token, bool isSwitch, bool isLast) override;

    std::string listPath;
    std::string deleteDirectory;
    std::string logPath;  // where the run writes what it did; empty: nowhere
    bool silent = false;  // -a, or -q (read before parsing: AsksForQuiet)
    bool invalidOption = false;

private:
    void ParseSwitch(const std::string& token);
    void ParsePlain(const std::string& token);
    void ShowUsage(const std::string& token);

    Platform& platform_;
};

}  // namespace qv
