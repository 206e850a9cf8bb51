// The simulated machine's devices: the setup API's device lists and driver
// keys, newdev.dll's installs and removals, and Windows' own installs under way.
#include "platform/sim/sim_internal.h"

#include <stdio.h>
#include <string.h>

using sim::Number;
using sim::Text;

namespace {

// The class of every device here: USB.
const GUID kUsbClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0, 0}};
const DWORD kInvalidUserBuffer = 1784;  // ERROR_INVALID_USER_BUFFER
const DWORD kInvalidData = 13;          // ERROR_INVALID_DATA

}  // namespace

CSimMachine::Device& CSimMachine::AddDevice(const std::string& instanceId,
                                            const std::vector<std::string>& hardwareIds,
                                            bool present) {
  Device device;
  device.instanceId = instanceId;
  device.hardwareIds = hardwareIds;
  device.present = present;
  device.number = m_nNextDevice++;
  m_devices.push_back(device);
  return m_devices.back();
}

const CSimMachine::Device* CSimMachine::FindDevice(const std::string& instanceId) const {
  for (const Device& device : m_devices)
    if (Upper(device.instanceId) == Upper(instanceId)) return &device;
  return nullptr;
}

CSimMachine::Device* CSimMachine::DeviceIn(HDEVINFO set, const SP_DEVINFO_DATA* data) {
  auto it = m_deviceSets.find(reinterpret_cast<uintptr_t>(set));
  if (it == m_deviceSets.end() || !data || data->cbSize != sizeof(SP_DEVINFO_DATA)) return nullptr;
  for (Device& device : m_devices)
    if (device.number == data->DevInst) return &device;
  return nullptr;
}

bool CSimMachine::NewdevLoaded(const char* entry) const {
  return m_bNewdevLoaded && !m_missingEntries.count(entry);
}

bool CSimMachine::IsNewdevLibrary(const std::string& name) const {
  return !m_missingLibraries.count("NEWDEV.DLL") &&
         m_version.dwPlatformId == VER_PLATFORM_WIN32_NT && m_version.dwMajorVersion >= 5 &&
         Upper(name) == Upper(SystemDir() + "\\newdev.dll");
}

// XP on; a wait for installs still running advances the clock.
DWORD CSimMachine::CMP_WaitNoPendingInstallEvents(DWORD timeout) {
  Record("CMP_WaitNoPendingInstallEvents(" + Number(timeout) + ")");
  bool exists = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                (m_version.dwMajorVersion > 5 ||
                 (m_version.dwMajorVersion == 5 && m_version.dwMinorVersion >= 1));
  if (!exists || !m_bSetupLibraryLoaded || m_missingEntries.count("CMP_WaitNoPendingInstallEvents"))
    return Fail(ERROR_CALL_NOT_IMPLEMENTED), WAIT_FAILED;
  if (m_nPendingWaitError) return Fail(m_nPendingWaitError), WAIT_FAILED;
  if (m_nPendingInstalls == 0) return WAIT_OBJECT_0;
  if (m_nPendingInstalls != INFINITE && m_nPendingInstalls <= timeout) {
    m_nTickCount += m_nPendingInstalls;
    m_nPendingInstalls = 0;
    return WAIT_OBJECT_0;
  }
  if (timeout == INFINITE) {
    m_bHung = true;
    return WAIT_FAILED;
  }
  m_nTickCount += timeout;
  if (m_nPendingInstalls != INFINITE) m_nPendingInstalls -= timeout;
  return WAIT_TIMEOUT;
}

// Every device, present or not, with DIGCF_ALLCLASSES; with DIGCF_PRESENT
// only those plugged in.
HDEVINFO CSimMachine::SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND,
                                           DWORD flags) {
  Record("SetupDiGetClassDevsA(" + Number(flags) + ")");
  if (!m_bSetupLibraryLoaded) return Fail(ERROR_CALL_NOT_IMPLEMENTED), INVALID_HANDLE_VALUE;
  if (classGuid || enumerator || !(flags & DIGCF_ALLCLASSES))
    return Fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
  std::vector<DWORD> members;
  for (const Device& device : m_devices)
    if (device.present || !(flags & DIGCF_PRESENT)) members.push_back(device.number);
  uintptr_t handle = m_nNextDeviceSet++;
  m_deviceSets[handle] = members;
  return reinterpret_cast<HDEVINFO>(handle);
}

BOOL CSimMachine::SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) {
  Record("SetupDiEnumDeviceInfo(" + Number(index) + ")");
  auto it = m_deviceSets.find(reinterpret_cast<uintptr_t>(set));
  if (it == m_deviceSets.end()) return Fail(ERROR_INVALID_HANDLE);
  if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(kInvalidUserBuffer);
  if (index >= it->second.size()) return Fail(ERROR_NO_MORE_ITEMS);
  data->ClassGuid = kUsbClass;
  data->DevInst = it->second[index];
  data->Reserved = 0;
  return TRUE;
}

