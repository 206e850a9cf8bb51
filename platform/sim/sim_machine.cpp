#include "platform/sim/sim_machine.h"

#include <string.h>

#include <algorithm>

namespace {

CSimMachine* g_pActive = nullptr;

// The process's platform before any test activates a machine: static
// construction of the setup state asks it for the version block.
CSimMachine& DefaultMachine() {
  static CSimMachine machine;
  return machine;
}

const uintptr_t kSetupApiModule = 0x5e700000;

BOOL WINAPI SetupCopyOEMInfEntryPoint(PCSTR, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR*) {
  // The setup logic reaches the OEM store through PlatformLayer::SetupCopyOEMInfA.
  return FALSE;
}

std::string Text(LPCSTR text) { return text ? "\"" + std::string(text) + "\"" : "null"; }
std::string Number(uint64_t value) { return std::to_string(value); }

bool IsAbsolute(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || path.compare(0, 2, "\\\\") == 0;
}

const char kServicesKey[] = "System\\CurrentControlSet\\Services\\";

}  // namespace

PlatformLayer& GetPlatform() { return g_pActive ? *g_pActive : DefaultMachine(); }

PFN_SETUPCOPYOEMINFA CSimMachine::SetupCopyOEMInfEntry() { return &SetupCopyOEMInfEntryPoint; }

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
  } else if (IsAbsolute(path)) {
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

HMODULE CSimMachine::LoadLibraryA(LPCSTR name) {
  Record("LoadLibraryA(" + Text(name) + ")");
  if (Upper(name) != "SETUPAPI.DLL" || m_missingLibraries.count("SETUPAPI.DLL"))
    return Fail(ERROR_MOD_NOT_FOUND), nullptr;
  return reinterpret_cast<HMODULE>(kSetupApiModule);
}

FARPROC CSimMachine::GetProcAddress(HMODULE module, LPCSTR name) {
  Record("GetProcAddress(" + Text(name) + ")");
  if (reinterpret_cast<uintptr_t>(module) != kSetupApiModule) return Fail(ERROR_INVALID_HANDLE), nullptr;
  if (strcmp(name, "SetupCopyOEMInfA") != 0 || m_missingEntries.count(name))
    return Fail(ERROR_PROC_NOT_FOUND), nullptr;
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SetupCopyOEMInfEntryPoint));
}

BOOL CSimMachine::IsDBCSLeadByte(BYTE value) { return IsLeadByte(value); }

int CSimMachine::MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  Record("MessageBoxA(" + Text(text) + ", " + Text(caption) + ")");
  m_messageBoxes.push_back({owner, text ? text : "", caption ? caption : "", type});
  return 1;  // IDOK
}

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

BOOL CSimMachine::SetupCopyOEMInfA(PFN_SETUPCOPYOEMINFA entry, PCSTR source, PCSTR mediaLocation,
                                   DWORD mediaType, DWORD copyStyle, PSTR destination,
                                   DWORD destinationSize, PDWORD requiredSize,
                                   PSTR* component) {
  Record("SetupCopyOEMInfA(" + Text(source) + ", " + Text(mediaLocation) + ", " +
         Number(mediaType) + ", " + Number(copyStyle) + ")");
  OemInfCall call{source ? source : "", mediaLocation == nullptr, mediaType, copyStyle,
                  destination == nullptr, destinationSize, requiredSize == nullptr,
                  component == nullptr, FALSE, ""};
  auto finish = [&](BOOL result) {
    call.result = result;
    m_oemInfCalls.push_back(call);
    return result;
  };
  if (entry != &SetupCopyOEMInfEntryPoint) return finish(Fail(ERROR_INVALID_FUNCTION));
  if (m_nOemInfRefusal) return finish(Fail(m_nOemInfRefusal));
  if (!source || !IsAbsolute(source)) return finish(Fail(ERROR_FILE_NOT_FOUND));
  const Node* inf = NodeAt(source);
  if (!inf || inf->folder) return finish(Fail(ERROR_FILE_NOT_FOUND));
  std::string store = m_strWindowsDir + "\\Inf";
  if (!FolderExists(store)) return finish(Fail(ERROR_PATH_NOT_FOUND));
  for (const std::string& name : FilesBelow(store)) {
    if (Upper(NameOf(name)).compare(0, 3, "OEM") == 0 && FileContent(name) == inf->content) {
      call.published = NameOf(name);
      // The same package is already in the store.
      if (copyStyle & SP_COPY_NOOVERWRITE) return finish(Fail(ERROR_FILE_EXISTS));
      return finish(TRUE);
    }
  }
  std::string name;
  do {
    name = "oem" + Number(m_nPublished++) + ".inf";
  } while (NodeAt(store + "\\" + name));
  std::string content = inf->content;
  MakeNode(store + "\\" + name, false).content = content;
  call.published = name;
  return finish(TRUE);
}

