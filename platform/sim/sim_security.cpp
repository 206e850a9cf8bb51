// The simulated machine's file security (NT): owners and DACLs of files and
// folders, as SetFileSecurityA changes them.
#include "platform/sim/sim_internal.h"

#include <string.h>

#include <vector>

using sim::Number;
using sim::Text;

namespace {

void PutWord(std::string& out, unsigned value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}
void PutLong(std::string& out, DWORD value) {
  PutWord(out, value & 0xFFFF);
  PutWord(out, value >> 16);
}
DWORD GetLong(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
}
unsigned GetWord(const unsigned char* p) { return p[0] | (p[1] << 8); }

const BYTE kAllowed = 0, kInheritOnly = 0x08, kObjectAndContainer = 0x03;
const DWORD kFullControl = 0x001F01FF, kModify = 0x001301BF, kReadExecute = 0x001200A9;

std::string System() { return CSimMachine::Sid({18}); }
std::string Administrators() { return CSimMachine::Sid({32, 544}); }

// What the Windows folder passes on to a folder made in it without a
// descriptor of its own: on XP Power Users may change files there (and
// Everyone on 2000); from Vista on only SYSTEM, Administrators and
// TrustedInstaller may. CREATOR OWNER's entry becomes the maker's, an
// administrator's.
std::string WindowsFolderDacl(DWORD major) {
  using M = CSimMachine;
  std::string users = M::Ace(kAllowed, kObjectAndContainer, kReadExecute, M::Sid({32, 545}));
  std::string system = M::Ace(kAllowed, kObjectAndContainer, kFullControl, System());
  std::string admins = M::Ace(kAllowed, kObjectAndContainer, kFullControl, Administrators());
  std::string creator = M::Ace(kAllowed, kObjectAndContainer | kInheritOnly, 0x10000000,
                               M::Sid({0}, 3));
  if (major < 6)
    return M::Acl({system, admins, creator, users,
                   M::Ace(kAllowed, kObjectAndContainer, kModify, M::Sid({32, 547}))});
  return M::Acl({system, admins, creator, users,
                 M::Ace(kAllowed, kObjectAndContainer, kFullControl,
                        M::Sid({80, 956008885, 3418522649u, 1831038044, 1853292631,
                                2271478464u}))});
}

// One entry of a DACL, as its bytes say.
struct Entry {
  BYTE type;
  BYTE flags;
  DWORD mask;
  std::string sid;
  std::string bytes;  // the whole entry
};

std::vector<Entry> EntriesOf(const std::string& dacl) {
  std::vector<Entry> entries;
  const unsigned char* acl = reinterpret_cast<const unsigned char*>(dacl.data());
  for (size_t at = 8, n = 0; dacl.size() >= 8 && n < GetWord(acl + 4); ++n) {
    const unsigned char* ace = acl + at;
    size_t size = GetWord(ace + 2);
    entries.push_back({ace[0], ace[1], GetLong(ace + 4),
                       std::string(reinterpret_cast<const char*>(ace + 8), size - 8),
                       dacl.substr(at, size)});
    at += size;
  }
  return entries;
}

}  // namespace

std::string sim::DaclOf(const void* descriptor, bool* present) {
  const unsigned char* sd = static_cast<const unsigned char*>(descriptor);
  *present = (GetWord(sd + 2) & 0x0004) != 0;
  DWORD offset = GetLong(sd + 16);
  if (!*present || offset == 0) return "";
  const unsigned char* acl = sd + offset;
  return std::string(reinterpret_cast<const char*>(acl), GetWord(acl + 2));
}

std::string sim::WithInherited(const std::string& acl, const std::pair<std::string, int>& aces) {
  std::string out = acl + aces.first;
  unsigned size = static_cast<unsigned>(out.size());
  unsigned count = GetWord(reinterpret_cast<const unsigned char*>(acl.data()) + 4) + aces.second;
  out[2] = static_cast<char>(size & 0xFF);
  out[3] = static_cast<char>(size >> 8);
  out[4] = static_cast<char>(count & 0xFF);
  out[5] = static_cast<char>(count >> 8);
  return out;
}

std::pair<std::string, int> CSimMachine::InheritableOf(const std::string& folder) const {
  std::string owner, dacl;
  bool present = true;
  EffectiveSecurity(folder, &owner, &dacl, &present);
  std::pair<std::string, int> aces;
  for (const Entry& entry : present ? EntriesOf(dacl) : std::vector<Entry>()) {
    if (!(entry.flags & kObjectAndContainer)) continue;
    std::string ace = entry.bytes;
    ace[1] = static_cast<char>((ace[1] & ~kInheritOnly) | 0x10);  // INHERITED_ACE
    aces.first += ace;
    ++aces.second;
  }
  return aces;
}

