#include <gmock/gmock.h>

#include "tests/FakePlatform.h"
#include "uninstall/UninstallList.h"

namespace qvtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Log = std::vector<std::string>;

struct Driver {
    FakePlatform fake;
    int result = -1;

    Driver& Run(const std::string& list, bool silent = false) {
        fake.files["list.txt"] = list;
        result = qv::RunUninstallList(fake.platform, "list.txt", silent);
        return *this;
    }
    // What the lines did, without the dialogs' own traffic.
    Log Effects() const {
        return fake.Only({"create", "coinit", "couninit", "removeiisfilter", "registryfilter", "restorenetscape"});
    }
    const qv::CleanupState& State() const { return fake.cleanup.value().state; }
};

TEST(UninstallList, CrLfListDoesWhatLfListDoesAndCtrlZEndsTheList) {
    const std::string lf = "C:\\q\\mgmtsrvr.exe\nIIS_VER=4\nC:\\a\rb\\portinst.exe\nC:\\Prog\\Quorvan\n";
    std::string crlf = lf;
    for (std::size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2)) crlf.insert(at, "\r");
    for (std::size_t chunk = 1; chunk <= 8; ++chunk) {  // CR and LF in different reads, too
        for (const std::string& list : {lf, crlf}) {
            Driver driver;
            driver.fake.chunkSize = chunk;
            EXPECT_THAT(driver.Run(list).Effects(),
                        ElementsAre("create C:\\q\\mgmtsrvr.exe\n -Sremove|show=7", "coinit", "removeiisfilter",
                                    "create net stop w3svc|show=7", "couninit",
                                    "create C:\\a\rb\\portinst.exe\n nogui remove tcp|show=7"));
            EXPECT_EQ(driver.State().installDir, "C:\\Prog\\Quorvan");
        }
    }
    const std::string ctrlZ = std::string("C:\\q\\jobsrvr.exe\n") + '\x1A' + "C:\\q\\storsrvr.exe\n";
    EXPECT_THAT(Driver().Run(ctrlZ).Effects(), ElementsAre("create C:\\q\\jobsrvr.exe\n -Sremove|show=7"));
}

TEST(UninstallList, LongLinesAreCarriedOutInPiecesOf199Characters) {
    const std::string head = "C:\\" + std::string(188, 'h') + "portinst";  // 199 characters
    const std::string tail = std::string(40, 't') + "jobsrvr.exe\n";       // 51 and the line feed
    EXPECT_THAT(Driver().Run(head + tail).Effects(),
                ElementsAre("create " + head + " nogui remove tcp|show=7", "create " + tail + " -Sremove|show=7"));

    // The line feed after 199 characters comes alone and is too short to be a directory.
    Driver exact;
    EXPECT_THAT(exact.Run("C:\\Prog\n" + head + "\n").Effects(),
                ElementsAre("create " + head + " nogui remove tcp|show=7"));
    EXPECT_EQ(exact.State().installDir, "C:\\Prog");

    // A NUL byte ends a line's text, but still counts toward the piece.
    Driver nul;
    EXPECT_THAT(nul.Run(std::string("C:\\dir\0\\mgmtsrvr.exe\n", 21)).Effects(), IsEmpty());
    EXPECT_EQ(nul.State().installDir, "C:\\dir");
    EXPECT_EQ(Driver().Run('\0' + std::string(197, 'x') + "portinst\n").State().installDir, "ortinst");
}

TEST(UninstallList, UnterminatedLastLineKeepsEveryCharacter) {
    EXPECT_EQ(Driver().Run("C:\\w3\\isapi.dll").State().isapiFilterPath, "C:\\w3\\isapi.dll");
    EXPECT_EQ(Driver().Run("C:\\w3\\isapi.dll\n").State().isapiFilterPath, "C:\\w3\\isapi.dll");
    EXPECT_EQ(Driver().Run("C:\\Prog").State().installDir, "C:\\Prog");
    EXPECT_EQ(Driver().Run("Netscape Server").State().netscapeService, "\"Netscape Server\"");
    EXPECT_THAT(Driver().Run("C:\\Uninst.isu").Effects(),
                ElementsAre("create isuninst -mQuorvan -y -fC:\\Uninst.isu|show=5"));
}

