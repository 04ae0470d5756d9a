#include "uninstall/UninstallList.h"

#include "platform/TextFile.h"
#include "text/Text.h"
#include "uninstall/CleanupState.h"
#include "uninstall/ClosingCleanup.h"
#include "uninstall/Commands.h"
#include "uninstall/ListLine.h"
#include "webserver/IisFilter.h"
#include "webserver/NetscapeConfig.h"

namespace qv {

namespace {

enum class LineResult { Next, ReadingEnded, Stop };

class ListDriver {
public:
    ListDriver(Platform& platform, TextModeReader& list, bool silent)
        : platform_(platform), list_(list), silent_(silent) {}

    // The first row of the line table whose test holds decides.
    int Classify(const std::string& line) {
        if (Has(line, "mgmtsrvr")) return kRowManagementServer;
        if (Has(line, "storsrvr")) return kRowObjectStoreServer;
        if (Has(line, "jobsrvr")) return kRowJobServer;
        if (Has(line, "portinst")) return kRowPortMapper;
        if (Has(line, "isapi.dll")) return kRowFilter;
        if (Has(line, "IIS_VER=")) return kRowIis;
        if (Has(line, "Server") && Has(line, "Netscape")) return kRowNetscapeService;
        if (Has(line, "config\\OBJ~1.CON")) return kRowNetscapeConfig;
        if (Has(line, "Uninst.isu")) return kRowInstallShield;
        return line.size() >= 3 ? kRowDirectory : kRowIgnored;
    }

    LineResult Handle(const std::string& line, int row) {
        switch (row) {
        case kRowManagementServer:
        case kRowObjectStoreServer:
        case kRowJobServer:
            StopServerService(platform_, line);
            break;
        case kRowPortMapper:
            RemovePortMapper(platform_, line);
            break;
        case kRowFilter:
            state.isapiFilterPath = WithoutLineFeed(line);
            break;
        case kRowIis:
            HandleIisLine(line);
            break;
        case kRowNetscapeService:
            StopNetscape(platform_, state, line);
            break;
        case kRowNetscapeConfig:
            if (!RestoreNetscapeConfig(platform_, line, state.keptNetscapeCopies)) {
                list_.Close();
                return LineResult::Stop;
            }
            break;
        case kRowInstallShield:
            state.isuLogPath = WithoutQuotesAndLineFeeds(line);
            list_.Close();
            RunInstallShieldUninstaller(platform_, line, silent_);
            return LineResult::ReadingEnded;
        case kRowDirectory:
            state.installDir = WithoutQuotesAndLineFeeds(line);
            break;
        default:
            break;
        }
        return LineResult::Next;
    }

    CleanupState state;

private:
    bool Has(const std::string& line, const char* keyword) { return ContainsKeyword(line, keyword, platform_.codePage); }

    // IIS 4 and later: the metabase is changed while the web service still
    // runs; older versions: the service is stopped before the registry edit.
    void HandleIisLine(const std::string& line) {
        state.iisVersion = ReadDecimal(line.size() > 8 ? line.substr(8) : std::string());
        if (state.iisVersion >= 4) {
            platform_.com.CoInitialize();
            RemoveIisFilter(platform_);
            StopIis(platform_, state);
            platform_.com.CoUninitialize();
        } else {
            StopIis(platform_, state);
            RemoveIisFilterFromRegistry(platform_, state.isapiFilterPath);
        }
    }

    Platform& platform_;
    TextModeReader& list_;
    bool silent_;
};

}  // namespace

const char kCannotOpenList[] = "Cannot open uninstall configuration file ";

const char* RowName(int row) {
    switch (row) {
    case kRowManagementServer: return "service (Management Server)";
    case kRowObjectStoreServer: return "service (Object Store Server)";
    case kRowJobServer: return "service (Job Server)";
    case kRowPortMapper: return "port mapper";
    case kRowFilter: return "IIS filter";
    case kRowIis: return "IIS version";
    case kRowNetscapeService: return "Netscape service";
    case kRowNetscapeConfig: return "Netscape configuration";
    case kRowInstallShield: return "InstallShield log";
    case kRowDirectory: return "install directory";
    case kRowIgnored: return "ignored";
    default: return "not read";
    }
}

int RunUninstallList(Platform& platform, const std::string& listPath, bool silent, ListObserver* observer) {
    std::unique_ptr<ByteSource> file = platform.files.OpenForReading(listPath);
    if (!file) {
        platform.boxes.Show(kCannotOpenList + listPath + " .", "Error",
                            kMbOk | kMbIconExclamation | kMbTaskModal);
        return 0;
    }
    TextModeReader list(std::move(file));
    ListDriver driver(platform, list, silent);

    std::string piece;
    LineResult result = LineResult::Next;
    while (result == LineResult::Next && list.ReadPiece(piece, kListLineBuffer)) {
        const std::string line = piece.substr(0, piece.find('\0'));  // a NUL byte ends the line's text
        const int row = driver.Classify(line);
        if (observer) observer->OnPiece(row, piece);
        result = driver.Handle(line, row);
        if (observer) observer->OnPieceDone(driver.state);
    }
    if (result == LineResult::Stop) return 0;
    list.Close();  // closes nothing when the InstallShield line closed it already
    if (observer) observer->OnCleanup();
    return RunClosingCleanup(platform, driver.state, listPath, silent);
}

}  // namespace qv