std::string CSimMachine::Sid(std::initializer_list<uint32_t> subs, BYTE authority) {
  std::string sid = {1, static_cast<char>(subs.size()), 0, 0, 0, 0, 0,
                     static_cast<char>(authority)};
  for (uint32_t sub : subs) PutLong(sid, sub);
  return sid;
}

std::string CSimMachine::Ace(BYTE type, BYTE flags, DWORD mask, const std::string& sid) {
  std::string ace = {static_cast<char>(type), static_cast<char>(flags)};
  PutWord(ace, static_cast<unsigned>(8 + sid.size()));
  PutLong(ace, mask);
  return ace + sid;
}

std::string CSimMachine::Acl(std::initializer_list<std::string> aces) {
  size_t size = 8;
  for (const std::string& ace : aces) size += ace.size();
  std::string acl = {2, 0};
  PutWord(acl, static_cast<unsigned>(size));
  PutWord(acl, static_cast<unsigned>(aces.size()));
  PutWord(acl, 0);
  for (const std::string& ace : aces) acl += ace;
  return acl;
}

void CSimMachine::SetSecurity(const std::string& path, const std::string& ownerSid,
                              const std::string& dacl, bool daclPresent) {
  Node* node = NodeAt(path);
  if (!node) return;
  node->ownerSid = ownerSid;
  node->dacl = dacl;
  node->daclPresent = daclPresent;
}

void CSimMachine::EffectiveSecurity(const std::string& fullPath, std::string* owner,
                                    std::string* dacl, bool* present) const {
  const Node* node = NodeAt(fullPath);
  if (node && !node->ownerSid.empty()) {
    *owner = node->ownerSid;
    *dacl = node->dacl;
    *present = node->daclPresent;
    return;
  }
  // The nearest folder above with security of its own passes on its
  // inheritable entries; the Windows folder's are the version's.
  *owner = Administrators();
  *present = true;
  for (std::string at = ParentOf(fullPath); !at.empty(); at = ParentOf(at)) {
    const Node* parent = NodeAt(at);
    if (parent && !parent->ownerSid.empty() && parent->daclPresent) {
      *dacl = parent->dacl;
      return;
    }
    if (Upper(at) == Upper(m_strWindowsDir) || at == ParentOf(at)) break;
  }
  *dacl = WindowsFolderDacl(m_version.dwMajorVersion);
}

std::string CSimMachine::SecurityOf(const std::string& path) const {
  std::string owner, dacl;
  bool present = true;
  EffectiveSecurity(Resolve(path), &owner, &dacl, &present);
  // FAT keeps none: every file is everybody's.
  if (m_bFat) {
    owner = Sid({0}, 1);
    present = false;
  }
  std::string sd = {1, 0};
  PutWord(sd, 0x8000 | (present ? 0x0004 : 0));  // self-relative
  PutLong(sd, 20);  // the owner follows the header
  PutLong(sd, 0);
  PutLong(sd, 0);
  PutLong(sd, present ? static_cast<DWORD>(20 + owner.size()) : 0);
  return sd + owner + dacl;
}

// The access a DACL gives an administrator's token: its allowing entries for
// Administrators, Everyone, Users or Authenticated Users (GENERIC_ALL counts
// as all); a null DACL gives all.
DWORD CSimMachine::AdministratorAccess(const std::string& dacl, bool present) {
  if (!present) return 0xFFFFFFFFu;
  const std::string token[] = {Administrators(), Sid({0}, 1), Sid({32, 545}), Sid({11})};
  // In order: what an entry denies is not granted by a later one.
  DWORD granted = 0, denied = 0;
  for (const Entry& entry : EntriesOf(dacl)) {
    if ((entry.type != kAllowed && entry.type != 1) || (entry.flags & kInheritOnly)) continue;
    DWORD mask = entry.mask & 0x10000000 ? 0xFFFFFFFFu : entry.mask;
    for (const std::string& group : token) {
      if (entry.sid != group) continue;
      if (entry.type == kAllowed) granted |= mask & ~denied;
      else denied |= mask & ~granted;
    }
  }
  return granted;
}

