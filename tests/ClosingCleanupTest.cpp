#include <gmock/gmock.h>

#include <cstdio>
#include <functional>

#include "tests/FakePlatform.h"
#include "uninstall/ClosingCleanup.h"
#include "uninstall/InstallRoot.h"

namespace qvtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Log = std::vector<std::string>;

const char kList[] = "C:\\Quorvan\\QvUninst.txt";
const char kDir[] = "C:\\Quorvan\\Server";
const char kTitle[] = "Quorvan Uninstall Program";
const std::string kDirQuestion =
    std::string("box ") + kTitle + "|Setup has detected that the directory of C:\\Quorvan\\Server has not been "
    "removed . \nDo you want to remove this entire directory?\n\nWarning: your files under this directory will be "
    "removed if you choose YES.|0x2024";
const std::string kRootQuestion = std::string("box ") + kTitle +
                                  "|Setup has detected that you have uninstalled all Quorvan products. \n"
                                  "Do you want to remove C:\\Quorvan completely?|0x2024";
const std::string kCompleted = "box Information|You have completed uninstall.|0x2040";
const std::string kAborted = "box Information|Uninstall aborted.|0x2040";
const std::string kStartMenu = "C:\\WINDOWS\\Profiles\\All Users\\Start Menu\\Programs\\Quorvan";

std::string CannotRemove(const std::string& path) {
    return std::string("box ") + kTitle + "|Cannot remove the directory of " + path +
           ".\nThe directory may be in use.\n|0x0";
}

// A machine after the list's lines ran: the install directory, the family's
// start-menu folders and the list are still there; no product key is left.
struct Cleanup {
    FakePlatform fake;
    qv::CleanupState state;
    std::string listPath = kList;
    int result = -1;

    Cleanup() {
        fake.AddFile("C:\\Quorvan\\Server\\bin\\srv.exe", "MZ");
        fake.AddFile(kList, "list");
        fake.AddFile(kStartMenu + "\\Console.lnk", "L");
        fake.AddFile(kStartMenu + " Delvora Suite 4\\Viewer.lnk", "L");
        fake.AddKey("Software\\Quorvan\\DocumentServer");
        state.installDir = "C:\\Quorvan\\Server";
    }
    Cleanup& Answer(std::deque<int> answers) {
        fake.boxAnswers = std::move(answers);
        return *this;
    }
    Cleanup& Run(bool silent = false) {
        result = qv::RunClosingCleanup(fake.platform, state, listPath, silent);
        return *this;
    }
    Log Seen(const std::vector<std::string>& kinds = {"box", "shell", "create", "regdelete", "delete"}) const {
        return fake.Only(kinds);
    }
};

TEST(ClosingCleanup, WholeRunRemovesDirectoryKeysMenusAndRootAndDeletesTheList) {
    Cleanup run;
    run.state.netscapeService = "\"Netscape Enterprise Server\"";
    run.state.iisVersion = 4;
    run.Answer({qv::kIdYes, qv::kIdYes}).Run();
    EXPECT_EQ(run.result, 1);
    EXPECT_THAT(run.Seen(),
                ElementsAre(kDirQuestion, "shell C:\\Quorvan\\Server|0x50|Deleting folders",
                            "create net start \"Netscape Enterprise Server\"|show=7", "create net start w3svc|show=7",
                            "regdelete Software\\Quorvan\\DocumentServer -> 0", "regdelete Software\\Quorvan -> 0",
                            "shell " + kStartMenu + "|0x50|Deleting folders",
                            "shell " + kStartMenu + " Delvora Suite 4|0x50|Deleting folders", kRootQuestion,
                            "shell C:\\Quorvan|0x450|Deleting folders", kCompleted, "delete C:\\Quorvan\\QvUninst.txt"));
    EXPECT_THAT(run.fake.files, IsEmpty());
    EXPECT_FALSE(run.fake.keys.count("Software\\Quorvan"));
    EXPECT_EQ(run.fake.currentDirectory, "c:\\");
    EXPECT_EQ(run.fake.OpenKeys(), 0);
    // Every product key was asked for with full access and nothing more was opened.
    const Log opens = run.fake.Only({"regopen"});
    ASSERT_EQ(opens.size(), 9u);
    EXPECT_EQ(opens.front(), "regopen Software\\Quorvan\\Quorvan Admin Station|0xF003F -> 2");
    EXPECT_EQ(opens.back(), "regopen Software\\Quorvan\\Quorvan Web Gateway|0xF003F -> 2");
    // The Windows directory is read by its length first, then into a buffer one longer.
    EXPECT_THAT(run.fake.Only({"windir", "version"}), ElementsAre("windir 0", "windir 12", "version 148"));
}

