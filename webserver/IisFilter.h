#pragma once

#include <string>

#include "platform/Platform.h"

namespace qv {

// Takes the product's filter out of the IIS 4+ metabase. 1 when it got as
// far as closing the key normally, 0 when it stopped on a failure.
int RemoveIisFilter(Platform& platform);

// Takes the filter's path out of the IIS 3 "Filter DLLs" registry value.
void RemoveIisFilterFromRegistry(Platform& platform, const std::string& isapiFilterPath);

}  // namespace qv
