#include "setup/win_main.h"

#include "devices/package_removal.h"
#include "infpkg/inf_package.h"
#include "ntdrivers/nt_driver_sets.h"
#include "setup/company_folder.h"
#include "setup/hand_over.h"
#include "setup/programs_entry.h"
#include "setup/setup_context.h"
#include "setup/setup_lock.h"
#include "setup/setup_log.h"
#include "setup/text.h"

namespace {

// What a run left on the machine can be removed from Programs and Features;
// what a removal took out entirely leaves it.
int InstallSet(const NtDriverSet& set) {
  int code = InstallNtDriverSet(set);
  if (code == 1 || g_setupTally.servicesInstalled) RegisterForRemoval("-UNINSTALL");
  return code;
}

int RemoveSet(const NtDriverSet& set) {
  int code = RemoveNtDriverSet(set);
  if (code == 1) UnregisterAfterRemoval();
  return code;
}

int InstallOneProcessorSet() { return InstallSet(g_oneProcessorSet); }
int InstallSeveralProcessorSet() { return InstallSet(g_severalProcessorSet); }
int RemoveOneProcessorSet() { return RemoveSet(g_oneProcessorSet); }
int RemoveSeveralProcessorSet() { return RemoveSet(g_severalProcessorSet); }

// The packages' own outcomes were shown one by one; the route itself
// succeeded (3010 when Windows asked for a restart).
int PreinstallPackages() {
  int code = InstallInfPackages();
  if (g_setupTally.packagesRegistered + g_setupTally.packagesPresent) RegisterForRemoval("-REMOVE");
  return code;
}

int RemovePackages() {
  int code = RemoveInfPackages();
  if (code != ERROR_INSTALL_FAILURE) UnregisterAfterRemoval();
  return code;
}

int NothingToRemove() { return 1; }

enum Match { kNo, kYes, kAny };

struct Route {
  Match nt4;
  Match install;
  Match multiProcessor;
  Match removePackages;  // -REMOVE; on NT 4.0 it removes as -UNINSTALL does
  int (*run)();
};

const Route kRoutes[] = {
    {kYes, kYes, kNo, kAny, InstallOneProcessorSet},
    {kYes, kYes, kYes, kAny, InstallSeveralProcessorSet},
    {kYes, kNo, kNo, kAny, RemoveOneProcessorSet},
    {kYes, kNo, kYes, kAny, RemoveSeveralProcessorSet},
    {kNo, kYes, kAny, kAny, PreinstallPackages},
    {kNo, kNo, kAny, kYes, RemovePackages},
    {kNo, kNo, kAny, kNo, NothingToRemove},
};

bool Matches(Match match, bool value) { return match == kAny || (match == kYes) == value; }

int RunRoute() {
  for (const Route& route : kRoutes) {
    if (Matches(route.nt4, g_osVersion.IsNt4()) && Matches(route.install, g_bInstall) &&
        Matches(route.multiProcessor, g_bMultiProcessor) &&
        Matches(route.removePackages, g_bRemovePackages))
      return route.run();
  }
  return -1;
}

}  // namespace

extern "C" LPSTR SkipProgramName(LPSTR commandLine) {
  if (!commandLine) return commandLine;
  unsigned char* p = reinterpret_cast<unsigned char*>(commandLine);
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p > ' ') ++p;
  }
  while (*p && *p <= ' ') ++p;
  return reinterpret_cast<LPSTR>(p);
}

// The company folder is not what its name says and could not be set aside:
// nothing is staged or started from it, and the exit code is a failure that
// no deployment tool takes for success or retries on its own.
int RefuseCompanyFolder() {
  char message[kFormatSize];
  FormatInto(message, "Setup will not use %s: %s\nAn administrator must remove it; then run "
             "setup again.", g_companyFolder.path.c_str(), g_companyFolder.note);
  SetupMessageBox(nullptr, message, "setup", MB_OK);
  return kCompanyFolderRefused;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  // Before anything changes on the machine, the hand-over included: two runs
  // of the 32-bit file never meet in the company folder. Given back when the
  // route has ended.
  CSetupLock lock(RecogniseTwin());
  if (!lock.IsHeld()) {
    if (!IsSilentRun(commandLine))
      SetupMessageBox(nullptr, "Another setup is running. Try again when it has finished.",
                      "setup", MB_OK);
    return kAnotherSetupRunning;
  }
  // The 64-bit twin makes the folders and shows the boxes.
  DWORD childExitCode;
  if (HandOverToNativeSetup(commandLine, &childExitCode)) {
    ReleaseCompanyFolder();
    return static_cast<int>(childExitCode);
  }
  bool started = InitSetup(commandLine) != -1;
  OpenSetupLog(commandLine, lock.Waited());
  int exitCode = !started ? -1
                 : !g_osVersion.IsNt4() && g_companyFolder.state == kFolderUnsafe
                     ? RefuseCompanyFolder()
                     : RunRoute();
  if (!started)
    SetupMessageBox(nullptr, "Setup failed to initialize.\nPlease check OS for compatibility.",
                    "setup", MB_OK);
  CloseSetupLog(exitCode);
  ReleaseCompanyFolder();
  return exitCode;
}
