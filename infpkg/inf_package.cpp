#include "infpkg/inf_package.h"

#include <string.h>

#include "devices/device_install.h"
#include "infpkg/inf_facts.h"
#include "infpkg/package_record.h"
#include "platform/platform_layer.h"
#include "setup/hand_over.h"
#include "setup/installed_file.h"
#include "setup/programs_entry.h"
#include "setup/setup_context.h"
#include "setup/setup_log.h"
#include "setup/text.h"

namespace {

const char kPackagePattern[] = "vesk*.inf";

// Paths are joined in fixed buffers: every part is shorter than MAX_PATH, and
// a path of MAX_PATH or more fails in the copy itself, as it does on Windows.
const int kPathBuffer = 1024;

void ShowCopyFailure(const char* source) {
  char message[kPathBuffer];
  FormatInto(message, "Copy file fail: %s", source);
  SetupMessageBox(nullptr, message, "setup", MB_OK);
}

// Copies `file` from the program's folder into `folder` + `subfolder`, under
// its own name. Every copy overwrites; a failed one is reported and the
// package goes on.
void CopyPackageFile(const char* file, const char* folder, const char* subfolder = "") {
  char destination[kPathBuffer];
  FormatInto(destination, "%s%s\\%s", folder, subfolder, file);
  // The company folder's names are written fresh; Windows' own folders
  // (9x) as Windows' CopyFile does.
  bool copied = *subfolder ? CopyOverwriting(file, destination) : CopyFresh(file, destination);
  if (!copied) ShowCopyFailure(file);
}

// A signed package's catalog goes where its INF goes: the setup API takes it
// from the folder of the INF it is given, the company folder.
void CopyCatalogs(const InfFacts& facts) {
  int applies = AppliedCatalogEntry(facts);
  for (int i = 0; i < kCatalogEntryCount; ++i) {
    // Too long to be a name beside the INF: reported by its entry.
    if (facts.catalogTooLong[i]) ShowCopyFailure(kCatalogEntries[i]);
    const char* name = facts.catalogs[i];
    bool again = false;
    for (int j = 0; j < i; ++j) again |= strncmp(facts.catalogs[j], name, MAX_PATH) == 0;
    if (!*name || again) continue;
    // Only a file beside the INF: "..\\x.cat", "C:\\x.cat" or a device is none.
    if (!IsCatalogName(name)) {
      ShowCopyFailure(name);
      continue;
    }
    // Another platform's catalog that is not there is none of this one's business.
    bool here = GetPlatform().GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
    if (!here && i != applies) continue;
    CopyPackageFile(name, g_strAppDataDir.c_str());
  }
}

}  // namespace

int InstallInfPackage(const char* name) {
  char sysFile[kPathBuffer];
  char infFile[kPathBuffer];
  FormatInto(sysFile, "%s.sys", name);
  FormatInto(infFile, "%s.inf", name);
  // One open of the INF for all the setup reads from it.
  char source[kPathBuffer];
  FormatInto(source, "%s\\%s", g_strModuleDir.c_str(), infFile);
  InfFacts facts;
  bool read = ReadInfFacts(source, !g_bPreinstallOnly, &facts);
  const char* company = g_strAppDataDir.c_str();
  CopyPackageFile(sysFile, company);
  if (g_osVersion.IsWin9x()) {
    CopyPackageFile(sysFile, g_strWindowsDir.c_str(), "\\System32\\Drivers");
    CopyPackageFile(infFile, g_strWindowsDir.c_str(), "\\Inf");
  }
  CopyPackageFile(infFile, company);
  if (read) CopyCatalogs(facts);
  char companyInf[kPathBuffer];
  FormatInto(companyInf, "%s\\%s", company, infFile);

  // The name Windows publishes it under (oemNN.inf) is the one that removes
  // it again; with ERROR_FILE_EXISTS it names the package already there.
  ++g_setupTally.packagesFound;
  char published[MAX_PATH];
  published[0] = '\0';
  PSTR publishedName = published;
  BOOL registered = GetPlatform().SetupCopyOEMInfA(
      g_pfnSetupCopyOEMInf, companyInf, nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE,
      published, sizeof(published), nullptr, &publishedName);
  DWORD error = GetPlatform().GetLastError();
  published[MAX_PATH - 1] = '\0';
  bool present = !registered && error == ERROR_FILE_EXISTS;
  if (present) {
    ++g_setupTally.packagesPresent;
    LogLine("register %s: already present as %s", companyInf, publishedName);
  } else {
    LogResult(registered, error, "register %s%s%s", companyInf, registered ? " as " : "",
              registered ? publishedName : "");
  }
  if (!registered && !present) {
    ++g_setupTally.packagesFailed;
    return 0;
  }
  if (*publishedName) RecordPackage(infFile, publishedName);
  NoteDriverVersion(facts.driverVersion);
  if (registered) {
    ++g_setupTally.packagesRegistered;
    char message[kPathBuffer];
    FormatInto(message, "Driver included in %s has successfully installed.", infFile);
    SetupMessageBox(nullptr, message, "setup", MB_OK);
  }
  if (!g_bPreinstallOnly && *publishedName)
    InstallOnDevices(infFile, companyInf, publishedName, facts.hardwareIds.c_str());
  return registered ? 1 : 0;
}

bool ForEachPackage(void (*handle)(const char* name)) {
  WIN32_FIND_DATAA found;
  HANDLE find = GetPlatform().FindFirstFileA(kPackagePattern, &found);
  DWORD error = GetPlatform().GetLastError();
  if (find == INVALID_HANDLE_VALUE) {
    if (error == ERROR_FILE_NOT_FOUND) return true;
    LogResult(false, error, "list %s", kPackagePattern);
    return false;
  }
  do {
    found.cFileName[MAX_PATH - 1] = '\0';
    // The pattern also matches 8.3 names: vesk1.info is listed as VESK1~1.INF,
    // and vesk2.inf_old would be taken for the package vesk2 a second time.
    if (!MatchesPattern(found.cFileName, kPackagePattern)) continue;
    CPathString name(found.cFileName);
    const char* dot = FindLastChar(name.c_str(), '.');
    if (dot) name.Truncate(static_cast<size_t>(dot - name.c_str()));
    handle(name.c_str());
  } while (GetPlatform().FindNextFileA(find, &found));
  error = GetPlatform().GetLastError();
  GetPlatform().FindClose(find);
  if (error == ERROR_NO_MORE_FILES) return true;
  LogResult(false, error, "list %s", kPackagePattern);
  return false;
}

int InstallInfPackages() {
  ForEachPackage([](const char* name) { InstallInfPackage(name); });
  bool restart = DevicesNeedRestart();
  EndDeviceSteps();
  if (!restart) return 0;
  SetupMessageBox(nullptr, "Restart Windows to finish installing the drivers.", "setup", MB_OK);
  return ERROR_SUCCESS_REBOOT_REQUIRED;
}
