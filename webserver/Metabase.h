// The IIS Admin Base Object, held process-wide while one filter removal
// works on the metabase, and the reporting of its failures.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace qv {

// Null whenever no interface is held; released at exit if still set.
extern Metabase* MetabaseObject;

enum : unsigned long {
    kMetadataMasterRootHandle = 0,
    kMetadataPermissionRead = 1,
    kMetadataPermissionWrite = 2,
    kMdFilterLoadOrder = 2040,
    kMetadataInherit = 1,
    kIisMdUtServer = 1,
    kStringMetadata = 2,
};

// Creates the Admin Base Object into MetabaseObject; 1 on success, else 0
// after its error box.
int CreateAdminBase(Platform& platform);

// Creates an Admin Base Object of the caller's own, showing nothing.
HResult CreateAdminBaseObject(Platform& platform, Metabase*& object);

// True when `hr` is a failure, after its error box.
bool CheckHresult(Platform& platform, HResult hr);

// The system's text for a failing HRESULT in an "ERROR" box.
void ShowHresultError(Platform& platform, HResult hr);

// Lets go of MetabaseObject if it is held. Returns 1.
int ReleaseAdminBase();

// Closes `handle`, then lets go of MetabaseObject.
void CloseKeyAndRelease(MetadataHandle handle);

// A string record's text: its UTF-16 characters, as the metabase stores
// them (low byte first), up to the first zero within its data length.
std::u16string RecordText(const MetadataRecord& record);

// SetData; on failure, after its box, the key is closed and the interface
// released, and the result is 0.
int SetDataOrClose(Platform& platform, MetadataHandle handle, const std::u16string& path, MetadataRecord& record);

}  // namespace qv