TEST(ClosingCleanup, InstallDirectoryIsOfferedOnlyWhenNamedEnterableAndInteractive) {
    Cleanup none;  // no directory line: no question, nothing entered
    none.state.installDir.clear();
    EXPECT_THAT(none.Run().fake.Only({"chdir"}), IsEmpty());
    EXPECT_EQ(none.Seen({"box"}), (Log{kRootQuestion, kCompleted}));

    Cleanup vanished;  // taken as removed already
    vanished.state.installDir = "C:\\Quorvan\\Gone";
    EXPECT_THAT(vanished.Run().fake.Only({"chdir"}), ElementsAre("chdir C:\\Quorvan\\Gone"));
    EXPECT_EQ(vanished.Seen({"box"}), (Log{kRootQuestion, kCompleted}));
    EXPECT_EQ(vanished.fake.currentDirectory, "C:\\work");

    Cleanup kept;  // declined: the directory stays, and stays the current directory
    kept.Answer({qv::kIdNo}).Run();
    EXPECT_EQ(kept.Seen({"box"}), (Log{kDirQuestion, kRootQuestion, kCompleted}));
    EXPECT_TRUE(kept.fake.files.count("C:\\Quorvan\\Server\\bin\\srv.exe"));
    EXPECT_EQ(kept.fake.currentDirectory, "C:\\Quorvan\\Server");

    // Each line answered Yes: judged where the run enters it, deleted by that full path while it still reaches it.
    struct Line {
        const char* dir;
        const char* cwd;  // the run starts there, and reads relative names there
        std::pair<const char*, const char*> otherName;
        const char* deleted;  // null: never offered
        // What is put in its place while the question waits; on Windows 95 only a folder there is looked for.
        std::function<void(FakePlatform&)> swap = nullptr;
        bool win95 = false;
    };
    const auto junction = [](FakePlatform& m) { m.otherNames[kDir] = "C:\\Program Files"; };
    const auto file = [](FakePlatform& m) {
        m.files.erase("C:\\Quorvan\\Server\\bin\\srv.exe"), m.directories.erase("C:\\Quorvan\\Server\\bin");
        m.directories.erase(kDir), m.files[kDir] = "a file";
    };
    const Line lines[] = {
        {".\\", "C:\\Quorvan", {}, nullptr},
        {". .", "C:\\Quorvan", {}, nullptr},
        {"X:\\Program Files", nullptr, {"X:\\", "C:\\"}, nullptr},
        {"X:\\", nullptr, {"X:\\", "C:\\Quorvan"}, nullptr},
        {"Data", "C:\\Quorvan", {}, "C:\\Quorvan\\Data"},
        {"C:\\Quorvan\\Server", nullptr, {}, nullptr, junction},
        {"C:\\Quorvan\\Server", nullptr, {}, nullptr, file, true},
        {"C:\\Program Files\\Quorvan", nullptr, {}, "C:\\Program Files\\Quorvan"},
    };
    for (const Line& line : lines) {
        Cleanup run;
        for (const char* file : {"C:\\Program Files\\Vendor\\app.exe", "C:\\Program Files\\Quorvan\\s.exe",
                                 "C:\\Data\\keep.dat", "C:\\Quorvan\\Data\\d.dat"})
            run.fake.AddFile(file, "x");
        run.fake.shellFolders = {{0x26, "C:\\Program Files"}};
        run.fake.AddKey("Software\\Quorvan\\Quorvan Kit");  // no root question
        run.fake.readsAgainstCurrentDirectory = line.cwd;
        if (line.cwd) run.fake.currentDirectory = line.cwd;
        if (line.otherName.first) run.fake.otherNames[line.otherName.first] = line.otherName.second;
        run.fake.whileAsking = line.swap;
        run.fake.lacksFileIdentities = line.win95;
        run.state.installDir = line.dir;
        run.Answer({qv::kIdYes}).Run();
        const Log boxes = run.Seen({"box"});
        const bool swapped = bool(line.swap);
        EXPECT_EQ(boxes.size(), 1u + (line.deleted || swapped) + swapped) << line.dir;
        EXPECT_EQ(run.Seen({"shell"}), line.deleted ? Log{"shell " + std::string(line.deleted) + "|0x50|Deleting folders"}
                                                    : Log{})
            << line.dir;
        if (swapped) EXPECT_EQ(boxes[1], CannotRemove(kDir));
        for (const char* stays : {"C:\\Program Files\\Vendor\\app.exe", "C:\\Data\\keep.dat", kStartMenu.c_str(), kDir})
            EXPECT_TRUE(run.fake.files.count(stays) || run.fake.directories.count(stays)) << line.dir << ": " << stays;
    }
}

