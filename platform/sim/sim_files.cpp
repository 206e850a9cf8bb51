// The simulated machine's files and folders.
#include "platform/sim/sim_internal.h"

#include <string.h>

#include <algorithm>

using sim::Number;
using sim::Text;

namespace {

// DeleteFile and MoveFile open the file for delete access sharing everything:
// only an open without FILE_SHARE_DELETE stands in their way.
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A reserved device name stands for the device in every folder, in any case
// and with any extension ("Naming Files, Paths, and Namespaces"): CON, PRN,
// AUX, NUL, COM0-COM9, LPT0-LPT9 and COM/LPT with a superscript 1, 2 or 3
// (0xB9, 0xB2, 0xB3 in code page 1252), CONIN$, CONOUT$. Blanks before the
// extension do not count.
std::string DeviceOf(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  base.erase(base.find_last_not_of(' ') + 1);
  for (char& c : base)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
      strchr("0123456789\xB9\xB2\xB3", base[3]))
    return base;
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (base == device) return base;
  return std::string();
}

}  // namespace

// Reading from a device other than NUL waits for input (a serial port with
// nothing attached, the console of a process that has none): it never ends.
bool CSimMachine::ReadsFromDevice(const std::string& path) {
  std::string device = DeviceOf(NameOf(Resolve(path)));
  if (device.empty() || device == "NUL") return false;
  m_bHung = true;
  return true;
}

