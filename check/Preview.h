// The preview of an uninstall list: the uninstaller's own start-up, list
// driver and clean-up, run on a simulated machine under the recorder, watched piece by piece.
#pragma once

#include <string>
#include <vector>

#include "check/Plan.h"
#include "check/PiecePreview.h"
#include "check/SimulatedMachine.h"
#include "platform/Platform.h"

namespace qv::check {

struct PreviewOptions : PlanningOptions {
    bool silent = false;
    bool quiet = false;  // QvUnInstall -q: silent, and no box shown
    bool json = false;
    std::string time;      // when the plan is made
    std::string verify;    // the kept plan to hold the machine to, instead of a preview
    std::string runLog;    // with verify: the run's log (QvUnInstall -l), read for why a step is not done
};

struct Preview {
    bool readable = false;
    std::string bytes;  // the whole list
    std::vector<PiecePreview> pieces;
    std::vector<Step> startup;  // before the first piece
    std::vector<Step> cleanup;
    std::vector<Warning> warnings;  // every warning, in line order
    bool cleanupRan = false;
    bool listDeleted = false;
    std::string installRoot;
    std::string fullListPath;  // where the run starts
    std::vector<KeptFolder> kept;  // the product's folders the run leaves where they are
    std::vector<std::string> removedLogs;
    int exitStatus = 0;     // what the run ends with: a quiet run's own, else the framework's 0
    std::string exitWhy;    // what decides a quiet run's status
    std::string machineName;
};

Preview MakePreview(Platform& reading, const PreviewOptions& options);


std::string RenderPlain(const Preview& preview, const PreviewOptions& options);
std::string RenderJson(const Preview& preview, const PreviewOptions& options);

// The preview printed to `out` (plain, or with --json a plan: see Plan.h);
// the exit status: 0 no warning, 1 warnings (a failure foretold among them),
// 2 the list can't be read.
int RunCheck(Platform& reading, const PreviewOptions& options, std::string& out);

}  // namespace qv::check
