#include <gmock/gmock.h>

#include "tests/FakePlatform.h"
#include "uninstall/Commands.h"

namespace qvtest {
namespace {

using ::testing::ElementsAre;

TEST(Commands, ServiceLineRunsItselfWithSremoveUnderTheFirstTagsCaption) {
    const std::string cases[][3] = {
        {"\"C:\\x\\mgmtsrvr.exe\"\n", "\"C:\\x\\mgmtsrvr.exe\"\n -Sremove", "Stopping Quorvan Management Server"},
        {"C:\\jobsrvr\\mgmtsrvr.exe\n", "C:\\jobsrvr\\mgmtsrvr.exe\n -Sremove", "Stopping Quorvan Management Server"},
        {"C:\\jobsrvr\\storsrvr.exe", "C:\\jobsrvr\\storsrvr.exe -Sremove", "Stopping Quorvan Object Store Server"},
        {"C:\\q\\jobsrvr.exe\n", "C:\\q\\jobsrvr.exe\n -Sremove", "Stopping Quorvan Job Server"},
    };
    for (const auto& [line, commandLine, caption] : cases) {
        FakePlatform fake;
        qv::StopServerService(fake.platform, line);
        EXPECT_THAT(fake.Only({"create", "title"}),
                    ElementsAre("create " + commandLine + "|show=7", "title " + caption));
    }
}

TEST(Commands, WebServerPortMapperAndInstallerCommandsHaveTheirExactTexts) {
    FakePlatform fake;
    qv::CleanupState state;
    qv::RemovePortMapper(fake.platform, "C:\\nn\\portinst.exe\n");
    qv::StopIis(fake.platform, state);
    // An unterminated last line keeps its last character in the service name.
    qv::StopNetscape(fake.platform, state, "C:\\\"Netscape\" Server");
    EXPECT_EQ(state.netscapeService, "\"C:\\\"Netscape\" Server\"");
    qv::RunInstallShieldUninstaller(fake.platform, "\"C:\\q\\Uninst.isu\"\n", false);
    qv::RunInstallShieldUninstaller(fake.platform, "C:\\q\\Uninst.isu", true);
    qv::RestartNetscape(fake.platform, state);
    state.iisService = "changed";
    qv::RestartIis(fake.platform, state);
    EXPECT_EQ(state.iisService, "w3svc");
    EXPECT_THAT(
        fake.Only({"create", "title"}),
        ElementsAre("create C:\\nn\\portinst.exe\n nogui remove tcp|show=7",
                    "title Uninstalling NobleNet Portmapper for TCP", "create net stop w3svc|show=7",
                    "title Stopping Microsoft Internet Information Server...",
                    "create net stop \"C:\\\"Netscape\" Server\"|show=7", "title Stopping Netscape Web Server...",
                    "create isuninst -mQuorvan -y -f\"C:\\q\\Uninst.isu\"\n|show=5", "title Uninstalling",
                    "create isuninst -mQuorvan -y -a -fC:\\q\\Uninst.isu|show=5", "title Uninstalling",
                    "create net start \"C:\\\"Netscape\" Server\"|show=7", "title Restarting Netscape Web Server...",
                    "create net start w3svc|show=7", "title Restarting Microsoft Internet Information Server..."));
}

}  // namespace
}  // namespace qvtest
