#include <gmock/gmock.h>

#include <algorithm>

#include "tests/FakePlatform.h"
#include "uninstall/UninstallList.h"

namespace qvtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Log = std::vector<std::string>;

const char kParameters[] = "SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters";
const char kCreateAdminBase[] =
    "cocreate {A9E69610-B80D-11D0-B9B9-00A0C922E750} 7 {70B51430-B6CA-11D0-B9B9-00A0C922E750} -> 0x80040154";

// The real closing clean-up runs after every list; one product key left keeps
// it short. What a list recorded shows in the clean-up's calls: the install
// directory it enters, the log it looks for, the servers it restarts.
struct Driver {
    FakePlatform fake;
    int result = -1;

    Driver() {
        fake.AddKey("Software\\Quorvan\\Quorvan Kit");
        fake.AddKey(kParameters);
        fake.keys[kParameters]["Filter DLLs"] = "C:\\other.dll,C:\\w3\\isapi.dll";
    }
    Driver& Run(const std::string& list, bool silent = false) {
        fake.files["list.txt"] = list;
        result = qv::RunUninstallList(fake.platform, "list.txt", silent);
        return *this;
    }
    // What the lines did, without the dialogs' own traffic.
    Log Effects() const {
        Log effects = fake.Only({"create", "coinit", "couninit", "cocreate", "regset", "open"});
        effects.erase(std::remove_if(effects.begin(), effects.end(),
                                     [](const std::string& e) {
                                         return e.rfind("create net start", 0) == 0 ||
                                                (e.rfind("open ", 0) == 0 && e.find("OBJ~1.CON") == std::string::npos);
                                     }),
                      effects.end());
        return effects;
    }
    Log Restarts() const {
        Log restarts;
        for (const std::string& e : fake.Only({"create"}))
            if (e.rfind("create net start", 0) == 0) restarts.push_back(e);
        return restarts;
    }
    std::string InstallDir() const { return Argument("chdir "); }
    std::string LogPath() const {
        const Log opens = fake.Only({"open"});
        return opens.size() < 2 ? "(no outcome)" : opens.back().substr(5);
    }

private:
    std::string Argument(const std::string& kind) const {
        for (const std::string& line : fake.log)
            if (line.rfind(kind, 0) == 0) return line.substr(kind.size());
        return "";
    }
};

TEST(UninstallList, CrLfListDoesWhatLfListDoes) {
    const std::string lf = "C:\\q\\mgmtsrvr.exe\nIIS_VER=4\nC:\\a\rb\\portinst.exe\nC:\\Prog\\Quorvan\n";
    std::string crlf = lf;
    for (std::size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2)) crlf.insert(at, "\r");
    for (std::size_t chunk = 1; chunk <= 8; ++chunk) {  // CR and LF in different reads, too
        for (const std::string& list : {lf, crlf}) {
            Driver driver;
            driver.fake.chunkSize = chunk;
            EXPECT_THAT(driver.Run(list).Effects(),
                        ElementsAre("create C:\\q\\mgmtsrvr.exe\n -Sremove|show=7", "coinit", kCreateAdminBase,
                                    "create net stop w3svc|show=7", "couninit",
                                    "create C:\\a\rb\\portinst.exe\n nogui remove tcp|show=7"));
            EXPECT_EQ(driver.InstallDir(), "C:\\Prog\\Quorvan");
        }
    }
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
    EXPECT_EQ(exact.InstallDir(), "C:\\Prog");

    // A NUL byte ends a line's text, but still counts toward the piece.
    Driver nul;
    EXPECT_THAT(nul.Run(std::string("C:\\dir\0\\mgmtsrvr.exe\n", 21)).Effects(), IsEmpty());
    EXPECT_EQ(nul.InstallDir(), "C:\\dir");
    EXPECT_EQ(Driver().Run('\0' + std::string(197, 'x') + "portinst\n").InstallDir(), "ortinst");
}

