#include "uninstall/UninstallList.h"

#include "platform/TextFile.h"
#include "uninstall/ClosingCleanup.h"
#include "uninstall/CleanupState.h"
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
    LineResult Handle(const std::string& line) {
        if (Has(line, "mgmtsrvr") || Has(line, "storsrvr") || Has(line, "jobsrvr")) {
            StopServerService(platform_, line);
        } else if (Has(line, "portinst")) {
            RemovePortMapper(platform_, line);
        } else if (Has(line, "isapi.dll")) {
            state.isapiFilterPath = WithoutLineFeed(line);
        } else if (Has(line, "IIS_VER=")) {
            HandleIisLine(line);
        } else if (Has(line, "Server") && Has(line, "Netscape")) {
            StopNetscape(platform_, state, line);
        } else if (Has(line, "config\\OBJ~1.CON")) {
            if (!RestoreNetscapeConfig(platform_, line)) {
                list_.Close();
                return LineResult::Stop;
            }
        } else if (Has(line, "Uninst.isu")) {
            state.isuLogPath = WithoutQuotesAndLineFeeds(line);
            list_.Close();
            RunInstallShieldUninstaller(platform_, line, silent_);
            return LineResult::ReadingEnded;
        } else if (line.size() >= 3) {
            state.installDir = WithoutQuotesAndLineFeeds(line);
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

int RunUninstallList(Platform& platform, const std::string& listPath, bool silent) {
    std::unique_ptr<ByteSource> file = platform.files.OpenForReading(listPath);
    if (!file) {
        platform.boxes.Show("Cannot open uninstall configuration file " + listPath + " .", "Error",
                            kMbOk | kMbIconExclamation | kMbTaskModal);
        return 0;
    }
    TextModeReader list(std::move(file));
    ListDriver driver(platform, list, silent);

    std::string piece;
    LineResult result = LineResult::Next;
    while (result == LineResult::Next && list.ReadPiece(piece, kListLineBuffer))
        result = driver.Handle(piece.substr(0, piece.find('\0')));  // a NUL byte ends the line's text
    if (result == LineResult::Stop) return 0;
    list.Close();  // closes nothing when the InstallShield line closed it already
    return RunClosingCleanup(platform, driver.state, listPath, silent);
}

}  // namespace qv
