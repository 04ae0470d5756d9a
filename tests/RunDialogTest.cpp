#include <gmock/gmock.h>

#include <algorithm>

#include "runner/RunDialog.h"
#include "tests/FakePlatform.h"
#include "uninstall/UninstallList.h"

namespace qvtest {
namespace {

using ::testing::ElementsAre;
using Log = std::vector<std::string>;

int RunOne(FakePlatform& fake, const std::string& program, const std::string& arguments,
           const std::string& caption = "Working") {
    qv::RunDialog dialog(0, program, arguments, caption, fake.platform);
    return dialog.DoModal();
}

long Count(const FakePlatform& fake, const std::string& line) {
    return std::count(fake.log.begin(), fake.log.end(), line);
}

// The log after the dialog's start-up (dialog, create, title, range, step, timer).
Log AfterStart(const FakePlatform& fake) {
    return fake.log.size() < 6 ? fake.log : Log(fake.log.begin() + 6, fake.log.end());
}

TEST(RunDialog, ChildEndedBeforeFirstTickFillsTheBarAndClosesWithOne) {
    FakePlatform fake;
    EXPECT_EQ(RunOne(fake, "net stop", "w3svc", "Stopping"), 1);
    EXPECT_THAT(fake.log,
                ElementsAre("dialog 129", "create net stop w3svc|show=7", "title Stopping", "range 0..300", "step 1",
                            "timer 1 120", "tick", "wait 10", "exitcode 100", "pos 300", "closehandle 100", "end 1"));
    FakePlatform empty;  // empty arguments still get their blank; an empty caption gives an empty title
    RunOne(empty, "C:\\tool.exe", "", "");
    EXPECT_THAT(empty.Only({"create", "title"}), ElementsAre("create C:\\tool.exe |show=7", "title "));
}

TEST(RunDialog, LongChildStepsTheBarOnEveryTickPastTheEndOfTheRange) {
    FakePlatform fake;
    fake.runningWaits["slow"] = 350;
    EXPECT_EQ(RunOne(fake, "slow", "job"), 1);
    EXPECT_EQ(Count(fake, "stepit"), 350);
    EXPECT_EQ(Count(fake, "wait 10"), 351);
    EXPECT_EQ(Count(fake, "minimize"), 0);
    EXPECT_THAT(fake.Only({"end"}), ElementsAre("end 1"));
}

TEST(RunDialog, InstallerProgramShowsItsWindowAndKeepsTheDialogMinimised) {
    FakePlatform fake;
    fake.runningWaits["isuninst"] = 2;
    EXPECT_EQ(RunOne(fake, "isuninst -mQuorvan -y", "-fC:\\Uninst.isu\n", "Uninstalling"), 1);
    EXPECT_THAT(fake.log, ElementsAre("dialog 129", "create isuninst -mQuorvan -y -fC:\\Uninst.isu\n|show=5",
                                      "title Uninstalling", "minimize", "timer 1 120", "tick", "wait 10", "minimize",
                                      "exitcode 100", "tick", "wait 10", "minimize", "exitcode 100", "tick", "wait 10",
                                      "exitcode 100", "pos 300", "closehandle 100", "end 1"));

    // The child's window follows the whole command line, the dialog the program text only.
    for (const auto& [program, arguments, show] :
         {std::tuple<std::string, std::string, int>{"ISUNINST", "-y", 7}, {"C:\\copy.exe", "C:\\isuninst.exe", 5}}) {
        FakePlatform other;
        other.runningWaits[""] = 1;
        RunOne(other, program, arguments);
        EXPECT_THAT(other.Only({"create"}),
                    ElementsAre("create " + program + " " + arguments + "|show=" + std::to_string(show)));
        EXPECT_THAT(AfterStart(other), ElementsAre("tick", "wait 10", "stepit", "exitcode 100", "tick", "wait 10",
                                                   "exitcode 100", "pos 300", "closehandle 100", "end 1"));
    }
}

TEST(RunDialog, FailedStartShowsSystemTextThenCannotRunAndReturnsTheErrorCode) {
    const std::string longProgram = "C:\\" + std::string(5000, 'p') + ".exe";
    for (const auto& [error, program, cannotRun] :
         {std::tuple<int, std::string, std::string>{2, "C:\\no\\srv.exe",
                                                    "Cannot run C:\\no\\srv.exe -x. File not found!"},
          {3, "C:\\no\\srv.exe", "Cannot run C:\\no\\srv.exe -x"},
          {5, "C:\\no\\srv.exe", "Cannot run C:\\no\\srv.exe -x"},
          {2, longProgram, "Cannot run " + longProgram + " -x. File not found!"}}) {
        FakePlatform fake;
        fake.startErrors[program] = error;
        EXPECT_EQ(RunOne(fake, program, "-x", "Stopping"), error);
        const std::string code = std::to_string(error);
        // Ended before it is shown: the rest of the start-up still runs, but no tick comes.
        EXPECT_THAT(fake.log,
                    ElementsAre("dialog 129", "create " + program + " -x|show=7",
                                "box Error|system text for " + code + "|0x40", "box QvUnInstall|" + cannotRun + "|0x30",
                                "end " + code, "title Stopping", "range 0..300", "step 1", "timer 1 120"));
    }
}

TEST(RunDialog, UnreadableExitCodeShowsTheErrorAndEndsWithZero) {
    FakePlatform running;  // still running: it is left running and its handle kept
    running.runningWaits["srv"] = 5;
    running.failingExitReads = {1};
    EXPECT_EQ(RunOne(running, "srv", "-x"), 0);
    EXPECT_THAT(AfterStart(running),
                ElementsAre("tick", "wait 10", "stepit", "exitcode 100", "box Error|system text for 6|0x40", "end 0"));

    FakePlatform ended;  // already ended: the bar is filled and the handle closed all the same
    ended.failingExitReads = {1};
    EXPECT_EQ(RunOne(ended, "srv", "-x"), 0);
    EXPECT_THAT(AfterStart(ended), ElementsAre("tick", "wait 10", "exitcode 100", "box Error|system text for 6|0x40",
                                               "pos 300", "closehandle 100", "end 0"));
}

TEST(RunDialog, ErrorBoxFromTheTimerShowsOnceAndTheHandleClosesOnce) {
    // The box's own message loop lets timer ticks through; they must not re-enter the tick.
    for (const bool stillRunning : {true, false}) {
        FakePlatform fake;
        fake.ticksWhileBoxUp = 4;
        fake.failingExitReads = {1};
        if (stillRunning) fake.runningWaits["srv"] = 5;
        EXPECT_EQ(RunOne(fake, "srv", "-x"), 0);
        EXPECT_EQ(Count(fake, "tick (box up)"), 4);
        EXPECT_EQ(fake.Only({"box"}).size(), 1u);
        EXPECT_EQ(fake.Only({"exitcode"}).size(), 1u);
        EXPECT_EQ(fake.Only({"closehandle"}).size(), stillRunning ? 0u : 1u);
        EXPECT_THAT(fake.Only({"end"}), ElementsAre("end 0"));
    }
}

TEST(RunDialog, ChildsExitCodeIsNeverLookedAt) {
    FakePlatform fake;
    fake.exitCodes["srv"] = 1603;
    EXPECT_EQ(RunOne(fake, "srv", "-x"), 1);
    EXPECT_THAT(fake.Only({"box"}), ::testing::IsEmpty());
}

TEST(RunDialog, EscapeLeavesTheChildRunningAndTheUninstallGoesOn) {
    FakePlatform fake;
    fake.files["list.txt"] = "C:\\a\\mgmtsrvr.exe\nC:\\b\\jobsrvr.exe\n";
    fake.runningWaits["C:\\a"] = 1000;
    fake.escapeAfterTicks[1] = 3;
    qv::RunUninstallList(fake.platform, "list.txt", false);
    EXPECT_EQ(Count(fake, "tick"), 4);
    const auto escape = std::find(fake.log.begin(), fake.log.end(), "escape") - fake.log.begin();
    ASSERT_LE(escape + 4, static_cast<long>(fake.log.size()));
    EXPECT_THAT(Log(fake.log.begin() + escape, fake.log.begin() + escape + 4),
                ElementsAre("escape", "end 2", "dialog 129", "create C:\\b\\jobsrvr.exe\n -Sremove|show=7"));
    EXPECT_THAT(fake.Only({"closehandle"}), ElementsAre("closehandle 102"));  // the first child is never let go
}

TEST(RunDialog, TickWithoutAChildEndsTheWholeProgramWithZero) {
    FakePlatform fake;
    qv::RunDialog dialog(0, "net stop", "w3svc", "Stopping", fake.platform);
    FakeDialogWindow window(fake.log);
    EXPECT_THROW(dialog.OnTimer(window, 1), ProgramExit);
    EXPECT_THAT(fake.log, ElementsAre("killtimer 1", "end 0", "exit 0"));
}

}  // namespace
}  // namespace qvtest