// Windows' CopyFile: the new file takes the source's attributes; onto an
// existing read-only or hidden file it fails with ERROR_ACCESS_DENIED, and so
// onto a system file (it creates the destination as CreateFile with
// CREATE_ALWAYS does, which refuses hidden and system files); a file copied
// onto itself is refused (it is open for reading and writing at once).
BOOL CSimMachine::CopyFileA(LPCSTR source, LPCSTR destination, BOOL failIfExists) {
  Record("CopyFileA(" + Text(source) + ", " + Text(destination) + ", " + Number(failIfExists) +
         ")");
  if (TooLong(source) || TooLong(destination)) return Fail(ERROR_FILENAME_EXCED_RANGE);
  if (ReadsFromDevice(source)) return Fail(ERROR_INVALID_HANDLE);  // never returns there
  const Node* from = NodeAt(source);
  if (!from) return Fail(ERROR_FILE_NOT_FOUND);
  if (from->folder || from->deletePending) return Fail(ERROR_ACCESS_DENIED);
  std::string to = Resolve(destination);
  auto fault = m_copyFaults.find(Upper(to));
  if (fault != m_copyFaults.end()) return Fail(fault->second);
  const Node* parent = NodeAt(ParentOf(to));
  if (!parent || !parent->folder) return Fail(ERROR_PATH_NOT_FOUND);
  if (WritesDenied(to)) return Fail(ERROR_ACCESS_DENIED);
  if (Node* existing = NodeAt(to)) {
    if (existing->folder || existing->deletePending) return Fail(ERROR_ACCESS_DENIED);
    if (failIfExists) return Fail(ERROR_FILE_EXISTS);
    if (existing == from || SharingConflict(*existing, GENERIC_WRITE, 0))
      return Fail(ERROR_SHARING_VIOLATION);
    if (existing->attributes &
        (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
      return Fail(ERROR_ACCESS_DENIED);
  }
  std::string content = from->content;
  DWORD attributes = from->attributes;
  // An existing name is opened and written: every name of that file sees it.
  Node& copy = NodeAt(to) ? *NodeAt(to) : MakeNode(to, false);
  copy.content = content;
  copy.attributes = attributes;
  SyncLinks(copy);
  return TRUE;
}

// Windows' DeleteFile refuses a read-only file with ERROR_ACCESS_DENIED. A
// file that is still open (its openers share delete) is only marked: it keeps
// its name until the last handle closes, and opening it meanwhile fails with
// ERROR_ACCESS_DENIED. From Windows 10 1903 on NTFS the name goes at once and
// the open handles keep the data (POSIX semantics).
BOOL CSimMachine::DeleteFileA(LPCSTR path) {
  Record("DeleteFileA(" + Text(path) + ")");
  if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE);
  // The name goes; another name of the same file keeps it.
  Node* node = LinkAt(path);
  if (!node) return Fail(ERROR_FILE_NOT_FOUND);
  if (node->folder || node->deletePending || (node->attributes & FILE_ATTRIBUTE_READONLY))
    return Fail(ERROR_ACCESS_DENIED);
  if (SharingConflict(*node, 0, kShareAll)) return Fail(ERROR_SHARING_VIOLATION);
  // The image of a running process is mapped: Windows refuses to delete it.
  if (IsRunningImage(Resolve(path))) return Fail(ERROR_ACCESS_DENIED);
  if (IsOpen(*node) && !DeletesNameAtOnce()) {
    node->deletePending = true;
    return TRUE;
  }
  EraseNode(Resolve(path));
  return TRUE;
}

bool CSimMachine::DeletesNameAtOnce() const {
  bool trueVersion = m_trueVersion.major != 0;
  DWORD major = trueVersion ? m_trueVersion.major : m_version.dwMajorVersion;
  DWORD build = trueVersion ? m_trueVersion.build : m_version.dwBuildNumber;
  return m_version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
         (major > 10 || (major == 10 && build >= 18362));
}

bool CSimMachine::IsOpen(const Node& node) const {
  if (!node.otherOpens.empty()) return true;
  std::string key = Upper(node.path);
  for (const auto& file : m_files)
    if (file.second.key == key) return true;
  return false;
}

void CSimMachine::DropDeletedFiles() {
  std::vector<std::string> gone;
  for (const auto& entry : m_nodes)
    if (entry.second.deletePending && !IsOpen(entry.second)) gone.push_back(entry.second.path);
  for (const std::string& path : gone) EraseNode(path);
}

void CSimMachine::CloseOtherProcesses() {
  for (auto& entry : m_nodes) entry.second.otherOpens.clear();
  DropDeletedFiles();
}

DWORD CSimMachine::GetFileAttributesA(LPCSTR path) {
  Record("GetFileAttributesA(" + Text(path) + ")");
  if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE), INVALID_FILE_ATTRIBUTES;
  // A device is there, whatever the folder.
  if (!DeviceOf(NameOf(Resolve(path))).empty()) return FILE_ATTRIBUTE_ARCHIVE;
  // A junction's own attributes: it is not followed at the end of the path.
  const Node* node = LinkAt(path);
  if (!node) {
    const Node* parent = NodeAt(ParentOf(Resolve(path)));
    return Fail(parent && parent->folder ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND),
           INVALID_FILE_ATTRIBUTES;
  }
  // A file marked for deletion cannot be opened, not even to read its attributes.
  if (node->deletePending) return Fail(ERROR_ACCESS_DENIED), INVALID_FILE_ATTRIBUTES;
  return node->attributes;
}

// "Normal" stands for none of the settable attributes.
BOOL CSimMachine::SetFileAttributesA(LPCSTR path, DWORD attributes) {
  Record("SetFileAttributesA(" + Text(path) + ", " + Number(attributes) + ")");
  if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE);
  Node* node = NodeAt(path);
  if (!node) return Fail(ERROR_FILE_NOT_FOUND);
  DWORD kept = attributes & kSettableFileAttributes;
  if (node->folder) kept |= FILE_ATTRIBUTE_DIRECTORY;
  node->attributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
  SyncLinks(*node);  // the file's, whichever name
  return TRUE;
}

bool CSimMachine::WildcardMatch(const char* pattern, const char* name) const {
  if (*pattern == '\0') return *name == '\0';
  if (*pattern == '*') {
    for (const char* rest = name;; ++rest) {
      if (WildcardMatch(pattern + 1, rest)) return true;
      if (*rest == '\0') return false;
    }
  }
  if (*name == '\0') return false;
  if (*pattern == '?') return WildcardMatch(pattern + 1, name + 1);
  return *pattern == *name && WildcardMatch(pattern + 1, name + 1);
}