TEST(ClosingCleanup, FailedDeletionsNameTheirPathAndTheRunGoesOn) {
    Cleanup run;
    run.fake.shellFailures["C:\\Quorvan\\Server"] = 32;
    run.fake.shellFailures["C:\\Quorvan"] = 5;
    run.fake.shellFailures[kStartMenu] = 5;  // silent: the start menu reports nothing
    run.Answer({qv::kIdYes, qv::kIdYes}).Run();
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.Seen({"box"}), (Log{kDirQuestion, CannotRemove("C:\\Quorvan\\Server"), kRootQuestion,
                                      CannotRemove("C:\\Quorvan"), kCompleted}));
    // A failed stage-1 deletion still leaves the shell's own windows allowed for the menus.
    EXPECT_THAT(run.fake.Only({"shell"}), ::testing::Contains("shell " + kStartMenu + "|0x50|Deleting folders"));
    EXPECT_FALSE(run.fake.files.count(kList));
}

TEST(ClosingCleanup, StartMenuDeletionsRunWithTheFlagsStageOneLeft) {
    const std::pair<std::deque<int>, unsigned> cases[] = {
        {{qv::kIdYes}, 0x50},  // stage 1 tried its deletion
        {{qv::kIdNo}, 0x454},  // declined
    };
    for (const auto& [answers, flags] : cases) {
        Cleanup run;
        run.Answer(answers).Run();
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%X", flags);
        EXPECT_THAT(run.fake.Only({"shell", "rmdir"}),
                    ::testing::IsSupersetOf({"shell " + kStartMenu + "|" + hex + "|Deleting folders",
                                             "rmdir " + kStartMenu,
                                             "shell " + kStartMenu + " Delvora Suite 4|" + hex + "|Deleting folders",
                                             "rmdir " + kStartMenu + " Delvora Suite 4"}));
    }
    Cleanup silent;  // also when no question could be asked; each folder shell-deleted, then removed
    silent.Run(true);
    EXPECT_THAT(silent.fake.Only({"shell", "rmdir"}),
                ElementsAre("shell " + kStartMenu + "|0x454|Deleting folders", "rmdir " + kStartMenu,
                            "shell " + kStartMenu + " Delvora Suite 4|0x454|Deleting folders",
                            "rmdir " + kStartMenu + " Delvora Suite 4"));
}

TEST(ClosingCleanup, SilentRunAsksNothingKeepsDirectoryAndRootButRemovesMenusKeysAndList) {
    Cleanup run;
    run.state.iisVersion = 5;
    run.Run(true);
    EXPECT_EQ(run.result, 1);
    EXPECT_THAT(run.Seen(),
                ElementsAre("create net start w3svc|show=7", "regdelete Software\\Quorvan\\DocumentServer -> 0",
                            "regdelete Software\\Quorvan -> 0", "shell " + kStartMenu + "|0x454|Deleting folders",
                            "shell " + kStartMenu + " Delvora Suite 4|0x454|Deleting folders",
                            "delete C:\\Quorvan\\QvUninst.txt"));
    EXPECT_TRUE(run.fake.files.count("C:\\Quorvan\\Server\\bin\\srv.exe"));
    EXPECT_EQ(run.fake.currentDirectory, "C:\\Quorvan\\Server");

    Cleanup aborted;  // the log outlived the uninstaller: nothing shown, the list stays
    aborted.state.isuLogPath = "C:\\Quorvan\\Uninst.isu";
    aborted.fake.AddFile("C:\\Quorvan\\Uninst.isu", "log");
    aborted.Run(true);
    EXPECT_THAT(aborted.Seen({"box", "delete"}), IsEmpty());
    EXPECT_TRUE(aborted.fake.files.count(kList));
}