bool CSimMachine::IsSealed(const std::string& path) const {
  std::string owner, dacl;
  bool present = true;
  EffectiveSecurity(Resolve(path), &owner, &dacl, &present);
  if (m_bFat) return false;
  if ((owner != Administrators() && owner != System() && owner != m_strUserSid) || !present)
    return false;
  const DWORD kChangeRights = 0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 |
                              0x40000000;
  for (const Entry& entry : EntriesOf(dacl)) {
    if (entry.type == kAllowed && !(entry.flags & kInheritOnly) && (entry.mask & kChangeRights) &&
        entry.sid != Administrators() && entry.sid != System())
      return false;
  }
  return true;
}

BOOL CSimMachine::GetFileSecurityA(LPCSTR path, DWORD information, void* descriptor, DWORD size,
                                   LPDWORD needed) {
  Record("GetFileSecurityA(" + Text(path) + ", " + Number(information) + ")");
  if (m_version.dwPlatformId != VER_PLATFORM_WIN32_NT) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE);
  if (!NodeAt(path)) return Fail(ERROR_FILE_NOT_FOUND);
  std::string sd = SecurityOf(path);
  *needed = static_cast<DWORD>(sd.size());
  if (sd.size() > size) return Fail(ERROR_INSUFFICIENT_BUFFER);
  memcpy(descriptor, sd.data(), sd.size());
  return TRUE;
}

// A new owner needs WRITE_OWNER, a new DACL WRITE_DAC (which an owner has
// anyway), as the folder's DACL grants them to the caller, an administrator;
// the owner given must be a group of the caller's: Administrators.
BOOL CSimMachine::SetFileSecurityA(LPCSTR path, DWORD information, void* descriptor) {
  Record("SetFileSecurityA(" + Text(path) + ", " + Number(information) + ")");
  if (m_version.dwPlatformId != VER_PLATFORM_WIN32_NT) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  Node* node = NodeAt(path);
  if (!node) return Fail(ERROR_FILE_NOT_FOUND);
  std::string owner, dacl;
  bool present = true;
  EffectiveSecurity(Resolve(path), &owner, &dacl, &present);
  DWORD access = AdministratorAccess(dacl, present);
  // An owner's implicit WRITE_DAC: Administrators', or this account's own.
  if (owner == Administrators() || owner == m_strUserSid) access |= 0x00040000;
  const unsigned char* sd = static_cast<const unsigned char*>(descriptor);
  if (information & OWNER_SECURITY_INFORMATION) {
    if (!(access & 0x00080000)) return Fail(ERROR_ACCESS_DENIED);
    DWORD offset = GetLong(sd + 4);
    if (offset == 0) return Fail(ERROR_INVALID_OWNER);
    std::string given(reinterpret_cast<const char*>(sd + offset), 8 + 4 * sd[offset + 1]);
    if (given != Administrators()) return Fail(ERROR_INVALID_OWNER);
    owner = given;
  }
  if (information & DACL_SECURITY_INFORMATION) {
    if (!(access & 0x00040000)) return Fail(ERROR_ACCESS_DENIED);
    dacl = sim::DaclOf(descriptor, &present);
  }
  node->ownerSid = owner;
  node->dacl = dacl;
  node->daclPresent = present;
  return TRUE;
}

BOOL CSimMachine::OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
  Record("OpenProcessToken(" + Number(access) + ")");
  if (m_version.dwPlatformId != VER_PLATFORM_WIN32_NT) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (process != GetCurrentProcess()) return Fail(ERROR_INVALID_HANDLE);
  uintptr_t handle = m_nNextProcessHandle++;
  m_processHandles[handle] = false;  // closed like any other handle
  *token = reinterpret_cast<HANDLE>(handle);
  return TRUE;
}

// TokenUser: a TOKEN_USER (the SID's address and attributes) followed by the SID.
BOOL CSimMachine::GetTokenInformation(HANDLE token, int infoClass, void* info, DWORD size,
                                      LPDWORD needed) {
  Record("GetTokenInformation(" + Number(infoClass) + ")");
  if (!m_processHandles.count(reinterpret_cast<uintptr_t>(token))) return Fail(ERROR_INVALID_HANDLE);
  if (infoClass != TokenUser) return Fail(ERROR_INVALID_PARAMETER);
  struct TokenUserHeader {  // TOKEN_USER: SID_AND_ATTRIBUTES
    void* sid;
    DWORD attributes;
  };
  DWORD header = sizeof(TokenUserHeader);
  *needed = header + static_cast<DWORD>(m_strUserSid.size());
  if (*needed > size) return Fail(ERROR_INSUFFICIENT_BUFFER);
  char* bytes = static_cast<char*>(info);
  memcpy(bytes + header, m_strUserSid.data(), m_strUserSid.size());
  TokenUserHeader user = {bytes + header, 0};
  memcpy(bytes, &user, sizeof(user));
  return TRUE;
}