TEST(UninstallList, MissingListShowsExactlyOneErrorBoxAndDoesNothingElse) {
    for (const std::string& path : {std::string("C:\\no\\list.txt"), "C:\\" + std::string(300, 'n') + "\\l.txt"}) {
        for (bool silent : {false, true}) {
            FakePlatform fake;
            EXPECT_EQ(qv::RunUninstallList(fake.platform, path, silent), 0);
            EXPECT_THAT(fake.log, ElementsAre("open " + path, "box Error|Cannot open uninstall configuration file " +
                                                                  path + " .|0x2030"));
        }
    }
}

TEST(UninstallList, EmptyListRunsOnlyTheClosingCleanupWithInitialValues) {
    Driver empty;
    EXPECT_THAT(empty.Run("").fake.log, ElementsAre("open list.txt", "close list.txt", "cleanup"));
    const qv::CleanupState& s = empty.State();
    EXPECT_EQ(s.installDir + s.isuLogPath + s.netscapeService + s.isapiFilterPath + s.iisService, "");
    EXPECT_EQ(s.iisVersion, -1);
    EXPECT_EQ(empty.fake.cleanup->listPath + (empty.fake.cleanup->silent ? " silent" : ""), "list.txt");
    EXPECT_EQ(empty.result, 1);

    Driver failed;  // the driver's result is the closing clean-up's
    failed.fake.cleanupResult = 0;
    EXPECT_EQ(failed.Run("", true).result, 0);
    EXPECT_TRUE(failed.fake.cleanup->silent);
}

TEST(UninstallList, FirstMatchingKeywordDecidesWhatALineDoes) {
    const std::tuple<std::string, Log, std::string> cases[] = {
        {"C:\\portinst\\mgmtsrvr.exe\n", {"create C:\\portinst\\mgmtsrvr.exe\n -Sremove|show=7"}, ""},
        {"C:\\w3\\isapi.dll IIS_VER=4\n", {}, ""},
        {"Netscape Server config\\OBJ~1.CON\n", {"create net stop \"Netscape Server config\\OBJ~1.CON\"|show=7"}, ""},
        {"C:\\Netscape\\config\\OBJ~1.CON\n", {"restorenetscape C:\\Netscape\\config\\OBJ~1.CON\n"}, ""},
        {"C:\\Server\\Quorvan\n", {}, "C:\\Server\\Quorvan"},
        {"C:\\jobsrvr\\Uninst.isu\n", {"create C:\\jobsrvr\\Uninst.isu\n -Sremove|show=7"}, ""},
        {"C:\\Mgmtsrvr.exe\n", {}, "C:\\Mgmtsrvr.exe"},
    };
    for (const auto& [line, effects, installDir] : cases) {
        Driver driver;
        EXPECT_EQ(driver.Run(line).Effects(), effects) << line;
        EXPECT_EQ(driver.State().installDir, installDir) << line;
        EXPECT_EQ(driver.State().iisVersion, -1) << line;
    }
    EXPECT_EQ(Driver().Run("C:\\w3\\isapi.dll IIS_VER=4\n").State().isapiFilterPath, "C:\\w3\\isapi.dll IIS_VER=4");

    Driver netscape;  // each Netscape line stops the server; the last name is kept for the restart
    EXPECT_THAT(netscape.Run("Netscape Server A\n\"C:\\Netscape\\Server B\"\n").Effects(),
                ElementsAre("create net stop \"Netscape Server A\"|show=7",
                            "create net stop \"\"C:\\Netscape\\Server B\"\"|show=7"));
    EXPECT_EQ(netscape.State().netscapeService, "\"\"C:\\Netscape\\Server B\"\"");
}

TEST(UninstallList, KeywordsMatchOnlyAtDoubleByteCharacterBoundaries) {
    const std::string onTrailByte = "C:\\\x81mgmtsrvr.exe\n", afterPair = "C:\\\x81\x40mgmtsrvr.exe\n";
    Driver dbcs, pair, sbcs;
    dbcs.fake.leadByte = pair.fake.leadByte = [](unsigned char b) { return b >= 0x81 && b <= 0x9F; };
    EXPECT_THAT(dbcs.Run(onTrailByte).Effects(), IsEmpty());
    EXPECT_EQ(dbcs.State().installDir, "C:\\\x81mgmtsrvr.exe");
    EXPECT_THAT(pair.Run(afterPair).Effects(), ElementsAre("create " + afterPair + " -Sremove|show=7"));
    EXPECT_THAT(sbcs.Run(onTrailByte).Effects(), ElementsAre("create " + onTrailByte + " -Sremove|show=7"));
}

