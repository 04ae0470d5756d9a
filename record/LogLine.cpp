#include "record/LogLine.h"

#include <cstdio>

#include "platform/Platform.h"
#include "text/PathText.h"
#include "text/Text.h"
#include "uninstall/UninstallList.h"

namespace qv {

namespace {

const char kAsSpelt[] = " (as spelt ";
const char kDone[] = ": done";
const char kAlreadyGone[] = ": already gone (not found)";
const char kFailed[] = ": failed: ";
const char kStarted[] = ": started";
const char kCannotRun[] = ": Cannot run: ";
const char kEndedAfter[] = ": ended after ";
const char kWaitEnded[] = ": the wait was ended after ";
const char kRunsOn[] = " (Escape or the close box); the program runs on";
const char kNotShown[] = " (not shown: quiet run)";

std::string Seconds(unsigned long milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lu.%lu s", milliseconds / 1000, milliseconds % 1000 / 100);
    return text;
}

// A path by the full path it reached, and as spelt where that reads otherwise.
std::string Place(const std::string& spelt, const std::string& full) {
    if (full.empty() || full == spelt) return VisibleControls(spelt);
    return VisibleControls(full) + kAsSpelt + VisibleControls(spelt) + ")";
}

// What follows the step's name: the new name, the value written.
std::string Named(const Step& step) {
    switch (step.kind) {
    case StepKind::Box: return "[" + VisibleControls(step.detail) + "] \"" + LoggedText(step.target) + "\"";
    case StepKind::Run: return LoggedText(step.target);
    case StepKind::Rename: return Place(step.target, step.fullTarget) + " -> " + Place(step.detail, step.fullDetail);
    case StepKind::SetValue: return VisibleControls(step.target) + " -> \"" + Visible(step.value) + "\"";
    case StepKind::MetabaseSetData:
        return VisibleControls(step.target) + " identifier " + std::to_string(step.identifier) + " -> \"" +
               Visible(step.value) + "\"";
    case StepKind::DeleteKey:
    case StepKind::MetabaseDeleteKey:
    case StepKind::Note:
    case StepKind::Exit: return VisibleControls(step.target);
    case StepKind::DeleteFolder:
    case StepKind::RemoveFolder:
    case StepKind::DeleteFile:
    case StepKind::WriteFile:
    case StepKind::RewriteConfig:
    case StepKind::RemoveLog:
    case StepKind::CurrentDirectory: return Place(step.target, step.fullTarget);
    }
    return std::string();  // not reached: every kind is named above
}

std::string OutcomeText(const Recorded& r, const std::string& errorText) {
    switch (r.outcome) {
    case Outcome::Done: return kDone;
    case Outcome::AlreadyGone: return kAlreadyGone;
    case Outcome::Failed: return kFailed + errorText;
    case Outcome::Answered: return std::string(" -> ") + AnswerName(r.step.answer);
    case Outcome::NotShown: return std::string(" -> ") + AnswerName(r.step.answer) + kNotShown;
    case Outcome::Started: return kStarted;
    case Outcome::CannotRun: return kCannotRun + errorText;
    case Outcome::Ended: return kEndedAfter + Seconds(r.milliseconds);
    case Outcome::WaitEnded: return kWaitEnded + Seconds(r.milliseconds) + kRunsOn;
    }
    return std::string();  // not reached: every outcome is named above
}

// Splits "<rest><marker><said>" where the marker ends the line (`atEnd`) or begins the tail.
bool Split(const std::string& text, const std::string& marker, bool atEnd, std::string& rest, std::string& said) {
    const std::size_t at = atEnd ? (EndsWith(text, marker) ? text.size() - marker.size() : std::string::npos)
                                 : text.find(marker);
    if (at == std::string::npos) return false;
    rest = text.substr(0, at);
    said = text.substr(at + marker.size());
    return true;
}

// "<full> (as spelt <spelt>)" into its two parts.
void ReadPlace(const std::string& text, LoggedStep& logged) {
    const std::size_t as = text.find(kAsSpelt);
    if (as != std::string::npos && EndsWith(text, ")")) {
        logged.place = text.substr(0, as);
        logged.spelt = text.substr(as + sizeof kAsSpelt - 1, text.size() - as - (sizeof kAsSpelt - 1) - 1);
    } else {
        logged.place = logged.spelt = text;
    }
}

}  // namespace

const char kCleanupLine[] = "closing clean-up";
const char kHeadEvent[] = "start ";
const char kEndEvent[] = "end: ";
const char kExitStatusWords[] = ", exit status ";
const char kDecidedByWords[] = ", decided by ";

bool ReadExitStatus(const std::string& event, int& status, std::string& decidedBy) {
    // The outcome before the status is one of the run's own two texts; what
    // decided it comes after, and may hold any words.
    const std::size_t at = event.find(kExitStatusWords);
    if (!StartsWith(event, kEndEvent) || at == std::string::npos) return false;
    const std::size_t from = at + sizeof kExitStatusWords - 1;
    std::size_t to = from;
    while (to < event.size() && to - from < 9 && event[to] >= '0' && event[to] <= '9') ++to;
    if (to == from || (to < event.size() && event.compare(to, sizeof kDecidedByWords - 1, kDecidedByWords) != 0))
        return false;
    status = std::stoi(event.substr(from, to - from));
    decidedBy = to < event.size() ? event.substr(to + sizeof kDecidedByWords - 1) : std::string();
    return true;
}

std::string EventOf(const std::string& timedLine) {
    const std::size_t blank = timedLine.find(' ');
    return blank == std::string::npos ? std::string() : timedLine.substr(blank + 1);
}

bool IsPieceEvent(const std::string& event) { return StartsWith(event, "line "); }

std::string LoggedText(const std::string& text) { return Visible(text); }

std::string PieceLine(int line, int piece, int row, const std::string& bytes) {
    return "line " + std::to_string(line) + (piece > 1 ? " piece " + std::to_string(piece) : "") + ", row " +
           std::to_string(row) + " " + RowName(row) + ": " + Visible(bytes);
}

std::string StepLine(const Recorded& recorded, const std::string& errorText) {
    return std::string(StepKindName(recorded.step.kind)) + " " + Named(recorded.step) + OutcomeText(recorded, errorText);
}

bool ReadStepLine(const std::string& event, LoggedStep& logged) {
    const std::size_t blank = event.find(' ');
    if (blank == std::string::npos || !StepKindNamed(event.substr(0, blank), logged.kind)) return false;
    const std::string text = event.substr(blank + 1);
    std::string rest;
    if (logged.kind == StepKind::Box) {
        const std::size_t close = text.find("] \""), arrow = text.rfind("\" -> ");
        if (text.empty() || text[0] != '[' || close == std::string::npos || arrow == std::string::npos || arrow < close)
            return false;
        logged.title = text.substr(1, close - 1);
        logged.place = logged.spelt = text.substr(close + 3, arrow - close - 3);
        logged.said = text.substr(arrow + 5);
        const bool shown = !EndsWith(logged.said, kNotShown);
        logged.outcome = shown ? Outcome::Answered : Outcome::NotShown;
        if (!shown) logged.said.resize(logged.said.size() - (sizeof kNotShown - 1));
        return true;
    }
    const struct {
        const char* marker;
        bool atEnd;
        Outcome outcome;
    } endings[] = {{kDone, true, Outcome::Done},           {kAlreadyGone, true, Outcome::AlreadyGone},
                   {kStarted, true, Outcome::Started},     {kFailed, false, Outcome::Failed},
                   {kCannotRun, false, Outcome::CannotRun}, {kEndedAfter, false, Outcome::Ended},
                   {kWaitEnded, false, Outcome::WaitEnded}};
    for (const auto& ending : endings) {
        if (!Split(text, ending.marker, ending.atEnd, rest, logged.said)) continue;
        logged.outcome = ending.outcome;
        if (logged.kind == StepKind::Run) {
            logged.place = logged.spelt = rest;
            return true;
        }
        // The value or the new name after the place.
        const std::size_t arrow = rest.find(logged.kind == StepKind::MetabaseSetData ? " identifier " : " -> ");
        const bool valued = logged.kind == StepKind::SetValue || logged.kind == StepKind::MetabaseSetData ||
                            logged.kind == StepKind::Rename;
        ReadPlace(valued && arrow != std::string::npos ? rest.substr(0, arrow) : rest, logged);
        return true;
    }
    return false;
}

bool SameStep(const LoggedStep& logged, const Step& step) {
    if (logged.kind != step.kind) return false;
    if (step.kind == StepKind::Box)
        return logged.title == VisibleControls(step.detail) && logged.place == LoggedText(step.target);
    if (step.kind == StepKind::Run) return logged.place == LoggedText(step.target);
    const std::string target = VisibleControls(step.target);
    return logged.spelt == target || logged.place == target ||
           (!step.fullTarget.empty() && SamePath(logged.place, VisibleControls(step.fullTarget)));
}

}  // namespace qv