TEST(ClosingCleanup, WebServersRestartOnlyWhenTheListStoppedThem) {
    const std::tuple<std::string, int, Log> cases[] = {
        {"\"\"", 0, {}},  // the quotes of an empty name; IIS stopped at a version read as 0
        {"\"N\"", -1, {"create net start \"N\"|show=7"}},
        {"", 3, {"create net start w3svc|show=7"}},
        {"\"N\"", 1, {"create net start \"N\"|show=7", "create net start w3svc|show=7"}},
    };
    for (const auto& [netscape, version, restarts] : cases) {
        Cleanup run;
        run.state.netscapeService = netscape;
        run.state.iisVersion = version;
        run.state.iisService = "changed";
        EXPECT_EQ(run.Run(true).Seen({"create"}), restarts) << netscape << version;
    }
}

TEST(ClosingCleanup, AnyProductLeftKeepsTheFamilyButStillReportsAndDeletesTheList) {
    for (const std::string product :
         {"Quorvan Admin Station", "Quorvan User Station", "Quorvan Design Studio", "Quorvan Page Viewer",
          "Quorvan Live Plug-in for Microsoft Internet Explorer", "Quorvan Live Plug-in for Netscape Navigator",
          "Quorvan Kit", "Quorvan Document Server", "Quorvan Web Gateway"}) {
        Cleanup run;
        run.fake.AddKey("Software\\Quorvan\\" + product);
        run.Answer({qv::kIdNo}).Run();
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(run.Seen(), (Log{kDirQuestion, kCompleted, "delete C:\\Quorvan\\QvUninst.txt"})) << product;
        EXPECT_EQ(run.fake.Only({"regopen"}).back(), "regopen Software\\Quorvan\\" + product + "|0xF003F -> 0");
        EXPECT_EQ(run.fake.OpenKeys(), 0);
        EXPECT_THAT(run.fake.Only({"windir"}), IsEmpty());
    }
}

TEST(ClosingCleanup, FamilyKeysGoEvenWhenTheCleanupThenStopsWithoutAnOutcome) {
    const std::function<void(FakePlatform&)> stops[] = {
        [](FakePlatform& f) { f.windowsDirectoryReadFails = true; },
        [](FakePlatform& f) { f.windowsDirectoryLengthFails = true; },  // not taken as an empty folder
        [](FakePlatform& f) { f.platformId = 0; },
    };
    for (std::size_t i = 0; i < 3; ++i) {
        Cleanup run;
        run.state.installDir.clear();
        stops[i](run.fake);
        run.Run();
        EXPECT_EQ(run.result, 0) << i;
        EXPECT_FALSE(run.fake.keys.count("Software\\Quorvan")) << i;
        EXPECT_TRUE(run.fake.files.count(kList)) << i;
        EXPECT_THAT(run.fake.Only({"shell"}), IsEmpty()) << i;
        const Log boxes = run.Seen({"box"});
        EXPECT_EQ(boxes, i < 2 ? Log{"box Error|system text for 5|0x40"} : Log{}) << i;
    }
}

TEST(ClosingCleanup, WindowsFamilyStartMenuLiesUnderTheWindowsFolder) {
    Cleanup run;
    run.fake.platformId = qv::kPlatformWin32Windows;
    run.fake.windowsDirectory = "C:\\WIN98";
    run.Run(true);
    EXPECT_THAT(run.fake.Only({"shell"}),
                ElementsAre("shell C:\\WIN98\\start menu\\programs\\Quorvan|0x454|Deleting folders",
                            "shell C:\\WIN98\\start menu\\programs\\Quorvan Delvora Suite 4|0x454|Deleting folders"));
}

