// A kept plan: the preview's JSON, read back so that a machine can later be
// held to it.
#pragma once

#include <string>
#include <vector>

#include "check/Step.h"

namespace qv::check {

constexpr int kPlanVersion = 1;

// A folder of the product that the run leaves in place, as planned: a
// silent run removes none, a No keeps the one it answers.
struct KeptFolder {
    std::string target;      // as the run names it
    std::string fullTarget;  // the full path it leads to
    std::string why;         // why the run keeps it
};

// A kept folder as a plan keeps it; from_json throws PlanError.
void to_json(nlohmann::ordered_json& json, const KeptFolder& folder);
void from_json(const nlohmann::ordered_json& json, KeptFolder& folder);

struct Plan {
    std::string listPath;  // as the uninstaller was to be given it
    std::string fullListPath;  // the full path it names where the run starts; none in older plans
    std::string machineName;
    std::string time;
    bool silent = false;
    bool quiet = false;    // QvUnInstall -q
    bool logStays = false;
    bool listDeleted = false;
    std::vector<Step> steps;  // before the list, each piece's in turn, then the clean-up's
    std::vector<KeptFolder> kept;  // none in plans written before they were kept
    int exitStatus = -1;   // the status the run will end with; -1 in plans written before it was kept
    std::string exitDecidedBy;
};

// A plan's document read; throws PlanError for one that is no plan of this version.
void from_json(const nlohmann::ordered_json& json, Plan& plan);

// Reads a kept plan. False, with `error` saying in one line what is wrong,
// when `text` is not a plan of this version; never throws.
bool ReadPlan(const std::string& text, Plan& plan, std::string& error);

}  // namespace qv::check
