// The simulated machine: identity, paths, configuration and system calls.
// Files, services, registry and the setup library each have a file of their own.
#include "platform/sim/sim_internal.h"

#include <string.h>

using sim::Number;
using sim::Text;

namespace {

CSimMachine* g_pActive = nullptr;

// The process's platform before any test activates a machine: static
// construction of the setup state asks it for the version block.
CSimMachine& DefaultMachine() {
  static CSimMachine machine;
  return machine;
}

}  // namespace

PlatformLayer& GetPlatform() { return g_pActive ? *g_pActive : DefaultMachine(); }

CSimMachine::CSimMachine() {
  memset(&m_version, 0, sizeof(m_version));
  SetWinXp();
  SetWindowsDir("C:\\WINDOWS");
  SetProgramPath("C:\\setup\\setup.exe");
  m_strCurrentDir = "C:\\";
}

CSimMachine::~CSimMachine() {
  if (g_pActive == this) g_pActive = nullptr;
}

void CSimMachine::Activate() { g_pActive = this; }

// ---------------------------------------------------------------- paths

bool CSimMachine::IsLeadByte(unsigned char value) const {
  return m_bCodePage932 && ((value >= 0x81 && value <= 0x9F) || (value >= 0xE0 && value <= 0xFC));
}

std::string CSimMachine::Upper(const std::string& text) const {
  std::string upper = text;
  for (size_t i = 0; i < upper.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(upper[i]);
    if (IsLeadByte(c) && i + 1 < upper.size()) {
      ++i;  // the trail byte is part of the character, not a letter
      continue;
    }
    if (c >= 'a' && c <= 'z') upper[i] = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

size_t CSimMachine::LastSeparator(const std::string& path) const {
  size_t found = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (path[i] == '\\') found = i;
  }
  return found;
}

std::string CSimMachine::Resolve(const std::string& path) const {
  std::string full;
  if (path.size() == 2 && path[1] == ':') {
    // "X:" alone is drive X's current folder.
    full = Upper(m_strCurrentDir.substr(0, 2)) == Upper(path) ? m_strCurrentDir : path + "\\";
  } else if (sim::IsAbsolute(path)) {
    full = path;
  } else if (!path.empty() && path[0] == '\\') {
    full = m_strCurrentDir.substr(0, 2) + path;
  } else {
    full = m_strCurrentDir;
    if (full.empty() || LastSeparator(full) != full.size() - 1)
      full += "\\";
    full += path;
  }
  while (full.size() > 2 && full.back() == '\\' &&
         LastSeparator(full) == full.size() - 1)
    full.pop_back();
  return full;
}

std::string CSimMachine::ParentOf(const std::string& fullPath) const {
  size_t separator = LastSeparator(fullPath);
  if (separator == std::string::npos) return std::string();
  // The root keeps its "\": "X:" alone would mean drive X's current folder.
  return fullPath.substr(0, separator == 2 && fullPath[1] == ':' ? 3 : separator);
}

std::string CSimMachine::NameOf(const std::string& fullPath) const {
  size_t separator = LastSeparator(fullPath);
  return separator == std::string::npos ? fullPath : fullPath.substr(separator + 1);
}

CSimMachine::Node* CSimMachine::NodeAt(const std::string& path) {
  auto it = m_nodes.find(Upper(Resolve(path)));
  return it == m_nodes.end() ? nullptr : &it->second;
}

const CSimMachine::Node* CSimMachine::NodeAt(const std::string& path) const {
  auto it = m_nodes.find(Upper(Resolve(path)));
  return it == m_nodes.end() ? nullptr : &it->second;
}

CSimMachine::Node& CSimMachine::MakeNode(const std::string& fullPath, bool folder) {
  Node& node = m_nodes[Upper(fullPath)];
  if (node.order == 0) {
    node.path = fullPath;
    node.order = m_nNextOrder++;
  }
  node.folder = folder;
  return node;
}

bool CSimMachine::Fail(DWORD error) {
  m_nLastError = error;
  return false;
}

// ---------------------------------------------------------------- configuration

void CSimMachine::SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build) {
  m_version.dwPlatformId = platformId;
  m_version.dwMajorVersion = major;
  m_version.dwMinorVersion = minor;
  m_version.dwBuildNumber = build;
}

void CSimMachine::SetWindowsDir(const std::string& path) {
  m_strWindowsDir = path;
  AddFolder(path + "\\System32\\Drivers");
  AddFolder(path + "\\Inf");
}

void CSimMachine::SetProgramPath(const std::string& path) {
  m_strProgramPath = path;
  std::string folder = ParentOf(path);
  if (!folder.empty()) AddFolder(folder);
}

void CSimMachine::AddFolder(const std::string& path) {
  std::string full = Resolve(path);
  std::string parent = ParentOf(full);
  if (!parent.empty() && Upper(Resolve(parent)) != Upper(full)) AddFolder(parent);
  MakeNode(full, true);
}

