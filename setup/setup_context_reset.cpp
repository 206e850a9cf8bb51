// For the tests: a simulated process starts from the state static
// construction leaves. A file of its own, so that setup.exe does not carry it.
#include "setup/setup_context.h"

#include "devices/device_install.h"
#include "setup/company_folder.h"
#include "setup/programs_entry.h"

void ResetSetupContext() {
  g_osVersion = COsVersion();
  g_strWindowsDir.Assign("");
  g_strModuleDir.Assign("");
  g_strAppDataDir.Assign("");
  g_bInstall = true;
  g_bSilent = false;
  g_bPreinstallOnly = false;
  g_bRemovePackages = false;
  g_bMultiProcessor = false;
  g_nProcessors = -1;
  g_wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  g_pfnSetupCopyOEMInf = nullptr;
  ResetDeviceSteps();
  g_bTwin = false;
  g_szNewestDriverVersion[0] = '\0';
  g_companyFolder = CompanyFolder();  // a new process holds nothing yet
}
