#include "setup/company_folder.h"

#include <string.h>

#include "setup/admin_security.h"

CompanyFolder g_companyFolder;

// FILE_ALL_ACCESS for SYSTEM and Administrators, on the folder and inherited
// by everything made in it; nothing inherited from the Windows folder, which
// gave Everyone or Power Users change rights on 2000-era systems.
const AdminDescriptor g_companyFolderSecurity = MakeAdminDescriptor(
    0x001F01FF, 0x03 /* OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE */,
    kDaclPresent | kDaclProtected | kSelfRelative, true);

namespace {

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

// The name's own object, never a link's target, held sharing no deleting.
HANDLE OpenOwnName(const char* path) {
  return GetPlatform().CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr);
}

// A folder that is not ours but is no link either, held as it is so that
// nothing renames it away and puts a link in its place while the log is
// written there; null where it is a link or cannot be held.
HANDLE HoldAsItIs(const char* path) {
  PlatformLayer& platform = GetPlatform();
  HANDLE held = OpenOwnName(path);
  if (held == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (platform.GetFileInformationByHandle(held, &info) &&
      !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return held;
  platform.CloseHandle(held);
  return nullptr;
}

// One part of the way (Application Data, then the folder): not a reparse
// point by its attributes (which Wine shows for a link too) nor by its held
// handle, held sharing no deleting, and with a trusted owner; the folder
// itself (`seal`) given the protected DACL, on every run: one an older setup
// made inherits from the Windows folder, which admitted Power Users on
// 2000-era systems. Null where it is not so, with *problem; *foreign where
// it is known not to be ours (a link, another owner), not merely unreadable
// for now (an error, which a later run may not meet).
HANDLE HoldPart(const char* path, bool seal, const char** problem, bool* foreign) {
  PlatformLayer& platform = GetPlatform();
  DWORD attributes = platform.GetFileAttributesA(path);
  *problem = "it is a link to another folder";
  *foreign = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (*foreign) return nullptr;
  HANDLE held = OpenOwnName(path);
  *problem = "it cannot be held";
  if (held == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  bool read = platform.GetFileInformationByHandle(held, &info) != FALSE;
  *foreign = read && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  bool ours = read && !*foreign;
  if (ours) {
    *problem = "its owner cannot be read";
    Owner owner = OwnerOf(path);
    *foreign = owner == kForeignOwner;
    if (*foreign) *problem = "another account owns it";
    ours = owner == kTrustedOwner;
  }
  if (ours && seal) {
    *problem = "it cannot be sealed";
    ours = platform.SetFileSecurityA(
        path, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        const_cast<unsigned char*>(g_companyFolderSecurity.bytes));
  }
  if (ours) return held;
  platform.CloseHandle(held);
  return nullptr;
}

// A part that is not ours moves aside, where Windows lets an administrator
// rename it, and a new one is made in its place; false where it cannot.
HANDLE MendPart(const char* path, bool seal, const char* problem, bool foreign, char* note) {
  char aside[kFormatSize];
  SetAsideName(aside, path);
  if (!foreign) {
    FormatInto(note, "%s: %s (error %u)", path, problem, GetPlatform().GetLastError());
    return nullptr;
  }
  if (!GetPlatform().MoveFileA(path, aside) || !MakeSealedFolder(path, true)) {
    FormatInto(note, "%s: %s, and it cannot be set aside (error %u)", path, problem,
               GetPlatform().GetLastError());
    return nullptr;
  }
  // What now has the name must pass the same check, and the note (the
  // refusal's box, the log) says which way it went.
  const char* again;
  bool still;
  HANDLE held = HoldPart(path, seal, &again, &still);
  FormatInto(note,
             held ? "%s was set aside as %s: %s; a new one was made"
                  : "%s was set aside as %s: %s; what is in its place now will not do either: %s",
             path, aside, problem, again);
  return held;
}

// NTFS keeps owners and DACLs; FAT keeps none, and anyone may change any
// file there, Windows' own included: nothing can be checked or sealed.
bool KeepsSecurity(const char* windowsDir) {
  char root[4] = {windowsDir[0], ':', '\\', '\0'};
  DWORD flags = 0;
  return !GetPlatform().GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, nullptr,
                                              0) ||
         (flags & 0x8 /* FILE_PERSISTENT_ACLS */);
}

}  // namespace

Owner OwnerOf(const char* path) {
  alignas(4) unsigned char sd[256];
  DWORD needed = 0;
  if (!GetPlatform().GetFileSecurityA(path, OWNER_SECURITY_INFORMATION, sd, sizeof(sd), &needed))
    return kOwnerUnknown;
  // The owner SID, where the descriptor says it is: Administrators' is the
  // one in ours; SYSTEM's differs in its count and first sub-authority.
  const unsigned char* ours = g_companyFolderSecurity.bytes + 72;
  DWORD at = sd[4] | (sd[5] << 8);
  const unsigned char* owner = sd + at;
  if (!at || at > sizeof(sd) - 16) return kOwnerUnknown;
  bool trusted = (memcmp(owner, ours, 16) == 0) ||
                 (owner[1] == 1 && memcmp(owner + 2, ours + 2, 6) == 0 && owner[8] == 18 &&
                  owner[9] == 0 && owner[10] == 0 && owner[11] == 0) ||
                 IsOwnAccount(owner, sizeof(sd) - at);
  return trusted ? kTrustedOwner : kForeignOwner;
}

bool HasTrustedOwner(const char* path) { return OwnerOf(path) == kTrustedOwner; }

HANDLE HoldTrustedFolder(const char* path) {
  HANDLE held = HoldAsItIs(path);
  if (held && OwnerOf(path) != kTrustedOwner) {
    GetPlatform().CloseHandle(held);
    held = nullptr;
  }
  return held;
}

bool MakeSealedFolder(const char* path, bool nt) {
  static const SECURITY_ATTRIBUTES security = {
      sizeof(security), const_cast<unsigned char*>(g_companyFolderSecurity.bytes), FALSE};
  PlatformLayer& platform = GetPlatform();
  // Windows 95/98/Me have no security on files.
  return platform.CreateDirectoryA(path, nt ? const_cast<SECURITY_ATTRIBUTES*>(&security)
                                            : nullptr) ||
         platform.GetLastError() == ERROR_ALREADY_EXISTS;
}

void SetAsideName(char* name, const char* path, const char* what) {
  SYSTEMTIME now;
  GetPlatform().GetLocalTime(&now);
  FormatInto(name, "%s.%s-%04u%02u%02u-%02u%02u%02u", path, what, now.wYear, now.wMonth,
             now.wDay, now.wHour, now.wMinute, now.wSecond);
}

bool CheckCompanyFolder(const char* windowsDir, bool nt) {
  CompanyFolder& folder = g_companyFolder;
  if (folder.state != kFolderUnchecked) return folder.state == kFolderSafe;
  folder.note[0] = '\0';
  bool secured = nt && KeepsSecurity(windowsDir);
  folder.path.Assign(windowsDir).Append("\\Application Data");
  for (int part = 0; part < 2; ++part) {
    if (part) folder.path.Append("\\Velmoran");
    const char* path = folder.path.c_str();
    if (!MakeSealedFolder(path, nt)) {
      folder.state = kFolderMissing;
      return false;
    }
    // Windows 95/98/Me: no owners, no reparse points on FAT, no handles to
    // folders; nothing can be checked or held there, nor on FAT under NT.
    if (!secured) continue;
    const char* problem;
    bool foreign;
    folder.held[part] = HoldPart(path, part == 1, &problem, &foreign);
    if (!folder.held[part])
      folder.held[part] = MendPart(path, part == 1, problem, foreign, folder.note);
    if (!folder.held[part]) {
      // A link on the way takes everything below it elsewhere, the log too.
      if (part == 1 && folder.held[0]) folder.held[1] = HoldAsItIs(path);
      folder.linkFree = folder.held[1] != nullptr;
      folder.state = kFolderUnsafe;
      return false;
    }
  }
  folder.linkFree = true;
  folder.state = kFolderSafe;
  return true;
}

bool ForEachInFolder(const char* folder, FolderVisit visit, void* context) {
  PlatformLayer& platform = GetPlatform();
  char path[kFormatSize];
  FormatInto(path, "%s\\*", folder);
  WIN32_FIND_DATAA found;
  HANDLE find = platform.FindFirstFileA(path, &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    found.cFileName[MAX_PATH - 1] = '\0';
    FormatInto(path, "%s\\%s", folder, found.cFileName);
    visit(path, found, context);
  } while (platform.FindNextFileA(find, &found));
  platform.FindClose(find);
  return true;
}

void ReleaseCompanyFolder() {
  CompanyFolder& folder = g_companyFolder;
  for (HANDLE& held : folder.held) {
    if (held) GetPlatform().CloseHandle(held);
    held = nullptr;
  }
  folder.state = kFolderUnchecked;
}
