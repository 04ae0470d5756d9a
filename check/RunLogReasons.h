// A run's log (QvUnInstall -l) read back beside its plan: for a step that
// is not done, the line of the log that says what happened to it; for a
// box shown or a program run, what the log saw of it.
#pragma once

#include <string>
#include <vector>

#include "check/Step.h"

namespace qv::check {

// The last run a log holds: its lines from its head line on, each as
// written ("+1.234 delete-folder C:\Quorvan: done").
struct RunLogLines {
    std::vector<std::string> lines;
};

// False, with `error` saying why in one line, when `text` holds no run's head line.
bool ReadRunLog(const std::string& text, RunLogLines& log, std::string& error);

// What the log says of `step`: the line that did it (failed, with the
// system's text), the box whose No kept it, or where the run stopped before
// it; empty when the log says nothing that bears on it.
std::string WhatTheLogSays(const RunLogLines& log, const Step& step);

// The line of the log that says `step`, a change, failed; empty when none does.
std::string FailureInTheLog(const RunLogLines& log, const Step& step);

// The boxes and programs of a plan, each settled by the log's line for it,
// taken in the plan's order.
class SettledByTheLog {
public:
    explicit SettledByTheLog(const RunLogLines& log) : log_(log) {}
    // False when the log has no line for it (after the one settled before);
    // else `done` and `why`, what the log saw ("ran, ended after 2.1 s").
    bool Settle(const Step& step, bool& done, std::string& why);

private:
    const RunLogLines& log_;
    std::size_t next_ = 0;
};

}  // namespace qv::check