void CSimMachine::FillFindData(const Find& find, WIN32_FIND_DATAA* data) const {
  memset(data, 0, sizeof(*data));
  const Find::Entry& entry = find.entries[find.next];
  data->dwFileAttributes = entry.attributes;
  data->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(entry.size) >> 32);
  data->nFileSizeLow = static_cast<DWORD>(entry.size);
  memcpy(data->cFileName, entry.name.c_str(),
         std::min(entry.name.size(), static_cast<size_t>(MAX_PATH - 1)));
  memcpy(data->cAlternateFileName, entry.shortName.c_str(),
         std::min(entry.shortName.size(), sizeof(data->cAlternateFileName) - 1));
}

// The pattern is matched against the long name and the 8.3 name, as
// FindFirstFile does; the order is creation order (FAT) or by name (NTFS).
HANDLE CSimMachine::FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
  Record("FindFirstFileA(" + Text(pattern) + ")");
  if (TooLong(pattern)) return Fail(ERROR_FILENAME_EXCED_RANGE), INVALID_HANDLE_VALUE;
  std::string full = Resolve(pattern);
  std::string folder = ParentOf(full);
  std::string wildcard = Upper(NameOf(full));
  const Node* parent = NodeAt(folder);
  if (!parent || !parent->folder) return Fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;

  std::vector<const Node*> matches;
  std::string folderKey = Upper(Resolve(folder));
  for (const auto& entry : m_nodes) {
    const Node& node = entry.second;
    if (Upper(Resolve(ParentOf(node.path))) != folderKey) continue;
    if (WildcardMatch(wildcard.c_str(), Upper(NameOf(node.path)).c_str()) ||
        (!node.shortName.empty() && WildcardMatch(wildcard.c_str(), node.shortName.c_str())))
      matches.push_back(&node);
  }
  if (matches.empty()) return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
  if (!m_bSortedEnumeration)
    std::sort(matches.begin(), matches.end(),
              [](const Node* a, const Node* b) { return a->order < b->order; });
  Find find;
  for (const Node* node : matches)
    find.entries.push_back({NameOf(node->path), node->shortName, node->attributes,
                            node->folder ? 0 : node->content.size()});
  FillFindData(find, data);
  uintptr_t handle = m_nNextFind++;
  m_finds[handle] = find;
  return reinterpret_cast<HANDLE>(handle);
}

BOOL CSimMachine::FindNextFileA(HANDLE handle, WIN32_FIND_DATAA* data) {
  Record("FindNextFileA()");
  auto it = m_finds.find(reinterpret_cast<uintptr_t>(handle));
  if (it == m_finds.end()) return Fail(ERROR_INVALID_HANDLE);
  Find& find = it->second;
  if (find.next + 1 >= find.entries.size()) return Fail(ERROR_NO_MORE_FILES);
  ++find.next;
  FillFindData(find, data);
  return TRUE;
}

