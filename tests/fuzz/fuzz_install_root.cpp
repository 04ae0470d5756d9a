// The closing clean-up with the list path (the input after byte 0) spelt
// any way at all, on a machine whose shared and vendor folders go by several
// names each: 8.3 names, a second drive letter for C:, a drive letter for a
// shared folder, an administrative share, junctions. Byte 0 scripts it:
//   bits 0-1  the current directory: C:\work, C:\, X:\work (C: by its
//             second letter), inside the Windows folder
//   bit 2     the system names its folders in lower case with a trailing backslash
//   bit 3     the shell names Program Files by its 8.3 name
//   bit 4     the system has no GetLongPathNameA
//   bit 5     the system has no final path to give (W: stands for system32)
//   bit 6     no folder can be asked what it is, and none has a second name
//             (Windows 95: nothing there could tell it): names alone tell
// After a line feed, the list's directory line. Every Yes is given. The
// oracle knows the machine only as the folders it built: nothing that was in
// a shared or vendor folder, or at a drive's top, may be gone after the run
// but the list file itself; a root is asked for by its text and deleted
// where the run started, the directory where it was entered; a root on a
// share or a network drive, or that names another vendor, is never asked for.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FullPathModel.h"
#include "tests/FakePlatform.h"
#include "tests/fuzz/FuzzSupport.h"
#include "uninstall/ClosingCleanup.h"

