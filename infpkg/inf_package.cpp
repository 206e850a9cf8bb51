#include "infpkg/inf_package.h"

#include "platform/platform_layer.h"
#include "setup/installed_file.h"
#include "setup/setup_context.h"
#include "setup/setup_log.h"
#include "setup/text.h"

namespace {

const char kPackagePattern[] = "vesk*.inf";

// Every copy overwrites; a failed one is reported and the package goes on.
void CopyPackageFile(const CPathString& source, const CPathString& destination) {
  if (CopyOverwriting(source.c_str(), destination.c_str())) return;
  CPathString message;
  FormatText(message, "Copy file fail: %s", source.c_str());
  SetupMessageBox(nullptr, message.c_str(), "setup", MB_OK);
}

CPathString FileIn(const CPathString& folder, const char* name, const char* extension) {
  CPathString path(folder.c_str());
  return path.Append("\\").Append(name).Append(extension);
}

}  // namespace

int InstallInfPackage(const char* name) {
  CPathString sysFile(name);
  sysFile.Append(".sys");
  CPathString infFile(name);
  infFile.Append(".inf");

  CopyPackageFile(sysFile, FileIn(g_strAppDataDir, name, ".sys"));
  if (g_osVersion.IsWin9x()) {
    CPathString drivers(g_strWindowsDir.c_str());
    drivers.Append("\\System32\\Drivers");
    CopyPackageFile(sysFile, FileIn(drivers, name, ".sys"));
    CPathString inf(g_strWindowsDir.c_str());
    inf.Append("\\Inf");
    CopyPackageFile(infFile, FileIn(inf, name, ".inf"));
  }
  CPathString companyInf = FileIn(g_strAppDataDir, name, ".inf");
  CopyPackageFile(infFile, companyInf);

  // The name Windows publishes it under (oemNN.inf) is the one that removes
  // it again; with ERROR_FILE_EXISTS it names the package already there.
  ++g_setupTally.packagesFound;
  char published[MAX_PATH];
  published[0] = '\0';
  PSTR publishedName = published;
  BOOL registered = GetPlatform().SetupCopyOEMInfA(
      g_pfnSetupCopyOEMInf, companyInf.c_str(), nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE,
      published, sizeof(published), nullptr, &publishedName);
  DWORD error = GetPlatform().GetLastError();
  published[MAX_PATH - 1] = '\0';
  if (!registered && error == ERROR_FILE_EXISTS) {
    ++g_setupTally.packagesPresent;
    LogLine("register %s: already present as %s", companyInf.c_str(), publishedName);
    return 0;
  }
  LogResult(registered, error, "register %s%s%s", companyInf.c_str(),
            registered ? " as " : "", registered ? publishedName : "");
  if (!registered) {
    ++g_setupTally.packagesFailed;
    return 0;
  }
  ++g_setupTally.packagesRegistered;
  CPathString message;
  FormatText(message, "Driver included in %s has successfully installed.", infFile.c_str());
  SetupMessageBox(nullptr, message.c_str(), "setup", MB_OK);
  return 1;
}

void InstallInfPackages() {
  WIN32_FIND_DATAA found;
  HANDLE find = GetPlatform().FindFirstFileA(kPackagePattern, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    found.cFileName[MAX_PATH - 1] = '\0';
    // The pattern also matches 8.3 names: vesk1.info is listed as VESK1~1.INF,
    // and vesk2.inf_old would be taken for the package vesk2 a second time.
    if (!MatchesPattern(found.cFileName, kPackagePattern)) continue;
    CPathString name(found.cFileName);
    const char* dot = FindLastChar(name.c_str(), '.');
    if (dot) name.Truncate(static_cast<size_t>(dot - name.c_str()));
    InstallInfPackage(name.c_str());
  } while (GetPlatform().FindNextFileA(find, &found));
  GetPlatform().FindClose(find);
}