BOOL CSimMachine::FindClose(HANDLE handle) {
  Record("FindClose()");
  if (m_finds.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

// ---------------------------------------------------------------- open files

bool CSimMachine::SharingConflict(const Node& node, DWORD access, DWORD share) const {
  if (node.locked) return true;
  std::vector<std::pair<DWORD, DWORD>> opens = node.otherOpens;
  std::string key = Upper(node.path);
  for (const auto& file : m_files)
    if (file.second.key == key) opens.push_back({file.second.access, file.second.share});
  for (const auto& open : opens) {
    if (((access & GENERIC_READ) && !(open.second & FILE_SHARE_READ)) ||
        ((access & GENERIC_WRITE) && !(open.second & FILE_SHARE_WRITE)) ||
        (!access && !(open.second & FILE_SHARE_DELETE)) ||
        (!open.first && !(share & FILE_SHARE_DELETE)) ||
        ((open.first & GENERIC_READ) && !(share & FILE_SHARE_READ)) ||
        ((open.first & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)))
      return true;
  }
  return false;
}

bool CSimMachine::WritesDenied(const std::string& fullPath) const {
  return m_deniedFolders.count(Upper(ParentOf(fullPath))) > 0;
}

CSimMachine::OpenFile* CSimMachine::FileOf(HANDLE handle) {
  auto it = m_files.find(reinterpret_cast<uintptr_t>(handle));
  return it == m_files.end() ? nullptr : &it->second;
}

HANDLE CSimMachine::CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES*,
                                DWORD disposition, DWORD flags, HANDLE) {
  Record("CreateFileA(" + Text(name) + ", " + Number(access) + ", " + Number(shareMode) + ", " +
         Number(disposition) + ")");
  if (TooLong(name)) return Fail(ERROR_FILENAME_EXCED_RANGE), INVALID_HANDLE_VALUE;
  std::string full = Resolve(name);
  const Node* parent = NodeAt(ParentOf(full));
  if (!parent || !parent->folder) return Fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
  // A junction at the end is followed unless its own name is asked for.
  Node* node = flags & FILE_FLAG_OPEN_REPARSE_POINT ? LinkAt(full) : NodeAt(full);
  if (!node && LinkAt(full)) return Fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
  // A folder opens only as such, for reading what it holds.
  bool folder = node && node->folder;
  if (folder && (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || disposition != OPEN_EXISTING ||
                 (access & GENERIC_WRITE)))
    return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
  if (node && node->deletePending) return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
  // A new file needs FILE_ADD_FILE in its folder (NT), as the folder's DACL
  // grants it to an administrator.
  if (!node && m_version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    std::string owner, dacl;
    bool present = true;
    EffectiveSecurity(ParentOf(full), &owner, &dacl, &present);
    if (!(AdministratorAccess(dacl, present) & 0x2) && disposition != OPEN_EXISTING)
      return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
  }
  if (!node && disposition == OPEN_EXISTING) return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
  if (node && disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS), INVALID_HANDLE_VALUE;
  if ((access & GENERIC_WRITE) &&
      (WritesDenied(full) || (node && (node->attributes & FILE_ATTRIBUTE_READONLY))))
    return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
  if (node && SharingConflict(*node, access, shareMode))
    return Fail(ERROR_SHARING_VIOLATION), INVALID_HANDLE_VALUE;
  bool existed = node != nullptr;
  if (!node) node = &MakeNode(full, false);
  if (disposition == CREATE_ALWAYS) {
    node->content.clear();
    SyncLinks(*node);
  }
  uintptr_t handle = m_nNextFile++;
  m_files[handle] = OpenFile{Upper(node->path), access, shareMode};
  m_nLastError = existed && disposition != OPEN_EXISTING ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
  return reinterpret_cast<HANDLE>(handle);
}

DWORD CSimMachine::SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
  Record("SetFilePointer(" + Number(static_cast<uint32_t>(distance)) + ", " + Number(method) + ")");
  OpenFile* open = FileOf(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE), INVALID_SET_FILE_POINTER;
  if (distanceHigh) *distanceHigh = 0;
  size_t base = method == FILE_END ? m_nodes[open->key].content.size()
                : method == FILE_BEGIN ? 0 : open->position;
  if (distance < 0 && static_cast<size_t>(-distance) > base)
    return Fail(ERROR_INVALID_PARAMETER), INVALID_SET_FILE_POINTER;
  open->position = base + distance;
  return static_cast<DWORD>(open->position);
}

DWORD CSimMachine::GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  Record("GetFileSize()");
  OpenFile* open = FileOf(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE), INVALID_FILE_SIZE;
  if (sizeHigh) *sizeHigh = 0;
  return static_cast<DWORD>(m_nodes[open->key].content.size());
}

