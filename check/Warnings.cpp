#include "check/Warnings.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "text/Text.h"
#include "uninstall/ListLine.h"
#include "uninstall/UninstallList.h"

namespace qv::check {

void to_json(nlohmann::ordered_json& json, const Warning& warning) {
    json = {{"code", warning.code}, {"line", warning.line}, {"message", JsonText(warning.message)}};
}

namespace {

constexpr char kCtrlZ = 0x1A;

std::string TextOf(const PiecePreview& piece) {
    return WithoutQuotesAndLineFeeds(piece.bytes.substr(0, piece.bytes.find('\0')));
}

bool LooksLikePath(const std::string& text) {
    const bool drive = text.size() >= 3 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
                       text[2] == '\\';
    return drive || text.compare(0, 2, "\\\\") == 0;
}

std::string LastComponent(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether a path claimed by `row` is the kind of path that row is for.
bool FitsItsRow(const std::string& path, int row) {
    const std::string last = FoldedCase(LastComponent(path));
    switch (row) {
    case kRowManagementServer: return last.find("MGMTSRVR") != std::string::npos && EndsWith(last, ".EXE");
    case kRowObjectStoreServer: return last.find("STORSRVR") != std::string::npos && EndsWith(last, ".EXE");
    case kRowJobServer: return last.find("JOBSRVR") != std::string::npos && EndsWith(last, ".EXE");
    case kRowPortMapper: return last.find("PORTINST") != std::string::npos && EndsWith(last, ".EXE");
    case kRowFilter: return last == "ISAPI.DLL";
    case kRowNetscapeConfig: return EndsWith(path, "config\\OBJ~1.CON");
    case kRowInstallShield: return EndsWith(path, "Uninst.isu");
    default: return false;  // an IIS version or a Netscape service name is never a path
    }
}

class Finder {
public:
    Finder(std::vector<PiecePreview>& pieces, const std::string& bytes) : pieces_(pieces), bytes_(bytes) {}

    void Add(PiecePreview* piece, int line, const std::string& code, const std::string& message) {
        Warning warning{code, line, message};
        if (piece) piece->warnings.push_back(warning);
        all.push_back(warning);
    }

    int LineAt(std::size_t offset) const {
        return 1 + static_cast<int>(std::count(bytes_.begin(), bytes_.begin() + offset, '\n'));
    }

    PiecePreview* FirstPieceOf(int line) {
        for (PiecePreview& piece : pieces_)
            if (piece.line == line) return &piece;
        return nullptr;
    }

    std::vector<Warning> all;

private:
    std::vector<PiecePreview>& pieces_;
    const std::string& bytes_;
};

void ByteWarnings(Finder& find, const std::string& bytes) {
    const std::size_t ctrlZ = bytes.find(kCtrlZ);
    const std::string read = bytes.substr(0, ctrlZ);
    if (ctrlZ != std::string::npos &&
        bytes.find_first_not_of(std::string(" \t\r\n") + kCtrlZ, ctrlZ) != std::string::npos) {
        const int line = find.LineAt(ctrlZ);
        find.Add(find.FirstPieceOf(line), line, "ctrl-z",
                 "A Ctrl-Z byte on line " + std::to_string(line) + " ends the list: the " +
                     std::to_string(bytes.size() - ctrlZ - 1) + " bytes after it are never read.");
    }
    for (std::size_t cr = read.find('\r'); cr != std::string::npos; cr = read.find('\r', cr + 1)) {
        if (cr + 1 < read.size() && read[cr + 1] == '\n') continue;
        const int line = find.LineAt(cr);
        find.Add(find.FirstPieceOf(line), line, "lone-cr",
                 "Line " + std::to_string(line) +
                     " holds a carriage return that ends no line: it stays in the text that is passed on.");
        break;
    }
}

}  // namespace

std::vector<Warning> FindWarnings(std::vector<PiecePreview>& pieces, const std::string& bytes,
                                  const std::string& installRoot, const FolderRefusals& refusals) {
    Finder find(pieces, bytes);
    ByteWarnings(find, bytes);

    std::map<int, int> piecesOfLine;
    for (const PiecePreview& piece : pieces) ++piecesOfLine[piece.line];

    bool iisSeen = false, installShield = false;
    std::vector<PiecePreview*> directories;
    for (PiecePreview& piece : pieces) {
        const std::string line = std::to_string(piece.line);
        if (!piece.carriedOut) continue;
        const std::string text = TextOf(piece);
        if (piece.piece == 1 && piecesOfLine[piece.line] > 1)
            find.Add(&piece, piece.line, "split-line",
                     "Line " + line + " is longer than 198 characters: it is read as " +
                         std::to_string(piecesOfLine[piece.line]) + " pieces, each taken as a line of its own.");
        const std::size_t nul = piece.bytes.find('\0');
        if (nul != std::string::npos && piece.bytes.find_first_not_of(std::string("\0\n", 2), nul) != std::string::npos)
            find.Add(&piece, piece.line, "nul-byte",
                     "A NUL byte cuts line " + line + ": what follows it on the line is not seen.");
        if (piece.row >= kRowManagementServer && piece.row <= kRowPortMapper && piece.piece == 1 &&
            piece.bytes[0] != '"' && piece.endsLine && piecesOfLine[piece.line] == 1)
            find.Add(&piece, piece.line, "unquoted-program",
                     "The program on line " + line +
                         " is not in double quotes: with the line feed that follows it, it cannot be started.");
        if (piece.row == kRowFilter && iisSeen)
            find.Add(&piece, piece.line, "filter-after-iis",
                     "The filter on line " + line +
                         " comes after the IIS_VER= line, so the IIS line never sees its path.");
        if (piece.row == kRowIis) {
            iisSeen = true;
            if (ReadDecimal(piece.recorded) <= 0)
                find.Add(&piece, piece.line, "iis-version-unread",
                         "The IIS version on line " + line + " reads as " + piece.recorded +
                             ": the registry's filter list is edited and IIS is not started again.");
        }
        if (piece.row >= kRowManagementServer && piece.row <= kRowInstallShield && LooksLikePath(text) &&
            !FitsItsRow(text, piece.row))
            find.Add(&piece, piece.line, "claimed-by-earlier-row",
                     "Line " + line + " looks like a path, but it holds a keyword and is taken as a " +
                         RowName(piece.row) + " line.");
        if (piece.row == kRowIgnored && nul == std::string::npos)
            find.Add(&piece, piece.line, "short-line",
                     "Line " + line + " has fewer than 3 bytes and is ignored.");
        if (piece.row == kRowDirectory) directories.push_back(&piece);
        for (const Step& step : piece.steps)
            if (!step.fails.empty())
                find.Add(&piece, piece.line, "foreseen-failure",
                         "The run meets a failure on line " + line + ": " + Describe(step) + ".");
        if (piece.row == kRowInstallShield) installShield = true;
    }
    if (!directories.empty() && !refusals.installDir.empty())
        find.Add(directories.back(), directories.back()->line, "shared-install-dir",
                 "The install directory " + Visible(directories.back()->recorded) + " on line " +
                     std::to_string(directories.back()->line) + " " + refusals.installDir +
                     ": it is never offered for removal.");
    if (directories.size() > 1) {
        const PiecePreview* lastDirectory = directories.back();
        for (std::size_t i = 0; i + 1 < directories.size(); ++i)
            find.Add(directories[i], directories[i]->line, "several-install-dirs",
                     "Line " + std::to_string(directories[i]->line) + " names an install directory that line " +
                         std::to_string(lastDirectory->line) + " replaces: only the last one is offered.");
    }

    const auto unread = std::find_if(pieces.begin(), pieces.end(), [](const PiecePreview& piece) {
        return !piece.carriedOut && piece.bytes.find_first_not_of(" \t\r\n") != std::string::npos;
    });
    if (installShield && unread != pieces.end())
        find.Add(&*unread, unread->line, "after-installshield",
                 "Line " + std::to_string(unread->line) +
                     " and those after it come after the Uninst.isu line and are never read.");

    const std::string read = bytes.substr(0, bytes.find(kCtrlZ));
    if (!read.empty() && read.back() != '\n' && !pieces.empty())
        find.Add(&pieces.back(), pieces.back().line, "unterminated-last-line",
                 "The last line, line " + std::to_string(pieces.back().line) +
                     ", has no line feed: it is read whole, but a line added after it would be joined to it.");

    if (!installRoot.empty() && !refusals.installRoot.empty())
        find.Add(nullptr, 0, "shared-install-root",
                 "The install root " + installRoot + ", worked out from the list path, " + refusals.installRoot +
                     ": it is never offered for removal.");
    else if (!installRoot.empty() && FoldedCase(installRoot).find("QUORVAN") == std::string::npos)
        find.Add(nullptr, 0, "shared-install-root",
                 "The install root " + installRoot +
                     ", worked out from the list path, is not a Quorvan folder: other software may keep files "
                     "there, and one Yes removes all of it.");
    if (!installShield)
        find.Add(nullptr, 0, "no-installshield-line",
                 "There is no Uninst.isu line: the outcome will say the uninstall completed and the list will be "
                 "deleted, though no uninstaller ran.");

    std::stable_sort(find.all.begin(), find.all.end(),
                     [](const Warning& a, const Warning& b) { return (a.line ? a.line : 1 << 30) < (b.line ? b.line : 1 << 30); });
    return find.all;
}

}  // namespace qv::check
