#include "infpkg/inf_package.h"

#include "platform/platform_layer.h"
#include "setup/installed_file.h"
#include "setup/setup_context.h"
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

  if (!GetPlatform().SetupCopyOEMInfA(g_pfnSetupCopyOEMInf, companyInf.c_str(), nullptr,
                                      SPOST_PATH, SP_COPY_NOOVERWRITE, nullptr, 0, nullptr,
                                      nullptr))
    return 0;
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
