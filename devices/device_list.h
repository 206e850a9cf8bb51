// The devices Windows knows, plugged in or not, as the setup API lists them:
// their hardware IDs, instance IDs, and the INF their driver comes from.
#ifndef DEVICES_DEVICE_LIST_H
#define DEVICES_DEVICE_LIST_H

#include "platform/platform_layer.h"

const int kInstanceIdSize = 256;  // MAX_DEVICE_ID_LEN (200) and its terminator
extern const char kDriverUnreadable[];  // never a published INF's name

class CDeviceList {
 public:
  CDeviceList() = default;
  ~CDeviceList() { Close(); }
  CDeviceList(const CDeviceList&) = delete;
  CDeviceList& operator=(const CDeviceList&) = delete;

  // Lists every device, present or not; false (logged) where it cannot.
  bool Open();
  void Close();
  // A new process holds no list (for the tests' simulated processes).
  void Forget() { m_hList = nullptr; }
  bool IsOpen() const { return m_hList != nullptr; }
  HDEVINFO Handle() const { return m_hList; }

  // The device at `index`; false after the last.
  bool Device(DWORD index, SP_DEVINFO_DATA* device) const;
  // Whether one of the device's hardware IDs is in `ids` (each ended by a NUL).
  bool HasIdOf(SP_DEVINFO_DATA* device, const char* ids) const;
  // Its instance ID (kInstanceIdSize bytes), "?" where Windows does not say.
  void InstanceId(SP_DEVINFO_DATA* device, char* id) const;
  // The published INF its driver comes from (MAX_PATH bytes): the InfPath of
  // its driver key; empty where it has none (it never had a driver);
  // kDriverUnreadable where Windows does not say.
  void DriverInf(SP_DEVINFO_DATA* device, char* inf) const;

 private:
  // Null while closed: a list of the process's own holds no bytes in the file.
  HDEVINFO m_hList = nullptr;
};

#endif  // DEVICES_DEVICE_LIST_H