void CSimMachine::AddFile(const std::string& path, const std::string& content) {
  std::string full = Resolve(path);
  AddFolder(ParentOf(full));
  MakeNode(full, false).content = content;
}

void CSimMachine::RemovePath(const std::string& path) { m_nodes.erase(Upper(Resolve(path))); }

bool CSimMachine::FileExists(const std::string& path) const {
  const Node* node = NodeAt(path);
  return node && !node->folder;
}

bool CSimMachine::FolderExists(const std::string& path) const {
  const Node* node = NodeAt(path);
  return node && node->folder;
}

std::string CSimMachine::FileContent(const std::string& path) const {
  const Node* node = NodeAt(path);
  return node ? node->content : std::string();
}

std::vector<std::string> CSimMachine::FilesBelow(const std::string& folder) const {
  std::string prefix = Upper(Resolve(folder)) + "\\";
  std::vector<std::string> names;
  for (const auto& entry : m_nodes)
    if (entry.first.compare(0, prefix.size(), prefix) == 0) names.push_back(entry.second.path);
  return names;
}

void CSimMachine::FailCopyTo(const std::string& destination, DWORD error) {
  m_copyFaults[Upper(Resolve(destination))] = error;
}

void CSimMachine::FailCreateDirectory(const std::string& path, DWORD error) {
  m_createFaults[Upper(Resolve(path))] = error;
}

void CSimMachine::LockFile(const std::string& path) {
  if (Node* node = NodeAt(path)) node->locked = true;
}

std::vector<std::string> CSimMachine::LogOf(const std::string& function) const {
  std::vector<std::string> calls;
  for (const std::string& call : m_log)
    if (call.compare(0, function.size() + 1, function + "(") == 0) calls.push_back(call);
  return calls;
}

// ---------------------------------------------------------------- system

BOOL CSimMachine::GetVersionExA(OSVERSIONINFOA* info) {
  Record("GetVersionExA(" + Number(info->dwOSVersionInfoSize) + ")");
  if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) return Fail(ERROR_INVALID_PARAMETER);
  if (m_bFailVersion) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  *info = m_version;
  info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  return TRUE;
}

UINT CSimMachine::GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  Record("GetWindowsDirectoryA(" + Number(size) + ")");
  UINT length = static_cast<UINT>(m_strWindowsDir.size());
  if (length >= size) return length + 1;  // too small: the size it needs
  memcpy(buffer, m_strWindowsDir.c_str(), length + 1);
  return length;
}

DWORD CSimMachine::GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  Record("GetModuleFileNameA(" + std::string(module ? "module" : "null") + ", " + Number(size) +
         ")");
  DWORD length = static_cast<DWORD>(m_strProgramPath.size());
  if (length >= size) {
    // As Windows XP does: the buffer is filled to the brim and not terminated.
    memcpy(buffer, m_strProgramPath.c_str(), size);
    m_nLastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  memcpy(buffer, m_strProgramPath.c_str(), length + 1);
  return length;
}

BOOL CSimMachine::SetCurrentDirectoryA(LPCSTR path) {
  Record("SetCurrentDirectoryA(" + Text(path) + ")");
  const Node* node = NodeAt(path);
  if (!node) return Fail(ERROR_FILE_NOT_FOUND);
  if (!node->folder) return Fail(ERROR_DIRECTORY);
  m_strCurrentDir = node->path;
  if (m_strCurrentDir.size() == 2) m_strCurrentDir += "\\";
  return TRUE;
}

void CSimMachine::GetSystemInfo(SYSTEM_INFO* info) {
  Record("GetSystemInfo()");
  ++m_nSystemInfoCalls;
  memset(info, 0, sizeof(*info));
  info->dwPageSize = 4096;
  info->dwNumberOfProcessors = m_nProcessors;
}

BOOL CSimMachine::CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES* security) {
  Record("CreateDirectoryA(" + Text(path) + ", " + (security ? "security" : "null") + ")");
  std::string full = Resolve(path);
  auto fault = m_createFaults.find(Upper(full));
  if (fault != m_createFaults.end()) return Fail(fault->second);
  if (NodeAt(full)) return Fail(ERROR_ALREADY_EXISTS);  // a file counts too
  const Node* parent = NodeAt(ParentOf(full));
  if (!parent || !parent->folder) return Fail(ERROR_PATH_NOT_FOUND);
  MakeNode(full, true);
  return TRUE;
}

BOOL CSimMachine::IsDBCSLeadByte(BYTE value) { return IsLeadByte(value); }

int CSimMachine::MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  Record("MessageBoxA(" + Text(text) + ", " + Text(caption) + ")");
  m_messageBoxes.push_back({owner, text ? text : "", caption ? caption : "", type});
  return 1;  // IDOK
}
