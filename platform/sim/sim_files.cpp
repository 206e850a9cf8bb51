// The simulated machine's files and folders.
#include "platform/sim/sim_internal.h"

#include <string.h>

#include <algorithm>

using sim::Number;
using sim::Text;

// Windows' CopyFile: the new file takes the source's attributes; onto an
// existing read-only or hidden file it fails with ERROR_ACCESS_DENIED, and so
// onto a system file (it creates the destination as CreateFile with
// CREATE_ALWAYS does, which refuses hidden and system files); a file copied
// onto itself is refused (it is open for reading and writing at once).
BOOL CSimMachine::CopyFileA(LPCSTR source, LPCSTR destination, BOOL failIfExists) {
  Record("CopyFileA(" + Text(source) + ", " + Text(destination) + ", " + Number(failIfExists) +
         ")");
  if (TooLong(source) || TooLong(destination)) return Fail(ERROR_FILENAME_EXCED_RANGE);
  const Node* from = NodeAt(source);
  if (!from) return Fail(ERROR_FILE_NOT_FOUND);
  if (from->folder) return Fail(ERROR_ACCESS_DENIED);
  std::string to = Resolve(destination);
  auto fault = m_copyFaults.find(Upper(to));
  if (fault != m_copyFaults.end()) return Fail(fault->second);
  const Node* parent = NodeAt(ParentOf(to));
  if (!parent || !parent->folder) return Fail(ERROR_PATH_NOT_FOUND);
  if (Node* existing = NodeAt(to)) {
    if (existing->folder) return Fail(ERROR_ACCESS_DENIED);
    if (failIfExists) return Fail(ERROR_FILE_EXISTS);
    if (existing == from || existing->locked) return Fail(ERROR_SHARING_VIOLATION);
    if (existing->attributes &
        (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
      return Fail(ERROR_ACCESS_DENIED);
  }
  std::string content = from->content;
  DWORD attributes = from->attributes;
  Node& copy = MakeNode(to, false);
  copy.content = content;
  copy.attributes = attributes;
  return TRUE;
}

// Windows' DeleteFile refuses a read-only file with ERROR_ACCESS_DENIED.
BOOL CSimMachine::DeleteFileA(LPCSTR path) {
  Record("DeleteFileA(" + Text(path) + ")");
  if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE);
  Node* node = NodeAt(path);
  if (!node) return Fail(ERROR_FILE_NOT_FOUND);
  if (node->folder || (node->attributes & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
  if (node->locked) return Fail(ERROR_SHARING_VIOLATION);
  EraseNode(Resolve(path));
  return TRUE;
}

DWORD CSimMachine::GetFileAttributesA(LPCSTR path) {
  Record("GetFileAttributesA(" + Text(path) + ")");
  if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE), INVALID_FILE_ATTRIBUTES;
  const Node* node = NodeAt(path);
  if (!node) {
    const Node* parent = NodeAt(ParentOf(Resolve(path)));
    return Fail(parent && parent->folder ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND),
           INVALID_FILE_ATTRIBUTES;
  }
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
    find.entries.push_back({NameOf(node->path), node->shortName, node->attributes});
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
