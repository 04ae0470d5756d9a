#include "webserver/IisFilter.h"

namespace qv {

// Not built yet: the metabase edit comes with the IIS filter change. Until
// then nothing is touched and the call reports that it stopped early.
int RemoveIisFilter(Platform& /*platform*/) { return 0; }

// Not built yet: the registry edit comes with the IIS filter change. Until
// then the value is left as it is.
void RemoveIisFilterFromRegistry(Platform& /*platform*/, const std::string& /*isapiFilterPath*/) {}

}  // namespace qv
