// The simulated machine's service control manager.
#include "platform/sim/sim_internal.h"

#include <string.h>

using sim::Number;
using sim::Text;

namespace {

const char kServicesKey[] = "System\\CurrentControlSet\\Services\\";

}  // namespace

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

SC_HANDLE CSimMachine::NewServiceHandle(int manager, const std::string& serviceKey) {
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
  return NewServiceHandle(++m_nManagersOpened, "");
}

void CSimMachine::DeleteServiceNow(std::map<std::string, Service>::iterator service) {
  m_keys.erase(Upper(ServiceKeyPath(service->second.name)));
  m_services.erase(service);
}

BOOL CSimMachine::CloseServiceHandle(SC_HANDLE handle) {
  ServiceHandle* entry = HandleOf(handle);
  if (!entry) {
    Record("CloseServiceHandle(invalid)");
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (entry->manager) {
    Record("CloseServiceHandle(manager " + Number(entry->manager) + ")");
  } else {
    auto it = m_services.find(entry->serviceKey);
    Record("CloseServiceHandle(service " + (it != m_services.end() ? it->second.name : "?") + ")");
    // A service marked for deletion goes when its last handle is closed and it
    // is not running; a running one stays until it stops, or until a restart.
    if (it != m_services.end() && --it->second.openHandles == 0 && it->second.markedForDelete &&
        it->second.state == SERVICE_STOPPED)
      DeleteServiceNow(it);
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
  return NewServiceHandle(0, Upper(serviceName));
}

SC_HANDLE CSimMachine::OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) {
  Record("OpenServiceA(" + Text(serviceName) + ", " + Number(desiredAccess) + ")");
  ServiceHandle* owner = HandleOf(manager);
  if (!owner || !owner->manager) return Fail(ERROR_INVALID_HANDLE), nullptr;
  Service* service = FindService(serviceName ? serviceName : "");
  if (!service) return Fail(ERROR_SERVICE_DOES_NOT_EXIST), nullptr;
  if (service->denyFullAccess && desiredAccess == SERVICE_ALL_ACCESS)
    return Fail(ERROR_ACCESS_DENIED), nullptr;
  return NewServiceHandle(0, Upper(serviceName));
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

BOOL CSimMachine::ChangeServiceConfigA(SC_HANDLE handle, DWORD serviceType, DWORD startType,
                                       DWORD errorControl, LPCSTR binaryPathName,
                                       LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
                                       LPCSTR serviceStartName, LPCSTR password,
                                       LPCSTR displayName) {
  Record("ChangeServiceConfigA(" + Number(serviceType) + ", " + Number(startType) + ", " +
         Number(errorControl) + ", " + Text(binaryPathName) + ", " + Text(loadOrderGroup) + ", " +
         (tagId ? "tag" : "null") + ", " + Text(dependencies) + ", " + Text(serviceStartName) +
         ", " + Text(password) + ", " + Text(displayName) + ")");
  ServiceHandle* entry = HandleOf(handle);
  if (!entry || entry->manager) return Fail(ERROR_INVALID_HANDLE);
  Service& service = m_services[entry->serviceKey];
  if (service.markedForDelete) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  if (serviceType != SERVICE_NO_CHANGE) service.type = serviceType;
  if (startType != SERVICE_NO_CHANGE) service.startType = startType;
  if (errorControl != SERVICE_NO_CHANGE) service.errorControl = errorControl;
  if (binaryPathName) service.binaryPath = binaryPathName;
  if (displayName) service.displayName = displayName;
  WriteServiceKey(service);
  return TRUE;
}
