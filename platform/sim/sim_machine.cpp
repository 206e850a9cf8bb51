// The simulated machine: identity, paths, configuration and system calls.
// Files, services, registry and the setup library each have a file of their own.
#include "platform/sim/sim_internal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <iterator>

using sim::Number;
using sim::Text;

namespace {

PlatformLayer* g_pActive = nullptr;

// The process's platform before any test activates a machine: static
// construction of the setup state asks it for the version block.
CSimMachine& DefaultMachine() {
  static CSimMachine machine;
  return machine;
}

}  // namespace

PlatformLayer& GetPlatform() {
  if (g_pActive) return *g_pActive;
  return DefaultMachine();
}

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

void sim::ActivatePlatform(PlatformLayer* platform) { g_pActive = platform; }
bool sim::IsActivePlatform(const PlatformLayer* platform) { return g_pActive == platform; }

std::unique_ptr<CSimMachine> CSimMachine::Clone() const {
  return std::unique_ptr<CSimMachine>(new CSimMachine(*this));
}

void CSimMachine::KillNow() {
  MarkKilled();
  throw Killed();
}

void CSimMachine::MarkKilled() { m_pBeforeKill.reset(new CSimMachine(*this)); }

// What reached the disk stays; a file's data written since its last flush
// is lost but for a torn first half of it, and the registry (the service
// database with it) is as it was before the run: Windows writes it back
// lazily, seconds later. The device installer's work is taken as one with
// the store's files it changed: which INF a device uses stays as the store
// does, never naming a package the store no longer holds.
void CSimMachine::LosePower(const CSimMachine& atStart) {
  for (auto& entry : m_nodes) {
    Node& node = entry.second;
    if (node.flushed == std::string::npos) continue;
    size_t kept = node.flushed + (node.content.size() - node.flushed) / 2;
    node.content.resize(std::min(kept, node.content.size()));
    node.flushed = std::string::npos;
    SyncLinks(node);
  }
  m_keys = atStart.m_keys;
  m_services = atStart.m_services;
  Restart();
}

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
  if (path.size() >= 2 && path[1] == ':' && (path.size() == 2 || path[2] != '\\')) {
    // "X:" alone is drive X's current folder, and "X:name" a name in it.
    std::string drive = path.substr(0, 2);
    full = Upper(m_strCurrentDir.substr(0, 2)) == Upper(drive) ? m_strCurrentDir : drive + "\\";
    if (path.size() > 2) {
      if (LastSeparator(full) != full.size() - 1) full += "\\";
      full += path.substr(2);
    }
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
  // "." and ".." go before the file system sees the path, as Windows takes
  // them out of every full path: "C:\\a\\..\\b" is "C:\\b".
  if (full.find("\\.") != std::string::npos) {
    size_t root = 2;  // "X:"
    if (full.compare(0, 2, "\\\\") == 0) {
      root = full.find('\\', 2);
      root = root == std::string::npos ? full.size() : full.find('\\', root + 1);
      if (root == std::string::npos) root = full.size();
    }
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = root + 1; i <= full.size(); ++i) {
      if (i < full.size() && IsLeadByte(static_cast<unsigned char>(full[i])) &&
          i + 1 < full.size()) {
        part += full.substr(i++, 2);
        continue;
      }
      if (i < full.size() && full[i] != '\\') {
        part += full[i];
        continue;
      }
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      part.clear();
    }
    std::string normal = full.substr(0, root);
    for (const std::string& name : parts) normal += "\\" + name;
    full = normal;
  }
  // A junction on the way is followed: what lies below it lies below its target.
  int followed = 0;
  for (size_t at = 3; m_nJunctions && at < full.size() && followed < 32; ++at) {
    if (full[at] != '\\') continue;
    auto it = m_nodes.find(Upper(full.substr(0, at)));
    if (it == m_nodes.end() || it->second.target.empty()) continue;
    full = it->second.target + full.substr(at);
    at = 2;
    ++followed;
  }
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

CSimMachine::Node* CSimMachine::LinkAt(const std::string& path) {
  auto it = m_nodes.find(Upper(Resolve(path)));
  return it == m_nodes.end() ? nullptr : &it->second;
}

const CSimMachine::Node* CSimMachine::LinkAt(const std::string& path) const {
  auto it = m_nodes.find(Upper(Resolve(path)));
  return it == m_nodes.end() ? nullptr : &it->second;
}

