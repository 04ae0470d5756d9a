#include <gmock/gmock.h>

#include <algorithm>
#include <functional>

#include "record/Recorder.h"
#include "app/RunLog.h"
#include "app/RunVerdict.h"
#include "app/UninstallApp.h"
#include "tests/FakePlatform.h"

namespace qvtest {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using Args = std::vector<std::string>;
using namespace std::string_literals;

const char kList[] = "C:\\Quorvan\\QvUninst.txt";
const char kLog[] = "C:\\logs\\run.log";
const char kConfig[] = "C:\\ns\\config\\OBJ~1.CON";

// A whole run as WinMain wires it: the app over the recorder over the
// machine, the recorder telling the verdict and the log.
struct LoggedRun {
    FakePlatform fake;
    qv::RunLog log{fake.platform};
    qv::RunVerdict verdict{log};
    qv::Recorder recorder{fake.platform, verdict};
    bool result = false;
    int status = -1;

    explicit LoggedRun(const std::string& list) {
        fake.AddFile(kList, list);
        fake.directories.insert("C:\\logs");
        fake.tickStep = 250;
    }
    LoggedRun& Run(Args arguments = {"-a", "-p", kList, "-l", kLog}) {
        log.Start();
        qv::UninstallApp app(recorder.Get());
        app.log = &log;
        app.verdict = &verdict;
        app.observer = &recorder.Lines();
        arguments.insert(arguments.begin(), "QvUnInstall.exe");
        app.SetArguments(arguments);
        try {
            result = app.InitInstance();
            status = verdict.Exiting(0, "");
        } catch (const ProgramExit&) {
        }
        return *this;
    }
    std::string Text() { return fake.files.count(kLog) ? fake.files[kLog] : std::string("(no log)"); }
};

TEST(RunLog, EachEventIsOneTimedLineInThePlansWords) {
    struct Case {
        const char* what;
        std::string list;
        std::function<void(FakePlatform&)> machine;
        std::vector<std::string> lines;  // in this order, each somewhere in the log
        Args arguments = {"-a", "-p", kList, "-l", kLog};
    };
    const Case cases[] = {
        {"head line, list line and row, a program that ends, the end line",
         "\"C:\\Quorvan\\bin\\mgmtsrvr.exe\"\r\n\x01\0x\x7f\n"s + std::string(210, 'y') + "\n",
         [](FakePlatform& f) { f.commandLine = "QvUnInstall.exe -a -p list -l log"; },
         {"+0.000 start 2026-12-09 08:30:05 UTC, QvUnInstall ", ", computer QVTEST, Windows 4.0 build 0, platform 2, "
          "command line QvUnInstall.exe -a -p list -l log\r\n",
          "line 1, row 1 service (Management Server): \"C:\\Quorvan\\bin\\mgmtsrvr.exe\"\\n\r\n",
          "run \"C:\\Quorvan\\bin\\mgmtsrvr.exe\"\\n -Sremove: started", "-Sremove: ended after 0.",
          "line 2, row 11 ignored: \\x01\\x00x\\x7F\\n\r\n", "line 3, row 10 install directory: yyy",
          "line 3 piece 2, row 10 install directory: yyyyyyyyyyy\\n\r\n", "closing clean-up", "delete-file C:\\Quorvan\\QvUninst.txt: done",
          "end: no outcome shown, exit status 0"}},
        {"a usage box shown before the log opens", "", [](FakePlatform&) {},
         {"+0.000 start ", "box [Usage] \"Invalid command line option: x\\n\\nUsage: ", "end: no outcome shown"},
         {"-x", "-l", kLog}},
        {"a program that cannot start, with the system's text on one line", "C:\\bin\\portinst.exe\n",
         [](FakePlatform& f) {
             f.startErrors["C:\\bin\\portinst.exe"] = qv::kErrorFileNotFound;
             f.textsEndInBlankAndCrLf = true;
         },
         {"run C:\\bin\\portinst.exe\\n nogui remove tcp: Cannot run: system text for 2 (error 2)",
          "box [Error] \"system text for 2 \\r\\n\" -> ok", "box [QvUnInstall] \"Cannot run C:\\bin\\portinst.exe\\n nogui "
                                                     "remove tcp. File not found!\" -> ok"}},
        {"a wait ended by Escape", "C:\\bin\\portinst.exe\n",
         [](FakePlatform& f) {
             f.runningWaits["C:\\bin\\portinst.exe"] = 100;
             f.escapeAfterTicks[1] = 2;
         },
         {"nogui remove tcp: started", "nogui remove tcp: the wait was ended after ", "; the program runs on"}},
        {"a filter key already gone, and a failing metabase write that names its error", "IIS_VER=4\n",
         [](FakePlatform& f) {
             f.metabase = std::make_unique<FakeMetabase>(f);
             f.metabase->keys = {"/LM/W3SVC/Filters"};
             f.metabase->data[{"/LM/W3SVC/Filters", 2040}].text = u"isapi";
             f.metabase->failures["SetData"] = static_cast<qv::HResult>(0x80070005);
         },
         {"metabase-delete-key /LM/W3SVC/Filters/isapi: already gone (not found)",
          "metabase-set-data /LM/W3SVC/Filters identifier 2040 -> \"\": failed: system text for 5 (error 5)",
          "box [ERROR] \"system text for "}},
        // What the run spelt relatively is named by the full path it reached, the spelling beside it.
        {"obj.conf named relatively", "ns\\config\\OBJ~1.CON\n",
         [](FakePlatform& f) {
             f.readsAgainstCurrentDirectory = true;
             f.AddFile("C:\\work\\ns\\config\\OBJ~1.CON", "Init fn=a\n");
         },
         {"write-file C:\\work\\ns\\config\\OBJ~1.CON.tmp (as spelt ns\\config\\OBJ~1.CON.tmp): done",
          "rewrite-config C:\\work\\ns\\config\\OBJ~1.CON (as spelt ns\\config\\OBJ~1.CON): done"}},
        {"obj.conf: an earlier copy that cannot be moved aside", std::string(kConfig) + "\n",
         [](FakePlatform& f) {
             f.AddFile(kConfig, "Init fn=a\n");
             f.AddFile(std::string(kConfig) + ".tmp", "earlier");
             f.lockedFiles.insert(std::string(kConfig) + ".tmp");
         },
         {"rename C:\\ns\\config\\OBJ~1.CON.tmp -> C:\\ns\\config\\OBJ~1.CON.tmp.1: failed: system text for 32 (error 32)",
          "box [Information] \"Cannot move the file C:\\ns\\config\\OBJ~1.CON.tmp aside"}},
        {"obj.conf: a copy that cannot be written whole", std::string(kConfig) + "\n",
         [](FakePlatform& f) {
             f.AddFile(kConfig, "Init fn=a\nService fn=b\n");
             f.writeErrorAfter[std::string(kConfig) + ".tmp"] = 4;
         },
         {"write-file C:\\ns\\config\\OBJ~1.CON.tmp: failed: system text for "}},
        {"a folder that cannot go, with the shell's code and the system's text", "C:\\Quorvan\\Server\n",
         [](FakePlatform& f) {
             f.AddFile("C:\\Quorvan\\Server\\x.dll", "MZ");
             f.AddFile("C:\\WINDOWS\\Profiles\\All Users\\Start Menu\\Programs\\Quorvan\\a.lnk", "L");
             f.shellFailures["C:\\WINDOWS\\Profiles\\All Users\\Start Menu\\Programs\\Quorvan"] = 32;
         },
         {"current-directory C:\\Quorvan\\Server: done", "delete-key Software\\Quorvan: already gone (not found)",
          "delete-folder C:\\WINDOWS\\Profiles\\All Users\\Start Menu\\Programs\\Quorvan: failed: system text for 32 "
          "(error 32)",
          "remove-folder C:\\WINDOWS\\Profiles\\All Users\\Start Menu\\Programs\\Quorvan: failed: system text for "}},
    };
    for (const Case& c : cases) {
        LoggedRun run(c.list);
        c.machine(run.fake);
        const std::string text = run.Run(c.arguments).Text();
        std::size_t at = 0;
        for (const std::string& line : c.lines) {
            const std::size_t found = text.find(line, at);
            EXPECT_NE(found, std::string::npos) << c.what << ": " << line << "\nin the log:\n" << text;
            if (found != std::string::npos) at = found + line.size();
        }
        EXPECT_THAT(text, ContainsRegex("^\\+0\\.000 start ")) << c.what;
        std::string ends = text;  // every line ends in CR LF, and no CR or LF stands anywhere else
        for (std::size_t at = ends.find("\r\n"); at != std::string::npos; at = ends.find("\r\n", at))
            ends.replace(at, 2, "|");
        EXPECT_EQ(ends.find_first_of("\r\n"), std::string::npos) << c.what;
        EXPECT_EQ(ends.back(), '|') << c.what;
    }
}

TEST(RunLog, AQuietRunShowsNoBoxAndEndsWithTheStatusItsFirstUncleanEventGives) {
    const std::string config = std::string(kConfig) + "\n";
    struct Case {
        const char* what;
        std::string list;
        std::function<void(FakePlatform&)> machine;
        int status;
        std::string decidedBy;
        Args arguments = {"-q", "-p", kList, "-l", kLog};
    };
    const auto none = [](FakePlatform&) {};
    const Case cases[] = {
        {"a clean run", "C:\\Quorvan\\Server\n", none, 0,
         "the uninstall completed: delete-file C:\\Quorvan\\QvUninst.txt: done"},
        {"a removal already gone, then a failed change", "IIS_VER=4\n",
         [](FakePlatform& f) {
             f.metabase = std::make_unique<FakeMetabase>(f);
             f.metabase->keys = {"/LM/W3SVC/Filters"};
             f.metabase->data[{"/LM/W3SVC/Filters", 2040}].text = u"isapi";
             f.metabase->failures["SetData"] = static_cast<qv::HResult>(0x80070005);
         },
         1603, "metabase-set-data /LM/W3SVC/Filters identifier 2040 -> \"\": failed: error 5"},
        {"a shell deletion answered with the shell's own code for a folder that is not there", "", [](FakePlatform& f) {
             f.shellFailures["C:\\WINDOWS\\Profiles\\All Users\\Start Menu\\Programs\\Quorvan"] = 0x7C;
         },
         0, "the uninstall completed: "},
        {"a program that cannot start", "C:\\bin\\portinst.exe\n",
         [](FakePlatform& f) { f.startErrors["C:\\bin\\portinst.exe"] = qv::kErrorFileNotFound; }, 1603,
         "run C:\\bin\\portinst.exe\\n nogui remove tcp: Cannot run: error 2"},
        {"a wait ended early", "C:\\bin\\portinst.exe\n",
         [](FakePlatform& f) {
             f.runningWaits["C:\\bin\\portinst.exe"] = 100;
             f.escapeAfterTicks[1] = 2;
         },
         1603, "run C:\\bin\\portinst.exe\\n nogui remove tcp: the wait was ended after "},
        {"an earlier copy moved aside, which its notice tells", config,
         [](FakePlatform& f) {
             f.AddFile(kConfig, "Init fn=a\n");
             f.AddFile(std::string(kConfig) + ".tmp", "earlier");
         },
         0, "the uninstall completed: "},
        {"the temporary-file stop", config,
         [](FakePlatform& f) {
             f.AddFile(kConfig, "Init fn=a\n");
             f.directories.insert(std::string(kConfig) + ".tmp");
         },
         1603, "write-file C:\\ns\\config\\OBJ~1.CON.tmp: failed: error 5"},
        {"aborted: the InstallShield log stays", "C:\\Quorvan\\Uninst.isu\n",
         [](FakePlatform& f) { f.AddFile("C:\\Quorvan\\Uninst.isu", "log"); }, 1603,
         "the uninstall list stays: the InstallShield log is still there (uninstall aborted)"},
        {"a list that cannot be opened", "", none, 1605,
         "box [Error] \"Cannot open uninstall configuration file C:\\missing.txt .\" -> ok (not shown: quiet run)",
         {"-q", "-p", "C:\\missing.txt", "-l", kLog}},
        {"a usage error", "", none, 1639, "box [Usage] \"Invalid command line option: x\\n", {"-l", kLog, "-x", "/q"}},
        {"a log refused", "C:\\bin\\portinst.exe\n", none, 1622, "the log C:\\logs\\other.log cannot be opened",
         {"-q", "-p", kList, "-l", "C:\\logs\\other.log"}},
    };
    for (const Case& c : cases) {
        LoggedRun run(c.list);
        run.fake.AddFile("C:\\logs\\other.log", "another program's lines\r\n");
        c.machine(run.fake);
        const std::string text = run.Run(c.arguments).Text();
        EXPECT_EQ(run.status, c.status) << c.what << "\n" << text;
        EXPECT_THAT(run.verdict.Why(), HasSubstr(c.decidedBy)) << c.what;
        EXPECT_THAT(run.fake.Only({"box"}), ::testing::IsEmpty()) << c.what;
        if (c.status == qv::kExitLogNotOpened)
            EXPECT_THAT(run.fake.Only({"create", "rmdir", "delete"}), ::testing::IsEmpty()) << c.what;
        else
            EXPECT_THAT(text, HasSubstr("exit status " + std::to_string(c.status) + ", decided by " + c.decidedBy))
                << c.what;
    }
}

TEST(RunLog, InteractiveRunLogsEveryBoxWithItsAnswerAndTheOutcome) {
    LoggedRun run("C:\\Quorvan\\Server\n");
    run.fake.AddFile("C:\\Quorvan\\Server\\x.dll", "MZ");
    const std::string earlier = "+0.000 start 2026-12-08 17:00:00 UTC, QvUnInstall 1.0, computer QVTEST\r\n";
    run.fake.AddFile("C:\\logs\\run.log", earlier);
    run.fake.boxAnswers = {qv::kIdYes, qv::kIdNo, qv::kIdNo};
    const std::string text = run.Run({"-l", kLog, "-p", kList}).Text();
    EXPECT_EQ(text.rfind(earlier + "+0.000 start ", 0), 0u) << text;  // appended to an earlier log of ours
    EXPECT_THAT(text, HasSubstr("box [Confirm File Deletion] \"Are you sure you want to completely remove the "
                                "selected application and all of its components?\" -> yes"));
    EXPECT_THAT(text, HasSubstr("box [Quorvan Uninstall Program] \"Setup has detected that the directory of "
                                "C:\\Quorvan\\Server has not been removed . \\nDo you want"));
    EXPECT_THAT(text, HasSubstr("completely?\" -> no"));
    EXPECT_THAT(text, ContainsRegex("\\+[0-9]+\\.[0-9]{3} end: outcome \"You have completed uninstall.\", exit "
                                    "status 0\r\n$"));
}

TEST(RunLog, ALogThatCannotBeOpenedLeavesTheRunAsWithoutIt) {
    const std::string list = "C:\\bin\\portinst.exe\nIIS_VER=3\nC:\\Quorvan\\Server\n";
    struct Case {
        const char* what;
        Args arguments;
        bool tried = false;  // the product asks the system to open it, and the system refuses
        std::function<void(FakePlatform&)> machine = [](FakePlatform&) {};
    };
    // An empty list could take a log: only the product's own test of the list keeps it out.
    const auto empty = [](FakePlatform& f) { f.files[kList].clear(); };
    const Case cases[] = {
        {"in a folder that is not there", {"-a", "-p", kList, "-l", "C:\\missing\\run.log"}},
        {"a folder", {"-l", "C:\\logs", "-a", "-p", kList}},
        {"no path: no log", {"-a", "-p", kList, "-l"}},
        {"not a log", {"-a", "-p", kList, "-l", "C:\\ns\\config\\obj.conf"}},
        {"not a log of ours", {"-a", "-p", kList, "-l", "C:\\logs\\other.log"}},
        {"an empty file the system keeps from being written", {"-a", "-p", kList, "-l", "C:\\logs\\ro.log"}, true},
        // Either of the two tests of the list refuses it alone.
        {"the list, spelt otherwise, where the system tells no identities",
         {"-a", "-p", kList, "-l", "c:\\quorvan\\QVUNINST.TXT"}, false,
         [&](FakePlatform& f) { empty(f), f.lacksFileIdentities = true; }},
        {"the list by its 8.3 name", {"-l", "C:\\QUORVA~1\\QvUninst.txt", "-a", "-p", kList}, false,
         [&](FakePlatform& f) { empty(f), f.shortNames["C:\\Quorvan"] = "C:\\QUORVA~1"; }},
    };
    for (const Case& c : cases) {
        LoggedRun plain(list), logged(list);
        for (LoggedRun* run : {&plain, &logged}) {
            run->fake.AddFile("C:\\Quorvan\\Server\\x.dll", "MZ");
            run->fake.AddFile("C:\\ns\\config\\obj.conf", "Init fn=load-types mime-types=mime.types\n");
            run->fake.AddFile("C:\\logs\\other.log", "another program's lines\r\n");
            run->fake.AddFile("C:\\logs\\ro.log", "");
            run->fake.fileAttributes["C:\\logs\\ro.log"] = qv::kFileAttributeReadOnly;
            c.machine(run->fake);
        }
        plain.Run({"-a", "-p", kList});
        logged.Run(c.arguments);
        // The same calls but the log's own: looking at it, and telling whether it is the list.
        const auto named = std::find(c.arguments.begin(), c.arguments.end(), "-l");
        const std::string logPath = named + 1 == c.arguments.end() ? std::string("(none)") : *(named + 1);
        const auto run = [&logPath](const FakePlatform& fake) {
            std::vector<std::string> seen;
            for (const std::string& line : fake.log)
                if (line.rfind("opena ", 0) != 0 && line.rfind("fullpath ", 0) != 0 && line != "open " + logPath &&
                    line != "close " + logPath)
                    seen.push_back(line);
            return seen;
        };
        EXPECT_EQ(run(logged.fake), run(plain.fake)) << c.what;
        EXPECT_EQ(logged.result, plain.result) << c.what;
        EXPECT_EQ(logged.fake.Only({"opena"}).size(), c.tried ? 1u : 0u) << c.what;
        const auto file = [&logPath](LoggedRun& run) {
            return run.fake.files.count(logPath) ? run.fake.files[logPath] : std::string("(none)");
        };
        EXPECT_EQ(file(logged), file(plain)) << c.what;  // a file that stood there is left as it was
    }
}

}  // namespace
}  // namespace qvtest