// ---------------------------------------------------------------- services

std::string CSimMachine::ServiceKeyPath(const std::string& name) { return kServicesKey + name; }

CSimMachine::Service* CSimMachine::FindService(const std::string& name) {
  auto it = m_services.find(Upper(name));
  return it == m_services.end() ? nullptr : &it->second;
}

CSimMachine::Service& CSimMachine::AddService(const std::string& name, DWORD state) {
  Service& service = m_services[Upper(name)];
  service.name = service.displayName = name;
  service.type = SERVICE_KERNEL_DRIVER;
  service.startType = SERVICE_AUTO_START;
  service.errorControl = SERVICE_ERROR_NORMAL;
  service.binaryPath = "\\SystemRoot\\System32\\drivers\\" + name + ".SYS";
  service.state = state;
  WriteServiceKey(service);
  return service;
}

void CSimMachine::WriteServiceKey(const Service& service) {
  auto dword = [](DWORD value) { return std::string(reinterpret_cast<char*>(&value), 4); };
  RegKey& key = m_keys[Upper(ServiceKeyPath(service.name))];
  key.path = ServiceKeyPath(service.name);
  key.values = {{"Type", REG_DWORD, dword(service.type)},
                {"Start", REG_DWORD, dword(service.startType)},
                {"ErrorControl", REG_DWORD, dword(service.errorControl)},
                {"ImagePath", REG_EXPAND_SZ, service.binaryPath + '\0'},
                {"DisplayName", REG_SZ, service.displayName + '\0'}};
}

size_t CSimMachine::OpenServiceHandles() const { return m_serviceHandles.size(); }

CSimMachine::ServiceHandle* CSimMachine::HandleOf(SC_HANDLE handle) {
  auto it = m_serviceHandles.find(reinterpret_cast<uintptr_t>(handle));
  return it == m_serviceHandles.end() ? nullptr : &it->second;
}

SC_HANDLE CSimMachine::NewServiceHandle(bool manager, const std::string& serviceKey) {
  uintptr_t handle = m_nNextServiceHandle++;
  m_serviceHandles[handle] = ServiceHandle{manager, serviceKey};
  if (!manager) ++m_services[serviceKey].openHandles;
  return reinterpret_cast<SC_HANDLE>(handle);
}

SC_HANDLE CSimMachine::OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName,
                                      DWORD desiredAccess) {
  Record("OpenSCManagerA(" + Text(machineName) + ", " + Text(databaseName) + ", " +
         Number(desiredAccess) + ")");
  if (m_nManagerRefusal) return Fail(m_nManagerRefusal), nullptr;
  return NewServiceHandle(true, "");
}

BOOL CSimMachine::CloseServiceHandle(SC_HANDLE handle) {
  Record("CloseServiceHandle()");
  ServiceHandle* entry = HandleOf(handle);
  if (!entry) return Fail(ERROR_INVALID_HANDLE);
  if (!entry->manager) {
    auto it = m_services.find(entry->serviceKey);
    if (it != m_services.end() && --it->second.openHandles == 0 && it->second.markedForDelete) {
      // A service marked for deletion goes when its last handle closes.
      m_keys.erase(Upper(ServiceKeyPath(it->second.name)));
      m_services.erase(it);
    }
  }
  m_serviceHandles.erase(reinterpret_cast<uintptr_t>(handle));
  return TRUE;
}