CSimMachine::Node* CSimMachine::NodeAt(const std::string& path) {
  return const_cast<Node*>(static_cast<const CSimMachine*>(this)->NodeAt(path));
}

const CSimMachine::Node* CSimMachine::NodeAt(const std::string& path) const {
  const Node* node = LinkAt(path);
  for (int depth = 0; node && !node->target.empty() && depth < 32; ++depth)
    node = LinkAt(node->target);
  return node && node->target.empty() ? node : nullptr;
}

void CSimMachine::SyncLinks(const Node& changed) {
  if (!changed.linkGroup) return;
  for (auto& entry : m_nodes) {
    Node& other = entry.second;
    if (other.linkGroup != changed.linkGroup || &other == &changed) continue;
    other.content = changed.content;
    other.attributes = changed.attributes;
    other.ownerSid = changed.ownerSid;
    other.dacl = changed.dacl;
    other.daclPresent = changed.daclPresent;
  }
}

DWORD CSimMachine::LinkCount(const Node& node) const {
  if (!node.linkGroup) return 1;
  DWORD count = 0;
  for (const auto& entry : m_nodes) count += entry.second.linkGroup == node.linkGroup;
  return count;
}

CSimMachine::Node& CSimMachine::MakeNode(const std::string& fullPath, bool folder) {
  Node& node = m_nodes[Upper(fullPath)];
  if (node.order == 0) {
    node.path = fullPath;
    node.order = m_nNextOrder++;
    node.attributes = folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    node.shortName = MakeShortName(fullPath);
    if (!node.shortName.empty())
      m_shortNames.insert(Upper(ParentOf(fullPath) + "\\" + node.shortName));
  }
  node.folder = folder;
  return node;
}

void CSimMachine::EraseNode(const std::string& fullPath) {
  auto it = m_nodes.find(Upper(fullPath));
  if (it == m_nodes.end()) return;
  if (!it->second.shortName.empty())
    m_shortNames.erase(Upper(ParentOf(fullPath) + "\\" + it->second.shortName));
  m_nodes.erase(it);
}

// The 8.3 name Windows gives a long name: up to six characters of the name
// without blanks and dots, "~N" unique in the folder, and the first three
// characters of the extension, in capitals; none when the name is 8.3 itself.
std::string CSimMachine::MakeShortName(const std::string& fullPath) const {
  std::string name = NameOf(fullPath);
  size_t dot = name.rfind('.');
  std::string base = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  std::string extension = base.size() == name.size() ? "" : name.substr(dot + 1);
  auto legal = [](const std::string& part) {
    return part.find_first_of(" .+,;=[]") == std::string::npos;
  };
  if (!m_bShortNames || (!base.empty() && base.size() <= 8 && extension.size() <= 3 &&
                         legal(base) && legal(extension)))
    return "";
  auto shorten = [this](const std::string& part, size_t room) {
    std::string kept;
    for (size_t i = 0; i < part.size() && kept.size() < room; ++i) {
      unsigned char c = static_cast<unsigned char>(part[i]);
      if (c == ' ' || c == '.') continue;
      if (IsLeadByte(c) && i + 1 < part.size()) {
        if (kept.size() + 2 > room) break;  // a double-byte character stays whole
        kept += part.substr(i++, 2);
        continue;
      }
      kept += std::string(1, c && strchr("+,;=[]", c) ? '_' : static_cast<char>(c));
    }
    return Upper(kept);
  };
  std::string folder = Upper(ParentOf(fullPath)) + "\\";
  std::string tail = extension.empty() ? "" : "." + shorten(extension, 3);
  for (int number = 1;; ++number) {
    std::string suffix = "~" + std::to_string(number);
    std::string candidate = shorten(base, 8 - suffix.size());
    candidate += suffix;
    candidate += tail;
    std::string key = folder + candidate;
    if (!m_shortNames.count(key) && !m_nodes.count(key)) return candidate;
  }
}

bool CSimMachine::TooLong(const std::string& path, size_t limit) const {
  return path.size() >= limit || Resolve(path).size() >= limit;
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
  if (!NodeAt(path)) AddFile(path, "MZ the program " + path);
}

