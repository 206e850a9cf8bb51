#include "setup/company_folder.h"

#include <string.h>

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

// Whether the SID at `sid` (within `room` bytes) is this process's account.
bool IsOwnAccount(const unsigned char* sid, DWORD room) {
  PlatformLayer& platform = GetPlatform();
  HANDLE token;
  if (!platform.OpenProcessToken(platform.GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(8) unsigned char user[128];
  DWORD needed = 0;
  bool same = false;
  if (platform.GetTokenInformation(token, TokenUser, user, sizeof(user), &needed)) {
    const unsigned char* own = *reinterpret_cast<unsigned char* const*>(user);
    DWORD length = 8 + 4u * own[1];
    same = length <= room && memcmp(own, sid, length) == 0;
  }
  platform.CloseHandle(token);
  return same;
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

// An owner may always change the DACL, so a folder that another account
// made (a Power User could, under XP's Windows folder) is never taken for
// ours, whatever it admits now. One that Administrators or SYSTEM own but
// that admits others (an older setup's, inheriting from the Windows folder)
// is given the protected DACL; access that others opened before stays with
// their handles, but none of them can delete or rename what is held.
bool SealCompanyFolder(const CPathString& folder, HANDLE held[2], DWORD* error) {
  PlatformLayer& platform = GetPlatform();
  CPathString above(folder.c_str());
  above.Truncate(folder.Length() - 9);  // less "\Velmoran"
  const CPathString* paths[] = {&above, &folder};
  for (int i = 0; i < 2; ++i) {
    held[i] = platform.CreateFileA(paths[i]->c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (held[i] == INVALID_HANDLE_VALUE) {
      *error = platform.GetLastError();
      return false;
    }
  }
  alignas(4) unsigned char sd[256];
  DWORD needed = 0;
  if (!platform.GetFileSecurityA(folder.c_str(), OWNER_SECURITY_INFORMATION, sd, sizeof(sd),
                                 &needed)) {
    *error = platform.GetLastError();
    return false;
  }
  // The owner SID, where the descriptor says it is: Administrators' is the
  // one in ours; SYSTEM's differs in its count and first sub-authority. The
  // account running this setup, an administrator, may own it too (where
  // objects an administrator makes are not Administrators').
  const unsigned char* ours = g_companyFolderSecurity.bytes + 72;
  DWORD at = sd[4] | (sd[5] << 8);
  const unsigned char* owner = sd + at;
  bool trusted = at && at <= sizeof(sd) - 16 &&
                 ((memcmp(owner, ours, 16) == 0) ||
                  (owner[1] == 1 && memcmp(owner + 2, ours + 2, 6) == 0 && owner[8] == 18 &&
                   owner[9] == 0 && owner[10] == 0 && owner[11] == 0) ||
                  IsOwnAccount(owner, sizeof(sd) - at));
  if (!trusted) {
    *error = ERROR_INVALID_OWNER;
    return false;
  }
  if (platform.SetFileSecurityA(folder.c_str(),
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                const_cast<unsigned char*>(g_companyFolderSecurity.bytes)))
    return true;
  *error = platform.GetLastError();
  return false;
}
