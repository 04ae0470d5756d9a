// A run log's line for each thing the recorder hands on, written and read
// back in one place: the run writes these words, the verification reads them.
#pragma once

#include <string>

#include "record/RecordSink.h"

namespace qv {

// The head line's and the end line's first words, and how a timed line
// ("+1.234 <event>") gives its event.
extern const char kHeadEvent[];  // "start "
extern const char kEndEvent[];   // "end: "
std::string EventOf(const std::string& timedLine);
// The end line: "end: no outcome shown, exit status 1603, decided by <event>".
extern const char kExitStatusWords[];  // ", exit status "
extern const char kDecidedByWords[];   // ", decided by "
// The exit status an end line names, and what decided it (empty where it
// says nothing); false when `event` is no end line that names a status.
bool ReadExitStatus(const std::string& event, int& status, std::string& decidedBy);
bool IsPieceEvent(const std::string& event);

// "line 3 piece 2, row 9 InstallShield log: <bytes>".
std::string PieceLine(int line, int piece, int row, const std::string& bytes);
extern const char kCleanupLine[];  // "closing clean-up"

// "<kind> <full path> (as spelt <path>): done", "... : failed: <errorText>",
// "box [<title>] "<text>" -> yes", "run <command line>: started", ...
// A change is named by the full path it reached; the spelling stands beside
// it where it reads otherwise.
std::string StepLine(const Recorded& recorded, const std::string& errorText);

// A step's line read back: what `StepLine` wrote, in its parts.
struct LoggedStep {
    StepKind kind = StepKind::Note;
    std::string place;  // the full path, key, command line or box text (control bytes shown as written)
    std::string spelt;  // the path as spelt, where the line gives it; else `place`
    std::string title;  // a box's
    Outcome outcome = Outcome::Done;
    std::string said;   // after the outcome: the error's text, the answer, the time
};

// False for a line that is no step's (a piece, the head, the end).
bool ReadStepLine(const std::string& event, LoggedStep& logged);

// The logged step names the same thing as `step` (of a plan): its kind and
// its target, by the full path or as spelt.
bool SameStep(const LoggedStep& logged, const Step& step);

// A box's text or a command line as the log writes it.
std::string LoggedText(const std::string& text);

}  // namespace qv
