#include "webserver/IisFilter.h"

#include <cstring>

#include "webserver/Metabase.h"

namespace qv {

const char16_t kFiltersKey[] = u"/LM/W3SVC/Filters";
const char kParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters";
const char kFilterDlls[] = "Filter DLLs";

namespace {

const char16_t kFilterKey[] = u"/isapi";
const char16_t kFilterName[] = u"isapi";
constexpr unsigned long kOpenTimeoutMs = 20;
constexpr std::size_t kLoadOrderChars = 260;  // 520 bytes

constexpr unsigned long kFilterDllsBuffer = 200;

bool IsFilterName(const std::u16string& token) {
    if (token.size() != 5) return false;
    for (std::size_t i = 0; i < 5; ++i) {
        char16_t c = token[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != kFilterName[i]) return false;
    }
    return true;
}

void RemoveAll(std::string& text, const std::string& part) {
    if (part.empty()) return;  // nothing to remove, and no end to removing it
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at)) text.erase(at, part.size());
}

}  // namespace

std::u16string RebuildLoadOrder(const std::u16string& loadOrder, bool& found) {
    found = false;
    std::u16string rebuilt, token;
    for (std::size_t i = 0; i <= loadOrder.size(); ++i) {
        const char16_t c = i < loadOrder.size() ? loadOrder[i] : u',';
        if (c != u' ' && c != u',') {
            token.push_back(c);
            continue;
        }
        if (token.empty()) continue;  // a run of separators counts as one
        if (IsFilterName(token))
            found = true;
        else
            rebuilt += (rebuilt.empty() ? u"" : u",") + token;
        token.clear();
    }
    return rebuilt;
}

int RemoveIisFilter(Platform& platform) {
    if (!CreateAdminBase(platform)) return 0;
    MetadataHandle handle = 0;
    if (CheckHresult(platform, MetabaseObject->OpenKey(kMetadataMasterRootHandle, kFiltersKey,
                                                       kMetadataPermissionRead | kMetadataPermissionWrite,
                                                       kOpenTimeoutMs, handle))) {
        ReleaseAdminBase();
        return 0;
    }
    MetabaseObject->DeleteKey(handle, kFilterKey);  // its failure is no reason to keep the filter loaded

    char16_t read[kLoadOrderChars] = {};
    MetadataRecord record;
    record.identifier = kMdFilterLoadOrder;
    record.attributes = kMetadataInherit;
    record.userType = kIisMdUtServer;
    record.dataType = kStringMetadata;
    record.dataLength = sizeof read;
    record.data = reinterpret_cast<unsigned char*>(read);
    unsigned long required = 0;
    if (CheckHresult(platform, MetabaseObject->GetData(handle, u"", record, required))) {
        CloseKeyAndRelease(handle);
        return 0;
    }

    std::size_t length = 0;
    while (length < kLoadOrderChars && read[length] != 0) ++length;
    bool found = false;
    const std::u16string rebuilt = RebuildLoadOrder(std::u16string(read, length), found);
    if (found) {
        char16_t written[kLoadOrderChars] = {};  // the rebuilt list is never longer than the one read
        std::memcpy(written, rebuilt.data(), rebuilt.size() * sizeof(char16_t));
        record.data = reinterpret_cast<unsigned char*>(written);
        record.dataLength = static_cast<unsigned long>((rebuilt.size() + 1) * sizeof(char16_t));
        if (!SetDataOrClose(platform, handle, u"", record)) return 0;
    }
    CloseKeyAndRelease(handle);
    return 1;
}

std::string RemoveFilterPath(std::string text, const std::string& path) {
    if (path.empty()) return text;
    // A path that is the first entry takes its comma along, or a leading comma
    // would stay; so does each copy of it that then stands first.
    while (text.compare(0, path.size() + 1, path + ",") == 0) text.erase(0, path.size() + 1);
    const std::size_t afterComma = text.find("," + path);
    if (afterComma != std::string::npos && afterComma > 0)
        RemoveAll(text, "," + path);
    else
        RemoveAll(text, path);
    return text;
}

// Only an empty path is refused: the rule above would then strip every comma
// and run the entries together.
void RemoveIisFilterFromRegistry(Platform& platform, const std::string& isapiFilterPath) {
    if (isapiFilterPath.empty()) return;
    Handle key = 0;
    if (platform.registry.OpenKey(kParametersKey, kKeyAllAccess, key) != kErrorSuccess) return;
    char buffer[kFilterDllsBuffer] = {};
    unsigned long size = sizeof buffer;
    if (platform.registry.QueryValue(key, kFilterDlls, buffer, size) != kErrorSuccess) {
        platform.registry.CloseKey(key);
        return;
    }
    const std::string text = RemoveFilterPath(std::string(buffer, strnlen(buffer, sizeof buffer)), isapiFilterPath);
    platform.registry.SetValue(key, kFilterDlls, kRegSz, text.c_str(), static_cast<unsigned long>(text.size()));
    platform.registry.CloseKey(key);
}

}  // namespace qv
