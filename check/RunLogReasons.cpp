#include "check/RunLogReasons.h"

#include "text/Text.h"

namespace qv::check {

namespace {

// The event of a line: what follows its time.
std::string Event(const std::string& line) {
    const std::size_t blank = line.find(' ');
    return blank == std::string::npos ? std::string() : line.substr(blank + 1);
}

// The line the run wrote for this change: its kind and target, then how it went.
bool IsLineOf(const std::string& event, const Step& step) {
    const std::string head = std::string(StepKindName(step.kind)) + " " + step.target;
    if (!StartsWith(event, head)) return false;
    const std::string rest = event.substr(head.size());
    return StartsWith(rest, ": ") || StartsWith(rest, " -> ") || StartsWith(rest, " identifier ");
}

const std::string* LastLine(const RunLogLines& log, bool (*wanted)(const std::string&, const Step&), const Step& step) {
    for (auto line = log.lines.rbegin(); line != log.lines.rend(); ++line)
        if (wanted(Event(*line), step)) return &*line;
    return nullptr;
}

bool IsNoTo(const std::string& event, const Step& step) {
    return StartsWith(event, "box [") && event.find("\"" + Visible(step.question) + "\" -> no") != std::string::npos;
}

bool IsInstallerRun(const std::string& event, const Step&) {
    return StartsWith(event, "run ") && event.find("isuninst") != std::string::npos;
}

bool IsListLine(const std::string& event, const Step&) { return StartsWith(event, "line "); }

}  // namespace

bool ReadRunLog(const std::string& text, RunLogLines& log, std::string& error) {
    log.lines.clear();
    std::size_t start = 0;
    for (std::size_t end; start <= text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (StartsWith(Event(line), "start ")) log.lines.clear();  // a later run's head line: that run is the one
        if (!line.empty()) log.lines.push_back(line);
    }
    if (!log.lines.empty() && StartsWith(Event(log.lines.front()), "start ")) return true;
    error = "it is no run's log: no line begins a run (\"+0.000 start ...\")";
    log.lines.clear();
    return false;
}

std::string WhatTheLogSays(const RunLogLines& log, const Step& step) {
    if (log.lines.empty()) return std::string();
    if (step.kind == StepKind::RemoveLog) {
        const std::string* run = LastLine(log, IsInstallerRun, step);
        return run ? "the log says of the InstallShield uninstaller: " + *run : std::string();
    }
    if (const std::string* line = LastLine(log, IsLineOf, step)) return "the log says: " + *line;
    if (!step.question.empty())
        if (const std::string* no = LastLine(log, IsNoTo, step)) return "answered No in the log: " + *no;
    const std::string& last = log.lines.back();
    const std::string* read = LastLine(log, IsListLine, step);
    const std::string where =
        read ? "after " + Event(*read).substr(0, Event(*read).find(',')) : std::string("before reading the list");
    if (StartsWith(Event(last), "end: ")) return "never reached: the run stopped " + where + " (" + last + ")";
    return "never reached: the log ends " + where + ", at " + last + " (the run was cut short)";
}

}  // namespace qv::check
