// One step the uninstaller would take that a user or the machine would see:
// what the planning platform records, the preview and a kept plan show, and
// the verification looks for. Its JSON is the plan file's.
#pragma once

#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "uninstall/StepKind.h"

namespace qv::check {

using qv::StepKind;

// The kind of that name; throws PlanError for a name no kind has.
StepKind KindNamed(const std::string& name);

// What a step is to a verification: something shown or started, a change
// it can look for, or a note of the run's own.
enum class StepRole { Shown, Change, Note };
StepRole RoleOf(StepKind kind);

// Step::piece outside the list's own pieces (numbered from 0).
constexpr int kPieceStartup = -1;  // before the list is read
constexpr int kPieceCleanup = -2;  // in the closing clean-up

struct Step {
    StepKind kind = StepKind::Note;
    std::string target;  // the command line, path, key or box text
    std::string detail;  // caption, flags, title, value
    int answer = 0;      // the button a box was answered with
    unsigned style = 0;  // a box's style; a started program's show flag, which a plan does not keep
    int piece = kPieceStartup;  // the list piece being carried out, or one of the two above
    std::string value;   // the value a registry or metabase value is set to
    unsigned long identifier = 0;  // the metabase value's identifier
    std::string fails;     // why the machine as read makes this call fail; empty when it is taken to succeed
    std::string question;  // the question whose Yes this change needs
    // Where a target or a rename's new name that is a path leads: the full
    // path the run makes of it against its current directory at this step.
    // Empty for other steps, and in plans written before it was kept.
    std::string fullTarget, fullDetail;
};

// A box's answer as a plan names it: yes, no or ok.
std::string AnswerName(int answer);

// One step in the preview's words.
std::string Describe(const Step& step);

// A path as spelt, with the full path it leads to when that reads otherwise.
std::string Spelt(const std::string& path, const std::string& full);

// A text in the system's code page as JSON holds it: each byte the character
// of that number (Latin-1), so that every byte survives the round trip.
std::string JsonText(const std::string& bytes);

// What makes a document no plan, in one line; ReadPlan says where.
struct PlanError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The text field `name` as code-page bytes; false when it is absent and not
// `required`. Throws PlanError.
bool ReadText(const nlohmann::ordered_json& object, const char* name, std::string& out, bool required = true);

// A step as a plan keeps it: the fields its kind uses, those that are empty left out.
void to_json(nlohmann::ordered_json& json, const Step& step);
// Throws PlanError; `piece` is left as it is.
void from_json(const nlohmann::ordered_json& json, Step& step);

}  // namespace qv::check

namespace qv {
// A kind in JSON, as a plan names it; a name that no kind has throws check::PlanError.
template <typename Json>
void to_json(Json& json, StepKind kind) {
    json = StepKindName(kind);
}
template <typename Json>
void from_json(const Json& json, StepKind& kind) {
    kind = check::KindNamed(json.template get<std::string>());
}
}  // namespace qv