namespace {

// Each folder the oracle guards, by the one name its files are kept under.
// A folder of its own inside Program Files may go; Program Files and Common Files may not.
const char* const kGuarded[] = {
    "C:\\WINDOWS\\",        "C:\\Program Files\\Common Files\\",  "C:\\Documents and Settings\\",
    "D:\\Apps\\",           "C:\\Netscape Server\\", "C:\\Microsoft Office\\",
};
const char* const kFiles[] = {
    "C:\\bootmgr",
    "D:\\pagefile.sys",
    "C:\\WINDOWS\\system32\\kernel32.dll",
    "C:\\WINDOWS\\system32\\drivers\\etc\\hosts",
    "C:\\Program Files\\Common Files\\shared.dll",
    "C:\\Program Files\\Vendor\\app.exe",
    "C:\\Program Files\\desktop.ini",
    "C:\\Documents and Settings\\me\\ntuser.dat",
    "D:\\Apps\\y.exe",
    "C:\\Netscape Server\\config\\obj.conf",
    "C:\\Microsoft Office\\word.exe",
    "C:\\Quorvan\\bin\\q.exe",
    "C:\\work\\Quorvan\\q.dat",
};
const char* const kCurrentDirectories[] = {"C:\\work", "C:\\", "X:\\work", "C:\\WINDOWS\\system32"};
const char kQuestion[] = "box Quorvan Uninstall Program|Setup has detected that you have uninstalled all Quorvan "
                         "products. \nDo you want to remove ";
const char kDirQuestion[] = "box Quorvan Uninstall Program|Setup has detected that the directory of ";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lowered(std::string text) {
    for (char& c : text) c = Lower(c);
    return text;
}

// The system's spelling of a folder under bit 2: lower case, a trailing backslash.
std::string Spelt(const std::string& path, bool lower) { return lower ? Lowered(path) + "\\" : path; }

bool Separator(char c) { return c == '\\' || c == '/'; }

// A root the system reads as a share (two separators, then a server name)
// or as a drive this machine maps from the network.
bool OnNetwork(const std::string& root) {
    if (root.size() > 2 && Separator(root[0]) && Separator(root[1])) return root[2] != '?' && root[2] != '.';
    return root.size() >= 2 && Lower(root[0]) == 'n' && root[1] == ':';
}

// The full path Windows makes of `path` in `folder`.
std::string FullIn(const std::string& path, const std::string& folder) {
    std::string full;
    return qv::ModelFullPath(path, folder, full) ? full : path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t script = size > 0 ? data[0] : 0;
    std::string text = size > 1 ? std::string(reinterpret_cast<const char*>(data) + 1, size - 1) : "";
    text = text.substr(0, text.find('\0'));  // the system sees C strings
    const std::size_t lineFeed = text.find('\n');
    const std::string listPath = text.substr(0, lineFeed);
    const std::string installDir = lineFeed == std::string::npos ? std::string() : text.substr(lineFeed + 1);
    const bool lower = script & 4;

    qvtest::FakePlatform fake;
    for (const char* file : kFiles) fake.AddFile(file, "keep");
    fake.otherNames = {{"X:\\", "C:\\"},
                       {"Y:\\", "D:\\Apps"},
                       {"\\\\localhost\\C$", "C:\\"},
                       {"C:\\Apps", "C:\\Program Files"},
                       {"C:\\Top", "C:\\"},
                       {"C:\\Quorvan\\Link", "C:\\WINDOWS"},
                       {"W:\\", "C:\\WINDOWS\\system32"}};
    fake.shortNames = {{"C:\\Program Files", "C:\\PROGRA~1"},
                       {"C:\\Program Files\\Common Files", "C:\\PROGRA~1\\COMMON~1"},
                       {"C:\\Documents and Settings", "C:\\DOCUME~1"},
                       {"C:\\Netscape Server", "C:\\NETSCA~1"},
                       {"C:\\Microsoft Office", "C:\\MICROS~1"}};
    fake.remoteDrives = {'N'};
    fake.lacksLongPathNames = script & 0x10;
    fake.lacksFinalPathNames = script & 0x20;
    fake.lacksFileIdentities = script & 0x40;
    if (fake.lacksFileIdentities) fake.otherNames.clear();
    fake.readsAgainstCurrentDirectory = true;
    fake.currentDirectory = kCurrentDirectories[script & 3];
    fake.directories.insert("C:\\work");
    fake.windowsDirectory = "C:\\WINDOWS";
    fake.systemWindowsDirectory = Spelt("C:\\WINDOWS", lower);
    fake.shellFolders = {{0x26, script & 8 ? "C:\\PROGRA~1" : Spelt("C:\\Program Files", lower)},
                         {0x2b, Spelt("C:\\Program Files\\Common Files", lower)},
                         {0x24, Spelt("C:\\WINDOWS", lower)}};
    fake.profilesDirectory = Spelt("C:\\Documents and Settings", lower);
    fake.environment["ProgramW6432"] = Spelt("D:\\Apps", lower);
    fake.boxAnswers.assign(4, qv::kIdYes);

    qv::CleanupState state;
    state.installDir = installDir;
    const std::string startedIn = fake.currentDirectory;
    qv::RunClosingCleanup(fake.platform, state, listPath, false);
    qvfuzz::ShowLog(fake.log);

    std::string asked, entered;
    bool pastStageOne = false;  // the product keys are looked at after it; the menus go with its flags
    for (const std::string& line : fake.log) {
        pastStageOne = pastStageOne || line.compare(0, 8, "regopen ") == 0;
        // The folder the run stands in once it has entered the directory line; deleted as that folder.
        if (line.compare(0, 6, "chdir ") == 0 && entered.empty()) entered = line.substr(6);
        if (line.compare(0, sizeof kDirQuestion - 1, kDirQuestion) == 0)
            QV_PROPERTY_DETAIL(!entered.empty() && !OnNetwork(installDir), line);
        const std::size_t dirFlags = line.rfind("|0x50|");
        if (line.compare(0, 6, "shell ") == 0 && dirFlags != std::string::npos && !pastStageOne)
            QV_PROPERTY_DETAIL(qvfuzz::SamePath(line.substr(6, dirFlags - 6), FullIn(entered, startedIn)),
                               line + " but the run entered " + entered + " from " + startedIn);
        if (line.compare(0, sizeof kQuestion - 1, kQuestion) == 0) {
            QV_PROPERTY_DETAIL(asked.empty(), line);
            asked = line.substr(sizeof kQuestion - 1, line.rfind(" completely?|") - (sizeof kQuestion - 1));
            QV_PROPERTY_DETAIL(!OnNetwork(asked), "a root on the network was offered: " + asked);
            QV_PROPERTY_DETAIL(Lowered(asked).find("netscape") == std::string::npos &&
                                   Lowered(asked).find("microsoft") == std::string::npos,
                               "another vendor's root was offered: " + asked);
        }
        const std::size_t titleBar = line.rfind('|'), flagsBar = line.rfind('|', titleBar - 1);
        if (line.compare(0, 6, "shell ") == 0 && line.substr(flagsBar, titleBar - flagsBar) == "|0x450")
            QV_PROPERTY_DETAIL(qvfuzz::SamePath(line.substr(6, flagsBar - 6), FullIn(asked, startedIn)),
                               line + " after asking for " + asked);  // the root asked for, where the run started
    }
    // The list itself goes after a completed run, wherever it lies.
    for (const char* file : kFiles) {
        const std::string path = file;
        if (fake.files.count(path) || qvfuzz::SamePath(path, FullIn(listPath, startedIn))) continue;
        const std::string folder = path.substr(0, path.rfind('\\') + 1);
        QV_PROPERTY_DETAIL(folder.size() > 3 && folder != "C:\\Program Files\\",
                           path + " lost from a drive's top or Program Files with the list path " + listPath +
                               " and the directory " + installDir);
        for (const char* folder : kGuarded)
            QV_PROPERTY_DETAIL(path.compare(0, std::string(folder).size(), folder) != 0,
                               path + " lost with the list path " + listPath + " and the directory " + installDir);
    }
    return 0;
}
