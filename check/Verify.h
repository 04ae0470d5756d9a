// A machine held to a kept plan after the run: which planned changes it
// shows, and what of the family is still on it. Only reads, and only full
// paths: where the verification itself stands plays no part. Only a
// not-found answer counts as gone; any other failure to look is said as such.
#pragma once

#include <string>
#include <vector>

#include "check/Plan.h"
#include "platform/Platform.h"

namespace qv::check {

enum class StepState { Done, NotDone, NotCheckable };

struct VerifiedStep {
    Step step;
    StepState state = StepState::NotCheckable;
    std::string why;      // what was found, when the step is not done or can't be checked; a failure foreseen
    bool needed = false;  // a change the verification is complete only when done
    std::string log;      // what the run's log says of a step that is not done
};

// A place the closing clean-up looks at that still holds something of the
// family, or that could not be looked at.
enum class LeftoverKind { ProductKey, FamilyKey, StartMenuFolder };
struct Leftover {
    LeftoverKind kind = LeftoverKind::ProductKey;
    std::string target;
    bool unknown = false;  // it could not be read: `why` says what the system answered
    std::string why;
};

// A folder the plan keeps, as found. Whichever it is, the verification is
// no more or less complete for it.
enum class KeptState { StillThere, NotThere, Unknown };
struct KeptFound {
    KeptFolder folder;
    KeptState state = KeptState::Unknown;
    std::string why;  // when unknown
};

// The exit status the plan foretold, held against the one the run's log
// ends with: -1 where the plan keeps none, or no log (or no end line) says one.
struct ExitStatusHeld {
    int planned = -1, logged = -1;
    std::string decidedBy;  // as the log's end line says
    bool Differs() const { return planned >= 0 && logged >= 0 && planned != logged; }
};

struct Verification {
    std::string machineName;  // of this machine
    bool sameMachine = true;
    std::vector<VerifiedStep> steps;  // the plan's changes, shown boxes and started programs
    std::vector<Leftover> leftovers;
    std::vector<KeptFound> kept;
    ExitStatusHeld exitStatus;
    // Every change the plan makes is seen done, nothing of the family is
    // left or unknown, and the run ended with the status the plan foretold.
    bool Complete() const;
};

Verification Verify(Platform& machine, const Plan& plan);

const char* StateName(StepState state);
const char* KeptStateName(KeptState state);        // "still there", "not there", "unknown"
const char* LeftoverKindName(LeftoverKind kind);   // "product-key", "family-key", "start-menu-folder"


std::string RenderVerification(const Plan& plan, const Verification& verification, const std::string& planFile,
                               bool json);

// Reads the plan at `planFile` through `files` and holds `machine` to it,
// printing to `out`; with a `runLog`, each step not done gets the log's word
// on it. 0 when the verification is complete, 1 when it is not, 2 when the
// plan or the log can't be read or is none; `out` is then one line saying why.
int RunVerify(Platform& machine, FileSystem& files, const std::string& planFile, const std::string& runLog, bool json,
              std::string& out);

}  // namespace qv::check
