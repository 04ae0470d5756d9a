#include "webserver/Metabase.h"

#include "text/Text.h"

namespace qv {

Metabase* MetabaseObject = nullptr;

namespace {

// {A9E69610-B80D-11D0-B9B9-00A0C922E750} and {70B51430-B6CA-11D0-B9B9-00A0C922E750}.
const Guid kClsidMsAdminBase = {0xA9E69610, 0xB80D, 0x11D0, {0xB9, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0xE7, 0x50}};
const Guid kIidMsAdminBase = {0x70B51430, 0xB6CA, 0x11D0, {0xB9, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0xE7, 0x50}};
// CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER.
constexpr unsigned long kClassContext = 7;

// An interface still held when the program ends is let go with it.
struct ReleaseAtExit {
    ~ReleaseAtExit() { ReleaseAdminBase(); }
} releaseAtExit;

}  // namespace

HResult CreateAdminBaseObject(Platform& platform, Metabase*& object) {
    return platform.com.CoCreateInstance(kClsidMsAdminBase, kClassContext, kIidMsAdminBase, object);
}

int CreateAdminBase(Platform& platform) {
    const HResult hr = CreateAdminBaseObject(platform, MetabaseObject);
    if (CheckHresult(platform, hr)) {
        MetabaseObject = nullptr;
        return 0;
    }
    return MetabaseObject != nullptr;
}

bool CheckHresult(Platform& platform, HResult hr) {
    if (hr >= 0) return false;
    ShowHresultError(platform, hr);
    return true;
}

// A Win32 error wrapped in an HRESULT is shown by its own text; any other
// HRESULT by the text of the whole code, since its low 16 bits would name an
// unrelated Win32 error. Text whose inserts can't be filled is shown with
// them left in; a code without text is named in hexadecimal.
void ShowHresultError(Platform& platform, HResult hr) {
    const unsigned long code = static_cast<std::uint32_t>(hr);
    const unsigned long message = MessageIdOf(hr);
    const unsigned long flags = kFormatMessageFromSystem | kFormatMessageAllocateBuffer;
    std::u16string text;
    if (!platform.errors.FormatMessageW(flags, message, kLangUserDefault, text) &&
        !platform.errors.FormatMessageW(flags | kFormatMessageIgnoreInserts, message, kLangUserDefault, text))
        text = Widened("Error " + Hex(code, 8) + ".");
    platform.boxes.ShowWide(text, u"ERROR", kMbOk | kMbIconHand);
}

int ReleaseAdminBase() {
    if (Metabase* held = MetabaseObject) {
        MetabaseObject = nullptr;
        held->Release();
    }
    return 1;
}

void CloseKeyAndRelease(MetadataHandle handle) {
    MetabaseObject->CloseKey(handle);
    ReleaseAdminBase();
}

int SetDataOrClose(Platform& platform, MetadataHandle handle, const std::u16string& path, MetadataRecord& record) {
    if (!CheckHresult(platform, MetabaseObject->SetData(handle, path, record))) return 1;
    CloseKeyAndRelease(handle);
    return 0;
}

std::u16string RecordText(const MetadataRecord& record) {
    std::u16string text;
    for (unsigned long i = 0; record.data && i + 1 < record.dataLength; i += 2) {
        const char16_t c = static_cast<char16_t>(record.data[i] | record.data[i + 1] << 8);
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

}  // namespace qv
