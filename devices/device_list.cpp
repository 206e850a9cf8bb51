#include "devices/device_list.h"

#include <string.h>

#include "infpkg/inf_facts.h"
#include "setup/setup_log.h"
#include "setup/text.h"

bool CDeviceList::Open() {
  if (IsOpen()) return true;
  HDEVINFO list = GetPlatform().SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (list != INVALID_HANDLE_VALUE) {
    m_hList = list;
    return true;
  }
  LogResult(false, GetPlatform().GetLastError(), "list the devices");
  return false;
}

void CDeviceList::Close() {
  if (IsOpen()) GetPlatform().SetupDiDestroyDeviceInfoList(m_hList);
  m_hList = nullptr;
}

bool CDeviceList::Device(DWORD index, SP_DEVINFO_DATA* device) const {
  memset(device, 0, sizeof(*device));
  device->cbSize = sizeof(*device);
  return GetPlatform().SetupDiEnumDeviceInfo(m_hList, index, device) != FALSE;
}

bool CDeviceList::HasIdOf(SP_DEVINFO_DATA* device, const char* ids) const {
  // REG_MULTI_SZ; a device whose IDs do not fit is none of ours.
  char own[4096];
  DWORD type = 0;
  if (!GetPlatform().SetupDiGetDeviceRegistryPropertyA(m_hList, device, SPDRP_HARDWAREID, &type,
                                                       reinterpret_cast<BYTE*>(own),
                                                       sizeof(own) - 2, nullptr) ||
      type != REG_MULTI_SZ)
    return false;
  own[sizeof(own) - 2] = own[sizeof(own) - 1] = '\0';
  for (const char* id = own; *id; id += strlen(id) + 1)
    if (ContainsId(ids, id)) return true;
  return false;
}

void CDeviceList::InstanceId(SP_DEVINFO_DATA* device, char* id) const {
  if (!GetPlatform().SetupDiGetDeviceInstanceIdA(m_hList, device, id, kInstanceIdSize, nullptr))
    memcpy(id, "?", 2);
  id[kInstanceIdSize - 1] = '\0';
}

const char kDriverUnreadable[] = "driver unreadable";

void CDeviceList::DriverInf(SP_DEVINFO_DATA* device, char* inf) const {
  PlatformLayer& platform = GetPlatform();
  inf[0] = '\0';
  HKEY key = platform.SetupDiOpenDevRegKey(m_hList, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV,
                                           KEY_QUERY_VALUE);
  DWORD error = platform.GetLastError();
  if (key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
    DWORD type = 0, size = MAX_PATH - 1;
    error = platform.RegQueryValueExA(key, "InfPath", nullptr, &type,
                                      reinterpret_cast<BYTE*>(inf), &size);
    platform.RegCloseKey(key);
    // A string stored without its terminator is ended here.
    inf[error == ERROR_SUCCESS && type == REG_SZ && size < MAX_PATH ? size : 0] = '\0';
  }
  // No driver key, or one without an INF: no driver. Any other failure
  // says nothing of what the device uses.
  if (error != ERROR_SUCCESS && error != ERROR_KEY_DOES_NOT_EXIST && error != ERROR_FILE_NOT_FOUND)
    CopyText(inf, MAX_PATH, kDriverUnreadable);
}
