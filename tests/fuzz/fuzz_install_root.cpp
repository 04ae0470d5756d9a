// The closing clean-up with the list path (the input after byte 0) spelt
// any way at all, on a machine whose system names its shared folders in
// several ways. Byte 0 scripts the machine:
//   bits 0-1  the current directory: C:\work, C:\, inside the Windows
//             folder, a folder on a share
//   bit 2     the system names its folders in lower case with a trailing backslash
//   bit 3     a terminal server: GetWindowsDirectoryA gives the user's own
//             Windows folder, and only the system's own call names the real one
//   bit 4     a double-byte code page
//   bit 5     the shell names Program Files by its 8.3 name
// Whatever the root's text: when the folder it names is or holds a shared
// folder, lies inside one and is there, or is the top of a drive or share,
// it is never offered; nothing in a shared folder or at the top of a drive
// or share is lost, but for a file the root itself names; the root is asked
// for and deleted by the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FullPathModel.h"
#include "tests/FakePlatform.h"
#include "tests/fuzz/FuzzSupport.h"
#include "uninstall/ClosingCleanup.h"

namespace {

using qvfuzz::StartsWith;
using qvfuzz::Upper;
using qvfuzz::WithinPath;

const char* const kCurrentDirectories[] = {"C:\\work", "C:\\", "C:\\WINDOWS\\system32", "\\\\srv\\share\\work"};
// The shared folders as the property knows them, by their long names.
const char* const kShared[] = {
    "C:\\WINDOWS",
    "C:\\Program Files",
    "C:\\Program Files\\Common Files",
    "C:\\Documents and Settings",
    "C:\\Documents and Settings\\All Users\\Application Data",
    "D:\\Program Files (x86)",
    "D:\\Apps",
    "\\\\srv\\share\\Common",
};
const char* const kTops[] = {"C:\\", "D:\\", "\\\\srv\\share", "\\\\srv"};
const char kQuestion[] = "box Quorvan Uninstall Program|Setup has detected that you have uninstalled all Quorvan "
                         "products. \nDo you want to remove ";

const std::pair<const char*, const char*> kShortNames[] = {
    {"C:\\Program Files", "C:\\PROGRA~1"},
    {"C:\\Documents and Settings", "C:\\DOCUME~1"},
    {"D:\\Program Files (x86)", "D:\\PROGRA~2"},
};

// The system's spelling of a folder under bit 2: lower case, a trailing backslash.
std::string Spelt(std::string path, bool lower) {
    if (!lower) return path;
    for (char& c : path)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return path + "\\";
}

// The folder a path names, by its long names and without a trailing backslash.
std::string LongFull(const std::string& path, const std::string& currentDirectory) {
    std::string full;
    if (!qv::ModelFullPath(path, currentDirectory, full)) return std::string();
    // "\\?\" and "\\.\" in front name the same folders.
    if (StartsWith(Upper(full), "\\\\?\\UNC\\"))
        full = "\\\\" + full.substr(8);
    else if (StartsWith(full, "\\\\?\\") || StartsWith(full, "\\\\.\\"))
        full = full.substr(4);
    while (full.size() > 3 && full.back() == '\\') full.pop_back();
    for (const auto& [longPath, shortPath] : kShortNames)
        if (WithinPath(full, shortPath)) return longPath + full.substr(std::string(shortPath).size());
    return full;
}

// Below the top of a drive ("C:\x") or of a share ("\\server\share\x").
bool BelowATop(const std::string& full) {
    if (full.size() > 3 && full[1] == ':' && full[2] == '\\') return true;
    if (!StartsWith(full, "\\\\") || StartsWith(full, "\\\\?\\") || StartsWith(full, "\\\\.\\")) return false;
    const std::size_t server = full.find('\\', 2);
    const std::size_t share = server == std::string::npos ? server : full.find('\\', server + 1);
    return share != std::string::npos && share > server + 1 && share + 1 < full.size();
}

bool AtATop(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    for (const char* top : kTops)
        if (Upper(path.substr(0, slash)) == Upper(top) || Upper(path.substr(0, slash + 1)) == Upper(top)) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t script = size > 0 ? data[0] : 0;
    std::string listPath = size > 1 ? std::string(reinterpret_cast<const char*>(data) + 1, size - 1) : "";
    listPath = listPath.substr(0, listPath.find('\0'));  // the system sees a C string
    const bool lower = script & 4, terminalServer = script & 8;

    qvtest::FakePlatform fake;
    const std::string cwd = kCurrentDirectories[script & 3];
    for (const char* file :
         {"C:\\WINDOWS\\system32\\kernel32.dll", "C:\\Program Files\\Common Files\\shared.dll",
          "C:\\Program Files\\Vendor\\app.exe", "C:\\Documents and Settings\\me\\ntuser.dat",
          "C:\\Documents and Settings\\All Users\\Application Data\\data.bin", "D:\\Program Files (x86)\\x.exe",
          "D:\\Apps\\y.exe", "\\\\srv\\share\\Common\\z.dll", "C:\\boot.ini", "D:\\top.txt", "\\\\srv\\share\\top.txt",
          "C:\\Quorvan\\bin\\q.exe", "C:\\work\\Quorvan\\q.dat", "\\\\srv\\share\\work\\Quorvan\\q.dat"})
        fake.AddFile(file, "keep");
    fake.directories.insert(cwd);
    fake.currentDirectory = cwd;
    fake.windowsDirectory = terminalServer ? "C:\\Documents and Settings\\me\\WINDOWS" : "C:\\WINDOWS";
    fake.systemWindowsDirectory = Spelt("C:\\WINDOWS", lower);
    fake.shellFolders = {{0x26, script & 0x20 ? "C:\\PROGRA~1" : Spelt("C:\\Program Files", lower)},
                         {0x2b, Spelt("C:\\Program Files\\Common Files", lower)},
                         {0x23, Spelt("C:\\Documents and Settings\\All Users\\Application Data", lower)},
                         {0x2a, Spelt("D:\\Program Files (x86)", lower)},
                         {0x2c, Spelt("\\\\srv\\share\\Common", lower)}};
    if (!terminalServer) fake.shellFolders[0x24] = Spelt("C:\\WINDOWS", lower);
    fake.profilesDirectory = Spelt("C:\\Documents and Settings", lower);
    fake.environment["ProgramW6432"] = Spelt("D:\\Apps", lower);
    for (const auto& [longPath, shortPath] : kShortNames) fake.shortNames[longPath] = shortPath;
    if (script & 0x10)
        fake.leadByte = [](unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); };
    fake.boxAnswers.assign(4, qv::kIdYes);

