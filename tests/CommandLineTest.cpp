#include <gmock/gmock.h>

#include "app/UninstallApp.h"
#include "record/Recorder.h"
#include "tests/FakePlatform.h"

namespace qvtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Args = std::vector<std::string>;

std::string UsageBox(const std::string& token) {
    return "box Usage|Invalid command line option: " + token +
           "\n\nUsage: \nQvUnInstall to uninstall Quorvan product.\n"
           "QvUnInstall -p path\\QvUninst.txt to uninstall Quorvan product specified in QvUninstall.txt.\n"
           "QvUnInstall -d directory to delete directory.\nQvUnInstall -a silent uninstall.\n|0x0";
}

const char kConfirmBox[] =
    "box Confirm File Deletion|Are you sure you want to completely remove the selected "
    "application and all of its components?|0x2024";

// Each list holds one InstallShield line, whose command shows which list ran and whether silently.
std::string Uninstaller(const std::string& list, bool silent) {
    return "create isuninst -mQuorvan -y " + std::string(silent ? "-a " : "") + "-f" + list + "\\Uninst.isu\n|show=5";
}

// No -l log: nothing is kept.
struct NoLog : qv::RecordSink {
    bool Recording() const override { return false; }
    void Piece(int, int, int, const std::string&) override {}
    void CleanupBegins() override {}
    void Took(const qv::Recorded&) override {}
    int Exiting(int status, const std::string&) override { return status; }
};

// Started as WinMain starts it: the app over the recorder and the verdict a quiet run ends with.
struct Start {
    FakePlatform fake;
    NoLog none;
    qv::RunVerdict verdict{none};
    qv::Recorder recorder{fake.platform, verdict};
    bool result;
    int status;
    explicit Start(Args arguments, std::deque<int> answers = {}) {
        fake.files = {{"a.txt", "a\\Uninst.isu\n"}, {"b.txt", "b\\Uninst.isu\n"}};
        fake.boxAnswers = std::move(answers);
        arguments.insert(arguments.begin(), "QvUnInstall.exe");
        qv::UninstallApp app(recorder.Get());
        app.verdict = &verdict;
        app.SetArguments(std::move(arguments));
        result = app.InitInstance();
        status = verdict.Exiting(0, "");
    }
};

TEST(CommandLine, NoArgumentsShowNothingAndRunNothing) {
    Start none({});
    EXPECT_THAT(none.fake.log, IsEmpty());
    EXPECT_FALSE(none.result);
}

TEST(CommandLine, EveryRejectedTokenGetsItsOwnUsageBoxAndNothingElseHappens) {
    struct Case {
        Args arguments, log;
        int status = 0;  // a quiet run's own
    };
    const Case cases[] = {
        {{"-P", "a.txt"}, {UsageBox("P"), UsageBox("a.txt")}},
        {{"-"}, {UsageBox("")}},
        {{"--p", "x"}, {UsageBox("-p"), UsageBox("x")}},
        {{"-p", "/data/list.txt"}, {UsageBox("data/list.txt")}},
        {{"-p", "a.txt", "extra"}, {UsageBox("extra")}},
        {{"-pC:\\list.txt"}, {UsageBox("pC:\\list.txt")}},
        {{"-x", "-d", "C:\\empty"}, {UsageBox("x")}},
        {{"-p", "-x", "a.txt"}, {UsageBox("x")}},  // a rejected switch leaves -p waiting
        {{"-a", "yes", "no", "-p", "a.txt"}, {UsageBox("no")}},
        {{"-L", "run.log", "-p", "a.txt"}, {UsageBox("L"), UsageBox("run.log")}},
        {{"-l", "run.log", "other.log", "-p", "a.txt"}, {UsageBox("other.log")}},
        // -q, wherever it stands, shows no usage box: the status says it.
        {{"-q", "-P", "a.txt"}, {}, qv::kExitInvalidCommandLine},
        {{"-P", "a.txt", "/q"}, {}, qv::kExitInvalidCommandLine},
        {{"-p", "a.txt", "-q", "extra"}, {}, qv::kExitInvalidCommandLine},  // -q takes no value
        {{"-q", "-x", "-d", "C:\\empty"}, {}, qv::kExitInvalidCommandLine},
        {{"-q"}, {}, qv::kExitInvalidCommandLine},                        // nothing named to do
        {{"-p", "-q"}, {}, qv::kExitInvalidCommandLine},
        {{"-Q", "-p", "a.txt"}, {UsageBox("Q")}},  // not quiet: a switch is one exact letter
        {{"-q", "-p", "a.txt", "-l", "run.log"}, {}, qv::kExitLogNotOpened},  // asked for a log that none keeps
    };
    for (const Case& c : cases) {
        Start start(c.arguments);
        EXPECT_EQ(start.fake.log, c.log) << c.arguments[0];
        EXPECT_FALSE(start.result);
        EXPECT_EQ(start.status, c.status) << c.arguments[0];
    }
}

