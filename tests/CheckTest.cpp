#include <gmock/gmock.h>

#include <algorithm>

#include "app/UninstallApp.h"
#include "check/EmptyMachine.h"
#include "check/Preview.h"
#include "tests/FakePlatform.h"

namespace qvtest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Log = std::vector<std::string>;

const char kList[] = "C:\\Quorvan\\QvUninst.txt";
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

Log Seen(const qv::check::Preview& preview) {
    std::vector<qv::check::PlannedStep> steps = preview.startup;
    for (const auto& piece : preview.pieces) steps.insert(steps.end(), piece.steps.begin(), piece.steps.end());
    steps.insert(steps.end(), preview.cleanup.begin(), preview.cleanup.end());
    Log seen;
    char style[16];
    for (const auto& step : steps) {
        std::snprintf(style, sizeof style, "0x%X", step.style);
        if (step.kind == "run") seen.push_back("run " + step.target + "|show=" + std::to_string(step.style));
        if (step.kind == "box") seen.push_back("box " + step.detail + "|" + step.target + "|" + style);
        if (step.kind == "delete-folder") seen.push_back("delete-folder " + step.target + "|" + Flags(step.detail));
        if (step.kind == "delete-key" || step.kind == "write-file" || step.kind == "delete-file" ||
            step.kind == "remove-folder")
            seen.push_back(step.kind + " " + step.target);
        if (step.kind == "set-value") seen.push_back("set-value " + step.target.substr(step.target.rfind('\\') + 1));
        if (step.kind == "rename") seen.push_back("rename " + step.target + "|" + step.detail);
        if (step.kind == "metabase-delete-key" || step.kind == "metabase-set-data") seen.push_back(step.kind);
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

        qv::check::PreviewOptions options;
        options.listFile = options.listPath = kList;
        options.answers = answers;
        options.defaultAnswer = qv::kIdNo;
        options.silent = silent;
        const qv::check::Preview preview = qv::check::MakePreview(planned.platform, options);
        EXPECT_EQ(planned.files, filesBefore);
        EXPECT_EQ(planned.keys, keysBefore);
        EXPECT_TRUE(planned.metabase->keys.count("/LM/W3SVC/Filters/isapi"));
        EXPECT_THAT(planned.Only({"create", "shell", "delete", "rmdir", "regset", "regdelete", "openw"}), IsEmpty());
        EXPECT_EQ(planned.metabase->references, 0);

        real.boxAnswers = answers;
        qv::UninstallApp app(real.platform);
        std::vector<std::string> arguments = {"QvUnInstall.exe", "-p", kList};
        if (silent) arguments.push_back("-a");
        app.SetArguments(arguments);
        app.InitInstance();
        // The fake has no uninstaller to remove the log; there is none to remove, so both say completed.
        EXPECT_EQ(Seen(preview), Seen(real));
        EXPECT_GE(Seen(real).size(), 20u);  // commands, boxes, rewrites and deletions all took part
        EXPECT_EQ(preview.listDeleted, !real.files.count(kList));
    }
}

TEST(Check, RootIsJudgedByTheFolderItNamesOnTheEmptyMachineToo) {
    for (const std::string root : {"\\Program Files", "C:\\\\WINDOWS", "C:\\."}) {
        FakePlatform files;
        files.AddFile("list.txt", kIsu);
        qv::check::EmptyMachine empty(files, "list.txt");
        qv::check::PreviewOptions options;
        options.listFile = "list.txt";
        options.listPath = root + "\\Quorvan\\QvUninst.txt";
        const qv::check::Preview preview = qv::check::MakePreview(empty.Get(), options);
        for (const auto& step : preview.cleanup) EXPECT_NE(step.kind + " " + step.target, "delete-folder " + root);
        ASSERT_EQ(preview.warnings.size(), 1u) << root;
        EXPECT_THAT(preview.warnings[0].message, HasSubstr("is a folder of the system: it is never offered")) << root;
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
    EXPECT_THAT(out, HasSubstr("\"pieces\":[{\"line\":1,\"piece\":1,\"text\":\"C:\\\\Quorvan\\\\bin\\\\mgmtsrvr.exe\\u000A\","
                               "\"row\":1,\"kind\":\"service (Management Server)\","
                               "\"command\":\"C:\\\\Quorvan\\\\bin\\\\mgmtsrvr.exe\\u000A -Sremove\","
                               "\"caption\":\"Stopping Quorvan Management Server\",\"recorded\":null"));
    EXPECT_THAT(out, HasSubstr("{\"line\":3,\"piece\":1,\"text\":\"x\\u000A\",\"row\":null,\"kind\":\"not read\""));
    EXPECT_THAT(out, HasSubstr("\"listDeleted\":true"));
    EXPECT_THAT(out, HasSubstr("{\"code\":\"unquoted-program\",\"line\":1,"));
    EXPECT_THAT(out, HasSubstr("{\"kind\":\"box\",\"target\":\"You have completed uninstall.\""));
}

TEST(Check, CommandLineIsTakenAsTheUsageSays) {
    const auto ok = qv::check::ParseCheckArguments({"--json", "--silent", "--answer", "no", "--answers", "YN",
                                                    "--log-stays", "list.txt", "C:\\Q\\QvUninst.txt"});
    EXPECT_EQ(ok.error, "");
    EXPECT_TRUE(ok.options.json && ok.options.silent && ok.options.logStays && !ok.options.machine);
    EXPECT_EQ(ok.options.defaultAnswer, qv::kIdNo);
    EXPECT_THAT(ok.options.answers, ElementsAre(qv::kIdYes, qv::kIdNo));
    EXPECT_EQ(ok.options.listFile + "|" + ok.options.listPath, "list.txt|C:\\Q\\QvUninst.txt");
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{}, {"--answer", "maybe", "l"}, {"--frobnicate", "l"}, {"a", "b", "c"}})
        EXPECT_NE(qv::check::ParseCheckArguments(bad).error, "");
}

}  // namespace
}  // namespace qvtest
