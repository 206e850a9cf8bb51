// The company folder, %windir%\Application Data\Velmoran: the packages'
// copies, the setup log and, for a moment, the twin the 32-bit file starts.
// Only administrators and SYSTEM may change what is in it.
#ifndef SETUP_COMPANY_FOLDER_H
#define SETUP_COMPANY_FOLDER_H

#include "platform/platform_layer.h"
#include "setup/path_string.h"

// Makes the folder (and "Application Data") where missing; on NT with a
// protected DACL for SYSTEM and Administrators alone. True when it is there,
// made now or before (a file in its place counts, as Windows reports it).
bool MakeCompanyFolder(const char* windowsDir, CPathString& folder);

// Makes Administrators the owner of `folder` and gives it the protected DACL,
// so that no other account can add, replace or delete anything in it, nor
// change that back. False, with the Windows error, where Windows refuses
// (a folder that another account made admits no administrator to take it
// over; a FAT volume has no security).
bool SealCompanyFolder(const char* folder, DWORD* error);

extern const struct AdminDescriptor g_companyFolderSecurity;

#endif  // SETUP_COMPANY_FOLDER_H
