// The IIS 4 filter load order, in UTF-16 little-endian after one script
// byte: 0 nothing fails, 1-6 the object's creation or one metabase call
// fails. The load order is rebuilt on its own, then through the fake
// metabase; the tokens expected are found here independently.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/FakePlatform.h"
#include "tests/fuzz/FuzzSupport.h"
#include "webserver/IisFilter.h"
#include "webserver/Metabase.h"

namespace {

const char kFilters[] = "/LM/W3SVC/Filters";
constexpr unsigned long kLoadOrder = 2040;
constexpr unsigned long kRecordBytes = 520;  // the record the load order is read into
const char* const kFailing[] = {"OpenKey", "DeleteKey", "GetData", "SetData", "CloseKey"};

bool IsFilter(const std::u16string& token) {
    static const char16_t kName[] = u"isapi";
    if (token.size() != 5) return false;
    for (std::size_t i = 0; i < 5; ++i)
        if (token[i] != kName[i] && token[i] != kName[i] - u'a' + u'A') return false;
    return true;
}

// Names between spaces and commas, in their order.
std::vector<std::u16string> Tokens(const std::u16string& text) {
    std::vector<std::u16string> tokens;
    std::u16string token;
    for (char16_t c : text + u',') {
        if (c != u' ' && c != u',') {
            token.push_back(c);
        } else if (!token.empty()) {
            tokens.push_back(token);
            token.clear();
        }
    }
    return tokens;
}

std::u16string Joined(const std::vector<std::u16string>& tokens) {
    std::u16string text;
    for (const std::u16string& token : tokens) text += (text.empty() ? u"" : u",") + token;
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const unsigned script = size > 0 ? data[0] % 7 : 0;
    std::u16string loadOrder;
    for (std::size_t i = 1; i + 1 < size; i += 2) loadOrder.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));

    // The rebuild alone: every token but the filter's, in order, single commas between.
    std::vector<std::u16string> kept;
    bool hadFilter = false;
    for (const std::u16string& token : Tokens(loadOrder)) {
        if (IsFilter(token))
            hadFilter = true;
        else
            kept.push_back(token);
    }
    bool found = !hadFilter;
    const std::u16string rebuilt = qv::RebuildLoadOrder(loadOrder, found);
    QV_PROPERTY(found == hadFilter);
    QV_PROPERTY(rebuilt == Joined(kept));
    QV_PROPERTY(rebuilt.size() <= loadOrder.size());

    // Through the metabase, as the program reads it: up to its first zero.
    qvtest::FakePlatform fake;
    qvtest::FakeMetabase& metabase = *(fake.metabase = std::make_unique<qvtest::FakeMetabase>(fake));
    metabase.keys = {kFilters, "/LM/W3SVC/Filters/isapi"};
    metabase.data[{kFilters, kLoadOrder}].text = loadOrder;
    metabase.data[{"/LM/W3SVC/Filters/isapi", 2041}].text = u"C:\\w3\\isapi.dll";
    if (script == 1) metabase.createResult = static_cast<qv::HResult>(0x80040154);
    if (script >= 2) metabase.failures[kFailing[script - 2]] = static_cast<qv::HResult>(0x80070005);
    const int result = qv::RemoveIisFilter(fake.platform);
    qvfuzz::ShowLog(fake.log);

    const std::u16string stored = loadOrder.substr(0, loadOrder.find(u'\0'));
    const bool fits = (loadOrder.size() + 1) * 2 <= kRecordBytes;  // the whole text and its zero
    bool storedFilter = false;
    std::vector<std::u16string> storedKept;
    for (const std::u16string& token : Tokens(stored)) {
        if (IsFilter(token))
            storedFilter = true;
        else
            storedKept.push_back(token);
    }
    // Creation, opening and reading went through (a failed key deletion or close stops nothing).
    const bool reads = (script == 0 || script == 3 || script == 5 || script == 6) && fits;
    const bool writes = reads && storedFilter;

    std::size_t sets = 0;
    for (const std::string& line : fake.log) {
        unsigned long handle, identifier, attributes, userType, dataType, length;
        if (std::sscanf(line.c_str(), "mb SetData %lu '' %lu %lu %lu %lu %lu '", &handle, &identifier, &attributes,
                        &userType, &dataType, &length) != 6)
            continue;
        ++sets;
        QV_PROPERTY_DETAIL(length <= kRecordBytes, line);
        QV_PROPERTY_DETAIL(length == (Joined(storedKept).size() + 1) * 2, line);
        QV_PROPERTY_DETAIL(line.find("' unterminated") == std::string::npos, line);
    }
    // Written exactly when the filter was named, and then with nothing but the filter gone.
    QV_PROPERTY(sets == (writes ? 1u : 0u));
    const std::u16string after = metabase.data.count({kFilters, kLoadOrder})
                                     ? metabase.data.at({kFilters, kLoadOrder}).text
                                     : u"(gone)";
    if (writes && script != 5)
        QV_PROPERTY(after == Joined(storedKept));
    else
        QV_PROPERTY(after == loadOrder);
    QV_PROPERTY(result == (reads && !(writes && script == 5) ? 1 : 0));

    // Never a key left open, never the object held.
    QV_PROPERTY(metabase.openHandles() == 0);
    QV_PROPERTY(metabase.references == 0);
    QV_PROPERTY(qv::MetabaseObject == nullptr);
    return 0;
}
