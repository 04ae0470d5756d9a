// The input twice. As a kept plan: never a crash, a refusal is one line
// naming the file, an accepted plan is held to a small fake machine and
// never changes it. As an uninstall list (byte 0: bit 0 silent, bit 1 the
// log stays, bits 2-4 the first three answers, bit 5 the answer to the rest)
// previewed on that machine: the plan it writes reads back equal.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "check/Plan.h"
#include "check/Preview.h"
#include "check/Verify.h"
#include "tests/FakePlatform.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using Json = nlohmann::ordered_json;

const char kPlanFile[] = "C:\\plans\\web01.json";
const char kList[] = "C:\\Quorvan\\QvUninst.txt";

// A machine with a little of everything, for the steps to find or miss.
void LayOut(qvtest::FakePlatform& machine) {
    machine.AddFile("C:\\Quorvan\\Server\\index.dat", "x");
    machine.AddFile("C:\\conf\\obj.conf", "#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####\n");
    machine.AddFile("C:\\Netscape\\config\\OBJ~1.CON", "#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####\n");
    machine.AddKey("Software\\Quorvan\\DocumentServer");
    machine.AddKey("SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters");
    machine.keys["SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters"]["Filter DLLs"] = "a.dll";
    machine.metabase = std::make_unique<qvtest::FakeMetabase>(machine);
    machine.metabase->keys = {"/LM/W3SVC/Filters"};
    machine.metabase->data[{"/LM/W3SVC/Filters", 2040}].text = u"sspifilt";
}

void HoldToPlan(qvtest::FakePlatform& machine, const std::string& text) {
    qv::check::Plan plan;
    std::string error, out;
    if (!qv::check::ReadPlan(text, plan, error)) {
        QV_PROPERTY_DETAIL(!error.empty() && error.find('\n') == std::string::npos, error);
        machine.AddFile(kPlanFile, text);
        QV_PROPERTY(qv::check::RunVerify(machine.platform, machine.platform.files, kPlanFile, "", false, out) == 2);
        QV_PROPERTY_DETAIL(out.find('\n') == out.size() - 1 && out.find(kPlanFile) != std::string::npos, out);
        return;
    }
    const auto files = machine.files;
    const qv::check::Verification verification = qv::check::Verify(machine.platform, plan);
    qvfuzz::ShowLog(machine.log);
    QV_PROPERTY(verification.steps.size() <= plan.steps.size());
    QV_PROPERTY(machine.files == files);
    QV_PROPERTY(machine.OpenKeys() == 0);
    QV_PROPERTY(machine.metabase->references == 0);
    const std::string json = qv::check::RenderVerification(plan, verification, "plan.json", true);
    QV_PROPERTY_DETAIL(!Json::parse(json, nullptr, false).is_discarded(), json);
}

void PlanReadsBackEqual(qvtest::FakePlatform& machine, unsigned char script, const std::string& list) {
    machine.AddFile(kList, list);
    qv::check::PreviewOptions options;
    options.listFile = options.listPath = kList;
    options.silent = script & 1;
    options.logStays = script & 2;
    for (int i = 2; i < 5; ++i) options.answers.push_back(script >> i & 1 ? qv::kIdYes : qv::kIdNo);
    options.defaultAnswer = script & 0x20 ? qv::kIdYes : qv::kIdNo;
    options.time = "2001-02-03T04:05:06Z";
    const qv::check::Preview preview = qv::check::MakePreview(machine.platform, options);
    qvfuzz::ShowLog(machine.log);
    qv::check::Plan plan;
    std::string error;
    QV_PROPERTY_DETAIL(qv::check::ReadPlan(qv::check::RenderJson(preview, options), plan, error), error);
    QV_PROPERTY(plan.listPath == kList && plan.machineName == preview.machineName && plan.time == options.time);
    QV_PROPERTY(plan.silent == options.silent && plan.logStays == options.logStays &&
                plan.listDeleted == preview.listDeleted);
    QV_PROPERTY(plan.kept.size() == preview.kept.size());

    std::vector<qv::check::Step> written;  // each with the piece its place in the plan names
    const auto add = [&](std::vector<qv::check::Step> steps, int piece) {
        for (qv::check::Step& step : steps) step.piece = piece, written.push_back(step);
    };
    add(preview.startup, -1);
    for (std::size_t i = 0; i < preview.pieces.size(); ++i) add(preview.pieces[i].steps, static_cast<int>(i));
    add(preview.cleanup, -2);
    QV_PROPERTY(plan.steps.size() == written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const qv::check::Step &was = written[i], &read = plan.steps[i];
        QV_PROPERTY_DETAIL(read.piece == was.piece && Json(read) == Json(was) && Describe(read) == Describe(was),
                           Json(was).dump() + " read back as " + Json(read).dump());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    qvtest::FakePlatform machine;  // only ever read
    machine.readsAgainstCurrentDirectory = true;
    LayOut(machine);
    HoldToPlan(machine, bytes);
    if (!bytes.empty()) PlanReadsBackEqual(machine, static_cast<unsigned char>(bytes[0]), bytes.substr(1));
    return 0;
}
