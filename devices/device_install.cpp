#include "devices/device_install.h"

#include <string.h>

#include "devices/device_list.h"
#include "setup/path_string.h"
#include "setup/setup_context.h"
#include "setup/setup_log.h"
#include "setup/text.h"

namespace {

enum DeviceState { kNotYet, kReady, kUnavailable, kPostponed };

// Zero-filled: no room in the file. One list of devices a run.
DeviceState g_eDeviceState;
CDeviceList g_deviceList;
bool g_bRestart;

// newdev.dll by its full path, as setupapi.dll is loaded (2000 on; 9x and
// NT 4.0 install no driver on a device from a setup). Then Windows' own
// installs are given time to end: a device plugged in just before the run
// is often still being installed.
DeviceState Prepare() {
  PlatformLayer& platform = GetPlatform();
  const OSVERSIONINFOA& os = g_osVersion.Info();
  if (os.dwPlatformId != VER_PLATFORM_WIN32_NT || os.dwMajorVersion < 5) {
    LogLine("devices: this Windows installs no driver on devices for a setup; the packages "
            "are staged for devices plugged in later");
    return kUnavailable;
  }
  if (!LoadDeviceInstaller()) return kUnavailable;
  DWORD started = platform.GetTickCount();
  DWORD waited = platform.CMP_WaitNoPendingInstallEvents(kPendingInstallWait);
  DWORD error = platform.GetLastError();
  if (waited == WAIT_TIMEOUT) {
    LogLine("devices: Windows was still installing devices after %u s; the packages stay "
            "staged, and a later run or a replug installs them",
            kPendingInstallWait / 1000);
    return kPostponed;
  }
  // Missing before XP; XP without a service pack fails it outside session 0.
  if (waited == WAIT_FAILED && error != ERROR_CALL_NOT_IMPLEMENTED)
    LogResult(false, error, "wait for Windows' own device installs");
  else if (waited == WAIT_OBJECT_0 && platform.GetTickCount() != started)
    LogLine("devices: waited %u ms for Windows' own device installs",
            platform.GetTickCount() - started);
  return kReady;
}

// The devices with one of the package's IDs, each with the INF its driver
// came from before this package: four bytes of list index, then that INF.
void DevicesBefore(const char* ids, CPathString& found) {
  SP_DEVINFO_DATA device;
  for (DWORD index = 0; g_deviceList.Device(index, &device); ++index) {
    if (!g_deviceList.HasIdOf(&device, ids)) continue;
    char inf[MAX_PATH];
    g_deviceList.DriverInf(&device, inf);
    found.Append(reinterpret_cast<const char*>(&index), sizeof(index));
    found.Append(inf, strlen(inf) + 1);
  }
}

// One call for one hardware ID, its line written before it: Windows'
// device installs can wait on a driver or a device for minutes, and a run
// killed meanwhile shows where it stood. Whether it answered TRUE.
bool UpdateDevices(const char* infFile, const char* companyInf, const char* id) {
  PlatformLayer& platform = GetPlatform();
  LogLine("installing %s on devices with %s", infFile, id);
  // Silent: a call that would show UI fails instead, as nobody can answer.
  DWORD flags = g_bSilent ? INSTALLFLAG_NONINTERACTIVE : 0;
  BOOL restart = FALSE;
  BOOL done = platform.UpdateDriverForPlugAndPlayDevicesA(nullptr, id, companyInf, flags, &restart);
  DWORD error = platform.GetLastError();
  if (!done && error == ERROR_INVALID_FLAGS && flags) {
    LogLine("installing %s on devices with %s: INSTALLFLAG_NONINTERACTIVE refused; again "
            "without it", infFile, id);
    done = platform.UpdateDriverForPlugAndPlayDevicesA(nullptr, id, companyInf, 0, &restart);
    error = platform.GetLastError();
  }
  const char* outcome = done                            ? "Windows answered TRUE"
                        : error == ERROR_NO_SUCH_DEVINST ? "no such device plugged in (staged for "
                                                           "when one is)"
                        : error == ERROR_NO_MORE_ITEMS   ? "the devices' drivers are as good or "
                                                           "better"
                        : error == ERROR_IN_WOW64        ? "refused to a 32-bit process on 64-bit "
                                                           "Windows"
                                                         : nullptr;
  if (outcome) {
    LogLine("installing %s on devices with %s: %s%s", infFile, id, outcome,
            done && restart ? "; a restart is needed" : "");
  } else {
    LogResult(false, error, "installing %s on devices with %s", infFile, id);
  }
  if (!done && error != ERROR_NO_SUCH_DEVINST && error != ERROR_NO_MORE_ITEMS)
    ++g_setupTally.deviceFailures;
  g_bRestart |= done && restart;
  return done;
}

}  // namespace

bool LoadDeviceInstaller() {
  CPathString path;
  if (!ReadPlatformPath(path, kSystemDir)) return false;
  path.Append("\\newdev.dll");
  if (GetPlatform().LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
    return true;
  LogResult(false, GetPlatform().GetLastError(), "load %s", path.c_str());
  return false;
}

void InstallOnDevices(const char* infFile, const char* companyInf, const char* published,
                      const char* hardwareIds) {
  if (!*hardwareIds) return;
  if (g_eDeviceState == kNotYet) g_eDeviceState = Prepare();
  if (g_eDeviceState != kReady) return;
  CPathString before;
  if (g_deviceList.Open()) DevicesBefore(hardwareIds, before);
  bool answered = false;
  for (const char* id = hardwareIds; *id; id += strlen(id) + 1)
    answered |= UpdateDevices(infFile, companyInf, id);
  // What Windows now holds, device by device, not what the calls answered.
  int inUse = 0;
  for (size_t at = 0; at < before.Length();) {
    DWORD index;
    memcpy(&index, before.c_str() + at, sizeof(index));
    const char* was = before.c_str() + at + sizeof(index);
    at += sizeof(index) + strlen(was) + 1;
    SP_DEVINFO_DATA device;
    char now[MAX_PATH], instance[kInstanceIdSize];
    if (!g_deviceList.Device(index, &device)) continue;
    g_deviceList.DriverInf(&device, now);
    g_deviceList.InstanceId(&device, instance);
    LogLine("device %s: %s before, %s now", instance, *was ? was : "no driver",
            *now ? now : "no driver");
    bool ours = SameText(now, published);
    inUse += ours;
    // Updated only where what it used before is known to differ.
    if (ours && !SameText(was, published) && !SameText(was, kDriverUnreadable))
      ++g_setupTally.devicesUpdated;
  }
  if (answered && !inUse)
    LogLine("installing %s on devices: Windows answered TRUE, but no device uses %s", infFile,
            published);
}

bool DevicesNeedRestart() { return g_bRestart; }

void EndDeviceSteps() {
  g_deviceList.Close();
  g_eDeviceState = kNotYet;
  g_bRestart = false;
}

void ResetDeviceSteps() {
  g_deviceList.Forget();
  g_eDeviceState = kNotYet;
  g_bRestart = false;
}
