// The simulated machine's files and folders.
#include "platform/sim/sim_internal.h"

#include <string.h>

using sim::Number;
using sim::Text;

#include <algorithm>

// ---------------------------------------------------------------- files

BOOL CSimMachine::CopyFileA(LPCSTR source, LPCSTR destination, BOOL failIfExists) {
  Record("CopyFileA(" + Text(source) + ", " + Text(destination) + ", " + Number(failIfExists) +
         ")");
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
    if (existing->locked) return Fail(ERROR_SHARING_VIOLATION);
    if (existing == from) return TRUE;
  }
  std::string content = from->content;
  MakeNode(to, false).content = content;
  return TRUE;
}

BOOL CSimMachine::DeleteFileA(LPCSTR path) {
  Record("DeleteFileA(" + Text(path) + ")");
  Node* node = NodeAt(path);
  if (!node) return Fail(ERROR_FILE_NOT_FOUND);
  if (node->folder) return Fail(ERROR_ACCESS_DENIED);
  if (node->locked) return Fail(ERROR_SHARING_VIOLATION);
  m_nodes.erase(Upper(Resolve(path)));
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
  const std::string& name = find.names[find.next];
  data->dwFileAttributes =
      find.folders[find.next] ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  size_t length = std::min(name.size(), static_cast<size_t>(MAX_PATH - 1));
  memcpy(data->cFileName, name.c_str(), length);
}

HANDLE CSimMachine::FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
  Record("FindFirstFileA(" + Text(pattern) + ")");
  std::string full = Resolve(pattern);
  std::string folder = ParentOf(full);
  std::string wildcard = Upper(NameOf(full));
  const Node* parent = NodeAt(folder);
  if (!parent || !parent->folder) return Fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;

  std::vector<const Node*> matches;
  std::string folderKey = Upper(Resolve(folder));
  for (const auto& entry : m_nodes) {
    if (Upper(Resolve(ParentOf(entry.second.path))) != folderKey) continue;
    if (WildcardMatch(wildcard.c_str(), Upper(NameOf(entry.second.path)).c_str()))
      matches.push_back(&entry.second);
  }
  if (matches.empty()) return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
  // The order files were made in: tests lay packages out in the order they expect.
  std::sort(matches.begin(), matches.end(),
            [](const Node* a, const Node* b) { return a->order < b->order; });
  Find find;
  for (const Node* node : matches) {
    find.names.push_back(NameOf(node->path));
    find.folders.push_back(node->folder);
  }
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
  if (find.next + 1 >= find.names.size()) return Fail(ERROR_NO_MORE_FILES);
  ++find.next;
  FillFindData(find, data);
  return TRUE;
}

BOOL CSimMachine::FindClose(HANDLE handle) {
  Record("FindClose()");
  if (m_finds.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}
