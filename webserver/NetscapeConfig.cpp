#include "webserver/NetscapeConfig.h"

#include "platform/TextFile.h"
#include "text/Text.h"

namespace qv {

const char kBeginMarker[] = "#### QUORVAN WEB GATEWAY EXTENSION -- BEGIN ####";
const char kEndMarker[] = "#### QUORVAN WEB GATEWAY EXTENSION -- END ####";
const char kEarlierCopyKept[] = " that an earlier restore left is kept as ";

namespace {

const char kTitle[] = "Information";
const unsigned kStyle = kMbOk | kMbIconInformation | kMbTaskModal;
constexpr std::size_t kPieceBuffer = 200;

constexpr int kMostEarlierCopies = 9999;

void Tell(Platform& platform, const std::string& text) { platform.boxes.Show(text, kTitle, kStyle); }

// How a copy is known within one run: by the file its path names, so that
// another spelling of the same path still finds it.
std::string CopyKey(Platform& platform, const std::string& path) {
    std::string full, shortPath;
    if (!platform.system.GetFullPathNameA(path, full)) full = path;
    if (platform.system.GetShortPathNameA(full, shortPath)) full = shortPath;
    return FoldedCase(full);
}

// A file an earlier run left at the temporary path may be the only whole
// copy of the configuration: it goes to the first free "<temp>.N" beside it,
// never overwritten nor deleted. False when it is there and cannot be moved.
bool MoveEarlierCopyAside(Platform& platform, const std::string& configPath, const std::string& tempPath) {
    unsigned long status = kErrorAlreadyExists;
    for (int n = 1; n <= kMostEarlierCopies; ++n) {
        const std::string aside = tempPath + "." + std::to_string(n);
        status = platform.files.MoveFileA(tempPath, aside);
        if (status == kErrorSuccess) {
            Tell(platform, "The file " + tempPath + kEarlierCopyKept + aside +
                               ": it holds an earlier copy of the Netscape configuration. ");
            return true;
        }
        if (status == kErrorFileNotFound) return true;  // nothing there
        if (status != kErrorAlreadyExists && status != kErrorFileExists) break;
    }
    Tell(platform, "Cannot move the file " + tempPath + " aside to restore Netscape configuration. " + configPath +
                       " is unchanged. ");
    return false;
}

bool StandsFolder(Platform& platform, const std::string& path) {
    const unsigned long attributes = platform.files.GetFileAttributesA(path);
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory);
}

enum class Filtered { Whole, ReadFailed, WriteFailed };

// Step 4: every piece outside a marked block goes to the temporary file.
Filtered Filter(std::unique_ptr<ByteSource> config, std::unique_ptr<ByteSink> temp) {
    TextModeReader reader(std::move(config), CtrlZ::IsText);
    TextModeWriter writer(std::move(temp));
    bool inBlock = false;
    std::string piece;
    while (reader.ReadPiece(piece, kPieceBuffer)) {
        if (piece.find(kBeginMarker) != std::string::npos)
            inBlock = true;
        else if (!inBlock)
            writer.Write(piece);
        if (piece.find(kEndMarker) != std::string::npos) inBlock = false;
    }
    reader.Close();
    if (!writer.Close()) return Filtered::WriteFailed;
    return reader.Failed() ? Filtered::ReadFailed : Filtered::Whole;
}

// Step 6: the filtered text back into the configuration file, piece by piece.
bool CopyBack(std::unique_ptr<ByteSource> temp, std::unique_ptr<ByteSink> config) {
    TextModeReader reader(std::move(temp), CtrlZ::IsText);
    TextModeWriter writer(std::move(config));
    std::string piece;
    while (reader.ReadPiece(piece, kPieceBuffer)) writer.Write(piece);
    reader.Close();
    return writer.Close() && !reader.Failed();
}

}  // namespace

int RestoreNetscapeConfig(Platform& platform, const std::string& line) {
    std::set<std::string> keptCopies;
    return RestoreNetscapeConfig(platform, line, keptCopies);
}

int RestoreNetscapeConfig(Platform& platform, const std::string& line, std::set<std::string>& keptCopies) {
    const std::string configPath = WithoutLineFeed(line);
    const std::string tempPath = configPath + ".tmp";
    if (!keptCopies.empty() && keptCopies.count(CopyKey(platform, tempPath))) {
        // The configuration may be half written; its whole text is only in the copy.
        Tell(platform, "Cannot restore Netscape configuration " + configPath + " again: its restored text is in " +
                           tempPath + ". ");
        return 1;
    }

    std::unique_ptr<ByteSource> config = platform.files.OpenForReading(configPath);
    if (!config) {
        Tell(platform, "Cannot find " + configPath + " to restore Netscape configuration. ");
        return 1;
    }
    // Only a file there can be an earlier copy; a folder there stops the restore as any other uncreatable file.
    if (!StandsFolder(platform, tempPath) && !MoveEarlierCopyAside(platform, configPath, tempPath))
        return 1;  // the configuration closes with `config`
    std::unique_ptr<ByteSink> temp = platform.files.OpenForWriting(tempPath);
    if (!temp) {
        Tell(platform, "Cannot create temporary file " + tempPath + " to restore Netscape configuration. ");
        return 0;  // the configuration file closes with `config`
    }
    const Filtered filtered = Filter(std::move(config), std::move(temp));
    if (filtered != Filtered::Whole) {
        // Nothing of the configuration has changed; a half-written copy is no use.
        platform.files.DeleteFileA(tempPath);
        Tell(platform, filtered == Filtered::ReadFailed
                           ? "Cannot read " + configPath + " to restore Netscape configuration. It is unchanged. "
                           : "Cannot write temporary file " + tempPath + " to restore Netscape configuration. " +
                                 configPath + " is unchanged. ");
        return 1;
    }

    // The copy is opened before the configuration is emptied, and kept
    // unless it went back whole: nothing outside the block may be lost.
    std::unique_ptr<ByteSource> copy = platform.files.OpenForReading(tempPath);
    std::unique_ptr<ByteSink> target = copy ? platform.files.OpenForWriting(configPath) : nullptr;
    if (!target || !CopyBack(std::move(copy), std::move(target))) {
        keptCopies.insert(CopyKey(platform, tempPath));
        Tell(platform, "Cannot write " + configPath + " to restore Netscape configuration. The restored text is in " +
                           tempPath + ". ");
        return 1;
    }
    platform.files.DeleteFileA(tempPath);
    return 1;
}

}  // namespace qv
