#include "check/Plan.h"

#include <algorithm>

#include "text/PathText.h"

namespace qv::check {

namespace {

using Json = nlohmann::ordered_json;

bool Flag(const Json& object, const char* name) {
    const auto field = object.find(name);
    if (field == object.end()) throw PlanError(std::string("\"") + name + "\" is missing");
    if (!field->is_boolean()) throw PlanError(std::string("\"") + name + "\" is not true or false");
    return field->get<bool>();
}

// The steps of `list`, each of `piece` (as Step::piece has it).
void ReadSteps(const Json& list, const std::string& where, int piece, std::vector<Step>& steps) {
    if (!list.is_array()) throw PlanError(where + " is not a list");
    for (std::size_t i = 0; i < list.size(); ++i) {
        try {
            steps.push_back(list[i].get<Step>());
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
        const Json& entry = (*list)[i];
        KeptFolder folder;
        try {
            if (!entry.is_object()) throw PlanError("it is not an object");
            ReadText(entry, "target", folder.target);
            if (folder.target.empty()) throw PlanError("\"target\" is empty");
            ReadText(entry, "fullTarget", folder.fullTarget, false);
            ReadText(entry, "why", folder.why, false);
        } catch (const PlanError& e) {
            throw PlanError("\"kept\" folder " + std::to_string(i + 1) + ": " + e.what());
        }
        kept.push_back(folder);
    }
    return kept;
}

void Read(const Json& document, Plan& plan) {
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
    plan.logStays = Flag(document, "logStays");
    plan.listDeleted = Flag(document, "listDeleted");
    for (const char* part : {"startup", "pieces", "cleanup"})
        if (document.find(part) == document.end()) throw PlanError(std::string("\"") + part + "\" is missing");
    ReadSteps(document.at("startup"), "\"startup\"", -1, plan.steps);
    const Json& pieces = document.at("pieces");
    if (!pieces.is_array()) throw PlanError("\"pieces\" is not a list");
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::string where = "piece " + std::to_string(i + 1);
        if (!pieces[i].is_object() || pieces[i].find("steps") == pieces[i].end())
            throw PlanError(where + " has no \"steps\"");
        ReadSteps(pieces[i].at("steps"), where, static_cast<int>(i), plan.steps);
    }
    ReadSteps(document.at("cleanup"), "\"cleanup\"", -2, plan.steps);
    if (plan.listDeleted && std::none_of(plan.steps.begin(), plan.steps.end(), [&](const Step& step) {
            return step.kind == StepKind::DeleteFile &&
                   (SamePath(step.target, plan.listPath) ||
                    (!plan.fullListPath.empty() && SamePath(step.target, plan.fullListPath)));
        }))
        throw PlanError("\"listDeleted\" is true, but no step deletes the list");
    plan.kept = ReadKept(document);
}

}  // namespace

bool ReadPlan(const std::string& text, Plan& plan, std::string& error) {
    plan = Plan();
    try {
        Read(Json::parse(text), plan);
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
