#include "setup/company_folder.h"

#include "setup/admin_security.h"
#include "setup/setup_context.h"

// FILE_ALL_ACCESS for SYSTEM and Administrators, on the folder and inherited
// by everything made in it; nothing inherited from the Windows folder, which
// gave Everyone or Power Users change rights on 2000-era systems.
const AdminDescriptor g_companyFolderSecurity = MakeAdminDescriptor(
    0x001F01FF, 0x03 /* OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE */,
    kDaclPresent | kDaclProtected | kSelfRelative, true);

namespace {

bool CreateFolder(const CPathString& path, SECURITY_ATTRIBUTES* security) {
  if (GetPlatform().CreateDirectoryA(path.c_str(), security)) return true;
  return GetPlatform().GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace


bool MakeCompanyFolder(const char* windowsDir, CPathString& folder) {
  folder.Assign(windowsDir).Append("\\Application Data");
  if (!CreateFolder(folder, nullptr)) return false;
  folder.Append("\\Velmoran");
  static const SECURITY_ATTRIBUTES security = {
      sizeof(security), const_cast<unsigned char*>(g_companyFolderSecurity.bytes), FALSE};
  // Windows 95/98/Me have no security on files.
  bool nt = g_osVersion.Info().dwPlatformId == VER_PLATFORM_WIN32_NT;
  return CreateFolder(folder, nt ? const_cast<SECURITY_ATTRIBUTES*>(&security) : nullptr);
}

// Taking a folder over needs WRITE_OWNER and WRITE_DAC on it, which its own
// DACL grants: one that an older setup made (inheriting from the Windows
// folder) admits Administrators; one that another account made need not, and
// stays as it is. No other account keeps a way back in: an owner may always
// change the DACL, and the owner is now Administrators.
bool SealCompanyFolder(const char* folder, DWORD* error) {
  if (GetPlatform().SetFileSecurityA(
          folder,
          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
              PROTECTED_DACL_SECURITY_INFORMATION,
          const_cast<unsigned char*>(g_companyFolderSecurity.bytes)))
    return true;
  *error = GetPlatform().GetLastError();
  return false;
}
