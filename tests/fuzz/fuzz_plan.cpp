// The input is mostly a kept plan: never a crash; a refusal is one line
// naming the file; an accepted plan is held to a small fake machine and
// never changes it. About one input in four, whose bytes XOR to a value with
// bits 6 and 7 set (never a plan's ASCII text; bits 6-7 of byte 0 set it for
// a seed), is an uninstall list previewed on that machine instead, a costly
// whole run that most changes to an input leave: byte 0 scripts it (bit 0
// silent, bit 1 the log stays, bits 2-4 the first three answers, bit 5 the
// answer to the rest), then the list's first bytes. The plan it writes is
// read as plain JSON against what the preview said, and reads back the same.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "check/Plan.h"
#include "check/Preview.h"
#include "check/Verify.h"
#include "tests/FakePlatform.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using Json = nlohmann::ordered_json;
using qv::check::Step;
using qv::StepKind;

const char kPlanFile[] = "C:\\plans\\web01.json";
// The list is read from one file and named to the run by another path, whose
// folder is not on the machine: the guard then refuses the root at its first
// look, and a preview costs a few lines' run instead of a whole judgement.
const char kListFile[] = "C:\\plans\\QvUninst.txt";
const char kList[] = "D:\\Quorvan\\QvUninst.txt";
constexpr std::size_t kMostListBytes = 300;
// A kind as a plan names it, in the order StepKind lists them.
const char* const kKindNames[] = {"box", "run", "delete-folder", "remove-folder", "delete-file", "write-file", "rename",
    "rewrite-config", "remove-log", "set-value", "delete-key", "metabase-delete-key", "metabase-set-data",
    "current-directory", "note", "exit"};
static_assert(std::size(kKindNames) == qv::kStepKinds);