// A device removed meanwhile is gone from the list too.
BOOL CSimMachine::SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* data,
                                                    DWORD property, LPDWORD type, LPBYTE buffer,
                                                    DWORD size, LPDWORD requiredSize) {
  Record("SetupDiGetDeviceRegistryPropertyA(" + Number(property) + ")");
  Device* device = DeviceIn(set, data);
  if (!device) return Fail(ERROR_NO_SUCH_DEVINST);
  if (property != SPDRP_HARDWAREID) return Fail(ERROR_INVALID_PARAMETER);
  if (device->hardwareIds.empty()) return Fail(kInvalidData);
  std::string multi;
  for (const std::string& id : device->hardwareIds) multi += id + '\0';
  multi += '\0';
  if (type) *type = REG_MULTI_SZ;
  if (requiredSize) *requiredSize = static_cast<DWORD>(multi.size());
  if (!buffer || size < multi.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  multi.copy(reinterpret_cast<char*>(buffer), multi.size());
  return TRUE;
}

BOOL CSimMachine::SetupDiGetDeviceInstanceIdA(HDEVINFO set, SP_DEVINFO_DATA* data, LPSTR buffer,
                                              DWORD size, LPDWORD requiredSize) {
  Record("SetupDiGetDeviceInstanceIdA()");
  Device* device = DeviceIn(set, data);
  if (!device) return Fail(ERROR_NO_SUCH_DEVINST);
  if (requiredSize) *requiredSize = static_cast<DWORD>(device->instanceId.size() + 1);
  if (!buffer || size < device->instanceId.size() + 1) return Fail(ERROR_INSUFFICIENT_BUFFER);
  memcpy(buffer, device->instanceId.c_str(), device->instanceId.size() + 1);
  return TRUE;
}

std::string CSimMachine::DriverKeyPath(const Device& device) {
  char number[8];
  snprintf(number, sizeof(number), "%04u", device.number);
  return "SYSTEM\\CurrentControlSet\\Control\\Class\\{36FC9E60-C465-11CF-8056-444553540000}\\" +
         std::string(number);
}

// The driver key, with its InfPath: none for a device that never had a driver.
HKEY CSimMachine::SetupDiOpenDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD scope,
                                       DWORD profile, DWORD keyType, REGSAM) {
  Record("SetupDiOpenDevRegKey(" + Number(keyType) + ")");
  HKEY invalid = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
  Device* device = DeviceIn(set, data);
  if (!device) return Fail(ERROR_NO_SUCH_DEVINST), invalid;
  if (scope != DICS_FLAG_GLOBAL || profile != 0 || keyType != DIREG_DRV)
    return Fail(ERROR_INVALID_PARAMETER), invalid;
  if (device->driver.empty()) return Fail(ERROR_KEY_DOES_NOT_EXIST), invalid;
  std::string path = DriverKeyPath(*device);
  AddKey(path);
  RegKey& key = m_keys[Upper(path)];
  key.values.clear();
  key.values.push_back({"InfPath", REG_SZ, device->driver + '\0'});
  uintptr_t handle = m_nNextKeyHandle++;
  m_keyHandles[handle] = Upper(path);
  return reinterpret_cast<HKEY>(handle);
}

// DIF_REMOVE takes the device off the machine, present or not; a driver
// that is loaded goes at the next restart.
BOOL CSimMachine::SetupDiCallClassInstaller(DWORD function, HDEVINFO set, SP_DEVINFO_DATA* data) {
  Record("SetupDiCallClassInstaller(" + Number(function) + ")");
  Device* device = DeviceIn(set, data);
  if (!device) return Fail(ERROR_NO_SUCH_DEVINST);
  if (function != DIF_REMOVE) return Fail(ERROR_DI_DO_DEFAULT);
  if (IsWow64()) return Fail(ERROR_IN_WOW64);
  if (device->removeError) return Fail(device->removeError);
  if (device->present && device->needsRestart)
    m_restartAsked[reinterpret_cast<uintptr_t>(set)].insert(device->number);
  DWORD number = device->number;
  for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
    if (it->number == number) {
      m_devices.erase(it);
      break;
    }
  }
  return TRUE;
}

BOOL CSimMachine::SetupDiGetDeviceInstallParamsA(HDEVINFO set, SP_DEVINFO_DATA* data,
                                                 SP_DEVINSTALL_PARAMS_A* parameters) {
  Record("SetupDiGetDeviceInstallParamsA()");
  auto it = m_deviceSets.find(reinterpret_cast<uintptr_t>(set));
  if (it == m_deviceSets.end() || !data || data->cbSize != sizeof(SP_DEVINFO_DATA))
    return Fail(ERROR_INVALID_HANDLE);
  if (!parameters || parameters->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A))
    return Fail(kInvalidUserBuffer);
  DWORD size = parameters->cbSize;
  memset(parameters, 0, sizeof(*parameters));
  parameters->cbSize = size;
  if (m_restartAsked[it->first].count(data->DevInst)) parameters->Flags = DI_NEEDREBOOT;
  return TRUE;
}

