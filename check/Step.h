// A step as the preview and a kept plan show it, and its JSON, the plan file's.
#pragma once

#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "uninstall/StepKind.h"

namespace qv::check {

using qv::Step;
using qv::StepKind;
using qv::kPieceCleanup;
using qv::kPieceStartup;

// The kind of that name; throws PlanError for a name no kind has.
StepKind KindNamed(const std::string& name);

// What a step is to a verification: something shown or started, a change
// it can look for, or a note of the run's own.
enum class StepRole { Shown, Change, Note };
StepRole RoleOf(StepKind kind);

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

}  // namespace qv::check

namespace qv {
// A step as a plan keeps it: the fields its kind uses, those that are empty left out.
void to_json(nlohmann::ordered_json& json, const Step& step);
// Throws check::PlanError; `piece` is left as it is.
void from_json(const nlohmann::ordered_json& json, Step& step);

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
