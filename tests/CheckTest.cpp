#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "app/RunLog.h"
#include "app/RunVerdict.h"
#include "app/UninstallApp.h"
#include "check/CheckProgram.h"
#include "check/EmptyMachine.h"
#include "check/Verify.h"
#include "record/LogLine.h"
#include "record/Recorder.h"
#include "tests/FakePlatform.h"
#include "text/Text.h"

namespace qvtest {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using Log = std::vector<std::string>;
using Kind = qv::check::StepKind;

std::string Name(Kind kind) { return nlohmann::json(kind).get<std::string>(); }

const char kList[] = "C:\\Quorvan\\QvUninst.txt";
const char kRunLog[] = "C:\\logs\\run.log";
const std::string kIsu = "\"C:\\Quorvan\\Uninst.isu\"\n";

qv::check::Preview PreviewOf(FakePlatform& machine, const std::string& bytes, const std::string& listPath = kList) {
    machine.AddFile(listPath, bytes);
    qv::check::PreviewOptions options;
    options.listFile = options.listPath = listPath;
    return qv::check::MakePreview(machine.platform, options);
}

std::vector<std::pair<std::string, int>> Codes(const qv::check::Preview& preview) {
    std::vector<std::pair<std::string, int>> codes;
    for (const auto& warning : preview.warnings) codes.emplace_back(warning.code, warning.line);
    return codes;
}

TEST(Check, EveryWarningHasItsTrapAndANearMissGoesUnremarked) {
    struct Case {
        const char* code;
        std::string trap;
        int line;
        std::string nearMiss;
        std::string listPath = kList;
    };
    const std::string longLine = "C:\\" + std::string(250, 'x') + "\n";
    const Case cases[] = {
        {"unterminated-last-line", "\"C:\\Quorvan\\Uninst.isu\"", 1, kIsu},
        {"split-line", longLine + kIsu, 1, "C:\\" + std::string(195, 'x') + "\n" + kIsu},
        {"unquoted-program", "C:\\Quorvan\\bin\\mgmtsrvr.exe\n" + kIsu, 1, "\"C:\\Quorvan\\bin\\mgmtsrvr.exe\"\n" + kIsu},
        {"filter-after-iis", "IIS_VER=3\nC:\\w3\\isapi.dll\n" + kIsu, 2, "C:\\w3\\isapi.dll\nIIS_VER=3\n" + kIsu},
        {"iis-version-unread", "IIS_VER=\n" + kIsu, 1, "IIS_VER=4\n" + kIsu},
        {"after-installshield", kIsu + "\"C:\\Quorvan\\bin\\jobsrvr.exe\"\n", 2, kIsu + "\n"},
        {"claimed-by-earlier-row", "C:\\Netscape\\Server\n" + kIsu, 1, "C:\\Quorvan\\Server\n" + kIsu},
        {"short-line", "x\n" + kIsu, 1, "xy\n" + kIsu},
        {"ctrl-z", kIsu + "\x1A" + "C:\\Quorvan\\junk\n", 2, kIsu + "\x1A"},
        {"nul-byte", std::string("C:\\Qu\0orvan\n", 12) + kIsu, 1, std::string("C:\\Quorvan\0\n", 12) + kIsu},
        {"lone-cr", "C:\\Quo\rrvan\n" + kIsu, 1, "C:\\Quorvan\r\n" + kIsu},
        {"several-install-dirs", "C:\\A\nC:\\B\n" + kIsu, 1, "C:\\A\n" + kIsu},
        {"no-installshield-line", "C:\\Quorvan\\Server\n", 0, "C:\\Quorvan\\Server\n" + kIsu},
        {"shared-install-root", kIsu, 0, kIsu, "C:\\Apps\\Quorvan\\QvUninst.txt"},
        {"shared-install-root", kIsu, 0, kIsu, "C:\\WINDOWS\\Quorvan\\QvUninst.txt"},
    };
    for (const Case& c : cases) {
        FakePlatform trapMachine, nearMachine;
        const auto trapped = Codes(PreviewOf(trapMachine, c.trap, c.listPath));
        EXPECT_THAT(trapped, ::testing::Contains(std::make_pair(std::string(c.code), c.line))) << c.code;
        const auto clean = Codes(PreviewOf(nearMachine, c.nearMiss));
        EXPECT_THAT(clean, ::testing::Not(::testing::Contains(::testing::Key(std::string(c.code))))) << c.code;
    }
}

TEST(Check, CleanListGetsNoWarningAndExitsWithZero) {
    FakePlatform machine;
    machine.AddFile(kList,
                    "\"C:\\Quorvan\\bin\\mgmtsrvr.exe\"\r\n\"C:\\Quorvan\\portmap\\portinst.exe\"\r\n"
                    "C:\\Quorvan\\web\\isapi.dll\r\nIIS_VER=4\r\nNetscape Enterprise Server\r\n"
                    "C:\\Netscape\\SuiteSpot\\https-web\\config\\OBJ~1.CON\r\nC:\\Quorvan\\Server\r\n" +
                        kIsu);
    qv::check::PreviewOptions options;
    options.listFile = options.listPath = kList;
    std::string out;
    EXPECT_EQ(qv::check::RunCheck(machine.platform, options, out), 0) << out;
    EXPECT_THAT(out, HasSubstr("warnings: 0"));
    options.listFile = "C:\\no\\such.txt";
    EXPECT_EQ(qv::check::RunCheck(machine.platform, options, out), 2);
    EXPECT_THAT(out, HasSubstr("cannot read"));
    options.quiet = true;
    EXPECT_EQ(qv::check::RunCheck(machine.platform, options, out), 2);
    EXPECT_THAT(out, HasSubstr("; QvUnInstall -q would end with 1605"));
}

// A machine with something to remove: the install directory, start menus,
// the filter in the registry and the metabase, an obj.conf with a block.
void LayOut(FakePlatform& fake) {
    fake.AddFile(kList, "\"C:\\Quorvan\\bin\\mgmtsrvr.exe\"\r\nC:\\Quorvan\\web\\isapi.dll\r\nIIS_VER=3\r\nIIS_VER=4\r\n"
                        "Netscape Enterprise Server\r\nC:\\Netscape\\SuiteSpot\\https-web\\config\\OBJ~1.CON\r\n"
                        "C:\\Quorvan\\Server\r\n\"C:\\Quorvan\\Uninst.isu\"\r\n");
    fake.AddFile("C:\\Quorvan\\Server\\index.dat", "data");
    fake.AddFile("C:\\WINDOWS\\Profiles\\All Users\\Start Menu\\Programs\\Quorvan\\Console.lnk", "L");
    fake.AddFile("C:\\Netscape\\SuiteSpot\\https-web\\config\\OBJ~1.CON",
                 "Init fn=a\n#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####\nx\n"
                 "#### QUORVAN WEB GATEWAY EXTENSION -- END ####\nService fn=b\n");
    fake.AddFile("C:\\Netscape\\SuiteSpot\\https-web\\config\\OBJ~1.CON.tmp", "an earlier run's copy");
    fake.AddKey("Software\\Quorvan\\DocumentServer");
    fake.AddKey("SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters");
    fake.keys["SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters"]["Filter DLLs"] = "C:\\w3\\a.dll,C:\\Quorvan\\web\\isapi.dll";
    fake.metabase = std::make_unique<FakeMetabase>(fake);
    fake.metabase->keys = {"/LM/W3SVC/Filters", "/LM/W3SVC/Filters/isapi"};
    fake.metabase->data[{"/LM/W3SVC/Filters", 2040}].text = u"sspifilt,isapi";
}

// The list at kList; questions past `answers` are answered No.
qv::check::PreviewOptions Options(const std::deque<int>& answers, bool silent = false, bool json = false,
                                  const std::string& listPath = kList) {
    qv::check::PreviewOptions options;
    options.listFile = options.listPath = listPath;
    options.answers = answers;
    options.defaultAnswer = qv::kIdNo;
    options.silent = silent;
    options.json = json;
    return options;
}

// With `runLog`, as the uninstaller keeps one with -l: through its recorder;
// `quiet` for -q. Returns the exit status.
int RunForReal(FakePlatform& machine, const std::deque<int>& answers, bool silent = false,
               const std::string& listPath = kList, const std::string& runLog = "", bool quiet = false) {
    machine.boxAnswers = answers;
    qv::RunLog log(machine.platform);
    log.Start();
    qv::RunVerdict verdict(log);
    qv::Recorder recorder(machine.platform, verdict);
    qv::UninstallApp app(runLog.empty() && !quiet ? machine.platform : recorder.Get());
    app.verdict = &verdict;
    std::vector<std::string> arguments = {"QvUnInstall.exe", "-p", listPath};
    if (silent) arguments.push_back(quiet ? "-q" : "-a");
    if (!runLog.empty()) {
        arguments.insert(arguments.end(), {"-l", runLog});
        app.log = &log;
        app.observer = &recorder.Lines();
    }
    app.SetArguments(arguments);
    app.InitInstance();
    return verdict.Exiting(0, "");
}

std::string Flags(const std::string& detail) { return detail.substr(detail.find("0x")); }

// What a user or the machine sees, in one vocabulary for the real run's log and the plan.
Log Seen(const FakePlatform& fake) {
    Log seen;
    for (const std::string& line : fake.log) {
        if (line.rfind("create ", 0) == 0) seen.push_back("run " + line.substr(7));
        if (line.rfind("box ", 0) == 0 || line.rfind("boxw ", 0) == 0) seen.push_back("box " + line.substr(line.find(' ') + 1));
        if (line.rfind("shell ", 0) == 0) seen.push_back("delete-folder " + line.substr(6, line.rfind('|') - 6));
        if (line.rfind("regdelete ", 0) == 0) seen.push_back("delete-key " + line.substr(10, line.find(" -> ") - 10));
        if (line.rfind("regset ", 0) == 0) seen.push_back("set-value " + line.substr(7, line.find('|') - 7));
        if (line.rfind("openw ", 0) == 0) seen.push_back("write-file " + line.substr(6));
        if (line.rfind("delete ", 0) == 0) seen.push_back("delete-file " + line.substr(7));
        if (line.rfind("rmdir ", 0) == 0) seen.push_back("remove-folder " + line.substr(6));
        if (line.rfind("move ", 0) == 0 && line.find(" -> 0") != std::string::npos)
            seen.push_back("rename " + line.substr(5, line.find(" -> ") - 5));
        if (line.rfind("mb DeleteKey", 0) == 0) seen.push_back("metabase-delete-key");
        if (line.rfind("mb SetData", 0) == 0) seen.push_back("metabase-set-data");
    }
    return seen;
}

// A log line without how a change went: a removal that found nothing is the planned step all the same.
std::string Named(const std::string& event) {
    for (const char* outcome : {": done", ": already gone (not found)"})
        if (event.size() > std::strlen(outcome) && event.compare(event.size() - std::strlen(outcome), std::string::npos, outcome) == 0)
            return event.substr(0, event.size() - std::strlen(outcome));
    return event;
}

std::vector<qv::Step> AllSteps(const qv::check::Preview& preview) {
    std::vector<qv::Step> steps = preview.startup;
    for (const auto& piece : preview.pieces) steps.insert(steps.end(), piece.steps.begin(), piece.steps.end());
    steps.insert(steps.end(), preview.cleanup.begin(), preview.cleanup.end());
    return steps;
}

Log Seen(const qv::check::Preview& preview) {
    Log seen;
    for (const auto& step : AllSteps(preview)) {
        if (step.kind == Kind::Run) seen.push_back("run " + step.target + "|show=" + std::to_string(step.style));
        if (step.kind == Kind::Box) seen.push_back("box " + step.detail + "|" + step.target + "|" + qv::Hex(step.style));
        if (step.kind == Kind::DeleteFolder) seen.push_back("delete-folder " + step.target + "|" + Flags(step.detail));
        if (step.kind == Kind::DeleteKey || step.kind == Kind::WriteFile || step.kind == Kind::DeleteFile ||
            step.kind == Kind::RemoveFolder)
            seen.push_back(Name(step.kind) + " " + step.target);
        if (step.kind == Kind::RewriteConfig) seen.push_back("write-file " + step.target);
        if (step.kind == Kind::SetValue) seen.push_back("set-value " + step.target.substr(step.target.rfind('\\') + 1));
        if (step.kind == Kind::Rename) seen.push_back("rename " + step.target + "|" + step.detail);
        if (step.kind == Kind::MetabaseDeleteKey || step.kind == Kind::MetabaseSetData) seen.push_back(Name(step.kind));
    }
    return seen;
}

TEST(Check, PreviewChangesNothingAndShowsWhatTheRealRunThenDoes) {
    for (const auto& [answers, silent] : {std::pair<std::deque<int>, bool>{{qv::kIdYes, qv::kIdYes, qv::kIdYes}, false},
                                          {{qv::kIdYes, qv::kIdNo, qv::kIdNo}, false},
                                          {{}, true}}) {
        FakePlatform planned, real;
        LayOut(planned);
        LayOut(real);
        const auto filesBefore = planned.files;
        const auto keysBefore = planned.keys;

        const qv::check::Preview preview = qv::check::MakePreview(planned.platform, Options(answers, silent));
        EXPECT_EQ(planned.files, filesBefore);
        EXPECT_EQ(planned.keys, keysBefore);
        EXPECT_TRUE(planned.metabase->keys.count("/LM/W3SVC/Filters/isapi"));
        EXPECT_THAT(planned.Only({"create", "shell", "delete", "rmdir", "regset", "regdelete", "openw"}), IsEmpty());
        EXPECT_EQ(planned.metabase->references, 0);

        real.directories.insert("C:\\logs");
        RunForReal(real, answers, silent, kList, kRunLog);
        // The fake has no uninstaller to remove the log; there is none to remove, so both say completed.
        EXPECT_EQ(Seen(preview), Seen(real));
        EXPECT_GE(Seen(real).size(), 20u);  // commands, boxes, rewrites and deletions all took part
        EXPECT_EQ(preview.listDeleted, !real.files.count(kList));

        // The run's log and the preview's plan are two sinks of one recorder: each step is named alike.
        Log logged, plannedLines;
        std::set<Kind> kinds;
        std::istringstream log(real.files[kRunLog]);
        for (std::string line; std::getline(log, line);) {
            qv::LoggedStep step;
            const std::string event = qv::EventOf(line.substr(0, line.size() - 1));  // without its CR
            if (qv::ReadStepLine(event, step) && step.outcome != qv::Outcome::Ended) logged.push_back(Named(event));
        }
        for (const auto& step : AllSteps(preview)) {
            if (step.kind == Kind::RemoveLog || step.kind == Kind::Note || step.kind == Kind::Exit) continue;  // not the run's own
            const qv::Outcome outcome = step.kind == Kind::Box   ? qv::Outcome::Answered
                                        : step.kind == Kind::Run ? qv::Outcome::Started
                                                                 : qv::Outcome::Done;
            plannedLines.push_back(Named(qv::StepLine({step, outcome, 0, 0}, "")));
            kinds.insert(step.kind);
        }
        EXPECT_EQ(logged, plannedLines);
        if (answers.size() == 3 && answers.back() == qv::kIdYes) EXPECT_EQ(kinds.size(), 13u);  // every kind a run takes
    }
}

TEST(Check, RootIsJudgedByTheFolderItNamesOnTheEmptyMachineToo) {
    const std::pair<std::string, const char*> roots[] = {
        {"\\Program Files", "is a folder of the system"},
        {"C:\\\\WINDOWS", "is a folder of the system"},
        {"C:\\.", "names no folder by a name of its own"},
        {"C:\\Quorvan", ""},  // the list lies in it, so it is there
    };
    for (const auto& [root, refusal] : roots) {
        FakePlatform files;
        files.AddFile("list.txt", kIsu);
        qv::check::PreviewOptions options;
        options.listFile = "list.txt";
        options.listPath = root + "\\Quorvan\\QvUninst.txt";
        qv::check::EmptyMachine empty(files, "list.txt", options.listPath);
        const qv::check::Preview preview = qv::check::MakePreview(empty.Get(), options);
        const bool deleted = std::any_of(preview.cleanup.begin(), preview.cleanup.end(), [](const auto& step) {
            return step.kind == qv::StepKind::DeleteFolder && step.detail == "flags 0x450";
        });
        EXPECT_EQ(deleted, !*refusal) << root;
        if (!*refusal) continue;
        ASSERT_EQ(preview.warnings.size(), 1u) << root;
        EXPECT_THAT(preview.warnings[0].message, HasSubstr(std::string(refusal) + ": it is never offered")) << root;
    }
}

TEST(Check, JsonHoldsEveryPieceTheCleanupAndTheWarnings) {
    FakePlatform machine;
    qv::check::PreviewOptions options;
    options.listFile = options.listPath = kList;
    options.json = true;
    machine.AddFile(kList, "C:\\Quorvan\\bin\\mgmtsrvr.exe\n" + kIsu + "x\n");
    std::string out;
    EXPECT_EQ(qv::check::RunCheck(machine.platform, options, out), 1);
    EXPECT_THAT(out, HasSubstr("\"pieces\":[{\"line\":1,\"piece\":1,\"text\":\"C:\\\\Quorvan\\\\bin\\\\mgmtsrvr.exe\\n\","
                               "\"row\":1,\"kind\":\"service (Management Server)\","
                               "\"command\":\"C:\\\\Quorvan\\\\bin\\\\mgmtsrvr.exe\\n -Sremove\","
                               "\"caption\":\"Stopping Quorvan Management Server\",\"recorded\":null"));
    EXPECT_THAT(out, HasSubstr("{\"line\":3,\"piece\":1,\"text\":\"x\\n\",\"row\":null,\"kind\":\"not read\""));
    EXPECT_THAT(out, HasSubstr("\"listDeleted\":true"));
    EXPECT_THAT(out, HasSubstr("{\"code\":\"unquoted-program\",\"line\":1,"));
    EXPECT_THAT(out, HasSubstr("{\"kind\":\"box\",\"target\":\"You have completed uninstall.\""));
    // A silent run removes no folder: that is why it keeps one, whatever the guard would say of it.
    options.silent = true;
    machine.AddFile(kList, "C:\\WINDOWS\n" + kIsu);
    machine.AddFolder("C:\\WINDOWS");
    qv::check::RunCheck(machine.platform, options, out);
    EXPECT_THAT(out, HasSubstr("\"kept\":[{\"target\":\"C:\\\\WINDOWS\",\"fullTarget\":\"C:\\\\WINDOWS\",\"why\":\"a "
                               "silent run never removes it\"}"));
}

TEST(Check, CommandLineIsTakenAsTheUsageSays) {
    const auto ok = qv::check::ParseCheckArguments({"--json", "--silent", "--answer", "no", "--answers", "YN",
                                                    "--log-stays", "list.txt", "C:\\Q\\QvUninst.txt"});
    EXPECT_EQ(ok.error, "");
    EXPECT_TRUE(ok.options.json && ok.options.silent && ok.options.logStays && !ok.options.machine);
    EXPECT_EQ(ok.options.defaultAnswer, qv::kIdNo);
    EXPECT_THAT(ok.options.answers, ElementsAre(qv::kIdYes, qv::kIdNo));
    EXPECT_EQ(ok.options.listFile + "|" + ok.options.listPath, "list.txt|C:\\Q\\QvUninst.txt");
    const auto verify = qv::check::ParseCheckArguments({"--verify", "plan.json", "--json", "--log", "run.log"});
    EXPECT_EQ(verify.error + verify.options.verify + "|" + verify.options.runLog, "plan.json|run.log");
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{}, {"--answer", "maybe", "l"}, {"--frobnicate", "l"}, {"a", "b", "c"},
          {"--verify"}, {"--verify", "plan.json", "list.txt"}, {"--silent", "--verify", "plan.json"},
          {"--verify", "plan.json", "--answer", "no"}, {"--verify", ""}, {"--log", "run.log", "list.txt"},
          {"--verify", "plan.json", "--log", ""}})
        EXPECT_NE(qv::check::ParseCheckArguments(bad).error, "");
}

