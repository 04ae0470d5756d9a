// What the recorder hands on as a run goes: each list piece the driver
// reads, each step with how it went. A run's log and a preview's plan are
// two sinks of the same record.
#pragma once

#include <string>

#include "uninstall/StepKind.h"

namespace qv {

struct CleanupState;

// How a step went.
enum class Outcome {
    Done,
    AlreadyGone,  // a removal that found nothing to remove: the state the run wanted
    Failed,       // `error` says why
    Answered,     // a box, with the button it was answered with
    NotShown,     // a box a quiet run did not show, taken as answered with `step.answer`
    Started,      // a program, started
    CannotRun,    // a program that could not be started: `error`
    Ended,        // the program the running dialog waited for ended, after `milliseconds`
    WaitEnded,    // the user ended the wait (Escape, the close box) after `milliseconds`; it runs on
};

struct Recorded {
    Step step;
    Outcome outcome = Outcome::Done;
    unsigned long error = 0;         // the system's error, when it failed
    unsigned long milliseconds = 0;  // a program's time
};

class RecordSink {
public:
    virtual ~RecordSink() = default;
    // False once nothing more is worth handing on (a log that never opened).
    virtual bool Recording() const { return true; }
    // A quiet run (-q): no box is shown; each is taken as answered.
    virtual bool Quiet() const { return false; }
    // A list piece read: its line and piece within the line (from 1), the
    // row that claims it and its bytes.
    virtual void Piece(int line, int piece, int row, const std::string& bytes) = 0;
    // The driver is done with the piece read last.
    virtual void PieceDone(const CleanupState&) {}
    virtual void CleanupBegins() = 0;
    virtual void Took(const Recorded& recorded) = 0;
    // The program ends with `status` (`why`: what decided it, if known);
    // nothing follows. Returns the status it ends with: a quiet run's is its own.
    virtual int Exiting(int status, const std::string& why) = 0;
};

}  // namespace qv