TEST(UninstallList, UnterminatedLastLineKeepsEveryCharacter) {
    EXPECT_THAT(Driver().Run("C:\\w3\\isapi.dll\nIIS_VER=3\n").Effects(),
                ElementsAre("create net stop w3svc|show=7", "regset Filter DLLs|1|C:\\other.dll"));
    EXPECT_EQ(Driver().Run("C:\\Prog").InstallDir(), "C:\\Prog");
    EXPECT_THAT(Driver().Run("Netscape Server").Restarts(), ElementsAre("create net start \"Netscape Server\"|show=7"));
    EXPECT_THAT(Driver().Run("C:\\Uninst.isu").Effects(),
                ElementsAre("create isuninst -mQuorvan -y -fC:\\Uninst.isu|show=5"));
    Driver config;  // the configuration is found by its whole path, restored and closed
    config.fake.AddFile("C:\\ns\\config\\OBJ~1.CON", "Init fn=a\n");
    EXPECT_THAT(config.Run("C:\\ns\\config\\OBJ~1.CON").Effects(),
                ElementsAre("open C:\\ns\\config\\OBJ~1.CON", "open C:\\ns\\config\\OBJ~1.CON.tmp"));
    EXPECT_THAT(config.fake.Only({"box"}), ElementsAre("box Information|You have completed uninstall.|0x2040"));
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
    // No install directory, no restart, no log: the outcome is "completed".
    Driver empty;
    EXPECT_EQ(empty.Run("").result, 1);
    EXPECT_THAT(empty.fake.Only({"open", "close", "chdir", "create", "box", "delete"}),
                ElementsAre("open list.txt", "close list.txt", "open ",
                            "box Information|You have completed uninstall.|0x2040", "delete C:\\work\\list.txt"));

    FakePlatform failed;  // the driver's result is the closing clean-up's
    failed.files["list.txt"] = "";
    failed.windowsDirectoryReadFails = true;
    EXPECT_EQ(qv::RunUninstallList(failed.platform, "list.txt", true), 0);
    EXPECT_TRUE(failed.files.count("list.txt"));
}

TEST(UninstallList, FirstMatchingKeywordDecidesWhatALineDoes) {
    const std::tuple<std::string, Log, std::string> cases[] = {
        {"C:\\portinst\\mgmtsrvr.exe\n", {"create C:\\portinst\\mgmtsrvr.exe\n -Sremove|show=7"}, ""},
        {"C:\\w3\\isapi.dll IIS_VER=4\n", {}, ""},
        {"Netscape Server config\\OBJ~1.CON\n", {"create net stop \"Netscape Server config\\OBJ~1.CON\"|show=7"}, ""},
        {"C:\\Netscape\\config\\OBJ~1.CON\n", {"open C:\\Netscape\\config\\OBJ~1.CON"}, ""},
        {"C:\\Server\\Quorvan\n", {}, "C:\\Server\\Quorvan"},
        {"C:\\Netscape\\Quorvan\n", {}, "C:\\Netscape\\Quorvan"},
        {"C:\\jobsrvr\\Uninst.isu\n", {"create C:\\jobsrvr\\Uninst.isu\n -Sremove|show=7"}, ""},
        {"C:\\Mgmtsrvr.exe\n", {}, "C:\\Mgmtsrvr.exe"},
    };
    for (const auto& [line, effects, installDir] : cases) {
        Driver driver;
        EXPECT_EQ(driver.Run(line).Effects(), effects) << line;
        EXPECT_EQ(driver.InstallDir(), installDir) << line;
        EXPECT_THAT(driver.Restarts(), line.find("Netscape Server") == 0 ? Log{"create net start \"Netscape Server config\\OBJ~1.CON\"|show=7"} : Log{}) << line;
    }
    // A filter line that also names the IIS version is only a filter line.
    EXPECT_THAT(Driver().Run("C:\\w3\\isapi.dll IIS_VER=4\nIIS_VER=3\n").Effects(),
                ElementsAre("create net stop w3svc|show=7", "regset Filter DLLs|1|C:\\other.dll,C:\\w3\\isapi.dll"));

    Driver netscape;  // each Netscape line stops the server; the last name is kept for the restart
    EXPECT_THAT(netscape.Run("Netscape Server A\n\"C:\\Netscape\\Server B\"\n").Effects(),
                ElementsAre("create net stop \"Netscape Server A\"|show=7",
                            "create net stop \"\"C:\\Netscape\\Server B\"\"|show=7"));
    EXPECT_THAT(netscape.Restarts(), ElementsAre("create net start \"\"C:\\Netscape\\Server B\"\"|show=7"));
}

TEST(UninstallList, KeywordsMatchOnlyAtDoubleByteCharacterBoundaries) {
    const std::string onTrailByte = "C:\\\x81mgmtsrvr.exe\n", afterPair = "C:\\\x81\x40mgmtsrvr.exe\n";
    Driver dbcs, pair, sbcs;
    dbcs.fake.leadByte = pair.fake.leadByte = [](unsigned char b) { return b >= 0x81 && b <= 0x9F; };
    EXPECT_THAT(dbcs.Run(onTrailByte).Effects(), IsEmpty());
    EXPECT_EQ(dbcs.InstallDir(), "C:\\\x81mgmtsrvr.exe");
    EXPECT_THAT(pair.Run(afterPair).Effects(), ElementsAre("create " + afterPair + " -Sremove|show=7"));
    EXPECT_THAT(sbcs.Run(onTrailByte).Effects(), ElementsAre("create " + onTrailByte + " -Sremove|show=7"));
}

