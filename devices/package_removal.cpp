#include "devices/package_removal.h"

#include <string.h>

#include "devices/device_install.h"
#include "devices/device_list.h"
#include "infpkg/inf_facts.h"
#include "infpkg/inf_package.h"
#include "infpkg/package_record.h"
#include "setup/installed_file.h"
#include "setup/setup_context.h"
#include "setup/setup_log.h"
#include "setup/text.h"

namespace {

const int kPathBuffer = 1024;  // what FormatInto may write

// Zero-filled: no room in the file.
bool g_bRemovalRestart;
bool g_bAnyKept;

// Where the store keeps the catalog of a package it published as X.inf.
void StoreCatalog(char* path, const char* published) {
  CPathString base(published);
  const char* dot = FindLastChar(base.c_str(), '.');
  if (dot) base.Truncate(static_cast<size_t>(dot - base.c_str()));
  CPathString system;
  ReadPlatformPath(system, kSystemDir);
  FormatInto(path, "%s\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\%s.cat",
             system.c_str(), base.c_str());
}

// Whether the store's `published` is this package: the same INF bytes, and
// not another catalog (identical INFs with different catalogs are distinct
// packages; where the store keeps no catalog under that name, the INF says).
// A file that could not be read sets *unsure.
bool IsOurs(const char* published, const char* infPath, const char* catalog, bool* unsure) {
  if (!IsPlainName(published)) return false;
  char stored[kPathBuffer];
  FormatInto(stored, "%s\\Inf\\%s", g_strWindowsDir.c_str(), published);
  if (!SameFileBytes(stored, infPath, unsure)) return false;
  if (!*catalog) return true;
  char storedCatalog[kPathBuffer];
  StoreCatalog(storedCatalog, published);
  return GetPlatform().GetFileAttributesA(storedCatalog) == INVALID_FILE_ATTRIBUTES ||
         SameFileBytes(storedCatalog, catalog, unsure);
}

// The name the store has this package under (MAX_PATH bytes): the one
// recorded at staging where it still holds this package, else the INF in
// %windir%\inf with its bytes and catalog, whatever its name (Wine keeps
// the INF's own name where it is free).
bool FindPublished(const char* infFile, const char* infPath, const char* catalog,
                   char* published, bool* unsure) {
  if (ReadPackageRecord(infFile, published) && IsOurs(published, infPath, catalog, unsure))
    return true;
  PlatformLayer& platform = GetPlatform();
  HANDLE own = platform.CreateFileA(infPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  *unsure |= own == INVALID_HANDLE_VALUE;
  if (own == INVALID_HANDLE_VALUE) return false;
  DWORD size = platform.GetFileSize(own, nullptr);
  platform.CloseHandle(own);
  char pattern[kPathBuffer];
  FormatInto(pattern, "%s\\Inf\\*.inf", g_strWindowsDir.c_str());
  WIN32_FIND_DATAA found;
  HANDLE find = platform.FindFirstFileA(pattern, &found);
  bool ours = false;
  *unsure |= (find == INVALID_HANDLE_VALUE && platform.GetLastError() != ERROR_FILE_NOT_FOUND) ||
             size == INVALID_FILE_SIZE;
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    found.cFileName[MAX_PATH - 1] = '\0';
    ours = found.nFileSizeHigh == 0 && found.nFileSizeLow == size &&
           !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           IsOurs(found.cFileName, infPath, catalog, unsure);
    if (ours) CopyText(published, MAX_PATH, found.cFileName);
  } while (!ours && platform.FindNextFileA(find, &found));
  *unsure |= !ours && platform.GetLastError() != ERROR_NO_MORE_FILES;
  platform.FindClose(find);
  return ours;
}

// From XP on: each device that uses the package (present or not) is
// removed, then the package leaves the store.
bool UninstallFromDevicesThenStore(const char* published) {
  PlatformLayer& platform = GetPlatform();
  CDeviceList list;
  if (list.Open()) {
    SP_DEVINFO_DATA device;
    for (DWORD index = 0; list.Device(index, &device); ++index) {
      char inf[MAX_PATH], instance[kInstanceIdSize];
      list.DriverInf(&device, inf);
      if (!SameText(inf, published)) continue;
      list.InstanceId(&device, instance);
      LogLine("removing device %s, which uses %s", instance, published);
      bool removed = platform.SetupDiCallClassInstaller(DIF_REMOVE, list.Handle(), &device);
      LogResult(removed, platform.GetLastError(), "removing device %s", instance);
      SP_DEVINSTALL_PARAMS_A parameters;
      memset(&parameters, 0, sizeof(parameters));
      parameters.cbSize = sizeof(parameters);
      if (removed && platform.SetupDiGetDeviceInstallParamsA(list.Handle(), &device, &parameters))
        g_bRemovalRestart |= (parameters.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
    }
  }
  LogLine("removing %s from the driver store", published);
  bool out = platform.SetupUninstallOEMInfA(published, 0, nullptr) != FALSE;
  LogResult(out, platform.GetLastError(), "removing %s from the driver store", published);
  return out;
}

// Windows 10 1703 on: DiUninstallDriverA moves every device that uses the
// package to another driver or none and takes the package out; elsewhere
// the XP way. Never forced.
void Uninstall(const char* published) {
  PlatformLayer& platform = GetPlatform();
  char stored[kPathBuffer];
  FormatInto(stored, "%s\\Inf\\%s", g_strWindowsDir.c_str(), published);
  LogLine("uninstalling driver %s", stored);
  // Nothing else in a removal run loads the library the function is in.
  LoadDeviceInstaller();
  BOOL restart = FALSE;
  BOOL done = platform.DiUninstallDriverA(nullptr, stored, 0, &restart);
  DWORD error = platform.GetLastError();
  if (done || error != ERROR_CALL_NOT_IMPLEMENTED) {
    LogResult(done != FALSE, error, "uninstalling driver %s", stored);
    g_bRemovalRestart |= done && restart;
    return;
  }
  UninstallFromDevicesThenStore(published);
}

// The setup's own copies go once the store's is gone: Windows 2000 and XP
// reinstall a device later from the folder recorded at staging. Never the
// files Windows installed for a device, nor the setup log.
void DeleteOwnCopies(const char* name, const InfFacts& facts) {
  char path[kPathBuffer];
  const char* company = g_strAppDataDir.c_str();
  FormatInto(path, "%s\\%s.inf", company, name);
  DeleteFresh(path);
  FormatInto(path, "%s\\%s.sys", company, name);
  DeleteFresh(path);
  for (int i = 0; i < kCatalogEntryCount; ++i) {
    bool again = false;
    for (int j = 0; j < i; ++j) again |= SameText(facts.catalogs[j], facts.catalogs[i]);
    if (again || !*facts.catalogs[i] || !IsCatalogName(facts.catalogs[i])) continue;
    FormatInto(path, "%s\\%s", company, facts.catalogs[i]);
    DeleteFresh(path);
  }
}

void RemoveInfPackage(const char* name) {
  char infFile[kPathBuffer], infPath[kPathBuffer], message[kPathBuffer];
  FormatInto(infFile, "%s.inf", name);
  FormatInto(infPath, "%s\\%s", g_strModuleDir.c_str(), infFile);
  ++g_setupTally.packagesFound;
  InfFacts facts;
  if (!ReadInfFacts(infPath, false, &facts)) {
    // Which package of the store is this one is not known: it may stay.
    LogResult(false, GetPlatform().GetLastError(), "remove %s: read it", infFile);
    ++g_setupTally.packagesKept;
    g_bAnyKept = true;
    FormatInto(message, "Remove driver fail: %s", infFile);
    SetupMessageBox(nullptr, message, "setup", MB_OK);
    return;
  }
  char catalog[kPathBuffer];
  catalog[0] = '\0';
  const char* applied = facts.catalogs[AppliedCatalogEntry(facts)];
  if (*applied && IsCatalogName(applied))
    FormatInto(catalog, "%s\\%s", g_strModuleDir.c_str(), applied);
  char published[MAX_PATH];
  bool unsure = false;
  bool found = FindPublished(infFile, infPath, catalog, published, &unsure);
  if (!found && unsure) {
    // A file that could not be read may have been this package: it may stay.
    LogResult(false, GetPlatform().GetLastError(), "remove %s: look for it in the driver store",
              infFile);
    ++g_setupTally.packagesKept;
    g_bAnyKept = true;
    FormatInto(message, "Remove driver fail: %s", infFile);
    SetupMessageBox(nullptr, message, "setup", MB_OK);
    return;
  }
  if (!found) {
    // Never staged, or taken out before: no failure.
    LogLine("remove %s: not in the driver store", infFile);
    ForgetPackage(infFile);
    DeleteOwnCopies(name, facts);
    return;
  }
  LogLine("remove %s: in the driver store as %s", infFile, published);
  // Neither has SetupUninstallOEMInf: the store keeps what it was given.
  const OSVERSIONINFOA& os = g_osVersion.Info();
  bool storeKeeps = os.dwPlatformId != VER_PLATFORM_WIN32_NT ||
                    (os.dwMajorVersion == 5 && os.dwMinorVersion == 0);
  if (storeKeeps)
    LogLine("remove %s: this Windows cannot take a package out of its driver store; %s stays",
            infFile, published);
  else
    Uninstall(published);
  // What the store holds now, not what the calls answered.
  char stored[kPathBuffer];
  FormatInto(stored, "%s\\Inf\\%s", g_strWindowsDir.c_str(), published);
  if (GetPlatform().GetFileAttributesA(stored) != INVALID_FILE_ATTRIBUTES) {
    LogLine("remove %s: %s is still in the driver store", infFile, published);
    ++g_setupTally.packagesKept;
    g_bAnyKept = true;
    FormatInto(message, storeKeeps ? "Remove driver fail: %s\nThis Windows keeps driver packages "
                                     "in its store."
                                   : "Remove driver fail: %s",
               infFile);
    SetupMessageBox(nullptr, message, "setup", MB_OK);
    return;
  }
  ++g_setupTally.packagesRemoved;
  // The record first: a run stopped between the two leaves the INF beside
  // the copy, which the next removal finds; a record with no INF left to
  // remove it by would keep the entry for good.
  ForgetPackage(infFile);
  DeleteOwnCopies(name, facts);
  FormatInto(message, "Driver included in %s has been removed.", infFile);
  SetupMessageBox(nullptr, message, "setup", MB_OK);
}

}  // namespace

int RemoveInfPackages() {
  g_bRemovalRestart = g_bAnyKept = false;
  // A folder that cannot be listed may hold packages still in the store.
  if (!ForEachPackage(RemoveInfPackage)) {
    g_bAnyKept = true;
    SetupMessageBox(nullptr, "Remove driver fail: vesk*.inf", "setup", MB_OK);
  }
  if (g_bRemovalRestart)
    SetupMessageBox(nullptr, "Restart Windows to finish removing the drivers.", "setup", MB_OK);
  if (g_bAnyKept) return ERROR_INSTALL_FAILURE;
  return g_bRemovalRestart ? ERROR_SUCCESS_REBOOT_REQUIRED : 0;
}