TEST(ClosingCleanup, RootGuardKnowsEveryFolderTheSystemShares) {
    struct Case {
        const char* what;
        std::string listPath;
        std::function<void(FakePlatform&)> machine;
        bool offered;
        bool exists = true;  // the folder the root names is there
    };
    // Program Files named in lower case with a trailing backslash and by its 8.3 name, shared data, 64-bit program files.
    const auto shares = [](FakePlatform& f) {
        f.shellFolders = {{0x26, "c:\\program files\\"}, {0x23, "C:\\Documents and Settings\\All Users\\Data"}};
        f.AddFile("C:\\Program Files\\Common\\x.dll", "MZ");
        f.shortNames["C:\\Program Files"] = "C:\\PROGRA~1";
        f.environment["ProgramW6432"] = "E:\\Apps";
    };
    const Case cases[] = {
        {"C:\\Netscape", "C:\\Netscape\\Quorvan\\QvUninst.txt", shares, false},
        {"D:\\Microsoft Shared", "D:\\Microsoft Shared\\Quorvan\\QvUninst.txt", shares, false},
        {"program files", "C:\\Program Files\\Quorvan\\QvUninst.txt", shares, false},
        {"8.3 name", "C:\\PROGRA~1\\Quorvan\\QvUninst.txt", shares, false},
        {"the Windows folder", "C:\\WINDOWS\\Quorvan\\QvUninst.txt", shares, false},
        {"holds the profiles", "C:\\Documents and Settings\\QvUninst.txt", shares, false},
        {"64-bit program files", "E:\\Apps\\Quorvan\\QvUninst.txt", shares, false},
        {"empty root", "C:\\QvUninst.txt", shares, false},
        {"empty root, no drive", "QvUninst.txt", shares, false},
        // Judged by the folder the root names, however it is spelt.
        {"no drive: the current one", "\\Program Files\\Quorvan\\QvUninst.txt", shares, false},
        {"a doubled backslash", "C:\\\\WINDOWS\\Quorvan\\QvUninst.txt", shares, false},
        {"a trailing dot and blank", "C:\\WINDOWS. \\Quorvan\\QvUninst.txt", shares, false},
        {"the whole drive", "C:\\.\\Quorvan\\QvUninst.txt", shares, false},
        {"the top folder of a drive that holds nothing shared", "D:\\..\\Quorvan\\QvUninst.txt", shares, false},
        {"a whole server", "\\\\server\\share\\Quorvan\\QvUninst.txt", shares, false},
        {"a drive in the long-path form", "\\\\?\\C:\\Quorvan\\QvUninst.txt", shares, false},
        {"Netscape in other letters", "c:\\netscape\\Quorvan\\QvUninst.txt", shares, false},
        {"inside the Windows folder", "C:/WINDOWS/system32\\QvUninst.txt", shares, false},
        {"x86 program files", "C:\\Program Files (x86)\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) { f.shellFolders = {{0x2a, "C:\\Program Files (x86)"}}; }, false},
        {"common files", "C:\\Program Files\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) { f.shellFolders = {{0x2b, "C:\\Program Files\\Common Files"}}; }, false},
        {"x86 common files", "C:\\Program Files (x86)\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) { f.shellFolders = {{0x2c, "C:\\Program Files (x86)\\Common Files"}}; }, false},
        {"the shell's Windows folder", "D:\\WINNT\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) { f.shellFolders = {{0x24, "D:\\WINNT"}}; }, false},
        {"profiles", "C:\\Users\\Quorvan\\QvUninst.txt", [](FakePlatform& f) { f.profilesDirectory = "C:\\Users"; },
         false},
        {"64-bit common files", "C:\\Program Files\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) { f.environment["CommonProgramW6432"] = "C:\\Program Files\\Common Files"; }, false},
        {"letter case a..z", "e:\\apps az\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) { f.environment["ProgramW6432"] = "E:\\APPS AZ"; }, false},
        {"a shared folder named by its 8.3 name", "C:\\Program Files\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) {
             f.shellFolders = {{0x26, "C:\\PROGRA~1"}};
             f.shortNames["C:\\Program Files"] = "C:\\PROGRA~1";
         },
         false},
        {"a name that only begins the same", "C:\\Program\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) { f.shellFolders = {{0x26, "C:\\Program Files"}}; }, true},
        {"the system's Windows folder, not the user's", "D:\\WTSRV\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) { f.systemWindowsDirectory = "D:\\WTSRV"; }, false},
        {"a shared folder on the share of the current directory", "\\Apps\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) {
             f.currentDirectory = "\\\\srv\\tools\\work";
             f.shellFolders = {{0x26, "\\\\srv\\tools\\apps"}};
         },
         false},
        // Another name of a shared or vendor folder is still that folder.
        {"a vendor folder by its 8.3 name", "C:\\NETSCA~1\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) {
             f.AddFile("C:\\Netscape Server\\config\\obj.conf", "x");
             f.shortNames["C:\\Netscape Server"] = "C:\\NETSCA~1";
         },
         false},
        {"the same where the system has no long-name call", "C:\\NETSCA~1\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) {
             f.AddFile("C:\\Netscape Server\\config\\obj.conf", "x");
             f.shortNames["C:\\Netscape Server"] = "C:\\NETSCA~1";
             f.lacksLongPathNames = true;
         },
         false},
        {"a drive letter standing for C:\\", "X:\\Program Files\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) {
             f.AddFile("C:\\Program Files\\Vendor\\app.exe", "MZ");
             f.shellFolders = {{0x26, "C:\\Program Files"}};
             f.otherNames["X:\\"] = "C:\\";
         },
         false},
        {"an administrative share, spelt with slashes", "//localhost/C$/Program Files\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) { f.otherNames["\\\\localhost\\C$"] = "C:\\"; }, false},
        {"a network drive", "N:\\Quorvan\\QvUninst.txt", [](FakePlatform& f) { f.remoteDrives = {'N'}; }, false},
        {"a junction to a shared folder", "C:\\Apps\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) {
             f.AddFile("C:\\Program Files\\Vendor\\app.exe", "MZ");
             f.shellFolders = {{0x26, "C:\\Program Files"}};
             f.otherNames["C:\\Apps"] = "C:\\Program Files";
         },
         false},
        {"a junction to the drive's top folder", "C:\\Top\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) { f.otherNames["C:\\Top"] = "C:\\"; }, false},
        {"a drive letter for a deep folder, the system naming it back by that letter", "X:\\drivers\\QvUninst.txt",
         [](FakePlatform& f) { f.otherNames["X:\\"] = "C:\\WINDOWS\\system32", f.lacksFinalPathNames = true; }, false},
        {"a drive letter for a deep folder, the system resolving it", "X:\\etc\\QvUninst.txt",
         [](FakePlatform& f) { f.otherNames["X:\\"] = "C:\\WINDOWS\\system32\\drivers"; }, false},
        {"a drive letter for another vendor's folder", "N:\\bin\\QvUninst.txt",
         [](FakePlatform& f) { f.otherNames["N:\\"] = "C:\\Netscape Server", f.lacksFinalPathNames = true; }, false},
        {"a file", "C:\\bootmgr\\..\\Quorvan\\QvUninst.txt", [](FakePlatform& f) { f.AddFile("C:\\bootmgr", "b"); },
         false, false},
        {"a stream", "C:\\Quorvan:x\\QvUninst.txt", [](FakePlatform&) {}, false},
        {"a system folder at a drive's top", "C:\\$Recycle.Bin\\QvUninst.txt", [](FakePlatform&) {}, false},
        {"a hidden system folder at a drive's top", "C:\\Vault\\QvUninst.txt",
         [](FakePlatform& f) { f.fileAttributes["C:\\Vault"] = qv::kFileAttributeSystem | qv::kFileAttributeHidden; }, false},
        {"a user's profile", "C:/Users/Public\\QvUninst.txt", [](FakePlatform& f) { f.profilesDirectory = "C:\\Users"; }, false},
        {"a junction to a share", "C:\\Remote\\QvUninst.txt",
         [](FakePlatform& f) { f.otherNames["C:\\Remote"] = "\\\\srv\\share\\apps"; }, false},
        {"a vendor's 8.3 name deep down, where the system has neither call", "X:\\NETSCA~1\\QvUninst.txt",
         [](FakePlatform& f) {
             f.shortNames["C:\\Apps\\Netscape Server"] = "C:\\Apps\\NETSCA~1", f.otherNames["X:\\"] = "C:\\Apps";
             f.lacksFinalPathNames = f.lacksLongPathNames = true;
         },
         false},
        {"the product's own folder by its 8.3 name", "C:\\QUORVA~1\\QvUninst.txt",
         [](FakePlatform& f) {
             f.AddFile("C:\\Quorvan Server\\x.dll", "MZ");
             f.shortNames["C:\\Quorvan Server"] = "C:\\QUORVA~1";
             f.shellFolders = {{0x26, "C:\\Program Files"}};
         },
         true},
        // Where the system tells neither what a folder is nor its final path, its names as text still tell.
        {"a shared folder named by its 8.3 name on Windows 95", "C:\\Shared Data\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) {
             f.shellFolders = {{0x23, "C:\\SHARED~1"}};
             f.shortNames["C:\\Shared Data"] = "C:\\SHARED~1";
             f.lacksFileIdentities = f.lacksFinalPathNames = f.lacksLongPathNames = true;
         },
         false},
        {"the folder above one the system names but has not made, by its 8.3 name on Windows 95",
         "C:\\APPSDI~1\\Quorvan\\QvUninst.txt",
         [](FakePlatform& f) {
             f.shellFolders = {{0x2b, "C:\\Apps Dir\\Common Files"}};
             f.shortNames["C:\\Apps Dir"] = "C:\\APPSDI~1";
             f.lacksFileIdentities = f.lacksFinalPathNames = f.lacksLongPathNames = true;
         },
         false},
    };
    for (const Case& c : cases) {
        Cleanup run;
        run.state.installDir.clear();
        c.machine(run.fake);
        run.listPath = c.listPath;
        if (c.exists) run.fake.AddFolder(qv::InstallRoot(c.listPath, run.fake));
        run.Run();
        EXPECT_EQ(run.result, 1) << c.what;
        EXPECT_EQ(run.Seen({"box"}).size(), c.offered ? 2u : 1u) << c.what;
    }
}

TEST(ClosingCleanup, RootIsAskedForAsSpeltButDeletedAsTheFolderItNamedWhereTheRunStarted) {
    Cleanup run;  // no drive: C:\\Quorvan, on the drive of the current directory
    run.state.installDir.clear();
    run.listPath = "\\Quorvan\\QvUninst.txt";
    run.Answer({qv::kIdYes}).Run();
    EXPECT_THAT(run.Seen({"box", "shell"}),
                ::testing::IsSupersetOf({std::string("box ") + kTitle +
                                             "|Setup has detected that you have uninstalled all Quorvan products. \n"
                                             "Do you want to remove \\Quorvan completely?|0x2024",
                                         std::string("shell C:\\Quorvan|0x450|Deleting folders")}));
    EXPECT_FALSE(run.fake.files.count("C:\\Quorvan\\Server\\bin\\srv.exe"));

    // A relative list path names its root where the run starts, though stage 1 then enters another folder.
    Cleanup relative;
    relative.fake.readsAgainstCurrentDirectory = true;
    relative.fake.AddFile("C:\\work\\Quorvan\\QvUninst.txt", "list");
    relative.listPath = "Quorvan\\QvUninst.txt";
    relative.Answer({qv::kIdNo, qv::kIdYes}).Run();
    EXPECT_THAT(relative.Seen({"shell"}), ::testing::Contains("shell C:\\work\\Quorvan|0x450|Deleting folders"));
    EXPECT_TRUE(relative.fake.files.count("C:\\Quorvan\\Server\\bin\\srv.exe"));
    EXPECT_FALSE(relative.fake.files.count("C:\\work\\Quorvan\\QvUninst.txt"));
}

TEST(ClosingCleanup, RootSearchSkipsTrailBytesOfDoubleByteCharacters) {
    FakePlatform plain;
    EXPECT_EQ(qv::InstallRoot("D:\\Apps\\Quorvan\\QvUninst.txt", plain), "D:\\Apps");
    EXPECT_EQ(qv::InstallRoot("C:\\a\\Quorvan\\QvUninst.txt", plain), "C:\\a");  // index 4 counts
    // The guard is a plain byte search: a lead byte before "Microsoft" does not hide it.
    Cleanup microsoft;
    microsoft.fake.leadByte = [](unsigned char b) { return b >= 0x81 && b <= 0x9F; };
    microsoft.listPath = "C:\\\x81Microsoft\\QvUninst.txt";
    microsoft.state.installDir.clear();
    EXPECT_THAT(microsoft.Run().Seen({"box"}), ElementsAre(kCompleted));
    FakePlatform dbcs;
    dbcs.leadByte = [](unsigned char b) { return b >= 0x81 && b <= 0x9F; };
    // 0x95 0x5C is one character whose trail byte looks like a backslash.
    EXPECT_EQ(qv::InstallRoot("C:\\Ab\x95\\cd\\list.txt", dbcs), "C:\\Ab\x95\\cd");
    FakePlatform sbcs;
    EXPECT_EQ(qv::InstallRoot("C:\\Ab\x95\\cd\\list.txt", sbcs), "C:\\Ab\x95");
}

}  // namespace
}  // namespace qvtest