TEST(UninstallList, IisVersionChoosesMetabaseBeforeStopOrStopBeforeRegistry) {
    // Nothing answers for the metabase here: its creation fails and the stop still follows.
    const Log metabase = {"coinit", kCreateAdminBase, "create net stop w3svc|show=7", "couninit"};
    const auto registry = [](const std::string& filter) {
        // An empty filter path leaves the value alone.
        return filter.empty() ? Log{"create net stop w3svc|show=7"}
                              : Log{"create net stop w3svc|show=7", "regset Filter DLLs|1|C:\\other.dll"};
    };
    const std::tuple<std::string, Log, bool> cases[] = {
        {"C:\\w3\\isapi.dll\nIIS_VER=3\n", registry("C:\\w3\\isapi.dll"), true},
        {"C:\\old\\isapi.dll\nC:\\w3\\isapi.dll\nIIS_VER=3\n", registry("C:\\w3\\isapi.dll"), true},  // the last filter line
        {"IIS_VER=3\nC:\\w3\\isapi.dll\n", registry(""), true},
        {"IIS_VER=4\n", metabase, true},
        {"IIS_VER=5\n", metabase, true},
        {"IIS_VER=", registry(""), false},
        {"IIS_VER=4", metabase, true},  // the last line, without a line feed
        {"xIIS_VER=4\n", registry(""), false},
        {"  IIS_VER=5\n", registry(""), false},
        // The number as atoi reads it: blanks, a sign, digits up to the first other character.
        {"IIS_VER= \t-7x\n", registry(""), false},
        {"IIS_VER= \t+12x\n", metabase, true},
        {"IIS_VER=99999999999\n", metabase, true},
    };
    for (const auto& [list, effects, restarted] : cases) {
        Driver driver;
        EXPECT_EQ(driver.Run(list).Effects(), effects) << list;
        EXPECT_EQ(driver.Restarts(), restarted ? Log{"create net start w3svc|show=7"} : Log{}) << list;
    }
}

TEST(UninstallList, InstallShieldLineClosesTheListAndIsTheLastLineActedOn) {
    for (bool silent : {false, true}) {
        Driver driver;
        driver.fake.chunkSize = 4096;  // the lines after it are already read into the buffer
        driver.fake.files["C:\\Prog\\Uninst.isu"] = "log";
        driver.Run("\"C:\\Prog\\Uninst.isu\"\nC:\\q\\mgmtsrvr.exe\nC:\\b\\Uninst.isu\n", silent);
        Log expected = {"open list.txt", "close list.txt",
                        std::string("create isuninst -mQuorvan -y") + (silent ? " -a" : "") +
                            " -f\"C:\\Prog\\Uninst.isu\"\n|show=5",
                        "open C:\\Prog\\Uninst.isu"};
        if (!silent) expected.push_back("box Information|Uninstall aborted.|0x2040");
        expected.push_back("close C:\\Prog\\Uninst.isu");  // the log is looked at, then let go
        EXPECT_EQ(driver.fake.Only({"open", "close", "create", "box"}), expected);
        EXPECT_EQ(driver.LogPath(), "C:\\Prog\\Uninst.isu");
    }
}

TEST(UninstallList, DirectoryLineNeedsThreeBytesAndLosesQuotesAndLineFeeds) {
    const std::pair<std::string, std::string> cases[] = {
        {"\"\"\n", ""}, {"x\n", "C:\\Prog"}, {"x\r\n", "C:\\Prog"}, {"xy\n", "xy"}, {"\"C:\\A B\"\r\n", "C:\\A B"}};
    for (const auto& [second, installDir] : cases) {
        Driver driver;
        EXPECT_THAT(driver.Run("C:\\Prog\n" + second).Effects(), IsEmpty());
        EXPECT_EQ(driver.InstallDir(), installDir) << second;
    }
}