BOOL CSimMachine::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  Record("SetupDiDestroyDeviceInfoList()");
  if (!m_deviceSets.erase(reinterpret_cast<uintptr_t>(set))) return Fail(ERROR_INVALID_HANDLE);
  m_restartAsked.erase(reinterpret_cast<uintptr_t>(set));
  return TRUE;
}

// Windows 2000 on. The devices plugged in with this hardware ID (letter case
// ignored) get the package where it ranks better than their driver; a 32-bit
// process under WOW64 is refused; Windows 2000 knows no
// INSTALLFLAG_NONINTERACTIVE.
BOOL CSimMachine::UpdateDriverForPlugAndPlayDevicesA(HWND, LPCSTR hardwareId, LPCSTR fullInfPath,
                                                     DWORD flags, PBOOL rebootRequired) {
  Record("UpdateDriverForPlugAndPlayDevicesA(" + Text(hardwareId) + ", " + Text(fullInfPath) +
         ", " + Number(flags) + ")");
  if (rebootRequired) *rebootRequired = FALSE;
  if (!NewdevLoaded("UpdateDriverForPlugAndPlayDevicesA")) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  DWORD known = INSTALLFLAG_FORCE | 2 /* READONLY */ |
                (m_version.dwMajorVersion == 5 && m_version.dwMinorVersion == 0
                     ? 0
                     : static_cast<DWORD>(INSTALLFLAG_NONINTERACTIVE));
  if (flags & ~known) return Fail(ERROR_INVALID_FLAGS);
  if (!hardwareId || !*hardwareId || !fullInfPath) return Fail(ERROR_INVALID_PARAMETER);
  if (IsWow64()) return Fail(ERROR_IN_WOW64);
  if (m_bUpdatesLie) return TRUE;
  if (!sim::IsAbsolute(fullInfPath) || !FileExists(fullInfPath)) return Fail(ERROR_FILE_NOT_FOUND);
  std::string catalog = CatalogFor(NodeAt(fullInfPath)->content);
  if (!catalog.empty() && !FileExists(ParentOf(Resolve(fullInfPath)) + "\\" + catalog))
    return Fail(ERROR_FILE_NOT_FOUND);
  std::vector<Device*> matches;
  for (Device& device : m_devices) {
    if (!device.present) continue;
    for (const std::string& id : device.hardwareIds)
      if (Upper(id) == Upper(hardwareId)) {
        matches.push_back(&device);
        break;
      }
  }
  if (matches.empty()) return Fail(ERROR_NO_SUCH_DEVINST);
  for (Device* device : matches)
    if (device->installError) return Fail(device->installError);
  bool existed = false;
  std::string published;
  BOOL reboot = FALSE;
  bool installed = false;
  for (Device* device : matches) {
    if (device->keepsBetterDriver && !(flags & INSTALLFLAG_FORCE)) continue;
    if (published.empty()) published = Publish(Resolve(fullInfPath), &existed);
    if (!device->driver.empty() && Upper(device->driver) != Upper(published))
      device->fallback = device->driver;
    device->driver = published;
    reboot |= device->needsRestart;
    installed = true;
  }
  if (!installed) return Fail(ERROR_NO_MORE_ITEMS);
  if (rebootRequired) *rebootRequired = reboot;
  return TRUE;
}

// Windows 10 1703 on: every device that uses the package moves to the
// driver it had before (or none), and the package leaves the store.
BOOL CSimMachine::DiUninstallDriverA(HWND, LPCSTR infPath, DWORD flags, PBOOL needReboot) {
  Record("DiUninstallDriverA(" + Text(infPath) + ", " + Number(flags) + ")");
  if (needReboot) *needReboot = FALSE;
  bool exists = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                (m_version.dwMajorVersion > 10 ||
                 (m_version.dwMajorVersion == 10 && m_version.dwBuildNumber >= 15063));
  if (!exists || !NewdevLoaded("DiUninstallDriverA")) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (flags) return Fail(ERROR_INVALID_FLAGS);
  if (IsWow64()) return Fail(ERROR_IN_WOW64);
  std::string path = infPath ? infPath : "";
  std::string store = Upper(m_strWindowsDir + "\\Inf\\");
  if (Upper(path).compare(0, store.size(), store) != 0 || !FileExists(path))
    return Fail(ERROR_FILE_NOT_FOUND);
  if (m_nUninstallRefusal) return Fail(m_nUninstallRefusal);
  std::string name = NameOf(path);
  BOOL reboot = FALSE;
  for (Device& device : m_devices) {
    if (Upper(device.driver) != Upper(name)) continue;
    device.driver = device.fallback;
    device.fallback.clear();
    reboot |= device.present && device.needsRestart;
  }
  EraseNode(Resolve(path));
  EraseNode(Resolve(path.substr(0, path.size() - 4) + ".pnf"));
  EraseNode(Resolve(StoreCatalog(name)));
  if (needReboot) *needReboot = reboot;
  return TRUE;
}
