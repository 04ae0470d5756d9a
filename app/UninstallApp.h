// The application object: the program's whole life is InitInstance.
#pragma once

#include <string>

#include "app/RunLog.h"
#include "app/RunVerdict.h"
#include "app/UninstallCommandLineInfo.h"
#include "platform/Framework.h"
#include "uninstall/UninstallList.h"

namespace qv {

class UninstallApp : public Application {
public:
    explicit UninstallApp(Platform& platform);

    bool InitInstance() override;

    // Carries out the uninstall list; 1 when it ran to its end, else 0.
    int RunUninstallList(const std::string& listPath, bool silent);

    UninstallCommandLineInfo commandLine;
    std::string listPath;
    ListObserver* observer = nullptr;  // a preview, or the run's log, watches the driver
    RunLog* log = nullptr;             // opened with -l
    RunVerdict* verdict = nullptr;     // between the recorder and the log: what a quiet run ends with

private:
    // -q: the verdict is told before the first box, and what start-up alone decides.
    bool StartQuietly();
    bool QuietStartRefused();
};

}  // namespace qv