TEST(UninstallList, FailedNetscapeRestoreClosesTheListAndStopsEverything) {
    const std::string config = "C:\\ns\\config\\OBJ~1.CON";
    const std::string list = config + "\nC:\\q\\mgmtsrvr.exe\nC:\\Prog\n";
    Driver failed;
    failed.fake.AddFile(config, "Init fn=x\n");
    failed.fake.lockedFiles.insert(config + ".tmp");
    failed.fake.directories.insert("C:\\Prog");
    EXPECT_THAT(failed.Run(list).fake.log,
                ElementsAre("open list.txt", "open " + config,
                            "move " + config + ".tmp|" + config + ".tmp.1 -> 2", "openw " + config + ".tmp",
                            "box Information|Cannot create temporary file " + config +
                                ".tmp to restore Netscape configuration. |0x2040",
                            "close " + config, "close list.txt"));
    EXPECT_EQ(failed.result, 0);
    EXPECT_TRUE(failed.fake.files.count("list.txt"));
    Driver missing;  // a configuration that isn't there is reported, and the list goes on
    EXPECT_THAT(missing.Run(list).Effects(), ElementsAre("open " + config, "create C:\\q\\mgmtsrvr.exe\n -Sremove|show=7"));
    EXPECT_THAT(missing.fake.Only({"box"}).front(),
                "box Information|Cannot find " + config + " to restore Netscape configuration. |0x2040");
}

TEST(UninstallList, ReadErrorOrCtrlZEndsTheListAtItsPlace) {
    // A read error inside a line: the part read is no line, and nothing after it runs.
    const std::string list = "C:\\q\\mgmtsrvr.exe\nC:\\q\\jobsrvr.exe\nC:\\Prog\n";
    Driver broken;
    broken.fake.readErrorAfter["list.txt"] = 24;  // in the middle of the jobsrvr line
    EXPECT_THAT(broken.Run(list).Effects(), ElementsAre("create C:\\q\\mgmtsrvr.exe\n -Sremove|show=7"));
    EXPECT_EQ(broken.InstallDir(), "");
    EXPECT_EQ(broken.result, 1);  // the clean-up runs as at the end of the list

    // Ctrl-Z ends the file there, however the reads fall: inside a line, what stands before it is the last line.
    const std::pair<std::string, std::string> ctrlZ[] = {
        {"C:\\q\\jobsrvr.exe\n\x1A" "C:\\q\\storsrvr.exe\n", ""},
        {"C:\\q\\jobsrvr.exe\nC:\\Prog\x1A\\jobs.exe\nC:\\q\\mgmtsrvr.exe\n", "C:\\Prog"},
    };
    for (const auto& [list, installDir] : ctrlZ) {
        for (std::size_t chunk : {std::size_t(1), std::size_t(7), std::size_t(4096)}) {
            Driver driver;
            driver.fake.chunkSize = chunk;
            EXPECT_THAT(driver.Run(list).Effects(), ElementsAre("create C:\\q\\jobsrvr.exe\n -Sremove|show=7"));
            EXPECT_EQ(driver.InstallDir(), installDir) << chunk;
        }
    }
}

TEST(UninstallList, HugeAndOddListsAreReadPieceByPieceWithoutLoss) {
    // A line of three megabytes is read in pieces of 199; only the piece with the keyword acts.
    std::string huge(3'000'000, 'x');
    huge += "\\portinst.exe\n";
    Driver big;
    const Log effects = big.Run(huge + "C:\\q\\jobsrvr.exe\n").Effects();
    ASSERT_EQ(effects.size(), 2u);
    EXPECT_THAT(effects[0], ::testing::EndsWith(std::string(75, 'x') + "\\portinst.exe\n nogui remove tcp|show=7"));
    EXPECT_EQ(effects[0].size(), std::string("create ").size() + 75 + 14 + 24);
    EXPECT_EQ(effects[1], "create C:\\q\\jobsrvr.exe\n -Sremove|show=7");

    // A lead byte as the last byte of a piece: the next piece starts afresh, and a keyword in it counts.
    Driver dbcs;
    dbcs.fake.leadByte = [](unsigned char b) { return b >= 0x81 && b <= 0x9F; };
    const std::string edge = std::string(198, 'y') + "\x81" + "mgmtsrvr.exe\n";
    EXPECT_THAT(dbcs.Run(edge).Effects(), ElementsAre("create mgmtsrvr.exe\n -Sremove|show=7"));

    // Lone CRs stay in the line; a list of NUL bytes only runs nothing.
    Driver cr;
    EXPECT_THAT(cr.Run("C:\\a\rb\\jobsrvr.exe\r\r\n").Effects(), ElementsAre("create C:\\a\rb\\jobsrvr.exe\r\n -Sremove|show=7"));
    EXPECT_THAT(Driver().Run(std::string(1000, '\0')).Effects(), IsEmpty());
}

}  // namespace
}  // namespace qvtest
