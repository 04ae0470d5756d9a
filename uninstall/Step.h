// One step the uninstaller takes that a user or the machine would see, as
// the recorder names it: what a run's log writes, a plan keeps and the
// verification looks for.
#pragma once

#include <string>

#include "uninstall/StepKind.h"

namespace qv {

// Step::piece outside the list's own pieces (numbered from 0).
constexpr int kPieceStartup = -1;  // before the list is read
constexpr int kPieceCleanup = -2;  // in the closing clean-up

struct Step {
    StepKind kind = StepKind::Note;
    std::string target;  // the command line, path, key or box text, as the logic spelt it
    std::string detail;  // caption, flags, title, value
    int answer = 0;      // the button a box was answered with
    unsigned style = 0;  // a box's style; a started program's show flag, which a plan does not keep
    int piece = kPieceStartup;  // the list piece being carried out, or one of the two above
    std::string value;   // the value a registry or metabase value is set to
    unsigned long identifier = 0;  // the metabase value's identifier
    std::string fails;     // why the machine as read makes this call fail; empty when it is taken to succeed
    std::string question;  // the question whose Yes this change needs
    // Where a target or a rename's new name that is a path leads: the full
    // path the system made of it against the current directory at this step.
    // Empty for other steps, and in plans written before it was kept.
    std::string fullTarget, fullDetail;
};

}  // namespace qv