TEST(CommandLine, SilentRunsTheLastNamedListWithoutAskingWhereverDashAStands) {
    for (const Args& arguments : {Args{"-a", "-p", "a.txt"},
                                  {"-p", "a.txt", "-a"},
                                  {"-a", "yes", "-p", "a.txt"},
                                  {"/a", "/p", "a.txt"},
                                  {"-p", "b.txt", "-a", "-p", "a.txt"},
                                  {"-l", "run.log", "-a", "-p", "a.txt"},  // -l takes its value anywhere
                                  {"-a", "/l", "run.log", "-p", "a.txt"},
                                  {"-p", "a.txt", "-a", "-l"},
                                  {"-q", "-p", "a.txt"},
                                  {"-p", "a.txt", "/q"},
                                  {"-p", "b.txt", "-q", "-p", "a.txt"},
                                  {"-l", "-q", "-p", "a.txt"},  // no switch is a value: no log asked for
                                  {"-a", "yes", "-q", "-d", "C:\\empty", "-p", "a.txt"}}) {
        Start start(arguments);
        EXPECT_THAT(start.fake.Only({"box"}), IsEmpty());
        EXPECT_THAT(start.fake.Only({"create"}), ElementsAre(Uninstaller("a", true)));
        EXPECT_TRUE(start.result);
        EXPECT_EQ(start.status, qv::kExitSuccess) << start.verdict.Why();
    }
}

TEST(CommandLine, NoListPathEndsQuietlyAfterRemovingTheDirectory) {
    for (const Args& arguments : {Args{"-p"}, {"-p", "-a"}, {"-a"}, {"-d"}}) {
        Start start(arguments);
        EXPECT_THAT(start.fake.log, IsEmpty());
        EXPECT_FALSE(start.result);
    }
    EXPECT_THAT(Start({"-d", "C:\\empty"}).fake.log, ElementsAre("rmdir C:\\empty"));
    Start quiet({"-q", "-d", "C:\\empty"});
    EXPECT_THAT(quiet.fake.Only({"rmdir", "box", "open"}), ElementsAre("rmdir C:\\empty"));
    EXPECT_EQ(quiet.status, qv::kExitSuccess) << quiet.verdict.Why();
    EXPECT_THAT(Start({"-p", "-d", "a.txt"}).fake.log, ElementsAre("rmdir a.txt"));  // the later switch takes it
}

TEST(CommandLine, ConfirmationFollowsDirectoryRemovalAndOnlyYesRunsTheList) {
    for (int answer : {qv::kIdNo, qv::kIdOk, qv::kIdCancel}) {
        Start start({"-d", "C:\\full", "-p", "a.txt"}, {answer});
        EXPECT_THAT(start.fake.log, ElementsAre("rmdir C:\\full", kConfirmBox));
        EXPECT_FALSE(start.result);
    }
    Start yes({"-d", "C:\\full", "-p", "a.txt"}, {qv::kIdYes});
    ASSERT_GE(yes.fake.log.size(), 3u);
    EXPECT_THAT(Args(yes.fake.log.begin(), yes.fake.log.begin() + 3),
                ElementsAre("rmdir C:\\full", kConfirmBox, "open a.txt"));
    EXPECT_THAT(yes.fake.Only({"create"}), ElementsAre(Uninstaller("a", false)));
    EXPECT_TRUE(yes.result);
}

}  // namespace
}  // namespace qvtest
