// The IIS 3 "Filter DLLs" value and the filter's path, split at the
// input's first NUL byte (the path ends at the next one, as a list line
// does): the path taken out of the text, then out of the fake's registry.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/FakePlatform.h"
#include "tests/fuzz/FuzzSupport.h"
#include "webserver/IisFilter.h"

namespace {

const char kParameters[] = "SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters";
constexpr std::size_t kValueBuffer = 200;  // what the registry read takes

std::vector<std::string> Entries(const std::string& text) {
    std::vector<std::string> entries(1);
    for (char c : text) {
        if (c == ',')
            entries.emplace_back();
        else
            entries.back().push_back(c);
    }
    return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string value = input.substr(0, split);
    std::string path = split == std::string::npos ? std::string() : input.substr(split + 1);
    path = path.substr(0, path.find('\0'));

    // The text rule is only ever given a path: its one caller refuses an empty one.
    const std::string result = path.empty() ? value : qv::RemoveFilterPath(value, path);
    QV_PROPERTY(result.size() <= value.size());
    if (value.find(path) == std::string::npos) QV_PROPERTY(result == value);

    // A well-formed list: entries that are not empty, and a path that is one whole entry's worth.
    const std::vector<std::string> before = Entries(value), after = Entries(result);
    bool wellFormed = !path.empty() && path.find(',') == std::string::npos;
    bool othersHoldPath = false;
    for (const std::string& entry : before) {
        wellFormed = wellFormed && !entry.empty();
        othersHoldPath = othersHoldPath || (entry != path && entry.find(path) != std::string::npos);
    }
    // The rule takes the path out of any entry that holds it, which can leave
    // anything behind; lists without such entries are well defined.
    if (wellFormed && !othersHoldPath) {
        std::vector<std::string> others, kept;
        for (const std::string& entry : before)
            if (entry != path) others.push_back(entry);
        for (const std::string& entry : after) {
            QV_PROPERTY_DETAIL(entry != path, result);  // the filter is gone, however often it was named
            if (!entry.empty()) kept.push_back(entry);
        }
        QV_PROPERTY_DETAIL(kept == others, result);  // the rest, in their order
        QV_PROPERTY_DETAIL(result.empty() || kept.size() == after.size(), result);  // and no empty entry
    }

    // The same through the registry; nothing at all is touched without a path.
    qvtest::FakePlatform fake;
    fake.AddKey(kParameters);
    fake.keys[kParameters]["Filter DLLs"] = value;
    qv::RemoveIisFilterFromRegistry(fake.platform, path);
    const std::string stored = fake.keys[kParameters]["Filter DLLs"];
    QV_PROPERTY(fake.OpenKeys() == 0);
    if (path.empty()) {
        QV_PROPERTY(fake.log.empty());
        QV_PROPERTY(stored == value);
    } else if (value.size() > kValueBuffer) {
        QV_PROPERTY(stored == value);  // too long to read: left alone
    } else {
        QV_PROPERTY(stored == qv::RemoveFilterPath(value, path));
        QV_PROPERTY(stored.size() <= value.size());
    }
    return 0;
}