TEST(UninstallList, IisVersionChoosesMetabaseBeforeStopOrStopBeforeRegistry) {
    const Log metabase = {"coinit", "removeiisfilter", "create net stop w3svc|show=7", "couninit"};
    const auto registry = [](const std::string& filter) {
        return Log{"create net stop w3svc|show=7", "registryfilter " + filter};
    };
    const std::tuple<std::string, Log, int> cases[] = {
        {"C:\\w3\\isapi.dll\nIIS_VER=3\n", registry("C:\\w3\\isapi.dll"), 3},
        {"IIS_VER=3\nC:\\w3\\isapi.dll\n", registry(""), 3},
        {"IIS_VER=4\n", metabase, 4},
        {"IIS_VER=5\n", metabase, 5},
        {"IIS_VER=", registry(""), 0},
        {"xIIS_VER=4\n", registry(""), 0},
        {"  IIS_VER=5\n", registry(""), 0},
        {"IIS_VER= \t-7x\n", registry(""), -7},
    };
    for (const auto& [list, effects, version] : cases) {
        Driver driver;
        EXPECT_EQ(driver.Run(list).Effects(), effects) << list;
        EXPECT_EQ(driver.State().iisVersion, version) << list;
        EXPECT_EQ(driver.State().iisService, "w3svc") << list;
    }
}

TEST(UninstallList, InstallShieldLineClosesTheListAndIsTheLastLineActedOn) {
    for (bool silent : {false, true}) {
        Driver driver;
        driver.fake.chunkSize = 4096;  // the lines after it are already read into the buffer
        driver.Run("\"C:\\Prog\\Uninst.isu\"\nC:\\q\\mgmtsrvr.exe\nC:\\b\\Uninst.isu\n", silent);
        EXPECT_THAT(driver.fake.Only({"open", "close", "create", "cleanup"}),
                    ElementsAre("open list.txt", "close list.txt",
                                std::string("create isuninst -mQuorvan -y") + (silent ? " -a" : "") +
                                    " -f\"C:\\Prog\\Uninst.isu\"\n|show=5",
                                "cleanup"));
        EXPECT_EQ(driver.State().isuLogPath, "C:\\Prog\\Uninst.isu");
        EXPECT_EQ(driver.fake.cleanup->silent, silent);
    }
}

TEST(UninstallList, DirectoryLineNeedsThreeBytesAndLosesQuotesAndLineFeeds) {
    const std::pair<std::string, std::string> cases[] = {
        {"\"\"\n", ""}, {"x\n", "C:\\Prog"}, {"x\r\n", "C:\\Prog"}, {"xy\n", "xy"}, {"\"C:\\A B\"\r\n", "C:\\A B"}};
    for (const auto& [second, installDir] : cases) {
        Driver driver;
        EXPECT_THAT(driver.Run("C:\\Prog\n" + second).Effects(), IsEmpty());
        EXPECT_EQ(driver.State().installDir, installDir) << second;
    }
}

TEST(UninstallList, FailedNetscapeRestoreClosesTheListAndStopsEverything) {
    const std::string list = "C:\\ns\\config\\OBJ~1.CON\nC:\\q\\mgmtsrvr.exe\n";
    Driver failed;
    failed.fake.restoreNetscapeResult = 0;
    EXPECT_THAT(failed.Run(list).fake.log,
                ElementsAre("open list.txt", "restorenetscape C:\\ns\\config\\OBJ~1.CON\n", "close list.txt"));
    EXPECT_EQ(failed.result, 0);
    EXPECT_THAT(Driver().Run(list).Effects(), ElementsAre("restorenetscape C:\\ns\\config\\OBJ~1.CON\n",
                                                          "create C:\\q\\mgmtsrvr.exe\n -Sremove|show=7"));
}

}  // namespace
}  // namespace qvtest
