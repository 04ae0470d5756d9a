// An obj.conf restored on the fake machine. Byte 0 scripts the run: bits
// 0-5 the read size less one; bits 6-7 a failure: none, the temporary file
// full, the configuration full on the way back, a read error in the
// configuration. Byte 1 is where the failure strikes, in bytes. The rest is
// the file. What must come out is worked out from the rules alone.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/FakePlatform.h"
#include "tests/fuzz/FuzzSupport.h"
#include "webserver/NetscapeConfig.h"

namespace {

const char kConfig[] = "C:\\Netscape\\Server\\config\\OBJ~1.CON";
const std::string kTemp = std::string(kConfig) + ".tmp";

enum Failure { None, TempFull, ConfigFull, ReadError };

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t script = size > 0 ? data[0] : 0;
    const std::size_t at = size > 1 ? data[1] : 0;
    const std::string original = size > 2 ? std::string(reinterpret_cast<const char*>(data) + 2, size - 2) : "";
    const Failure failure = static_cast<Failure>(script >> 6);

    qvtest::FakePlatform fake;
    fake.AddFile(kConfig, original);
    fake.AddFile("C:\\Netscape\\Server\\config\\mime.types", "types");
    fake.chunkSize = 1 + (script & 0x3F);
    if (failure == TempFull) fake.writeErrorAfter[kTemp] = static_cast<long>(at);
    if (failure == ConfigFull) fake.writeErrorAfter[kConfig] = static_cast<long>(at);
    if (failure == ReadError) fake.readErrorAfter[kConfig] = static_cast<long>(at);

    const int result = qv::RestoreNetscapeConfig(fake.platform, std::string(kConfig) + "\n");
    qvfuzz::ShowLog(fake.log);
    const std::string restored = qvfuzz::RestoredConfig(original);

    // Whatever befell the run, the driver goes on, the other file is untouched,
    // and the configuration keeps every byte unless the restored text is safe in the copy.
    QV_PROPERTY(result == 1);
    QV_PROPERTY(fake.files["C:\\Netscape\\Server\\config\\mime.types"] == "types");
    QV_PROPERTY(fake.files.count(kConfig) == 1);
    const std::string& config = fake.files[kConfig];
    const bool tempLeft = fake.files.count(kTemp) == 1;
    const std::size_t boxes = fake.Only({"box"}).size();

    const bool readFails = failure == ReadError && at <= original.size();
    const bool tempFills = failure == TempFull && restored.size() > at;
    const bool configFills = failure == ConfigFull && restored.size() > at;
    if (readFails || tempFills) {
        QV_PROPERTY(config == original);
        QV_PROPERTY(!tempLeft);
        QV_PROPERTY(boxes == 1);
    } else if (configFills) {
        QV_PROPERTY(tempLeft && fake.files[kTemp] == restored);
        QV_PROPERTY(config == restored.substr(0, at));
        QV_PROPERTY(boxes == 1);
    } else {
        QV_PROPERTY_DETAIL(config == restored, "got " + std::to_string(config.size()) + " bytes, expected " +
                                                   std::to_string(restored.size()));
        QV_PROPERTY(!tempLeft);
        QV_PROPERTY(boxes == 0);
    }
    return 0;
}
