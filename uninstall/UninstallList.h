#pragma once

#include <string>

#include "platform/Platform.h"
#include "uninstall/CleanupState.h"

namespace qv {

// The rows of the line table, in the order they are tested.
enum : int {
    kRowManagementServer = 1,
    kRowObjectStoreServer,
    kRowJobServer,
    kRowPortMapper,
    kRowFilter,
    kRowIis,
    kRowNetscapeService,
    kRowNetscapeConfig,
    kRowInstallShield,
    kRowDirectory,
    kRowIgnored,
};

// The row's name, as a preview or a log shows it.
const char* RowName(int row);

// Told what the driver does with each piece of the list, for a preview.
class ListObserver {
public:
    virtual ~ListObserver() = default;
    // The row that claims the next piece of the list (as read), before it is carried out.
    virtual void OnPiece(int row, const std::string& piece) = 0;
    // After it was carried out.
    virtual void OnPieceDone(const CleanupState& state) = 0;
    // Reading has ended and the closing clean-up begins.
    virtual void OnCleanup() = 0;
};

// Reads the uninstall list line by line and carries each line out, then
// runs the closing clean-up. Returns 1 when the list was carried out to its
// end, 0 when it could not be opened or had to stop early.
int RunUninstallList(Platform& platform, const std::string& listPath, bool silent, ListObserver* observer = nullptr);

// How the box for a list that cannot be opened begins.
extern const char kCannotOpenList[];  // "Cannot open uninstall configuration file "

// One read of the list gives at most this many characters.
constexpr std::size_t kListLineBuffer = 200;

}  // namespace qv
