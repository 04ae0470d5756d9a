// A recording stand-in for the Netscape restore, so the list driver's tests
// see when it is called and with what.
#include "tests/FakePlatform.h"
#include "webserver/NetscapeConfig.h"

namespace qv {

static qvtest::FakePlatform& Fake(Platform& platform) { return dynamic_cast<qvtest::FakePlatform&>(platform.boxes); }

int RestoreNetscapeConfig(Platform& platform, const std::string& line) {
    Fake(platform).log.push_back("restorenetscape " + line);
    return line.find("tmp-fails") == std::string::npos;
}

}  // namespace qv
