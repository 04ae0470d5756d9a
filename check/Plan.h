// A kept plan: the preview's JSON, read back so that a machine can later be
// held to it.
#pragma once

#include <string>
#include <vector>

namespace qv::check {

constexpr int kPlanVersion = 1;

struct PlanStep {
    std::string kind;  // as PlannedStep
    std::string target;
    std::string detail;
    std::string value;
    unsigned long identifier = 0;
    std::string answer;    // of a box: yes, no or ok
    unsigned style = 0;    // of a box
    std::string fails;     // the failure the plan foresaw
    std::string question;  // the question whose Yes the change needed
};

struct Plan {
    std::string listPath;  // as the uninstaller was to be given it
    std::string machineName;
    std::string time;
    bool silent = false;
    bool logStays = false;
    bool listDeleted = false;
    std::vector<PlanStep> steps;  // before the list, each piece's in turn, then the clean-up's
};

// True when `kind` is one a plan may hold.
bool IsStepKind(const std::string& kind);

// Reads a kept plan. False, with `error` saying in one line what is wrong,
// when `text` is not a plan of this version; never throws.
bool ReadPlan(const std::string& text, Plan& plan, std::string& error);

// A text in the system's code page as JSON holds it: each byte the character
// of that number (Latin-1), so that every byte survives the round trip.
std::string JsonText(const std::string& bytes);

}  // namespace qv::check
