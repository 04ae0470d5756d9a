#include <gmock/gmock.h>

#include "app/UninstallApp.h"
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

struct Start {
    FakePlatform fake;
    bool result;
    explicit Start(Args arguments, std::deque<int> answers = {}) {
        fake.files = {{"a.txt", "a\\Uninst.isu\n"}, {"b.txt", "b\\Uninst.isu\n"}};
        fake.boxAnswers = std::move(answers);
        arguments.insert(arguments.begin(), "QvUnInstall.exe");
        qv::UninstallApp app(fake.platform);
        app.SetArguments(std::move(arguments));
        result = app.InitInstance();
    }
};

TEST(CommandLine, NoArgumentsShowNothingAndRunNothing) {
    Start none({});
    EXPECT_THAT(none.fake.log, IsEmpty());
    EXPECT_FALSE(none.result);
}

TEST(CommandLine, EveryRejectedTokenGetsItsOwnUsageBoxAndNothingElseHappens) {
    const std::pair<Args, Args> cases[] = {
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
    };
    for (const auto& [arguments, log] : cases) {
        Start start(arguments);
        EXPECT_EQ(start.fake.log, log) << arguments[0];
        EXPECT_FALSE(start.result);
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
                                  {"-p", "a.txt", "-a", "-l"}}) {
        Start start(arguments);
        EXPECT_THAT(start.fake.Only({"box"}), IsEmpty());
        EXPECT_THAT(start.fake.Only({"create"}), ElementsAre(Uninstaller("a", true)));
        EXPECT_TRUE(start.result);
    }
}

TEST(CommandLine, NoListPathEndsQuietlyAfterRemovingTheDirectory) {
    for (const Args& arguments : {Args{"-p"}, {"-p", "-a"}, {"-a"}, {"-d"}}) {
        Start start(arguments);
        EXPECT_THAT(start.fake.log, IsEmpty());
        EXPECT_FALSE(start.result);
    }
    EXPECT_THAT(Start({"-d", "C:\\empty"}).fake.log, ElementsAre("rmdir C:\\empty"));
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
