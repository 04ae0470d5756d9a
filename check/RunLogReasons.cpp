#include "check/RunLogReasons.h"

#include "record/LogLine.h"
#include "text/Text.h"

namespace qv::check {

namespace {

bool Read(const std::string& line, LoggedStep& logged) { return ReadStepLine(EventOf(line), logged); }

// The last line of the log that `wanted` picks, or null.
template <typename Wanted>
const std::string* LastLine(const RunLogLines& log, Wanted wanted) {
    for (auto line = log.lines.rbegin(); line != log.lines.rend(); ++line) {
        LoggedStep logged;
        if (Read(*line, logged) && wanted(logged)) return &*line;
    }
    return nullptr;
}

// The line the run wrote for this change, whatever its outcome.
bool IsChangeOf(const LoggedStep& logged, const Step& step) {
    return SameStep(logged, step) && logged.outcome != Outcome::Answered && logged.outcome != Outcome::NotShown &&
           logged.outcome != Outcome::Started;
}

}  // namespace

bool ReadRunLog(const std::string& text, RunLogLines& log, std::string& error) {
    log.lines.clear();
    std::size_t start = 0;
    for (std::size_t end; start <= text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (StartsWith(EventOf(line), kHeadEvent)) log.lines.clear();  // a later run's head line: that run is the one
        if (!line.empty()) log.lines.push_back(line);
    }
    if (!log.lines.empty() && StartsWith(EventOf(log.lines.front()), kHeadEvent)) return true;
    error = "it is no run's log: no line begins a run (\"+0.000 start ...\")";
    log.lines.clear();
    return false;
}

std::string WhatTheLogSays(const RunLogLines& log, const Step& step) {
    if (log.lines.empty()) return std::string();
    if (step.kind == StepKind::RemoveLog) {
        const std::string* run = LastLine(log, [](const LoggedStep& logged) {
            return logged.kind == StepKind::Run && logged.place.find("isuninst") != std::string::npos;
        });
        return run ? "the log says of the InstallShield uninstaller: " + *run : std::string();
    }
    if (const std::string* line = LastLine(log, [&](const LoggedStep& logged) { return IsChangeOf(logged, step); }))
        return "the log says: " + *line;
    if (!step.question.empty())
        if (const std::string* no = LastLine(log, [&](const LoggedStep& logged) {
                return logged.kind == StepKind::Box && logged.place == LoggedText(step.question) && logged.said == "no";
            }))
            return "answered No in the log: " + *no;
    const std::string& last = log.lines.back();
    const std::string* read = nullptr;
    for (auto line = log.lines.rbegin(); line != log.lines.rend() && !read; ++line)
        if (IsPieceEvent(EventOf(*line))) read = &*line;
    const std::string where = read ? "after " + EventOf(*read).substr(0, EventOf(*read).find(','))
                                   : std::string("before reading the list");
    if (StartsWith(EventOf(last), kEndEvent)) return "never reached: the run stopped " + where + " (" + last + ")";
    return "never reached: the log ends " + where + ", at " + last + " (the run was cut short)";
}

std::string FailureInTheLog(const RunLogLines& log, const Step& step) {
    const std::string* line = LastLine(log, [&](const LoggedStep& logged) {
        return IsChangeOf(logged, step) && logged.outcome == Outcome::Failed;
    });
    return line ? "the log says: " + *line : std::string();
}

bool SettledByTheLog::Settle(const Step& step, bool& done, std::string& why) {
    for (std::size_t i = next_; i < log_.lines.size(); ++i) {
        LoggedStep logged;
        if (!Read(log_.lines[i], logged) || !SameStep(logged, step)) continue;
        next_ = i + 1;
        if (step.kind == StepKind::Box) {
            done = logged.said == AnswerName(step.answer);
            why = (logged.outcome == Outcome::NotShown ? "by the log: not shown (quiet run), taken as "
                                                       : "by the log: shown, answered ") +
                  logged.said + (done ? "" : ", not " + std::string(AnswerName(step.answer)));
            return true;
        }
        if (logged.outcome == Outcome::CannotRun) {
            done = false;
            why = "by the log: Cannot run: " + logged.said;
            return true;
        }
        done = true;
        why = "by the log: started";
        for (std::size_t j = i + 1; j < log_.lines.size(); ++j) {
            LoggedStep end;
            if (!Read(log_.lines[j], end) || !SameStep(end, step)) continue;
            if (end.outcome == Outcome::Ended) why = "by the log: ran, ended after " + end.said;
            if (end.outcome == Outcome::WaitEnded) why = "by the log: started; the wait was ended after " + end.said;
            if (end.outcome == Outcome::Ended || end.outcome == Outcome::WaitEnded) break;
        }
        return true;
    }
    return false;
}

}  // namespace qv::check
