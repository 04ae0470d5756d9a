// Every platform call of a whole uninstall failed in turn, one per run: the
// run must end, say what the failure calls for, go on where it should, and
// leave every file it rewrites whole and every file it was not told to
// delete in place.
#include <gmock/gmock.h>

#include <cstdio>
#include <regex>

#include "record/Recorder.h"
#include "app/RunLog.h"
#include "app/UninstallApp.h"
#include "tests/FakePlatform.h"
#include "webserver/Metabase.h"

namespace qvtest {
namespace {

using Log = std::vector<std::string>;

const char kList[] = "C:\\Quorvan\\QvUninst.txt";
const char kInstallDir[] = "C:\\Quorvan\\Server";
const char kConfig[] = "C:\\Netscape\\SuiteSpot\\https-web\\config\\OBJ~1.CON";
const char kParameters[] = "SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters";
const char kStartMenu[] = "C:\\WINDOWS\\Profiles\\All Users\\Start Menu\\Programs\\Quorvan";
const std::string kTemp = std::string(kConfig) + ".tmp";
const std::string kFilterDlls = "C:\\w3\\sspifilt.dll,C:\\Quorvan\\web\\isapi.dll,C:\\w3\\compress.dll";
const std::string kObjConf =
    "Init fn=load-types\n#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####\nInit fn=qv-init\n"
    "#### QUORVAN WEB GATEWAY EXTENSION -- END ####\n<Object name=default>\nService fn=send-file\n</Object>\n";

// Every kind of list line, both IIS branches, an obj.conf with a block,
// and nothing left of the family: the clean-up runs whole.
const std::string kListBytes =
    "\"C:\\Quorvan\\bin\\mgmtsrvr.exe\"\r\n\"C:\\Quorvan\\bin\\storsrvr.exe\"\r\n\"C:\\Quorvan\\bin\\jobsrvr.exe\"\r\n"
    "\"C:\\Quorvan\\portmap\\portinst.exe\"\r\nC:\\Quorvan\\web\\isapi.dll\r\nIIS_VER=3\r\nIIS_VER=4\r\n"
    "Netscape Enterprise Server\r\n" + std::string(kConfig) + "\r\nC:\\Quorvan\\Server\r\n\"C:\\Quorvan\\Uninst.isu\"\r\n";

struct Scenario {
    const char* name;
    bool silent;
    bool logged = false;  // with -l, through the recorder: the log's own calls fail in turn too
};

struct Outcome {
    FakePlatform fake;
    bool result = false;
};

void LayOut(FakePlatform& fake) {
    fake.AddFile(kList, kListBytes);
    fake.AddFile(std::string(kInstallDir) + "\\docstore\\index.dat", "data");
    fake.AddFile("C:\\Quorvan\\bin\\mgmtsrvr.exe", "MZ");
    fake.AddFile(std::string(kStartMenu) + "\\Console.lnk", "L");
    fake.AddFile(std::string(kStartMenu) + " Delvora Suite 4\\Viewer.lnk", "L");
    fake.AddFile(kConfig, kObjConf);
    fake.AddFile("C:\\Netscape\\SuiteSpot\\https-web\\config\\mime.types", "types");  // bystanders
    fake.AddFile("C:\\WINDOWS\\win.ini", "[windows]");
    fake.AddFile("C:\\Program Files\\Common Files\\shared.dll", "MZ");
    fake.AddKey("Software\\Quorvan\\DocumentServer");
    fake.AddKey(kParameters);
    fake.keys[kParameters]["Filter DLLs"] = kFilterDlls;
    fake.shellFolders = {{0x26, "C:\\Program Files"}, {0x2b, "C:\\Program Files\\Common Files"}};
    fake.metabase = std::make_unique<FakeMetabase>(fake);
    fake.metabase->keys = {"/LM/W3SVC/Filters", "/LM/W3SVC/Filters/isapi"};
    fake.metabase->data[{"/LM/W3SVC/Filters", 2040}].text = u"sspifilt,isapi,compress";
    fake.runningWaits["\"C:\\Quorvan\\bin\\jobsrvr.exe\""] = 3;  // a child that outlives some ticks
    fake.ticksWhileBoxUp = 2;
    for (int i = 0; i < 8; ++i) fake.boxAnswers.push_back(qv::kIdYes);
}

void RunUninstall(Outcome& outcome, const Scenario& scenario, int failCall) {
    LayOut(outcome.fake);
    outcome.fake.failCall = failCall;
    outcome.fake.directories.insert("C:\\logs");
    qv::RunLog log(outcome.fake.platform);
    qv::Recorder recorder(outcome.fake.platform, log);
    qv::UninstallApp app(scenario.logged ? recorder.Get() : outcome.fake.platform);
    std::vector<std::string> arguments = {"QvUnInstall.exe", "-p", kList};
    if (scenario.silent) arguments.push_back("-a");
    if (scenario.logged) {
        arguments.insert(arguments.end(), {"-l", "C:\\logs\\run.log"});
        app.log = &log;
        app.observer = &recorder.Lines();
    }
    app.SetArguments(arguments);
    try {
        outcome.result = app.InitInstance();
    } catch (const ProgramExit&) {
        ADD_FAILURE() << "the program ended in the middle";
    }
}

bool Starts(const std::string& text, const std::string& head) { return text.compare(0, head.size(), head) == 0; }

// The boxes shown after the failed call.
Log BoxesAfterFailure(const FakePlatform& fake) {
    Log boxes;
    bool after = false;
    for (const std::string& line : fake.log) {
        if (Starts(line, "FAIL ")) after = true;
        if (after && (Starts(line, "box ") || Starts(line, "boxw "))) boxes.push_back(line);
    }
    return boxes;
}

// The first box a failure of this call must bring, if any.
std::string BoxFor(const std::string& call) {
    const std::string config = kConfig;
    if (Starts(call, "CreateProcessA ") || Starts(call, "GetExitCodeProcess") || Starts(call, "GetWindowsDirectoryA"))
        return "box Error|system text for ";
    // The folder to go is still current, so its deletion fails, and says so.
    if (call == "SetCurrentDirectoryA c:\\") return "box Quorvan Uninstall Program|Cannot remove the directory of ";
    if (call == std::string("OpenForReading ") + kList) return "box Error|Cannot open uninstall configuration file";
    if (call == "OpenForReading " + config) return "box Information|Cannot find ";
    if (call == "OpenForWriting " + kTemp) return "box Information|Cannot create temporary file ";
    if (call == "MoveFileA " + kTemp) return "box Information|Cannot move the file " + kTemp + " aside";
    if (call == "OpenForWriting " + config || call == "OpenForReading " + kTemp || call == "WriteFile " + config ||
        call == "CloseHandle " + config || call == "ReadFile " + kTemp)
        return "box Information|Cannot write " + config;
    if (call == "WriteFile " + kTemp || call == "CloseHandle " + kTemp)
        return "box Information|Cannot write temporary file ";
    if (call == "ReadFile " + config) return "box Information|Cannot read " + config;
    if (call == "CoCreateInstance" || call == "IMSAdminBase::OpenKey" || call == "IMSAdminBase::GetData" ||
        call == "IMSAdminBase::SetData")
        return "boxw ERROR|";
    if (call == std::string("SHFileOperationA ") + kInstallDir || call == "SHFileOperationA C:\\Quorvan")
        return "box Quorvan Uninstall Program|Cannot remove the directory of ";
    return "";
}

// A guard that cannot tell what a folder is keeps it: a kept install
// directory, current still, keeps the root too.
bool GuardKeeps(const std::string& call) {
    return std::regex_match(call, std::regex("(GetFullPathNameA|GetFileAttributesA|GetFileIdentity) C:\\\\Quorvan(\\\\Server)?"));
}

// Failures after which the design ends the run before its outcome.
bool StopsTheRun(const std::string& call) {
    return call == std::string("OpenForReading ") + kList || call == "OpenForWriting " + kTemp ||
           call == "GetWindowsDirectoryA" || call == "GetVersionExA" || Starts(call, "MessageBoxA Confirm");
}

TEST(FaultInjection, EveryFailingPlatformCallEndsSafelyWithItsBoxAndTheRunGoesOn) {
    const Scenario scenarios[] = {{"interactive", false}, {"silent", true}, {"silent, logged", true, true}};
    int runs = 0;
    for (const Scenario& scenario : scenarios) {
        Outcome baseline;
        RunUninstall(baseline, scenario, 0);
        ASSERT_TRUE(baseline.result) << scenario.name;
        ASSERT_EQ(baseline.fake.files.count("C:\\logs\\run.log"), scenario.logged ? 1u : 0u) << scenario.name;
        const std::string restored = baseline.fake.files.at(kConfig);
        const std::string edited = baseline.fake.keys.at(kParameters).at("Filter DLLs");
        const std::u16string loadOrder = baseline.fake.metabase->data.at({"/LM/W3SVC/Filters", 2040}).text;
        ASSERT_NE(restored, kObjConf);
        ASSERT_NE(edited, kFilterDlls);
        FakePlatform before;
        LayOut(before);

        for (int k = 1; k <= baseline.fake.calls; ++k, ++runs) {
            Outcome run;
            RunUninstall(run, scenario, k);
            const std::string& call = run.fake.failed;
            const std::string where = std::string(scenario.name) + ", call " + std::to_string(k) + ": " + call;

            // What is rewritten is whole: untouched, edited right, or kept beside it.
            const std::string config = run.fake.files.count(kConfig) ? run.fake.files.at(kConfig) : "(gone)";
            const bool tempKept = run.fake.files.count(kTemp) > 0;
            EXPECT_TRUE(config == kObjConf || config == restored ||
                        (tempKept && run.fake.files.at(kTemp) == restored))
                << where;
            const std::string value = run.fake.keys.at(kParameters).at("Filter DLLs");
            EXPECT_TRUE(value == kFilterDlls || value == edited) << where << ": " << value;
            const std::u16string order = run.fake.metabase->data.at({"/LM/W3SVC/Filters", 2040}).text;
            EXPECT_TRUE(order == u"sspifilt,isapi,compress" || order == loadOrder) << where;
            EXPECT_EQ(run.fake.metabase->references, 0) << where;
            EXPECT_EQ(run.fake.metabase->openHandles(), 0) << where;
            EXPECT_EQ(qv::MetabaseObject, nullptr) << where;
            EXPECT_EQ(run.fake.OpenKeys(), 0) << where;

            // Nothing is deleted but the family's own folders, the list and the temporary copy.
            for (const auto& [path, bytes] : before.files) {
                if (run.fake.files.count(path)) continue;
                EXPECT_TRUE(Starts(path, "C:\\Quorvan\\") || Starts(path, kStartMenu)) << where << " lost " << path;
            }

            // The failure's own box comes first, shown exactly once.
            const std::string box = BoxFor(call);
            const Log boxes = BoxesAfterFailure(run.fake);
            if (!box.empty()) {
                ASSERT_FALSE(boxes.empty()) << where;
                EXPECT_TRUE(Starts(boxes.front(), box)) << where << "\n  shown: " << boxes.front();
                if (boxes.size() > 1) EXPECT_NE(boxes[0], boxes[1]) << where;
            }
            // Any other failure is silent: no error box the failure-free run did not show. A
            // question that could not be asked counts as No: the kept install directory stays
            // current, so the root that holds it can't go, and that is said.
            const bool keptDirectory = (call == "MessageBoxA Quorvan Uninstall Program" && !scenario.silent) ||
                                       GuardKeeps(call);
            if (box.empty() && !keptDirectory)
                for (const std::string& shown : boxes)
                    EXPECT_TRUE(shown.find("Error") == std::string::npos && shown.find("ERROR") == std::string::npos &&
                                shown.find("Cannot") == std::string::npos)
                        << where << "\n  shown: " << shown;

            // And the run goes on to its outcome unless the design stops it.
            if (!StopsTheRun(call)) {
                EXPECT_TRUE(run.result) << where;
                if (!scenario.silent && !Starts(call, "MessageBoxA Information"))
                    EXPECT_EQ(run.fake.Only({"box"}).back(), "box Information|You have completed uninstall.|0x2040")
                        << where;
            }
        }
    }
    std::printf("fault injection: 3 scenarios, %d runs, each failing one platform call\n", runs);
}

}  // namespace
}  // namespace qvtest
