// COM and the IIS Admin Base Object, through mingw's published interface.
#include <windows.h>
#include <objbase.h>
#include <iadmw.h>

#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Text.h"

namespace qv::win32 {

namespace {

GUID ToGuid(const Guid& guid) {
    GUID result;
    result.Data1 = guid.data1;
    result.Data2 = guid.data2;
    result.Data3 = guid.data3;
    for (int i = 0; i < 8; ++i) result.Data4[i] = guid.data4[i];
    return result;
}

class Win32Metabase final : public Metabase {
public:
    explicit Win32Metabase(IMSAdminBaseW* object) : object_(object) {}

    unsigned long Release() override {
        const ULONG left = object_->Release();
        delete this;
        return left;
    }
    HResult DeleteKey(MetadataHandle handle, const std::u16string& path) override {
        return object_->DeleteKey(handle, Wide(path));
    }
    HResult SetData(MetadataHandle handle, const std::u16string& path, MetadataRecord& record) override {
        METADATA_RECORD system = ToSystem(record);
        const HRESULT result = object_->SetData(handle, Wide(path), &system);
        FromSystem(system, record);
        return result;
    }
    HResult GetData(MetadataHandle handle, const std::u16string& path, MetadataRecord& record,
                 unsigned long& requiredLength) override {
        METADATA_RECORD system = ToSystem(record);
        DWORD required = 0;
        const HRESULT result = object_->GetData(handle, Wide(path), &system, &required);
        FromSystem(system, record);
        requiredLength = required;
        return result;
    }
    HResult OpenKey(MetadataHandle handle, const std::u16string& path, unsigned long access, unsigned long timeout,
                 MetadataHandle& opened) override {
        METADATA_HANDLE key = 0;
        const HRESULT result = object_->OpenKey(handle, Wide(path), access, timeout, &key);
        opened = key;
        return result;
    }
    HResult CloseKey(MetadataHandle handle) override { return object_->CloseKey(handle); }

private:
    ~Win32Metabase() = default;

    static METADATA_RECORD ToSystem(const MetadataRecord& record) {
        METADATA_RECORD system = {};
        system.dwMDIdentifier = record.identifier;
        system.dwMDAttributes = record.attributes;
        system.dwMDUserType = record.userType;
        system.dwMDDataType = record.dataType;
        system.dwMDDataLen = record.dataLength;
        system.pbMDData = record.data;
        system.dwMDDataTag = record.dataTag;
        return system;
    }
    static void FromSystem(const METADATA_RECORD& system, MetadataRecord& record) {
        record.identifier = system.dwMDIdentifier;
        record.attributes = system.dwMDAttributes;
        record.userType = system.dwMDUserType;
        record.dataType = system.dwMDDataType;
        record.dataLength = system.dwMDDataLen;
        record.data = system.pbMDData;
        record.dataTag = system.dwMDDataTag;
    }

    IMSAdminBaseW* object_;
};

}  // namespace

HResult Win32Com::CoInitialize() { return ::CoInitialize(nullptr); }

void Win32Com::CoUninitialize() { ::CoUninitialize(); }

HResult Win32Com::CoCreateInstance(const Guid& clsid, unsigned long context, const Guid& iid, Metabase*& object) {
    object = nullptr;
    const GUID classId = ToGuid(clsid), interfaceId = ToGuid(iid);
    void* created = nullptr;
    const HRESULT result = ::CoCreateInstance(classId, nullptr, context, interfaceId, &created);
    if (SUCCEEDED(result) && created) object = new Win32Metabase(static_cast<IMSAdminBaseW*>(created));
    return result;
}

}  // namespace qv::win32
