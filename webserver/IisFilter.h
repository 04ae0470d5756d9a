#pragma once

#include <string>

#include "platform/Platform.h"

namespace qv {

// All that the filter's removal changes: keys below the metabase's filters
// key, and the one registry value of IIS 3 (under HKLM).
extern const char16_t kFiltersKey[];
extern const char kParametersKey[];
extern const char kFilterDlls[];

// Takes the product's filter out of the IIS 4+ metabase. 1 when it got as
// far as closing the key normally, 0 when it stopped on a failure.
int RemoveIisFilter(Platform& platform);

// Takes the filter's path out of the IIS 3 "Filter DLLs" registry value.
void RemoveIisFilterFromRegistry(Platform& platform, const std::string& isapiFilterPath);

// The filter load order without "isapi" (any letter case): the other names
// in their order, joined by single commas. `found` tells whether it was there.
std::u16string RebuildLoadOrder(const std::u16string& loadOrder, bool& found);

// The Filter DLLs text without `path`: ",path" wherever it follows another
// entry, else `path` itself; a path that stood first takes its comma along.
// An empty path changes nothing.
std::string RemoveFilterPath(std::string text, const std::string& path);

}  // namespace qv
