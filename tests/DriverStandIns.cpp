// Recording stand-ins for the web-server steps the list driver hands over
// to, so its tests see when they are called and with what.
#include "tests/FakePlatform.h"
#include "webserver/IisFilter.h"
#include "webserver/NetscapeConfig.h"

namespace qv {

static qvtest::FakePlatform& Fake(Platform& platform) { return dynamic_cast<qvtest::FakePlatform&>(platform.boxes); }

int RemoveIisFilter(Platform& platform) { return Fake(platform).log.push_back("removeiisfilter"), 0; }

void RemoveIisFilterFromRegistry(Platform& platform, const std::string& isapiFilterPath) {
    Fake(platform).log.push_back("registryfilter " + isapiFilterPath);
}

int RestoreNetscapeConfig(Platform& platform, const std::string& line) {
    Fake(platform).log.push_back("restorenetscape " + line);
    return line.find("tmp-fails") == std::string::npos;
}

}  // namespace qv
