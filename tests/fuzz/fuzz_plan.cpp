// A kept plan, as any bytes. The reader must never crash or throw, must say
// in one line why it refuses, and must take nothing for a plan that is not
// one: what it accepts is checked here against the document itself. An
// accepted plan is then held to a small fake machine.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "check/Plan.h"
#include "check/Verify.h"
#include "tests/FakePlatform.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using Json = nlohmann::json;

bool IsText(const Json& object, const char* name) { return object.contains(name) && object[name].is_string(); }
bool IsFlag(const Json& object, const char* name) { return object.contains(name) && object[name].is_boolean(); }

// The steps of one list, or -1 when one of them is not a step.
long Steps(const Json& list) {
    if (!list.is_array()) return -1;
    for (const Json& step : list) {
        if (!step.is_object() || !IsText(step, "kind") || !IsText(step, "target")) return -1;
        if (!qv::check::IsStepKind(step["kind"].get<std::string>())) return -1;
        for (const char* optional : {"detail", "value", "answer", "fails", "question"})
            if (step.contains(optional) && !step[optional].is_string()) return -1;
    }
    return static_cast<long>(list.size());
}

// How many steps the document holds when it is a plan of version 1; -1 when it is none.
long PlanSteps(const std::string& text) {
    const Json document = Json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) return -1;
    if (!document.contains("plan") || !document["plan"].is_number_integer() || document["plan"].get<long long>() != 1)
        return -1;
    for (const char* name : {"listPath", "machineName", "time"})
        if (!IsText(document, name)) return -1;
    for (const char* name : {"silent", "logStays", "listDeleted"})
        if (!IsFlag(document, name)) return -1;
    if (!document.contains("startup") || !document.contains("pieces") || !document.contains("cleanup") ||
        !document["pieces"].is_array())
        return -1;
    long total = 0;
    for (const Json* list : {&document["startup"], &document["cleanup"]}) {
        const long n = Steps(*list);
        if (n < 0) return -1;
        total += n;
    }
    for (const Json& piece : document["pieces"]) {
        if (!piece.is_object() || !piece.contains("steps")) return -1;
        const long n = Steps(piece["steps"]);
        if (n < 0) return -1;
        total += n;
    }
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    qv::check::Plan plan;
    std::string error;
    const bool accepted = qv::check::ReadPlan(text, plan, error);
    const long expected = PlanSteps(text);

    if (!accepted) {
        QV_PROPERTY(!error.empty());
        QV_PROPERTY_DETAIL(error.find('\n') == std::string::npos, error);
        // Refused only for a reason: a plan whose every step reads as text of the code page is accepted.
        if (expected >= 0) QV_PROPERTY_DETAIL(error.find("no code-page byte") != std::string::npos ||
                                                  error.find("\"identifier\"") != std::string::npos ||
                                                  error.find("\"style\"") != std::string::npos,
                                              error);
        return 0;
    }
    QV_PROPERTY_DETAIL(expected >= 0, "accepted what is not a plan");
    QV_PROPERTY(static_cast<long>(plan.steps.size()) == expected);

    // Held to a machine with a little of everything, read and never changed.
    qvtest::FakePlatform machine;
    machine.AddFile("C:\\Quorvan\\Server\\index.dat", "x");
    machine.AddFile("C:\\conf\\obj.conf", "#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####\n");
    machine.AddKey("Software\\Quorvan\\DocumentServer");
    machine.AddKey("SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters");
    machine.keys["SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters"]["Filter DLLs"] = "a.dll";
    machine.metabase = std::make_unique<qvtest::FakeMetabase>(machine);
    machine.metabase->keys = {"/LM/W3SVC/Filters"};
    machine.metabase->data[{"/LM/W3SVC/Filters", 2040}].text = u"sspifilt";
    const auto files = machine.files;
    const qv::check::Verification verification = qv::check::Verify(machine.platform, plan);
    qvfuzz::ShowLog(machine.log);
    QV_PROPERTY(verification.steps.size() <= plan.steps.size());
    QV_PROPERTY(machine.files == files);
    QV_PROPERTY(machine.OpenKeys() == 0);
    QV_PROPERTY(machine.metabase->references == 0);
    const std::string json = qv::check::RenderVerification(plan, verification, "plan.json", true);
    QV_PROPERTY_DETAIL(!Json::parse(json, nullptr, false).is_discarded(), json);
    return 0;
}
