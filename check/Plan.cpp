#include "check/Plan.h"

#include <algorithm>

#include "text/PathText.h"
#include "text/Text.h"
#include "uninstall/ClosingCleanup.h"
#include "webserver/IisFilter.h"

namespace qv::check {

namespace {

using Json = nlohmann::ordered_json;

bool Flag(const Json& object, const char* name) {
    const auto field = object.find(name);
    if (field == object.end()) throw PlanError(std::string("\"") + name + "\" is missing");
    if (!field->is_boolean()) throw PlanError(std::string("\"") + name + "\" is not true or false");
    return field->get<bool>();
}

// `path` is `top` or lies below it, by names of its own ("." and ".." are
// no names here: the reading side need not resolve them as the writer did).
bool Within(const std::string& path, const std::string& top, char separator) {
    const std::string folded = FoldedCase(path);
    if (folded.compare(0, top.size(), FoldedCase(top)) != 0) return false;
    std::string rest = folded.substr(top.size());
    if (rest.empty()) return true;
    if (rest[0] != separator) return false;
    for (std::size_t at = 0; at != std::string::npos;) {
        const std::size_t next = rest.find(separator, at + 1);
        const std::string name = rest.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
        if (name.empty() || name == "." || name == ".." || name.find_first_of("\\/") != std::string::npos)
            return false;
        at = next;
    }
    return true;
}

// The verification reads what a step names: only what a run of this program
// changes may be named, so a plan can't make it read a password or another key.
void RefuseForeignTarget(const Step& step) {
    const std::string shown = "\"target\" " + VisibleControls(step.target);
    if (step.kind == StepKind::SetValue &&
        FoldedCase(step.target) != FoldedCase(std::string(kParametersKey) + "\\" + kFilterDlls))
        throw PlanError(shown + " is no value a run of this program sets");
    if (step.kind == StepKind::DeleteKey && !Within(step.target, kFamilyKeys[1], '\\'))
        throw PlanError(shown + " lies outside HKLM\\" + kFamilyKeys[1] + ": no run of this program deletes it");
    if ((step.kind == StepKind::MetabaseDeleteKey || step.kind == StepKind::MetabaseSetData) &&
        !Within(step.target, Narrowed(kFiltersKey), '/'))
        throw PlanError(shown + " lies outside " + Narrowed(kFiltersKey) + ": no run of this program changes it");
}

// The steps of `list`, each of `piece` (as Step::piece has it).
void ReadSteps(const Json& list, const std::string& where, int piece, std::vector<Step>& steps) {
    if (!list.is_array()) throw PlanError(where + " is not a list");
    for (std::size_t i = 0; i < list.size(); ++i) {
        try {
            steps.push_back(list[i].get<Step>());
            RefuseForeignTarget(steps.back());
        } catch (const PlanError& e) {
            throw PlanError(where + " step " + std::to_string(i + 1) + ": " + e.what());
        }
        steps.back().piece = piece;
    }
}

std::vector<KeptFolder> ReadKept(const Json& document) {
    std::vector<KeptFolder> kept;
    const auto list = document.find("kept");
    if (list == document.end()) return kept;
    if (!list->is_array()) throw PlanError("\"kept\" is not a list");
    for (std::size_t i = 0; i < list->size(); ++i) {
        try {
            kept.push_back((*list)[i].get<KeptFolder>());
        } catch (const PlanError& e) {
            throw PlanError("\"kept\" folder " + std::to_string(i + 1) + ": " + e.what());
        }
    }
    return kept;
}

}  // namespace

void from_json(const Json& document, Plan& plan) {
    if (!document.is_object()) throw PlanError("it is not a plan: not a JSON object");
    const auto version = document.find("plan");
    if (version == document.end()) throw PlanError("it is not a plan: it has no \"plan\" version");
    if (!version->is_number()) throw PlanError("\"plan\" is not a version number");
    // Named as written: a number past any integer's range is no version -1.
    if (!version->is_number_unsigned() || version->get<unsigned long long>() != kPlanVersion)
        throw PlanError("it is a plan of version " + version->dump() + "; this program reads version " +
                        std::to_string(kPlanVersion));
    ReadText(document, "listPath", plan.listPath);
    ReadText(document, "fullListPath", plan.fullListPath, false);
    ReadText(document, "machineName", plan.machineName);
    ReadText(document, "time", plan.time);
    plan.silent = Flag(document, "silent");
    plan.quiet = document.contains("quiet") && Flag(document, "quiet");
    plan.logStays = Flag(document, "logStays");
    plan.listDeleted = Flag(document, "listDeleted");
    for (const char* part : {"startup", "pieces", "cleanup"})
        if (document.find(part) == document.end()) throw PlanError(std::string("\"") + part + "\" is missing");
    ReadSteps(document.at("startup"), "\"startup\"", kPieceStartup, plan.steps);
    const Json& pieces = document.at("pieces");
    if (!pieces.is_array()) throw PlanError("\"pieces\" is not a list");
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::string where = "piece " + std::to_string(i + 1);
        if (!pieces[i].is_object() || pieces[i].find("steps") == pieces[i].end())
            throw PlanError(where + " has no \"steps\"");
        ReadSteps(pieces[i].at("steps"), where, static_cast<int>(i), plan.steps);
    }
    ReadSteps(document.at("cleanup"), "\"cleanup\"", kPieceCleanup, plan.steps);
    if (plan.listDeleted && std::none_of(plan.steps.begin(), plan.steps.end(), [&](const Step& step) {
            return DeletesList(step, plan.listPath, plan.fullListPath);
        }))
        throw PlanError("\"listDeleted\" is true, but no step deletes the list");
    plan.kept = ReadKept(document);
    if (const auto status = document.find("exitStatus"); status != document.end()) {
        if (!status->is_number_unsigned() || status->get<unsigned long long>() > 0x7FFFFFFFull)
            throw PlanError("\"exitStatus\" is not an exit status");
        plan.exitStatus = static_cast<int>(status->get<unsigned long long>());
        if (document.contains("exitDecidedBy") && !document.at("exitDecidedBy").is_null())
            ReadText(document, "exitDecidedBy", plan.exitDecidedBy);
    }
}

void to_json(Json& json, const KeptFolder& folder) {
    json = {{"target", JsonText(folder.target)}, {"fullTarget", JsonText(folder.fullTarget)}, {"why", JsonText(folder.why)}};
}

void from_json(const Json& json, KeptFolder& folder) {
    if (!json.is_object()) throw PlanError("it is not an object");
    ReadText(json, "target", folder.target);
    if (folder.target.empty()) throw PlanError("\"target\" is empty");
    ReadText(json, "fullTarget", folder.fullTarget, false);
    ReadText(json, "why", folder.why, false);
}

bool ReadPlan(const std::string& text, Plan& plan, std::string& error) {
    plan = Plan();
    try {
        Json::parse(text).get_to(plan);
        return true;
    } catch (const PlanError& e) {
        error = e.what();
    } catch (const Json::parse_error& e) {
        error = e.byte > text.size() ? "it is not JSON: it ends before the document does (cut short?)"
                                     : "it is not JSON: it stops making sense at byte " + std::to_string(e.byte);
    } catch (const std::exception&) {
        error = "it cannot be read as a plan";
    }
    plan = Plan();
    return false;
}

}  // namespace qv::check
