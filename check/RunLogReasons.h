// A run's log (QvUnInstall -l) read back beside its plan: for a step that
// is not done, the line of the log that says what happened to it.
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

}  // namespace qv::check