// A machine with a little of everything, for the steps to find or miss.
void LayOut(qvtest::FakePlatform& machine) {
    machine.AddFile("C:\\Quorvan\\Server\\index.dat", "x");
    machine.AddFile("C:\\conf\\obj.conf", "#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####\n");
    machine.AddFile("C:\\Netscape\\config\\OBJ~1.CON", "#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####\n");
    machine.AddFile("C:\\Netscape\\config\\OBJ~1.CON.tmp", "an earlier restore's copy\n");  // moved aside: a rename
    machine.AddKey("Software\\Quorvan\\DocumentServer");
    machine.AddKey("SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters");
    machine.keys["SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters"]["Filter DLLs"] = "a.dll";
    machine.metabase = std::make_unique<qvtest::FakeMetabase>(machine);
    machine.metabase->keys = {"/LM/W3SVC/Filters"};
    machine.metabase->data[{"/LM/W3SVC/Filters", 2040}].text = u"sspifilt,isapi";
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

// What a plan's JSON holds for code-page bytes: each byte the character of its number.
std::string Latin1(const std::string& bytes) {
    std::string utf8;
    for (unsigned char c : bytes)
        utf8 += c < 0x80 ? std::string(1, static_cast<char>(c))
                         : std::string{static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    return utf8;
}

// A field, null when it is left out.
const Json& Field(const Json& object, const char* name) {
    static const Json none;
    const auto field = object.is_object() ? object.find(name) : object.end();
    return field == object.end() ? none : *field;
}

// The text of a field; "" when it is left out, as an empty one is.
std::string Text(const Json& object, const char* name) {
    const Json& field = Field(object, name);
    return field.is_string() ? field.get<std::string>() : field.is_null() ? std::string() : field.dump();
}

// Each text as the document has it, as the preview took it and as it was read back.
template <typename T, std::size_t N>
void SameTexts(const Json& written, const T& was, const T& read,
               const std::pair<const char*, std::string T::*> (&texts)[N]) {
    for (const auto& [name, field] : texts)
        QV_PROPERTY_DETAIL(Text(written, name) == Latin1(was.*field) && read.*field == was.*field,
                           std::string(name) + " of " + written.dump());
}

void SameStep(const Json& written, const Step& was, const Step& read) {
    const std::string detail = written.dump();
    QV_PROPERTY_DETAIL(Text(written, "kind") == kKindNames[static_cast<int>(was.kind)] && written.contains("target") &&
                           read.kind == was.kind && read.piece == was.piece,
                       detail);
    SameTexts(written, was, read, {{"target", &Step::target}, {"detail", &Step::detail}, {"fails", &Step::fails},
                                   {"question", &Step::question}, {"fullTarget", &Step::fullTarget},
                                   {"fullDetail", &Step::fullDetail}});
    const bool box = was.kind == StepKind::Box, data = was.kind == StepKind::MetabaseSetData;
    const bool valued = was.kind == StepKind::SetValue || data;
    QV_PROPERTY_DETAIL(Text(written, "value") == (valued ? Latin1(was.value) : "") && read.value == was.value,
                       detail);
    QV_PROPERTY_DETAIL(written.contains("style") == box && written.contains("identifier") == data, detail);
    const char* answer = was.answer == qv::kIdYes ? "yes" : was.answer == qv::kIdNo ? "no" : "ok";
    if (box)
        QV_PROPERTY_DETAIL(Field(written, "style") == was.style && Text(written, "answer") == answer &&
                               read.style == was.style && read.answer == was.answer,
                           detail);
    if (data)
        QV_PROPERTY_DETAIL(Field(written, "identifier") == was.identifier && read.identifier == was.identifier, detail);
}

void PlanReadsBackEqual(qvtest::FakePlatform& machine, unsigned char script, const std::string& list) {
    machine.AddFile(kListFile, list);
    qv::check::PreviewOptions options;
    options.listFile = kListFile;
    options.listPath = kList;
    options.quiet = script & 0x40;
    options.silent = options.quiet || (script & 1);
    options.logStays = script & 2;
    std::string answers;
    for (int i = 2; i < 5; ++i) {
        answers += script >> i & 1 ? 'Y' : 'N';
        options.answers.push_back(script >> i & 1 ? qv::kIdYes : qv::kIdNo);
    }
    options.defaultAnswer = script & 0x20 ? qv::kIdYes : qv::kIdNo;
    options.time = "2001-02-03T04:05:06Z";
    const qv::check::Preview preview = qv::check::MakePreview(machine.platform, options);
    qvfuzz::ShowLog(machine.log);
    const std::string text = qv::check::RenderJson(preview, options);

    const Json document = Json::parse(text, nullptr, false);
    QV_PROPERTY_DETAIL(Field(document, "plan") == 1 && Text(document, "list") == Latin1(kListFile) &&
                           Text(document, "listPath") == Latin1(kList) &&
                           Text(document, "fullListPath") == Latin1(preview.fullListPath) &&
                           Field(document, "silent") == options.silent &&
                           Field(document, "logStays") == options.logStays && Text(document, "answers") == answers &&
                           Text(document, "defaultAnswer") == (script & 0x20 ? "yes" : "no") &&
                           Text(document, "machineName") == Latin1(preview.machineName) &&
                           Text(document, "time") == options.time &&
                           Field(document, "listDeleted") == preview.listDeleted &&
                           Field(document, "quiet") == options.quiet,
                       text);
    // A quiet run ends 0, 1603 or, for a list it cannot open, 1605; any other run with the framework's 0.
    const Json& status = Field(document, "exitStatus");
    QV_PROPERTY_DETAIL(status.is_number_unsigned() &&
                           (options.quiet ? status == 0 || status == 1603 || status == 1605 : status == 0) &&
                           Field(document, "exitDecidedBy").is_string() == options.quiet,
                       text);
    const Json& pieces = Field(document, "pieces");
    QV_PROPERTY_DETAIL(pieces.is_array() && pieces.size() == preview.pieces.size(), text);
    // Each step the document holds beside the one the preview took, in the plan's order.
    std::vector<std::pair<const Json*, Step>> steps;
    const auto add = [&](const Json& written, const std::vector<Step>& taken, int piece) {
        QV_PROPERTY_DETAIL(written.is_array() && written.size() == taken.size(), text);
        for (std::size_t i = 0; i < taken.size(); ++i) {
            steps.emplace_back(&written[i], taken[i]);
            steps.back().second.piece = piece;
        }
    };
    add(Field(document, "startup"), preview.startup, -1);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const qv::check::PiecePreview& piece = preview.pieces[i];
        QV_PROPERTY_DETAIL(Text(pieces[i], "text") == Latin1(piece.bytes) &&
                               Field(pieces[i], "line") == piece.line && Field(pieces[i], "piece") == piece.piece,
                           pieces[i].dump());
        add(Field(pieces[i], "steps"), piece.steps, static_cast<int>(i));
    }
    add(Field(document, "cleanup"), preview.cleanup, -2);
    const Json& kept = Field(document, "kept");
    QV_PROPERTY_DETAIL(kept.is_array() && kept.size() == preview.kept.size(), text);

    qv::check::Plan plan;
    std::string error;
    QV_PROPERTY_DETAIL(qv::check::ReadPlan(text, plan, error), error);
    QV_PROPERTY(plan.listPath == kList && plan.fullListPath == preview.fullListPath &&
                plan.machineName == preview.machineName && plan.time == options.time &&
                plan.silent == options.silent && plan.logStays == options.logStays &&
                plan.listDeleted == preview.listDeleted && plan.steps.size() == steps.size() &&
                plan.kept.size() == preview.kept.size() && plan.quiet == options.quiet &&
                plan.exitStatus == Field(document, "exitStatus").get<int>() &&
                Latin1(plan.exitDecidedBy) == (options.quiet ? Text(document, "exitDecidedBy") : ""));
    for (std::size_t i = 0; i < steps.size(); ++i) SameStep(*steps[i].first, steps[i].second, plan.steps[i]);
    using qv::check::KeptFolder;
    for (std::size_t i = 0; i < kept.size(); ++i)
        SameTexts(kept[i], preview.kept[i], plan.kept[i],
                  {{"target", &KeptFolder::target}, {"fullTarget", &KeptFolder::fullTarget},
                   {"why", &KeptFolder::why}});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    qvtest::FakePlatform machine;  // only ever read
    machine.readsAgainstCurrentDirectory = true;
    LayOut(machine);
    std::uint8_t folded = 0;
    for (std::size_t i = 0; i < size; ++i) folded ^= data[i];
    if (size > 0 && (folded & 0xC0) == 0xC0)
        PlanReadsBackEqual(machine, data[0], bytes.substr(1, kMostListBytes));
    else
        HoldToPlan(machine, bytes);
    return 0;
}