SC_HANDLE CSimMachine::CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName,
                                      DWORD desiredAccess, DWORD serviceType, DWORD startType,
                                      DWORD errorControl, LPCSTR binaryPathName,
                                      LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
                                      LPCSTR serviceStartName, LPCSTR password) {
  Record("CreateServiceA(" + Text(serviceName) + ", " + Text(displayName) + ", " +
         Number(desiredAccess) + ", " + Number(serviceType) + ", " + Number(startType) + ", " +
         Number(errorControl) + ", " + Text(binaryPathName) + ", " + Text(loadOrderGroup) + ", " +
         (tagId ? "tag" : "null") + ", " + Text(dependencies) + ", " + Text(serviceStartName) +
         ", " + Text(password) + ")");
  ServiceHandle* owner = HandleOf(manager);
  if (!owner || !owner->manager) return Fail(ERROR_INVALID_HANDLE), nullptr;
  if (!serviceName || !*serviceName || strlen(serviceName) > 256 || strchr(serviceName, '\\'))
    return Fail(ERROR_INVALID_NAME), nullptr;
  if (Service* existing = FindService(serviceName))
    return Fail(existing->markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS),
           nullptr;
  Service& service = m_services[Upper(serviceName)];
  service.name = serviceName;
  service.displayName = displayName ? displayName : serviceName;
  service.binaryPath = binaryPathName ? binaryPathName : "";
  service.type = serviceType;
  service.startType = startType;
  service.errorControl = errorControl;
  service.state = SERVICE_STOPPED;
  WriteServiceKey(service);
  return NewServiceHandle(false, Upper(serviceName));
}

SC_HANDLE CSimMachine::OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) {
  Record("OpenServiceA(" + Text(serviceName) + ", " + Number(desiredAccess) + ")");
  ServiceHandle* owner = HandleOf(manager);
  if (!owner || !owner->manager) return Fail(ERROR_INVALID_HANDLE), nullptr;
  Service* service = FindService(serviceName ? serviceName : "");
  if (!service) return Fail(ERROR_SERVICE_DOES_NOT_EXIST), nullptr;
  if (service->denyFullAccess && desiredAccess == SERVICE_ALL_ACCESS)
    return Fail(ERROR_ACCESS_DENIED), nullptr;
  return NewServiceHandle(false, Upper(serviceName));
}

BOOL CSimMachine::StartServiceA(SC_HANDLE handle, DWORD argCount, LPCSTR* args) {
  Record("StartServiceA(" + Number(argCount) + ", " + (args ? "args" : "null") + ")");
  ServiceHandle* entry = HandleOf(handle);
  if (!entry || entry->manager) return Fail(ERROR_INVALID_HANDLE);
  Service& service = m_services[entry->serviceKey];
  if (service.markedForDelete) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  if (service.state == SERVICE_RUNNING) return Fail(ERROR_SERVICE_ALREADY_RUNNING);
  if (service.startError) return Fail(service.startError);
  service.state = SERVICE_RUNNING;
  return TRUE;
}

static void FillStatus(const CSimMachine::Service& service, SERVICE_STATUS* status) {
  memset(status, 0, sizeof(*status));
  status->dwServiceType = service.type;
  status->dwCurrentState = service.state;
  status->dwControlsAccepted = service.state == SERVICE_RUNNING ? 1 : 0;
}

BOOL CSimMachine::ControlService(SC_HANDLE handle, DWORD control, SERVICE_STATUS* status) {
  Record("ControlService(" + Number(control) + ")");
  ServiceHandle* entry = HandleOf(handle);
  if (!entry || entry->manager) return Fail(ERROR_INVALID_HANDLE);
  Service& service = m_services[entry->serviceKey];
  if (control != SERVICE_CONTROL_STOP) return Fail(ERROR_INVALID_SERVICE_CONTROL);
  if (service.state != SERVICE_RUNNING) {
    // Windows fills the status block for this error too.
    FillStatus(service, status);
    return Fail(ERROR_SERVICE_NOT_ACTIVE);
  }
  service.state = service.stopStaysPending ? SERVICE_STOP_PENDING : SERVICE_STOPPED;
  FillStatus(service, status);
  return TRUE;
}

