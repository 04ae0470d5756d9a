// An uninstall list carried out on a small machine whose folders, keys and
// web servers the list can name. The first four bytes script the run:
//   0  bit 0 silent; bits 1-3 the read size less one; bit 4 a product left;
//      bit 5 the Windows 95 family; bit 6 a double-byte code page;
//      bit 7 timer ticks while a box is up
//   1  answers to the first eight questions, bit 0 first (1 is Yes)
//   2  bits 0-1 and 7 (the high one) the list's place; bits 2-3 waits
//      every child outlives; bit 4 "net start" cannot start; bit 5 the
//      list's programs cannot start; bit 6 Escape on the first progress dialog
//   3  the number of the platform call that fails, 0 for none
// The rest is the list. The closing clean-up, which costs the most, follows
// the list for about one input in four: those whose bytes XOR to a value
// with bits 6 and 7 clear (the answers to the seventh and eighth questions,
// which no run asks, set that for a seed). Most changes to an input move it
// out, so the fuzzer cannot keep to the slow path; any other run stops where
// the clean-up would begin.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/FakePlatform.h"
#include "tests/fuzz/FuzzSupport.h"
#include "uninstall/UninstallList.h"
#include "webserver/Metabase.h"

namespace {

using qvfuzz::SamePath;
using qvfuzz::StartsWith;
using qvfuzz::WithinPath;

const char kParameters[] = "SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters";
// Not under a "Server" folder: a line naming both Server and Netscape is the service's.
const char kConfig[] = "C:\\Netscape\\SuiteSpot\\https-web\\config\\OBJ~1.CON";
const char kObjConf[] =
    "Init fn=load-types\r\n#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####\r\nInit fn=qv\r\n"
    "#### QUORVAN WEB GATEWAY EXTENSION -- END ####\r\n<Object name=default>\r\n</Object>\r\n";
const char kNtPrograms[] = "C:\\WINDOWS\\Profiles\\All Users\\Start Menu\\Programs";
const char kWindowsPrograms[] = "C:\\WINDOWS\\start menu\\programs";

struct Place {
    const char* listPath;
    const char* root;        // the install root the closing clean-up may offer; empty when it must not
    const char* systemNamed;  // a root guarded only because the system names it: offered when a look-up fails
};
const Place kPlaces[] = {
    {"C:\\Quorvan\\QvUninst.txt", "C:\\Quorvan", ""},
    {"C:\\WINDOWS\\QvUninst.txt", "", ""},                                  // the Windows folder itself
    {"D:\\Netscape\\Quorvan\\QvUninst.txt", "", ""},                        // names Netscape
    {"C:\\Program Files\\Quorvan\\QvUninst.txt", "", "C:\\Program Files"},  // shared by all software
    {"C:\\Quorvan\\Server\\QvUninst.txt", "C:\\Quorvan", ""},
    {"C:\\PROGRA~1\\Quorvan\\QvUninst.txt", "", "C:\\PROGRA~1"},           // the same, by its 8.3 name
    {"C:\\Documents and Settings\\QvUninst.txt", "", "C:\\Documents and Settings"},  // the users' profiles
    {"QvUninst.txt", "", ""},                                             // no folder to offer
};

void LayOut(qvtest::FakePlatform& fake, const std::string& listPath, const std::string& list) {
    fake.AddFile(listPath, list);
    fake.AddFile("C:\\Quorvan\\bin\\mgmtsrvr.exe", "MZ");
    fake.AddFile("C:\\Quorvan\\Server\\docstore\\index.dat", "data");
    fake.AddFile("C:\\Quorvan\\Uninst.isu", "log");
    fake.AddFile(kConfig, kObjConf);
    fake.AddFile("C:\\Netscape\\SuiteSpot\\https-web\\config\\mime.types", "types");
    fake.AddFile(std::string(kNtPrograms) + "\\Quorvan\\Console.lnk", "L");
    fake.AddFile(std::string(kNtPrograms) + "\\Quorvan Delvora Suite 4\\Viewer.lnk", "L");
    fake.AddFile(std::string(kNtPrograms) + "\\Accessories\\Notepad.lnk", "L");
    fake.AddFile(std::string(kWindowsPrograms) + "\\Quorvan\\Console.lnk", "L");
    fake.AddFile(std::string(kWindowsPrograms) + "\\Accessories\\Notepad.lnk", "L");
    fake.AddFile("C:\\WINDOWS\\system32\\kernel32.dll", "MZ");
    fake.AddFile("C:\\Program Files\\Common Files\\shared.dll", "MZ");
    fake.AddFile("C:\\Program Files\\Quorvan\\readme.txt", "text");
    fake.AddFile("C:\\Documents and Settings\\All Users\\ntuser.dat", "hive");
    fake.AddFile("C:\\Other\\keep.txt", "keep");
    fake.AddFile("D:\\Netscape\\Quorvan\\bin\\ns.dll", "MZ");
    fake.shellFolders = {{0x26, "C:\\Program Files"},
                         {0x2b, "C:\\Program Files\\Common Files"},
                         {0x23, "C:\\Documents and Settings\\All Users\\Application Data"},
                         {0x24, "C:\\WINDOWS"}};
    fake.profilesDirectory = "C:\\Documents and Settings";
    fake.shortNames["C:\\Program Files"] = "C:\\PROGRA~1";

    fake.AddKey("Software\\Quorvan\\DocumentServer");
    fake.AddKey(kParameters);
    fake.keys[kParameters]["Filter DLLs"] = "C:\\w3\\sspifilt.dll,C:\\Quorvan\\web\\isapi.dll";
    fake.metabase = std::make_unique<qvtest::FakeMetabase>(fake);
    fake.metabase->keys = {"/LM/W3SVC/Filters", "/LM/W3SVC/Filters/isapi"};
    fake.metabase->data[{"/LM/W3SVC/Filters", 2040}].text = u"sspifilt,isapi,compress";
}

// What a list-line command may be: the piece as read, up to a NUL.
std::vector<std::string> ListPieces(const std::string& list) {
    std::vector<std::string> pieces = qvfuzz::Pieces(qvfuzz::TextModeChars(list, true), qv::kListLineBuffer);
    for (std::string& piece : pieces) piece = piece.substr(0, piece.find('\0'));
    return pieces;
}

std::string Without(std::string text, const std::string& gone) {
    std::string kept;
    for (char c : text)
        if (gone.find(c) == std::string::npos) kept.push_back(c);
    return kept;
}

bool AmongPieces(const std::vector<std::string>& pieces, const std::string& text, const std::string& gone = "") {
    for (const std::string& piece : pieces)
        if (Without(piece, gone) == text) return true;
    return false;
}

// The family's folders sit right inside the start menu's Programs folder and carry the family's name.
bool IsFamilyStartMenu(const std::string& path, const std::string& programs) {
    if (!StartsWith(qvfuzz::Upper(path), qvfuzz::Upper(programs + "\\Quorvan"))) return false;
    return path.find('\\', programs.size() + 1) == std::string::npos;
}

// Ends a run where the closing clean-up would begin.
struct Stopped {};
class StopBeforeCleanup : public qv::ListObserver {
    void OnPiece(int, const std::string&) override {}
    void OnPieceDone(const qv::CleanupState&) override {}
    void OnCleanup() override { throw Stopped(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t script[4] = {};
    for (std::size_t i = 0; i < 4 && i < size; ++i) script[i] = data[i];
    const std::string list = size > 4 ? std::string(reinterpret_cast<const char*>(data) + 4, size - 4) : "";

    std::uint8_t folded = 0;
    for (std::size_t i = 0; i < size; ++i) folded ^= data[i];
    const bool silent = script[0] & 1;
    const bool windows95 = script[0] & 0x20;
    const Place& place = kPlaces[(script[2] & 3) | (script[2] >> 5 & 4)];
    const std::string listPath = place.listPath;

    qvtest::FakePlatform fake;
    LayOut(fake, listPath, list);
    fake.chunkSize = 1 + ((script[0] >> 1) & 7);
    if (script[0] & 0x10) fake.AddKey("Software\\Quorvan\\Quorvan Kit");
    if (windows95) fake.platformId = qv::kPlatformWin32Windows;
    if (script[0] & 0x40)
        fake.leadByte = [](unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); };
    if (script[0] & 0x80) fake.ticksWhileBoxUp = 2;
    for (int i = 0; i < 8; ++i) fake.boxAnswers.push_back((script[1] >> i) & 1 ? qv::kIdYes : qv::kIdNo);
    const int waits = (script[2] >> 2) & 3;
    for (const char* program : {"net", "isuninst", "\"", "C:", "D:"}) fake.runningWaits[program] = waits;
    if (script[2] & 0x10) fake.startErrors["net start"] = qv::kErrorFileNotFound;
    if (script[2] & 0x20)
        for (const char* program : {"\"", "C:", "D:"}) fake.startErrors[program] = qv::kErrorFileNotFound;
    if (script[2] & 0x40) fake.escapeAfterTicks[1] = 1;
    fake.failCall = script[3];

    const qvtest::PathMap<std::string> before = fake.files;
    bool exited = false;
    StopBeforeCleanup stop;
    try {
        qv::RunUninstallList(fake.platform, listPath, silent, (folded & 0xC0) == 0 ? nullptr : &stop);
    } catch (const Stopped&) {
    } catch (const qvtest::ProgramExit&) {
        exited = true;  // the program's own end: what it held goes with it
        qv::ReleaseAdminBase();
    }

    qvfuzz::ShowLog(fake.log);
    const std::vector<std::string> pieces = ListPieces(list);
    const std::string programs = windows95 ? kWindowsPrograms : kNtPrograms;
    std::vector<std::string> removable;  // folders the run may delete, with all they hold
    if (!silent) {
        for (const std::string& piece : pieces) removable.push_back(Without(piece, "\"\n"));
        if (*place.root) removable.push_back(place.root);
        // A folder the system could not name is not guarded.
        const bool lookupFailed = StartsWith(fake.failed, "SHGetFolderPathA") ||
                                  StartsWith(fake.failed, "GetProfilesDirectoryA") ||
                                  StartsWith(fake.failed, "GetShortPathNameA") ||
                                  StartsWith(fake.failed, "GetEnvironmentVariableA");
        if (lookupFailed && *place.systemNamed) removable.push_back(place.systemNamed);
        // A deletion takes the folder a path names: 8.3 names read as the long ones.
        for (std::size_t i = 0, n = removable.size(); i < n; ++i)
            for (const auto& [longPath, shortPath] : fake.shortNames)
                if (WithinPath(removable[i], shortPath))
                    removable.push_back(longPath + removable[i].substr(shortPath.size()));
    }

    int listOpen = 0;  // the list's reads still open
    std::vector<std::string> stopped;
    bool inDialog = false;
    for (const std::string& line : fake.log) {
        if (line == "open " + listPath) ++listOpen;
        if (line == "close " + listPath) --listOpen;

        // One progress dialog at a time.
        if (StartsWith(line, "dialog ")) {
            QV_PROPERTY(!inDialog);
            inDialog = true;
        }
        if (StartsWith(line, "end ")) inDialog = false;

        // A question is never put in a silent run.
        if (silent && StartsWith(line, "box ")) {
            const unsigned long style = std::stoul(line.substr(line.rfind('|') + 1), nullptr, 16);
            QV_PROPERTY_DETAIL((style & qv::kMbTypeMask) != qv::kMbYesNo, line);
        }

        if (StartsWith(line, "create ")) {
            const std::string command = line.substr(7, line.rfind("|show=") - 7);
            // A program the list named, followed by the arguments of its row.
            const auto listProgramWith = [&](const std::string& arguments) {
                return command.size() >= arguments.size() &&
                       command.compare(command.size() - arguments.size(), arguments.size(), arguments) == 0 &&
                       AmongPieces(pieces, command.substr(0, command.size() - arguments.size()));
            };
            const bool listProgram = listProgramWith(" -Sremove") || listProgramWith(" nogui remove tcp");
            const std::string uninstaller = silent ? "isuninst -mQuorvan -y -a -f" : "isuninst -mQuorvan -y -f";
            if (listProgram) {
            } else if (StartsWith(command, "net stop ") || StartsWith(command, "net start ")) {
                const bool stop = StartsWith(command, "net stop ");
                const std::string service = command.substr(stop ? 9 : 10);
                const bool netscape = service.size() >= 2 && service.front() == '"' && service.back() == '"' &&
                                      AmongPieces(pieces, service.substr(1, service.size() - 2), "\n");
                QV_PROPERTY_DETAIL(service == "w3svc" || netscape, command);
                // Only a server the list stopped is started again (a stop whose
                // dialog or process could not be made was still asked for).
                const bool stopFailed = fake.failed == "DialogBoxParamA" || StartsWith(fake.failed, "CreateProcessA net stop");
                if (stop)
                    stopped.push_back(service);
                else if (!stopFailed)
                    QV_PROPERTY_DETAIL(std::count(stopped.begin(), stopped.end(), service) > 0, command);
            } else if (StartsWith(command, uninstaller)) {
                QV_PROPERTY_DETAIL(AmongPieces(pieces, command.substr(uninstaller.size())), command);
                // The list is closed before the uninstaller, which may delete it, runs.
                QV_PROPERTY(listOpen == 0);
            } else {
                QV_PROPERTY_DETAIL(false && "a command the uninstaller never runs", command);
            }
        }

        if (StartsWith(line, "shell ")) {
            const std::size_t titleBar = line.rfind('|');
            const std::size_t flagsBar = line.rfind('|', titleBar - 1);
            const std::string path = line.substr(6, flagsBar - 6);
            bool allowed = IsFamilyStartMenu(path, programs);
            for (const std::string& folder : removable) allowed = allowed || SamePath(path, folder);
            QV_PROPERTY_DETAIL(allowed, line);
        }
    }

    // Every file kept but those inside a folder the run could remove and the
    // list itself; every file kept unchanged but the Netscape configuration.
    for (const auto& [path, bytes] : before) {
        const auto now = fake.files.find(path);
        if (now == fake.files.end()) {
            bool gone = SamePath(path, listPath) || StartsWith(qvfuzz::Upper(path), qvfuzz::Upper(programs + "\\Quorvan"));
            for (const std::string& folder : removable) gone = gone || WithinPath(path, folder);
            QV_PROPERTY_DETAIL(gone, path);
        } else if (!SamePath(path, kConfig)) {
            QV_PROPERTY_DETAIL(now->second == bytes, path);
        }
    }
    QV_PROPERTY(listOpen == 0);
    // The configuration, unless a removed folder took it, is as it was or
    // restored; else the restored text is kept beside it.
    const std::string restored = qvfuzz::RestoredConfig(kObjConf);
    const auto config = fake.files.find(kConfig);
    const auto temp = fake.files.find(std::string(kConfig) + ".tmp");
    if (config != fake.files.end())
        QV_PROPERTY(config->second == kObjConf || config->second == restored ||
                    (temp != fake.files.end() && temp->second == restored));

    // Nothing held once the run is over.
    QV_PROPERTY(fake.OpenKeys() == 0);
    QV_PROPERTY(qv::MetabaseObject == nullptr);
    QV_PROPERTY(fake.metabase->references == 0);
    if (!exited) QV_PROPERTY(fake.metabase->openHandles() == 0);
    return 0;
}
