#include "infpkg/inf_package.h"

#include <string.h>

#include "platform/platform_layer.h"
#include "setup/hand_over.h"
#include "setup/installed_file.h"
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
  if (!CopyOverwriting(file, destination)) ShowCopyFailure(file);
}

// The catalogs an INF can name in [Version]; the setup API checks the one
// decorated for the machine's native architecture, else ".NT" on the NT
// family, else the plain one.
const char* const kCatalogEntries[] = {"CatalogFile",         "CatalogFile.NT",
                                       "CatalogFile.NTx86",   "CatalogFile.NTamd64",
                                       "CatalogFile.NTarm64", "CatalogFile.NTia64"};
const int kCatalogEntryCount = sizeof(kCatalogEntries) / sizeof(kCatalogEntries[0]);

int NativeCatalogEntry() {
  if (g_bWow64) return g_nNativeMachine == IMAGE_FILE_MACHINE_ARM64 ? 4 : 3;
  switch (g_wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: return 3;
    case PROCESSOR_ARCHITECTURE_ARM64: return 4;
    case PROCESSOR_ARCHITECTURE_IA64: return 5;
    default: return 2;
  }
}

// CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9 (also with a superscript 1, 2 or
// 3: 0xB9, 0xB2, 0xB3 in code page 1252), CONIN$ and CONOUT$ name devices in
// every folder, in any case, with any extension and blanks before it
// ("Naming Files, Paths, and Namespaces"). Reading COM1 can wait for ever,
// with the lock held. (In other code pages those three bytes are other
// characters; refusing them there too costs nothing.)
bool IsDeviceName(const char* name) {
  char base[8];
  size_t length = 0;
  for (; name[length] && name[length] != '.'; ++length)
    if (length < sizeof(base)) base[length] = name[length];
  while (length && name[length - 1] == ' ') --length;
  if (length < 3 || length >= sizeof(base)) return false;
  base[length] = '\0';
  const char* devices = "CON\0PRN\0AUX\0NUL\0CONIN$\0CONOUT$\0";
  if (length == 4) {
    unsigned char digit = static_cast<unsigned char>(base[3]);
    if (!((digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3))
      return false;
    base[3] = '\0';
    devices = "COM\0LPT\0";
  }
  for (; *devices; devices += strlen(devices) + 1)
    if (MatchesPattern(base, devices)) return true;
  return false;
}

// A signed package's catalog goes where its INF goes: the setup API takes it
// from the folder of the INF it is given, the company folder. Read with the
// setup API's own INF reader (quotes, comments, %strings%, Unicode INFs).
void CopyCatalogs(const char* infFile) {
  char inf[kPathBuffer];
  FormatInto(inf, "%s\\%s", g_strModuleDir.c_str(), infFile);
  HINF handle = GetPlatform().SetupOpenInfFileA(inf, nullptr, INF_STYLE_WIN4, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  char names[kCatalogEntryCount][MAX_PATH];
  bool named[kCatalogEntryCount];
  for (int i = 0; i < kCatalogEntryCount; ++i) {
    bool read = GetPlatform().SetupGetLineTextA(nullptr, handle, "Version", kCatalogEntries[i],
                                                names[i], MAX_PATH, nullptr) != FALSE;
    // Too long to be a name beside the INF: reported by its entry.
    if (!read && GetPlatform().GetLastError() == ERROR_INSUFFICIENT_BUFFER)
      ShowCopyFailure(kCatalogEntries[i]);
    named[i] = read && names[i][0];
  }
  GetPlatform().SetupCloseInfFile(handle);
  bool nt = !g_osVersion.IsWin9x();
  int applies = nt && named[NativeCatalogEntry()] ? NativeCatalogEntry() : nt && named[1] ? 1 : 0;
  for (int i = 0; i < kCatalogEntryCount; ++i) {
    bool again = false;
    for (int j = 0; j < i; ++j) again |= named[j] && strncmp(names[j], names[i], MAX_PATH) == 0;
    if (!named[i] || again) continue;
    // Only a file beside the INF: "..\\x.cat", "C:\\x.cat" or a device is none.
    if (ContainsText(names[i], "\\") || ContainsText(names[i], "/") ||
        ContainsText(names[i], ":") || IsDeviceName(names[i])) {
      ShowCopyFailure(names[i]);
      continue;
    }
    // Another platform's catalog that is not there is none of this one's business.
    bool here = GetPlatform().GetFileAttributesA(names[i]) != INVALID_FILE_ATTRIBUTES;
    if (!here && i != applies) continue;
    CopyPackageFile(names[i], g_strAppDataDir.c_str());
  }
}

}  // namespace

int InstallInfPackage(const char* name) {
  char sysFile[kPathBuffer];
  char infFile[kPathBuffer];
  FormatInto(sysFile, "%s.sys", name);
  FormatInto(infFile, "%s.inf", name);
  const char* company = g_strAppDataDir.c_str();
  CopyPackageFile(sysFile, company);
  if (g_osVersion.IsWin9x()) {
    CopyPackageFile(sysFile, g_strWindowsDir.c_str(), "\\System32\\Drivers");
    CopyPackageFile(infFile, g_strWindowsDir.c_str(), "\\Inf");
  }
  CopyPackageFile(infFile, company);
  CopyCatalogs(infFile);
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
  if (!registered && error == ERROR_FILE_EXISTS) {
    ++g_setupTally.packagesPresent;
    LogLine("register %s: already present as %s", companyInf, publishedName);
    return 0;
  }
  LogResult(registered, error, "register %s%s%s", companyInf,
            registered ? " as " : "", registered ? publishedName : "");
  if (!registered) {
    ++g_setupTally.packagesFailed;
    return 0;
  }
  ++g_setupTally.packagesRegistered;
  char message[kPathBuffer];
  FormatInto(message, "Driver included in %s has successfully installed.", infFile);
  SetupMessageBox(nullptr, message, "setup", MB_OK);
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
