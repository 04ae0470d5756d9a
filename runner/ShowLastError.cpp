#include "runner/ShowLastError.h"

namespace qv {

void ShowLastError(Platform& platform) {
    const unsigned long code = platform.system.LastError();
    platform.boxes.Show(platform.system.ErrorText(code), "Error", kMbIconInformation);
}

}  // namespace qv