BOOL CSimMachine::QueryServiceStatus(SC_HANDLE handle, SERVICE_STATUS* status) {
  Record("QueryServiceStatus()");
  ServiceHandle* entry = HandleOf(handle);
  if (!entry || entry->manager) return Fail(ERROR_INVALID_HANDLE);
  FillStatus(m_services[entry->serviceKey], status);
  return TRUE;
}

BOOL CSimMachine::DeleteService(SC_HANDLE handle) {
  Record("DeleteService()");
  ServiceHandle* entry = HandleOf(handle);
  if (!entry || entry->manager) return Fail(ERROR_INVALID_HANDLE);
  Service& service = m_services[entry->serviceKey];
  if (service.markedForDelete) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  service.markedForDelete = true;
  return TRUE;
}

// ---------------------------------------------------------------- registry

bool CSimMachine::KeyExists(const std::string& path) const { return m_keys.count(Upper(path)) > 0; }

void CSimMachine::AddKey(const std::string& path) {
  RegKey& key = m_keys[Upper(path)];
  if (key.path.empty()) key.path = path;
}

const std::vector<CSimMachine::RegValue>* CSimMachine::KeyValues(const std::string& path) const {
  auto it = m_keys.find(Upper(path));
  return it == m_keys.end() ? nullptr : &it->second.values;
}

LONG CSimMachine::RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                                  DWORD options, REGSAM desired, SECURITY_ATTRIBUTES* security,
                                  HKEY* result, LPDWORD disposition) {
  Record("RegCreateKeyExA(" + Text(subKey) + ", " + Number(reserved) + ", " + Text(keyClass) +
         ", " + Number(options) + ", " + Number(desired) + ", " + (security ? "security" : "null") +
         ")");
  if (key != HKEY_LOCAL_MACHINE || !subKey || !result) return ERROR_INVALID_PARAMETER;
  if (m_nRegCreateRefusal) return m_nRegCreateRefusal;
  bool existed = KeyExists(subKey);
  AddKey(subKey);
  uintptr_t handle = m_nNextKeyHandle++;
  m_keyHandles[handle] = Upper(subKey);
  *result = reinterpret_cast<HKEY>(handle);
  if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

LONG CSimMachine::RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                                 const BYTE* data, DWORD size) {
  Record("RegSetValueExA(" + Text(valueName) + ", " + Number(reserved) + ", " + Number(type) +
         ", " + Number(size) + ")");
  auto it = m_keyHandles.find(reinterpret_cast<uintptr_t>(key));
  if (it == m_keyHandles.end()) return ERROR_INVALID_HANDLE;
  std::string name = valueName ? valueName : "";
  auto fault = m_writeFaults.find(name);
  if (fault != m_writeFaults.end()) return fault->second;
  std::vector<RegValue>& values = m_keys[it->second].values;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  for (RegValue& value : values) {
    if (Upper(value.name) == Upper(name)) {
      value.type = type;
      value.data = bytes;
      return ERROR_SUCCESS;
    }
  }
  values.push_back({name, type, bytes});
  return ERROR_SUCCESS;
}

LONG CSimMachine::RegCloseKey(HKEY key) {
  Record("RegCloseKey()");
  return m_keyHandles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS
                                                              : ERROR_INVALID_HANDLE;
}

LONG CSimMachine::RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  Record("RegDeleteKeyA(" + Text(subKey) + ")");
  if (key != HKEY_LOCAL_MACHINE || !subKey) return ERROR_INVALID_PARAMETER;
  std::string upper = Upper(subKey);
  if (!m_keys.count(upper)) return ERROR_FILE_NOT_FOUND;
  // NT refuses to delete a key that has subkeys.
  for (const auto& entry : m_keys)
    if (entry.first.compare(0, upper.size() + 1, upper + "\\") == 0) return ERROR_ACCESS_DENIED;
  m_keys.erase(upper);
  return ERROR_SUCCESS;
}
