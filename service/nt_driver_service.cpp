#include "service/nt_driver_service.h"

#include <string.h>

#include "platform/platform_layer.h"
#include "setup/path_string.h"
#include "setup/setup_log.h"
#include "setup/text.h"

namespace {

const size_t kKeyPathSize = 1024;
const char kGroup[] = "Extended Base";

bool SetDword(HKEY key, const char* name, DWORD value) {
  return GetPlatform().RegSetValueExA(key, name, 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&value),
                                      sizeof(value)) == ERROR_SUCCESS;
}

bool SetString(HKEY key, const char* name, const char* value) {
  return GetPlatform().RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                      static_cast<DWORD>(strlen(value) + 1)) == ERROR_SUCCESS;
}

// Logs one service-manager action and passes its outcome on.
bool Logged(bool ok, const char* service, const char* action) {
  LogResult(ok, GetPlatform().GetLastError(), "service %s: %s", service, action);
  return ok;
}

}  // namespace

CNtDriverService::CNtDriverService() {
  if (!CNtDriverService::OpenManager()) AddError("Cannot open service control manager\n");
}

CNtDriverService::~CNtDriverService() {
  if (m_hManager) CNtDriverService::CloseManager();
}

bool CNtDriverService::OpenManager() {
  m_hManager = GetPlatform().OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  return m_hManager || Logged(false, "-", "open the service control manager");
}

void CNtDriverService::CloseManager() {
  GetPlatform().CloseServiceHandle(m_hManager);
  m_hManager = nullptr;
}

void CNtDriverService::SetNames(const char* serviceName, const char* driverName,
                                const char* imagePath) {
  CDriverService::SetNames(serviceName, driverName, imagePath);
  if (imagePath) return;
  CPathString defaultPath;
  FormatText(defaultPath, "\\SystemRoot\\System32\\drivers\\%s.SYS", m_szDriverName);
  SetName(m_szImagePath, defaultPath.c_str());
}

SC_HANDLE CNtDriverService::OpenOwnService() {
  if (!m_hManager) return nullptr;
  SC_HANDLE service = GetPlatform().OpenServiceA(m_hManager, m_szServiceName, SERVICE_ALL_ACCESS);
  if (!service) Logged(false, m_szServiceName, "open");
  return service;
}

bool CNtDriverService::Install() {
  if (m_bRegistryMode) return RegistryInstall();
  if (!m_hManager) return false;
  SC_HANDLE service = GetPlatform().CreateServiceA(
      m_hManager, m_szServiceName, m_szServiceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
      m_dwStartType, SERVICE_ERROR_NORMAL, m_szImagePath, nullptr, nullptr, nullptr, nullptr,
      nullptr);
  if (!Logged(service != nullptr, m_szServiceName, "create")) return false;
  GetPlatform().CloseServiceHandle(service);
  return true;
}

bool CNtDriverService::Remove() {
  if (m_bRegistryMode) return RegistryRemove();
  SC_HANDLE service = OpenOwnService();
  if (!service) return false;
  bool deleted = GetPlatform().DeleteService(service) != FALSE;
  bool removed = deleted || GetPlatform().GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
  Logged(deleted, m_szServiceName, "delete");
  GetPlatform().CloseServiceHandle(service);
  return removed;
}

bool CNtDriverService::Start() {
  SC_HANDLE service = OpenOwnService();
  if (!service) return false;
  bool started = Logged(GetPlatform().StartServiceA(service, 0, nullptr) != FALSE,
                        m_szServiceName, "start");
  GetPlatform().CloseServiceHandle(service);
  return started;
}

bool CNtDriverService::Stop() {
  SC_HANDLE service = OpenOwnService();
  if (!service) return false;
  SERVICE_STATUS status;
  memset(&status, 0, sizeof(status));
  bool done = GetPlatform().ControlService(service, SERVICE_CONTROL_STOP, &status) ||
              GetPlatform().GetLastError() == ERROR_SERVICE_NOT_ACTIVE;
  GetPlatform().CloseServiceHandle(service);
  // An accepted control with the stop still pending is not a stopped service.
  return done && status.dwCurrentState == SERVICE_STOPPED;
}

bool CNtDriverService::IsInstalled() {
  SC_HANDLE service = OpenOwnService();
  if (!service) return false;
  Logged(true, m_szServiceName, "open");
  GetPlatform().CloseServiceHandle(service);
  return true;
}

bool CNtDriverService::QueryStatus(SERVICE_STATUS* status) {
  SC_HANDLE service = OpenOwnService();
  if (!service) return false;
  bool queried = GetPlatform().QueryServiceStatus(service, status) != FALSE;
  GetPlatform().CloseServiceHandle(service);
  return queried;
}

// ChangeServiceConfigA with nothing to change fails with this code, and only
// then, on a service that is marked for deletion.
bool CNtDriverService::IsMarkedForDelete() {
  SC_HANDLE service = OpenOwnService();
  if (!service) return false;
  bool marked = !GetPlatform().ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                                    SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                                    nullptr, nullptr, nullptr, nullptr) &&
                GetPlatform().GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
  if (marked) LogLine("service %s: marked for deletion", m_szServiceName);
  GetPlatform().CloseServiceHandle(service);
  return marked;
}

bool CNtDriverService::ServiceKeyPath(char* path, size_t size) {
  return CopyText(path, size, "System\\CurrentControlSet\\Services\\") &&
         AppendText(path, size, m_szServiceName);
}

bool CNtDriverService::RegistryInstall() {
  ClearMessages();
  char path[kKeyPathSize];
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (!ServiceKeyPath(path, sizeof(path)) ||
      GetPlatform().RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, const_cast<LPSTR>(""),
                                    REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                                    &disposition) != ERROR_SUCCESS) {
    AddError("Cannot open registry key\n");
    return false;
  }
  if (disposition == REG_OPENED_EXISTING_KEY) {
    AddWarning(m_szServiceName);
    AddWarning(" already exists in Win-NT registry\n");
  }
  // Every value is written even after one fails; a key without all of them
  // is no working service, so that is a failure, not a success.
  bool written = SetDword(key, "Start", m_dwStartType);
  written &= SetDword(key, "Type", SERVICE_KERNEL_DRIVER);
  written &= SetDword(key, "ErrorControl", SERVICE_ERROR_NORMAL);
  written &= SetString(key, "Group", kGroup);
  written &= SetString(key, "ImagePath", m_szImagePath);
  written &= SetString(key, "DisplayName", m_szServiceName);
  GetPlatform().RegCloseKey(key);
  if (!written) AddError("Cannot write registry value\n");
  return written;
}

bool CNtDriverService::RegistryRemove() {
  ClearMessages();
  char path[kKeyPathSize];
  // A name too long for the key path cannot name an existing key either.
  if (ServiceKeyPath(path, sizeof(path)) &&
      GetPlatform().RegDeleteKeyA(HKEY_LOCAL_MACHINE, path) == ERROR_SUCCESS)
    return true;
  AddError(m_szServiceName);
  AddError(" does not exist in Win-NT registry\n");
  return false;
}