// A write that fails writes nothing here (Windows may leave part of it).
BOOL CSimMachine::WriteFile(HANDLE file, const void* data, DWORD size, LPDWORD written,
                            OVERLAPPED*) {
  Record("WriteFile(" + Number(size) + ")");
  if (written) *written = 0;
  OpenFile* open = FileOf(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE);
  if (!(open->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  if (m_nWriteRefusal) return Fail(m_nWriteRefusal);
  Node& node = m_nodes[open->key];
  std::string& content = node.content;
  if (node.flushed == std::string::npos) node.flushed = content.size();
  if (content.size() < open->position) content.resize(open->position, '\0');
  content.replace(open->position, size, static_cast<const char*>(data), size);
  open->position += size;
  SyncLinks(node);
  if (written) *written = size;
  return TRUE;
}

// A handle without read access reads nothing; at the end a read succeeds with 0 bytes.
BOOL CSimMachine::ReadFile(HANDLE file, void* buffer, DWORD size, LPDWORD read, OVERLAPPED*) {
  Record("ReadFile(" + Number(size) + ")");
  if (read) *read = 0;
  OpenFile* open = FileOf(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE);
  if (!(open->access & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
  const std::string& content = m_nodes[open->key].content;
  size_t count = open->position < content.size()
                     ? std::min(static_cast<size_t>(size), content.size() - open->position)
                     : 0;
  memcpy(buffer, content.data() + open->position, count);
  open->position += count;
  if (read) *read = static_cast<DWORD>(count);
  return TRUE;
}

BOOL CSimMachine::FlushFileBuffers(HANDLE file) {
  Record("FlushFileBuffers()");
  OpenFile* open = FileOf(file);
  if (!open) return Fail(ERROR_INVALID_HANDLE);
  if (!(open->access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  ++m_nFlushes;
  m_nodes[open->key].flushed = std::string::npos;
  return TRUE;
}

// MoveFile renames read-only files too, but not onto an existing name (one
// that a file marked for deletion keeps included), and not while a process
// has the file open without FILE_SHARE_DELETE; a folder moves with all it
// holds, but not while a file below it is open. A junction's own name moves,
// not its target. The handles open on it stay open on the new name. The image
// of a running process is mapped, yet its name may change.
BOOL CSimMachine::MoveFileA(LPCSTR existing, LPCSTR newName) {
  Record("MoveFileA(" + Text(existing) + ", " + Text(newName) + ")");
  return Move(existing, newName, 0);
}

// With MOVEFILE_REPLACE_EXISTING a file takes the place of another file's
// name (never a folder's, nor a read-only or open one's): the name is
// replaced, and another name of the file it held keeps that file. With
// MOVEFILE_DELAY_UNTIL_REBOOT and no new name the file goes at the restart.
BOOL CSimMachine::MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) {
  Record("MoveFileExA(" + Text(existing) + ", " + Text(newName) + ", " + Number(flags) + ")");
  if (!newName && flags == MOVEFILE_DELAY_UNTIL_REBOOT) {
    if (!LinkAt(existing)) return Fail(ERROR_FILE_NOT_FOUND);
    m_deletesAtRestart.push_back(existing);
    return TRUE;
  }
  if (!newName || (flags & ~MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_INVALID_PARAMETER);
  return Move(existing, newName, flags);
}

BOOL CSimMachine::Move(LPCSTR existing, LPCSTR newName, DWORD flags) {
  if (!existing || !newName || TooLong(existing) || TooLong(newName))
    return Fail(ERROR_FILENAME_EXCED_RANGE);
  Node* from = LinkAt(existing);
  if (!from) return Fail(ERROR_FILE_NOT_FOUND);
  if (from->deletePending) return Fail(ERROR_ACCESS_DENIED);
  std::string oldPath = from->path;
  std::string to = Resolve(newName);
  if (Node* taken = LinkAt(to)) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
    if (taken->folder || from->folder || taken == from ||
        (taken->attributes & FILE_ATTRIBUTE_READONLY) || SharingConflict(*taken, 0, kShareAll) ||
        IsRunningImage(taken->path))
      return Fail(ERROR_ACCESS_DENIED);
  }
  const Node* parent = NodeAt(ParentOf(to));
  if (!parent || !parent->folder) return Fail(ERROR_PATH_NOT_FOUND);
  if (WritesDenied(to) || WritesDenied(oldPath)) return Fail(ERROR_ACCESS_DENIED);
  if (SharingConflict(*from, 0, kShareAll)) return Fail(ERROR_SHARING_VIOLATION);
  std::string below = Upper(oldPath) + "\\";
  if (from->folder && from->target.empty()) {
    for (const auto& file : m_files)
      if (file.second.key.compare(0, below.size(), below) == 0) return Fail(ERROR_ACCESS_DENIED);
  }
  if (LinkAt(to)) EraseNode(Resolve(to));
  // The name and, for a folder, every name below it.
  std::vector<std::pair<std::string, Node>> moved;
  for (const auto& entry : m_nodes)
    if (entry.first == Upper(oldPath) ||
        (from->folder && from->target.empty() && entry.first.compare(0, below.size(), below) == 0))
      moved.push_back({entry.second.path, entry.second});
  for (const auto& entry : moved) EraseNode(entry.first);
  for (const auto& entry : moved) {
    std::string path = to + entry.first.substr(oldPath.size());
    Node& node = MakeNode(path, entry.second.folder);
    std::string shortName = node.shortName;
    uint64_t order = node.order;
    node = entry.second;
    node.path = path;
    node.shortName = shortName;
    node.order = order;
  }
  std::string oldKey = Upper(oldPath);
  for (auto& file : m_files) {
    if (file.second.key == oldKey || file.second.key.compare(0, below.size(), below) == 0)
      file.second.key = Upper(to) + file.second.key.substr(oldKey.size());
  }
  for (ProcessStart& process : m_processes) {
    if (!process.ended && Upper(Resolve(process.application)).compare(0, oldKey.size(), oldKey) == 0 &&
        (Upper(Resolve(process.application)).size() == oldKey.size() ||
         Upper(Resolve(process.application))[oldKey.size()] == '\\'))
      process.application = to + Resolve(process.application).substr(oldKey.size());
  }
  return TRUE;
}

// An empty folder, or a junction's own name; not while another process holds
// it without sharing deleting.
BOOL CSimMachine::RemoveDirectoryA(LPCSTR path) {
  Record("RemoveDirectoryA(" + Text(path) + ")");
  if (!path || TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE);
  Node* node = LinkAt(path);
  if (!node) return Fail(ERROR_FILE_NOT_FOUND);
  if (!node->folder) return Fail(ERROR_DIRECTORY);
  std::string below = Upper(node->path) + "\\";
  if (node->target.empty()) {
    for (const auto& entry : m_nodes)
      if (entry.first.compare(0, below.size(), below) == 0) return Fail(ERROR_DIR_NOT_EMPTY);
  }
  if (SharingConflict(*node, 0, kShareAll)) return Fail(ERROR_SHARING_VIOLATION);
  if (!node->target.empty()) --m_nJunctions;
  EraseNode(node->path);
  return TRUE;
}

// What a handle holds: its attributes (a junction's own, where opened as
// such), size and its count of names.
BOOL CSimMachine::GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  Record("GetFileInformationByHandle()");
  OpenFile* open = FileOf(file);
  if (!open || !info) return Fail(ERROR_INVALID_HANDLE);
  const Node& node = m_nodes[open->key];
  memset(info, 0, sizeof(*info));
  info->dwFileAttributes = node.attributes;
  info->dwVolumeSerialNumber = 0x1234ABCD;
  info->nFileSizeLow = static_cast<DWORD>(node.content.size());
  info->nNumberOfLinks = LinkCount(node);
  info->nFileIndexLow = static_cast<DWORD>(node.linkGroup ? node.linkGroup : node.order);
  return TRUE;
}

// FILE_PERSISTENT_ACLS (8) for NTFS; FAT keeps no security.
BOOL CSimMachine::GetVolumeInformationA(LPCSTR root, LPSTR, DWORD, LPDWORD, LPDWORD,
                                        LPDWORD flags, LPSTR, DWORD) {
  Record("GetVolumeInformationA(" + Text(root) + ")");
  if (!root || !NodeAt(root)) return Fail(ERROR_PATH_NOT_FOUND);
  if (m_bFailVolume) return Fail(ERROR_ACCESS_DENIED);
  if (flags) *flags = m_bFat ? 0x2 : 0x2 | 0x8;  // case-preserved names, persistent ACLs
  return TRUE;
}