// --- Plan, run, verify ---

const char kPlanFile[] = "C:\\plans\\web01.json";

std::string PlanOf(FakePlatform& machine, const std::deque<int>& answers, bool silent = false,
                   const std::string& listPath = kList, bool quiet = false) {
    std::string plan;
    qv::check::PreviewOptions options = Options(answers, silent, true, listPath);
    options.quiet = options.machine = quiet;  // a quiet plan is made on the machine it is for
    qv::check::RunCheck(machine.platform, options, plan);
    return plan;
}

// The plan as it was written before full paths and kept folders were kept.
std::string Older(const std::string& plan) {
    return std::regex_replace(plan, std::regex(R"re(,"(fullTarget|fullDetail)":"([^"\\]|\\.)*"|,"kept":\[[^\]]*\])re"), "");
}

// The verification's exit status and what it printed, the plan read from a folder apart from the machine.
int VerifyOn(FakePlatform& machine, const std::string& plan, std::string& out, bool json = false,
             const std::string& runLog = "") {
    FakePlatform plans;
    plans.AddFile(kPlanFile, plan);
    if (!runLog.empty()) plans.AddFile(kRunLog, runLog);
    return qv::check::RunVerify(machine.platform, plans.platform.files, kPlanFile, runLog.empty() ? "" : kRunLog,
                                json, out);
}

std::vector<std::string> NotDone(FakePlatform& machine, const std::string& text) {
    qv::check::Plan plan;
    std::string error;
    EXPECT_TRUE(qv::check::ReadPlan(text, plan, error)) << error;
    std::vector<std::string> notDone;
    for (const auto& step : qv::check::Verify(machine.platform, plan).steps)
        if (step.state == qv::check::StepState::NotDone) notDone.push_back(Name(step.step.kind) + " " + step.step.target + ": " + step.why);
    return notDone;
}

TEST(Verify, AWholeRunCarriedOutAsPlannedIsDoneInEveryCheckableStep) {
    for (const bool silent : {false, true}) {
        FakePlatform planned, real;
        LayOut(planned);
        LayOut(real);
        const std::deque<int> yes = {qv::kIdYes, qv::kIdYes, qv::kIdYes};
        const std::string plan = PlanOf(planned, silent ? std::deque<int>() : yes, silent);
        RunForReal(real, silent ? std::deque<int>() : yes, silent);
        const auto logBefore = real.log.size();

        std::string out;
        EXPECT_EQ(VerifyOn(real, plan, out), 0) << out;
        EXPECT_THAT(NotDone(real, plan), IsEmpty());
        // Each kind of change was looked for and found made; nothing was changed by looking.
        for (const char* done : {"done           delete folder C:\\WINDOWS\\Profiles", "done           delete key HKLM\\Software\\Quorvan\n",
                                 "done           set HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters\\Filter DLLs to \"C:\\w3\\a.dll\"",
                                 "done           delete metabase key /LM/W3SVC/Filters/isapi", "done           set metabase /LM/W3SVC/Filters identifier 2040: \"sspifilt\"",
                                 "done           rewrite C:\\Netscape\\SuiteSpot\\https-web\\config\\OBJ~1.CON",
                                 "done           delete file C:\\Quorvan\\QvUninst.txt", "not checkable  run net stop w3svc",
                                 "leftovers of the family: 0"})
            EXPECT_THAT(out, HasSubstr(done)) << silent;
        // A silent run never offers the install directory or the root: listed, they leave the status alone.
        EXPECT_THAT(out, HasSubstr(silent ? "kept as planned: 2\n"
                                            "  C:\\Quorvan\\Server: still there (a silent run never removes it)\n"
                                            "  C:\\Quorvan: still there (a silent run never removes it)\n"
                                          : "kept as planned: 0\n"))
            << out;
        EXPECT_THAT(std::vector<std::string>(real.log.begin() + static_cast<long>(logBefore), real.log.end()),
                    ::testing::Not(::testing::Contains(::testing::AnyOf(HasSubstr("regset"), HasSubstr("regdelete"),
                                                                       HasSubstr("mb SetData"), HasSubstr("mb DeleteKey")))));
        EXPECT_EQ(real.metabase->references, 0);
        EXPECT_EQ(real.OpenKeys(), 0);
    }
}

TEST(Verify, AQuietRunIsHeldToTheExitStatusItsPlanForetold) {
    const std::string config = "C:\\Netscape\\SuiteSpot\\https-web\\config\\OBJ~1.CON";
    const std::string program = "C:\\Quorvan\\bin\\mgmtsrvr.exe";
    const auto none = [](FakePlatform&) {};
    struct Case {
        const char* what;
        std::function<void(FakePlatform&)> both, afterPlanning;
        int planned, logged, verified;
        std::string said;
    };
    const Case cases[] = {
        {"as planned", none, none, 0, 0, 0,
         "exit status: 0 planned, 0 in the log (decided by the uninstall completed: delete-file " + std::string(kList) +
             ": done)"},
        // Every planned change is done; only the status tells that a program was missing.
        {"a program missing when the run comes", none,
         [](FakePlatform& m) { m.startErrors["\"C:\\Quorvan\\bin\\mgmtsrvr.exe\""] = qv::kErrorFileNotFound; }, 0, 1603, 1,
         "exit status: 0 planned, 1603 in the log: not as planned (decided by run \"C:\\Quorvan\\bin\\mgmtsrvr.exe\"\\n "
         "-Sremove: Cannot run: error 2)"},
        {"a program file missing, foretold",
         [&](FakePlatform& m) {
             m.files.erase(program);
             m.startErrors["\"" + program] = qv::kErrorFileNotFound;  // as the system answers, which the fake leaves to be told
         },
         none, 1603, 1603, 0,
         "exit status: 1603 planned, 1603 in the log (decided by run \"" + program + "\"\\n -Sremove: Cannot run: error 2)"},
        {"a failure foretold", [&](FakePlatform& m) { m.fileAttributes[config] = qv::kFileAttributeReadOnly; }, none,
         1603, 1603, 1, "exit status: 1603 planned, 1603 in the log (decided by rewrite-config " + config + ": failed: error "},
    };
    for (const Case& c : cases) {
        FakePlatform planned, real;
        for (FakePlatform* machine : {&planned, &real}) {
            LayOut(*machine);
            machine->AddFile(program, "MZ");
            c.both(*machine);
        }
        const std::string plan = PlanOf(planned, {}, true, kList, true);
        const nlohmann::json json = nlohmann::json::parse(plan);
        EXPECT_EQ(json.at("quiet"), true) << c.what;
        EXPECT_EQ(json.at("exitStatus"), c.planned) << c.what;
        c.afterPlanning(real);
        real.directories.insert("C:\\logs");
        EXPECT_EQ(RunForReal(real, {}, true, kList, kRunLog, true), c.logged) << c.what;
        EXPECT_THAT(real.Only({"box"}), IsEmpty()) << c.what;
        std::string out;
        EXPECT_EQ(VerifyOn(real, plan, out, false, real.files[kRunLog]), c.verified) << c.what << "\n" << out;
        EXPECT_THAT(out, HasSubstr(c.said)) << c.what;
        EXPECT_THAT(out, HasSubstr("QvUnInstall -q -p ")) << c.what;
    }
}

TEST(Verify, WhatTheRunLeftUndoneIsNamedWithTheQuestionItNeeded) {
    const std::string menu = "C:\\WINDOWS\\Profiles\\All Users\\Start Menu\\Programs\\Quorvan";
    const std::string confirmation = "; it needed the answer Yes to \"Are you sure you want to completely remove the "
                                     "selected application and all of its components?\"\n";
    struct Case {
        const char* what;
        std::deque<int> answers;  // of the real run
        std::function<void(FakePlatform&)> change;
        int status;
        std::size_t notDone;
        std::vector<std::string> said;
        std::string logSays;  // under the first step not done, with --log
        std::function<void(FakePlatform&)> planned = [](FakePlatform&) {};  // the machine the plan is made on
        std::function<void(FakePlatform&)> after = [](FakePlatform&) {};    // the real one, once it has run
        std::string listPath = kList;
        bool older = false;  // the plan as written before full paths were kept
        std::function<std::string(std::string)> edit = [](std::string plan) { return plan; };  // a plan made to mislead
    };
    const auto followsFolders = [](FakePlatform& m) { m.readsAgainstCurrentDirectory = true; };
    const auto elsewhere = [](FakePlatform& m) { m.currentDirectory = "D:\\plans"; };
    const std::string config = "C:\\Netscape\\SuiteSpot\\https-web\\config\\OBJ~1.CON";
    const std::string refused = "it cannot be read: system text for 5 (error 5)";
    const std::deque<int> yes = {qv::kIdYes, qv::kIdYes, qv::kIdYes};
    const std::string onQ = "Q:\\Quorvan\\QvUninst.txt", onShare = "\\\\files\\qv\\Quorvan\\QvUninst.txt";
    const Case cases[] = {
        {"a deletion fails", yes, [&](FakePlatform& m) { m.shellFailures[menu] = 0x78; }, 1, 2,
         {"not done       delete folder " + menu + " and all it holds (flags 0x50): it is still there" + confirmation,
          "leftovers of the family: 1\n  start-menu folder " + menu + "\n"},
         "the log says: +0.000 delete-folder " + menu + ": failed: system text for 120 (error 120)\n"},
        {"the root's question answered No", {qv::kIdYes, qv::kIdYes, qv::kIdNo}, [](FakePlatform&) {}, 1, 1,
         {"not done       delete folder C:\\Quorvan and all it holds (flags 0x450): it is still there; it needed the "
          "answer Yes to \"Setup has detected that you have uninstalled all Quorvan products. \\nDo you want to "
          "remove C:\\Quorvan completely?\"\n",
          "leftovers of the family: 0\n"},
         "answered No in the log: +0.000 box [Quorvan Uninstall Program] \"Setup has detected that you have "
         "uninstalled all Quorvan products. \\nDo you want to remove C:\\Quorvan completely?\" -> no\n"},
        {"a product installed meanwhile", yes, [](FakePlatform& m) { m.AddKey("Software\\Quorvan\\Quorvan Kit"); }, 1, 5,
         {"not done       delete key HKLM\\Software\\Quorvan: the key is still there" + confirmation,
          "  product key HKLM\\Software\\Quorvan\\Quorvan Kit\n  family key HKLM\\Software\\Quorvan\\DocumentServer\n"},
         "never reached: the run stopped after line 8 (+0.000 end: outcome \"You have completed uninstall.\", exit "
         "status 0)\n"},
        {"another machine", yes, [](FakePlatform& m) { m.computerName = "WEB02"; }, 0, 0,
         {"the plan was made on QVTEST, not on this machine (WEB02)"}},
        // The root and the list are named where the run starts, and deleted as the full paths they name there.
        {"a driveless plan verified from another folder", {qv::kIdYes, qv::kIdYes, qv::kIdNo}, followsFolders, 1, 1,
         {"not done       delete folder C:\\Quorvan and all it holds (flags 0x450): it is still there",
          "done           delete file C:\\Quorvan\\QvUninst.txt\n"},
         "", followsFolders, elsewhere, "\\Quorvan\\QvUninst.txt"},
        {"that plan as written before full paths were kept", {qv::kIdYes, qv::kIdYes, qv::kIdNo}, followsFolders, 1, 0,
         {"not checkable  delete folder \\Quorvan and all it holds (flags 0x450): the plan keeps no full path for "
          "\\Quorvan, which names no drive or is relative",
          "done           delete folder C:\\Quorvan\\Server"},
         "", followsFolders, elsewhere, "\\Quorvan\\QvUninst.txt", true},
        {"a key and a menu refused", yes, [&](FakePlatform& m) { m.refused = {"Software\\Quorvan\\DocumentServer", menu}; },
         1, 0,
         {"not checkable  delete key HKLM\\Software\\Quorvan\\DocumentServer: " + refused,
          "  family key HKLM\\Software\\Quorvan\\DocumentServer: unknown, " + refused,
          "  start-menu folder " + menu + ": unknown, it cannot be looked at: system text for 5 (error 5)"}},
        {"an end line outside a block stays", yes,
         [&](FakePlatform& m) { m.files[config].insert(0, "#### QUORVAN WEB GATEWAY EXTENSION -- END ####\n"); },
         0, 0, {"done           rewrite " + config + " without the web gateway's block\n"}},
        // What another program wrote back after the run, whatever its type, is not what the plan set.
        {"the filter list written back as a number", yes, [](FakePlatform&) {}, 1, 1,
         {"not done       set HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters\\Filter DLLs to "
          "\"C:\\w3\\a.dll\": it holds \"\\x01\""},
         "", [](FakePlatform&) {},
         [](FakePlatform& m) { m.AddDword("SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters", "Filter DLLs", 1); }},
        {"the load order written back", yes, [](FakePlatform&) {}, 1, 1,
         {"not done       set metabase /LM/W3SVC/Filters identifier 2040: \"sspifilt\": it holds \"sspifilt,isapi\""},
         "", [](FakePlatform&) {},
         [](FakePlatform& m) { m.metabase->data[{"/LM/W3SVC/Filters", 2040}].text = u"sspifilt,isapi"; }},
        {"a failure foreseen that did not happen", yes, [](FakePlatform&) {}, 1, 1,
         {"done           rewrite " + config + " without the web gateway's block: though the plan foresaw that it "
          "fails: the file at " + config + " is read-only",
          "not done       write file " + config + ".tmp: it is not there"},
         "", [&](FakePlatform& m) { m.fileAttributes[config] = qv::kFileAttributeReadOnly; }},
        // A subst drive of the run's session is not there for the verification: nothing on it is gone.
        {"the run's drive is not there", yes,
         [&](FakePlatform& m) { m.AddFile(onQ, m.files[kList]), m.lockedFiles.insert(onQ); }, 1, 0,
         {"not checkable  delete file Q:\\Quorvan\\QvUninst.txt: drive Q: is not there\n",
          "not checkable  delete folder Q:\\Quorvan and all it holds (flags 0x450): drive Q: is not there"},
         "the log says: +0.000 delete-file Q:\\Quorvan\\QvUninst.txt: failed: system text for 32 (error 32)\n", [&](FakePlatform& m) { m.AddFile(onQ, m.files[kList]); }, [](FakePlatform& m) { m.missingDrives = {'Q'}; },
         onQ},
        // A metabase that says "file not found" of a key says it is not there, as for "path not found".
        {"the metabase's own word for gone", yes, [](FakePlatform&) {}, 1, 1,
         {"done           delete metabase key /LM/W3SVC/Filters/isapi\n",
          "not done       set metabase /LM/W3SVC/Filters identifier 2040: \"sspifilt\": its key is not there"},
         "", [](FakePlatform&) {}, [](FakePlatform& m) { m.metabase->failures["OpenKey"] = qv::kHresultFileNotFound; }},
        {"a list on a share", yes, [&](FakePlatform& m) { m.AddFile(onShare, m.files[kList]); }, 1, 0,
         {"not checkable  delete file \\\\files\\qv\\Quorvan\\QvUninst.txt: on the network\n"},
         "", [&](FakePlatform& m) { m.AddFile(onShare, m.files[kList]); }, [](FakePlatform&) {}, onShare},
        {"a target that forges a line", yes, [](FakePlatform&) {}, 0, 0,
         {"done           delete folder C:\\Quorvan\\Server\\ndone           delete folder C:\\Quorvan\\Other ("},
         "", [](FakePlatform&) {}, [](FakePlatform&) {}, kList, false, [](std::string plan) {
             const std::string from = R"("target":"C:\\Quorvan\\Server")";
             return plan.replace(plan.rfind(from), from.size(),
                                 R"("target":"C:\\Quorvan\\Server\ndone           delete folder C:\\Quorvan\\Other")");
         }},
    };
    for (const Case& c : cases) {
        FakePlatform planned, real;
        LayOut(planned);
        LayOut(real);
        c.planned(planned);
        const std::string made = PlanOf(planned, yes, false, c.listPath);
        // An older run deleted the root by its text: so its plans named it.
        const std::string plan = c.edit(
            c.older ? std::regex_replace(Older(made), std::regex(R"("target":"C:\\\\Quorvan")"), R"("target":"\\Quorvan")")
                    : made);
        c.change(real);
        real.directories.insert("C:\\logs");
        RunForReal(real, c.answers, false, c.listPath, kRunLog);
        c.after(real);
        std::string runLog = real.files[kRunLog], out, json, logged;
        real.files.erase(kRunLog);
        EXPECT_EQ(VerifyOn(real, plan, out), c.status) << c.what << "\n" << out;
        EXPECT_EQ(NotDone(real, plan).size(), c.notDone) << c.what;
        for (const std::string& said : c.said) EXPECT_THAT(out, HasSubstr(said)) << c.what;
        VerifyOn(real, plan, json, true);
        EXPECT_THAT(json, HasSubstr(c.status ? "{\"verified\":false," : "{\"verified\":true,")) << c.what;
        EXPECT_THAT(json, ::testing::Not(::testing::ContainsRegex(R"([^\\]\\[nrt])"))) << c.what;  // control bytes shown as the log shows them
        EXPECT_EQ(VerifyOn(real, plan, logged, false, runLog), c.status) << c.what;
        if (!c.logSays.empty()) EXPECT_THAT(logged, HasSubstr("\n                 " + c.logSays)) << c.what << logged;
        // What the disk cannot show, the log does: each program run and each box with its answer.
        EXPECT_THAT(logged, HasSubstr("   (dialog \"Uninstalling\"): by the log: ran, ended after 0.0 s\n")) << c.what;
        EXPECT_THAT(logged, HasSubstr("components?\" -> yes: by the log: shown, answered yes\n")) << c.what;
    }
}

TEST(Verify, ADamagedPlanIsRefusedInOneLineNamingTheFile) {
    FakePlatform planned;
    LayOut(planned);
    const std::string good = PlanOf(planned, {qv::kIdYes});
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::pair<std::string, const char*> cases[] = {
        {good.substr(0, good.size() / 2), "it is not JSON: it ends before the document does"},
        {"", "it is not JSON"},
        {"QvUnInstall -p C:\\Quorvan\\QvUninst.txt\n", "it is not JSON: it stops making sense at byte 1"},
        {"[" + good + "]", "it is not a plan: not a JSON object"},
        {"{\"list\":\"x\"}", "it is not a plan: it has no \"plan\" version"},
        {replaced("\"plan\":1", "\"plan\":\"1\""), "\"plan\" is not a version number"},
        {replaced("\"plan\":1", "\"plan\":2"), "it is a plan of version 2; this program reads version 1"},
        {replaced("\"listPath\":", "\"listpath\":"), "\"listPath\" is missing"},
        {replaced("\"logStays\":false", "\"logStays\":0"), "\"logStays\" is not true or false"},
        {replaced("\"kind\":\"delete-key\"", "\"kind\":\"format-disk\""), "\"format-disk\" is no kind of step"},
        {replaced("\"target\":\"Software\\\\Quorvan\"", "\"target\":7"), "\"target\" is not a string"},
        {replaced("\"cleanup\":[", "\"cleanup\":[3,"), "\"cleanup\" step 1: it is not an object"},
        {replaced("\"listPath\":\"", "\"listPath\":\"\\u20ac"), "\"listPath\" holds a character that no code-page byte gives"},
        {replaced("\"target\":\"Software\\\\Quorvan\"", "\"target\":\"\""), "\"target\" is empty"},
        {replaced("\"answer\":\"yes\"", "\"answer\":\"maybe\""), "\"answer\" is \"maybe\", not yes, no or ok"},
        {replaced("\"target\":\"C:\\\\Quorvan\\\\QvUninst.txt\"", "\"target\":\"C:\\\\Quorvan\\\\Other.txt\""),
         "\"listDeleted\" is true, but no step deletes the list"},
        {replaced("\"plan\":1", "\"plan\":18446744073709551615"),
         "it is a plan of version 18446744073709551615; this program reads version 1"},
        {replaced("\"kept\":[", "\"kept\":[3,"), "\"kept\" folder 1: it is not an object"},
        // Only what a run of ours changes is read: never a password, another key, another site.
        {replaced("W3SVC\\\\Parameters\\\\Filter DLLs", "Winlogon\\\\DefaultPassword"),
         "\"target\" SYSTEM\\CurrentControlSet\\Services\\Winlogon\\DefaultPassword is no value a run of this program sets"},
        {replaced("\"target\":\"Software\\\\Quorvan\"", "\"target\":\"Software\\\\QuorvanSecrets\""),
         "\"target\" Software\\QuorvanSecrets lies outside HKLM\\Software\\Quorvan: no run of this program deletes it"},
        {replaced("\"target\":\"/LM/W3SVC/Filters/isapi\"", "\"target\":\"/LM/W3SVC/Filters/../1/Root\""),
         "\"target\" /LM/W3SVC/Filters/../1/Root lies outside /LM/W3SVC/Filters: no run of this program changes it"},
        {replaced("\"target\":\"/LM/W3SVC/Filters\"", "\"target\":\"/LM/MSFTPSVC\""),
         "\"target\" /LM/MSFTPSVC lies outside /LM/W3SVC/Filters"},
    };
    for (const auto& [text, why] : cases) {
        std::string out;
        EXPECT_EQ(VerifyOn(planned, text, out), 2) << why;
        EXPECT_THAT(out, HasSubstr(std::string("the plan ") + kPlanFile + " cannot be used: "));
        EXPECT_THAT(out, HasSubstr(why));
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    }
    std::string out;
    FakePlatform nothing;
    EXPECT_EQ(qv::check::RunVerify(nothing.platform, nothing.platform.files, "C:\\no\\plan.json", "", false, out), 2);
    EXPECT_EQ(out, "cannot read the plan C:\\no\\plan.json\n");
    EXPECT_EQ(VerifyOn(planned, good, out, false, "QvUnInstall -p list\r\n"), 2);  // a log, but of no run
    EXPECT_EQ(out, std::string("the run's log ") + kRunLog + " cannot be used: it is no run's log: no line begins a run "
                   "(\"+0.000 start ...\")\n");
}

// With the machine read, what already stands in a planned write's way is a
// failure the run will meet: the preview meets it too, as the run does.
TEST(Check, AReadOnlyConfigurationIsForetoldAsTheRunMeetsIt) {
    const std::string config = "C:\\Netscape\\SuiteSpot\\https-web\\config\\OBJ~1.CON";
    FakePlatform planned, real;
    for (FakePlatform* machine : {&planned, &real}) {
        LayOut(*machine);
        machine->fileAttributes[config] = qv::kFileAttributeReadOnly;
        machine->AddFile(config + ".tmp.1", "an older copy");  // so the earlier copy goes on to .tmp.2, foretold too
    }
    const std::deque<int> yes = {qv::kIdYes, qv::kIdYes, qv::kIdYes};
    const qv::check::PreviewOptions options = Options(yes);
    const qv::check::Preview preview = qv::check::MakePreview(planned.platform, options);
    const std::string plan = PlanOf(planned, yes);
    RunForReal(real, yes);
    EXPECT_EQ(Seen(preview), Seen(real));
    EXPECT_THAT(Seen(real), Contains(HasSubstr("Cannot write " + config + " to restore Netscape configuration.")));
    EXPECT_THAT(qv::check::RenderPlain(preview, options),
                HasSubstr("rewrite " + config + " without the web gateway's block: fails, the file at " + config + " is read-only"));
    // A failure foretold is a warning: the preview exits 1, as for anything else the run will get wrong.
    std::string out;
    EXPECT_EQ(qv::check::RunCheck(planned.platform, options, out), 1);
    EXPECT_THAT(out, HasSubstr("line 6 foreseen-failure: The run meets a failure on line 6: rewrite " + config));
    EXPECT_THAT(NotDone(real, plan), Contains(StartsWith("rewrite-config " + config + ": a line still holds the web gateway's "
                                                        "begin marker; as the plan foresaw that it fails")));
    // The restored text the run kept is a file; a folder in its place is no such file.
    real.files.erase(config + ".tmp");
    real.directories.insert(config + ".tmp");
    EXPECT_THAT(NotDone(real, plan), Contains(StartsWith("write-file " + config + ".tmp: a folder stands there;")));
}

}  // namespace
}  // namespace qvtest
