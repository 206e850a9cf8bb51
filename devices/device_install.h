// A staged package reaches the devices plugged in that it fits (Windows 2000
// and later): Windows ranks it against each device's driver, and the log says
// what each device uses before and after.
#ifndef DEVICES_DEVICE_INSTALL_H
#define DEVICES_DEVICE_INSTALL_H

#include "platform/platform_layer.h"

// How long the setup waits for Windows' own device installs before it
// installs on devices. A person who plugged the device in and then started
// the setup is waiting at the screen, and Windows' own install of it (a
// driver search included) ends within a minute or two; an agent's run has an
// hour, of which the lock may already have taken 15 minutes.
const DWORD kPendingInstallWait = 2 * 60 * 1000;

// Installs the package whose INF `companyInf` (in the company folder) the
// store published as `published` on the devices with one of `hardwareIds`
// (each ended by a NUL). `infFile` names it in the log.
void InstallOnDevices(const char* infFile, const char* companyInf, const char* published,
                      const char* hardwareIds);

// newdev.dll from the system folder by its full path (2000 on), whose
// functions are looked up in the library the process has loaded; logged
// where it cannot be had.
bool LoadDeviceInstaller();

// Whether Windows asked for a restart to finish what was installed.
bool DevicesNeedRestart();

// Lets go of what the device steps held; once a run.
void EndDeviceSteps();
// The state a process starts with (for the tests' simulated processes).
void ResetDeviceSteps();

#endif  // DEVICES_DEVICE_INSTALL_H