void CSimMachine::Restart() {
  for (const std::string& path : m_deletesAtRestart) EraseNode(Resolve(path));
  m_deletesAtRestart.clear();
  m_mutexes.clear();
  m_mutexHandles.clear();
  m_processHandles.clear();
  m_serviceHandles.clear();
  m_keyHandles.clear();
  m_finds.clear();
  m_files.clear();
  for (auto& entry : m_nodes) entry.second.otherOpens.clear();
  for (auto it = m_services.begin(); it != m_services.end();) {
    Service& service = it->second;
    service.openHandles = 0;
    if (service.markedForDelete) {
      DeleteServiceNow(it++);
      continue;
    }
    bool starts = service.startType <= SERVICE_AUTO_START && !service.startError;
    service.state = starts ? SERVICE_RUNNING : SERVICE_STOPPED;
    ++it;
  }
  for (auto& entry : m_nodes) entry.second.locked = false;
  DropDeletedFiles();
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

void CSimMachine::RemovePath(const std::string& path) { EraseNode(Resolve(path)); }

void CSimMachine::AddJunction(const std::string& path, const std::string& target) {
  std::string full = Resolve(path);
  AddFolder(ParentOf(full));
  Node& link = MakeNode(full, true);
  link.target = Resolve(target);
  link.attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  ++m_nJunctions;
}

void CSimMachine::AddHardLink(const std::string& existing, const std::string& path) {
  Node* file = NodeAt(existing);
  if (!file || file->folder) return;
  if (!file->linkGroup) file->linkGroup = m_nNextLinkGroup++;
  Node copy = *file;
  std::string full = Resolve(path);
  AddFolder(ParentOf(full));
  Node& link = MakeNode(full, false);
  link.content = copy.content;
  link.attributes = copy.attributes;
  link.ownerSid = copy.ownerSid;
  link.dacl = copy.dacl;
  link.daclPresent = copy.daclPresent;
  link.linkGroup = copy.linkGroup;
}

void CSimMachine::LockFileFor(const std::string& path, DWORD milliseconds) {
  if (Node* node = NodeAt(path)) {
    node->locked = true;
    node->unlockAt = m_nTickCount + milliseconds;
  }
}

bool CSimMachine::FileExists(const std::string& path) const {
  const Node* node = NodeAt(path);
  return node && !node->folder;
}

bool CSimMachine::FolderExists(const std::string& path) const {
  const Node* node = NodeAt(path);
  return node && node->folder;
}

DWORD CSimMachine::Attributes(const std::string& path) const {
  const Node* node = NodeAt(path);
  return node ? node->attributes : INVALID_FILE_ATTRIBUTES;
}

void CSimMachine::SetAttributes(const std::string& path, DWORD attributes) {
  if (Node* node = NodeAt(path)) node->attributes = attributes;
}

std::string CSimMachine::ShortName(const std::string& path) const {
  const Node* node = NodeAt(path);
  return node ? node->shortName : std::string();
}

std::string CSimMachine::FileContent(const std::string& path) const {
  const Node* node = NodeAt(path);
  return node ? node->content : std::string();
}

std::vector<std::string> CSimMachine::AllPaths() const {
  std::vector<std::string> paths;
  for (const auto& entry : m_nodes) paths.push_back(entry.second.path);
  return paths;
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

void CSimMachine::OpenElsewhere(const std::string& path, DWORD access, DWORD share) {
  if (Node* node = NodeAt(path)) node->otherOpens.push_back({access, share});
}

void CSimMachine::DenyWritesIn(const std::string& folder) {
  m_deniedFolders.insert(Upper(Resolve(folder)));
}

void CSimMachine::LockFile(const std::string& path) {
  if (Node* node = NodeAt(path)) node->locked = true;
}

void CSimMachine::Record(const std::string& call) {
  m_log.push_back(call);
  for (Hook& hook : m_hooks) {
    if (m_bInHook || !hook.countdown || call.compare(0, hook.function.size() + 1, hook.function + "(") != 0 ||
        --hook.countdown)
      continue;
    m_bInHook = true;
    hook.action(*this);
    m_bInHook = false;
  }
  if (!m_nKillCountdown || m_pBeforeKill) return;
  if (!m_strKillAt.empty() && call.compare(0, m_strKillAt.size() + 1, m_strKillAt + "(") != 0)
    return;
  if (--m_nKillCountdown) return;
  // The machine as it was before this call; what the unwinding does after
  // it is thrown away.
  m_pBeforeKill.reset(new CSimMachine(*this));
  throw Killed();
}

void CSimMachine::AtCall(const std::string& function, std::function<void(CSimMachine&)> action,
                         size_t nth) {
  m_hooks.push_back({function, nth, std::move(action)});
}

void CSimMachine::KillAt(const std::string& function, size_t nth) {
  m_strKillAt = function;
  m_nKillCountdown = nth;
}

void CSimMachine::EndKilledProcess() {
  if (!m_pBeforeKill) return;
  std::shared_ptr<CSimMachine> before = m_pBeforeKill;
  *this = *before;
  m_pBeforeKill.reset();
  m_nKillCountdown = 0;
  EndProcess();
}

void CSimMachine::EndProcess() {
  m_files.clear();
  m_finds.clear();
  m_keyHandles.clear();
  m_infs.clear();
  m_deviceSets.clear();
  m_restartAsked.clear();
  for (auto& entry : m_serviceHandles) {
    auto it = m_services.find(entry.second.serviceKey);
    if (entry.second.manager || it == m_services.end()) continue;
    if (--it->second.openHandles == 0 && it->second.markedForDelete &&
        it->second.state == SERVICE_STOPPED)
      DeleteServiceNow(it);
  }
  m_serviceHandles.clear();
  // Nobody else has a handle to a mutex it held: it goes with its handles.
  for (auto it = m_mutexes.begin(); it != m_mutexes.end();)
    it = it->second.holder == Mutex::kThisProcess ? m_mutexes.erase(it) : std::next(it);
  m_mutexHandles.clear();
  // A job that ends its processes on close takes them with it.
  for (ProcessStart& child : m_processes)
    if (child.killOnParentEnd) child.ended = true;
  m_processHandles.clear();
  m_processOf.clear();
  m_jobs.clear();
  m_bSetupLibraryLoaded = m_bNewdevLoaded = false;
  DropDeletedFiles();
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
  // The larger OSVERSIONINFOEXA from NT 4.0 SP6 on.
  DWORD size = info->dwOSVersionInfoSize;
  bool ex = size == sizeof(OSVERSIONINFOEXA) && m_version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
            m_version.dwMajorVersion >= 5;
  if (size != sizeof(OSVERSIONINFOA) && !ex) return Fail(ERROR_INVALID_PARAMETER);
  if (m_bFailVersion) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  *info = m_version;
  info->dwOSVersionInfoSize = size;
  if (ex) {
    OSVERSIONINFOEXA* more = reinterpret_cast<OSVERSIONINFOEXA*>(info);
    more->wServicePackMajor = more->wServicePackMinor = 0;
    more->wSuiteMask = m_nSuiteMask;
    more->wProductType = m_nProductType;
    more->wReserved = 0;
  }
  return TRUE;
}

// ntdll's RtlGetVersion exists from Windows 2000 on.
LONG CSimMachine::RtlGetVersion(RTL_OSVERSIONINFOW* info) {
  Record("RtlGetVersion()");
  if (m_version.dwPlatformId != VER_PLATFORM_WIN32_NT || m_version.dwMajorVersion < 5)
    return static_cast<LONG>(0xC000007A);  // STATUS_PROCEDURE_NOT_FOUND
  memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
  info->dwMajorVersion = m_trueVersion.major ? m_trueVersion.major : m_version.dwMajorVersion;
  info->dwMinorVersion = m_trueVersion.major ? m_trueVersion.minor : m_version.dwMinorVersion;
  info->dwBuildNumber = m_trueVersion.major ? m_trueVersion.build : m_version.dwBuildNumber;
  info->dwPlatformId = m_version.dwPlatformId;
  for (size_t i = 0; i < 127 && m_version.szCSDVersion[i]; ++i)
    info->szCSDVersion[i] = static_cast<unsigned char>(m_version.szCSDVersion[i]);
  return 0;
}

DWORD CSimMachine::FormatMessageA(DWORD flags, const void*, DWORD messageId, DWORD,
                                  LPSTR buffer, DWORD size, va_list*) {
  static const std::map<DWORD, const char*> kTexts = {
      {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
      {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
      {ERROR_ACCESS_DENIED, "Access is denied."},
      {ERROR_SHARING_VIOLATION,
       "The process cannot access the file because it is being used by another process."},
      {ERROR_FILE_EXISTS, "The file exists."},
      {ERROR_DISK_FULL, "There is not enough space on the disk."},
      {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
      {ERROR_SERVICE_DOES_NOT_EXIST, "The specified service does not exist as an installed service."},
      {ERROR_SERVICE_MARKED_FOR_DELETE, "The specified service has been marked for deletion."},
      {ERROR_SERVICE_EXISTS, "The specified service already exists."},
  };
  if (flags != (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS))
    return Fail(ERROR_INVALID_PARAMETER), 0;
  auto text = kTexts.find(messageId);
  if (text == kTexts.end()) return Fail(317), 0;  // ERROR_MR_MID_NOT_FOUND
  std::string message = std::string(text->second) + "\r\n";  // as Windows ends them
  if (message.size() + 1 > size) return Fail(ERROR_INSUFFICIENT_BUFFER), 0;
  memcpy(buffer, message.c_str(), message.size() + 1);
  return static_cast<DWORD>(message.size());
}

// Both answer the size they need when the buffer is too small, and fill nothing.
static UINT CopyFolder(const std::string& folder, LPSTR buffer, UINT size) {
  UINT length = static_cast<UINT>(folder.size());
  if (length >= size) return length + 1;
  memcpy(buffer, folder.c_str(), length + 1);
  return length;
}

UINT CSimMachine::GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  Record("GetWindowsDirectoryA(" + Number(size) + ")");
  return CopyFolder(m_strWindowsDir, buffer, size);
}

std::string CSimMachine::SystemDir() const {
  return m_strWindowsDir +
         (m_version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? "\\SYSTEM" : "\\System32");
}

UINT CSimMachine::GetSystemDirectoryA(LPSTR buffer, UINT size) {
  Record("GetSystemDirectoryA(" + Number(size) + ")");
  return CopyFolder(SystemDir(), buffer, size);
}

DWORD CSimMachine::GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  Record("GetModuleFileNameA(" + std::string(module ? "module" : "null") + ", " + Number(size) +
         ")");
  DWORD length = static_cast<DWORD>(m_strProgramPath.size());
  if (length >= size) {
    // Windows XP and older fill the buffer to the brim, unterminated, and
    // leave the last error alone at success; Vista and later terminate the
    // truncated path and report ERROR_INSUFFICIENT_BUFFER.
    memcpy(buffer, m_strProgramPath.c_str(), size);
    bool vista = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT && m_version.dwMajorVersion >= 6;
    if (vista && size) buffer[size - 1] = '\0';
    m_nLastError = vista ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
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
  // What the process sees: a 32-bit one is shown x86 under WOW64 too.
  info->wProcessorArchitecture =
      m_b64BitProcess ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL;
}

BOOL CSimMachine::CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES* security) {
  Record("CreateDirectoryA(" + Text(path) + ", " + (security ? "security" : "null") + ")");
  // CreateDirectoryA leaves room for an 8.3 name below the folder: 248 characters at most.
  if (TooLong(path, MAX_PATH - 11)) return Fail(ERROR_FILENAME_EXCED_RANGE);
  std::string full = Resolve(path);
  auto fault = m_createFaults.find(Upper(full));
  if (fault != m_createFaults.end()) return Fail(fault->second);
  if (NodeAt(full)) return Fail(ERROR_ALREADY_EXISTS);  // a file counts too
  const Node* parent = NodeAt(ParentOf(full));
  if (!parent || !parent->folder) return Fail(ERROR_PATH_NOT_FOUND);
  MakeNode(full, true);
  // A descriptor of its own (NT): its owner must be a group of the maker's
  // that may own objects (an administrator's Administrators), and its DACL
  // gets the parent's inheritable entries unless it is protected.
  if (security && security->lpSecurityDescriptor &&
      m_version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    const BYTE* sd = static_cast<const BYTE*>(security->lpSecurityDescriptor);
    DWORD ownerAt = sd[4] | (sd[5] << 8);
    std::string owner = ownerAt ? std::string(reinterpret_cast<const char*>(sd + ownerAt),
                                              8 + 4 * sd[ownerAt + 1])
                                : Sid({32, 544});
    if (owner != Sid({32, 544})) {
      EraseNode(full);
      return Fail(ERROR_INVALID_OWNER);
    }
    bool present = true;
    std::string dacl = sim::DaclOf(sd, &present);
    if (present && !(sd[3] & 0x10)) dacl = sim::WithInherited(dacl, InheritableOf(ParentOf(full)));
    SetSecurity(full, owner, dacl, present);
  }
  return TRUE;
}

BOOL CSimMachine::IsDBCSLeadByte(BYTE value) { return IsLeadByte(value); }

int CSimMachine::MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  Record("MessageBoxA(" + Text(text) + ", " + Text(caption) + ")");
  int owned = 0;
  for (const auto& mutex : m_mutexes) owned += mutex.second.holder == Mutex::kThisProcess;
  m_messageBoxes.push_back({owner, text ? text : "", caption ? caption : "", type, owned});
  return 1;  // IDOK
}