    const qvtest::PathMap<std::string> before = fake.files;
    qv::CleanupState state;
    qv::RunClosingCleanup(fake.platform, state, listPath, false);
    qvfuzz::ShowLog(fake.log);

    std::string asked, deleted;  // the root asked for, and the folder (or file) it names
    for (const std::string& line : fake.log) {
        if (StartsWith(line, kQuestion)) {
            QV_PROPERTY_DETAIL(asked.empty(), line);
            asked = line.substr(sizeof kQuestion - 1, line.rfind(" completely?|") - (sizeof kQuestion - 1));
        }
        if (!StartsWith(line, "shell ")) continue;
        const std::size_t titleBar = line.rfind('|'), flagsBar = line.rfind('|', titleBar - 1);
        if (line.substr(flagsBar, titleBar - flagsBar) != "|0x450") continue;  // the start menus' go with 0x454
        const std::string root = line.substr(6, flagsBar - 6);
        QV_PROPERTY_DETAIL(root == asked, line);  // the folder asked for is the one deleted
        const std::string full = LongFull(root, cwd);
        deleted = full;
        QV_PROPERTY_DETAIL(BelowATop(full), root + " names " + full);
        // A folder inside a shared one is known only when it is there: the
        // system gives no 8.3 form of a path that names nothing.
        bool there = false;
        for (const auto& [path, bytes] : before) there = there || WithinPath(path, full);
        for (const char* shared : kShared)
            QV_PROPERTY_DETAIL(!(there && WithinPath(full, shared)) && !WithinPath(shared, full),
                               root + " names " + full);
        QV_PROPERTY_DETAIL(Upper(full).find("NETSCAPE") == std::string::npos &&
                               Upper(full).find("MICROSOFT") == std::string::npos,
                           root);
    }

    // A root may name a file (C:\boot.ini\..\Quorvan\QvUninst.txt opens a list):
    // then that one file goes, but no more of the top of its drive; so does the list.
    for (const auto& [path, bytes] : before) {
        bool guarded = AtATop(path) && !qvfuzz::SamePath(path, deleted) && !qvfuzz::SamePath(path, listPath);
        for (const char* shared : kShared) guarded = guarded || WithinPath(path, shared);
        if (guarded) QV_PROPERTY_DETAIL(fake.files.count(path) == 1, path + " lost with the list path " + listPath);
    }
    return 0;
}
