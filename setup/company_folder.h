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

// Holds `folder` (the company folder) and the folder above it open, sharing
// no deleting, so that neither can be renamed away (and another put in its
// place) until the handles in `held` are closed; then, where Administrators
// or SYSTEM own it, gives it the protected DACL, so that no other account can
// add, replace or delete anything in it, nor change that back. False, with
// the Windows error, where one cannot be held (another process holds it for
// deleting), another account owns it (ERROR_INVALID_OWNER), or Windows
// refuses (a FAT volume has no security). The caller closes what `held`
// holds (INVALID_HANDLE_VALUE where nothing).
bool SealCompanyFolder(const CPathString& folder, HANDLE held[2], DWORD* error);

extern const struct AdminDescriptor g_companyFolderSecurity;

#endif  // SETUP_COMPANY_FOLDER_H
