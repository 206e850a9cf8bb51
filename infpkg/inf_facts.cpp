#include "infpkg/inf_facts.h"

#include <string.h>

#include "setup/hand_over.h"
#include "setup/setup_context.h"
#include "setup/setup_log.h"
#include "setup/text.h"

const char* const kCatalogEntries[kCatalogEntryCount] = {
    "CatalogFile",         "CatalogFile.NT",      "CatalogFile.NTx86",
    "CatalogFile.NTamd64", "CatalogFile.NTarm64", "CatalogFile.NTia64"};

namespace {

// The machine Windows runs on, as INF decorations name it: under WOW64 and
// for the x64 file on ARM64 the native one, not the process's.
const char* NativeMachine() {
  switch (g_nNativeMachine) {
    case IMAGE_FILE_MACHINE_AMD64: return "amd64";
    case IMAGE_FILE_MACHINE_ARM64: return "arm64";
    case IMAGE_FILE_MACHINE_IA64: return "ia64";
    case IMAGE_FILE_MACHINE_I386: return "x86";
  }
  switch (g_wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: return "amd64";
    case PROCESSOR_ARCHITECTURE_ARM64: return "arm64";
    case PROCESSOR_ARCHITECTURE_IA64: return "ia64";
  }
  return "x86";
}

// A number of a decoration: decimal, or hexadecimal after "0x".
unsigned ReadPart(const char*& p) {
  unsigned base = 10, value = 0;
  if (p[0] == '0' && (p[1] | 0x20) == 'x') {
    base = 16;
    p += 2;
  }
  for (;; ++p) {
    unsigned digit = *p >= '0' && *p <= '9' ? static_cast<unsigned>(*p - '0')
                     : (*p | 0x20) >= 'a' && (*p | 0x20) <= 'f' && base == 16
                         ? static_cast<unsigned>((*p | 0x20) - 'a' + 10)
                         : 99;
    if (digit >= base) return value;
    value = value * base + digit;
  }
}

// How well "NT[arch][.major[.minor[.product[.suite[.build]]]]]" fits this
// Windows (XP on): false when it does not apply; else `fit` ranks it by the
// documented order: the highest version not above this one first, then a
// build (only within its own version), product type and suite, then the
// architecture named.
bool DecorationFit(const char* decoration, const OSVERSIONINFOEXA& os, unsigned fit[2]) {
  if ((decoration[0] | 0x20) != 'n' || (decoration[1] | 0x20) != 't') return false;
  const char* p = decoration + 2;
  size_t arch = 0;
  while (p[arch] && p[arch] != '.') ++arch;
  if (arch) {
    char named[8];
    if (arch >= sizeof(named)) return false;
    memcpy(named, p, arch);
    named[arch] = '\0';
    if (!SameText(named, NativeMachine())) return false;
  }
  p += arch;
  unsigned part[5] = {0, 0, 0, 0, 0};
  bool given[5] = {false, false, false, false, false};
  for (int i = 0; i < 5 && *p == '.'; ++i) {
    ++p;
    given[i] = *p && *p != '.';
    part[i] = ReadPart(p);
  }
  fit[0] = (part[0] << 16) | (part[1] & 0xFFFF);
  unsigned own = (os.dwMajorVersion << 16) | os.dwMinorVersion;
  bool ownVersion = fit[0] == own && given[4];
  fit[1] = ((ownVersion ? part[4] : 0) << 2) | ((given[2] || given[3]) ? 2 : 0) | (arch ? 1 : 0);
  return fit[0] <= own && (!given[2] || part[2] == os.wProductType) &&
         (!given[3] || !(part[3] & ~static_cast<unsigned>(os.wSuiteMask))) &&
         (!ownVersion || part[4] <= os.dwBuildNumber);
}

// The models section this Windows takes from a [Manufacturer] line:
// SetupDiGetActualModelsSectionA where setupapi has it (Server 2003 SP1
// on), else the documented rules. Windows 2000 knows no decorations; the
// undecorated section serves x86 alone from XP on. False where none applies.
bool ChooseModels(INFCONTEXT* line, char* section) {
  PlatformLayer& platform = GetPlatform();
  if (platform.SetupDiGetActualModelsSectionA(line, nullptr, section, MAX_PATH, nullptr, nullptr))
    return true;
  if (platform.GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
  char models[MAX_PATH];
  if (!platform.SetupGetStringFieldA(line, 1, models, MAX_PATH, nullptr) || !models[0])
    return false;
  OSVERSIONINFOEXA os;
  memset(&os, 0, sizeof(os));
  os.dwOSVersionInfoSize = sizeof(os);
  const OSVERSIONINFOA& basic = g_osVersion.Info();
  bool decorated = basic.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                   (basic.dwMajorVersion > 5 ||
                    (basic.dwMajorVersion == 5 && basic.dwMinorVersion >= 1)) &&
                   platform.GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&os));
  char best[MAX_PATH];
  best[0] = '\0';
  unsigned bestFit[2] = {0, 0};
  char decoration[MAX_PATH];
  for (DWORD field = 2; decorated && platform.SetupGetStringFieldA(line, field, decoration,
                                                                   MAX_PATH, nullptr);
       ++field) {
    unsigned fit[2];
    if (DecorationFit(decoration, os, fit) &&
        (!*best || fit[0] > bestFit[0] || (fit[0] == bestFit[0] && fit[1] > bestFit[1]))) {
      bestFit[0] = fit[0];
      bestFit[1] = fit[1];
      CopyText(best, sizeof(best), decoration);
    }
  }
  if (*best) return CopyText(section, MAX_PATH, models) && AppendText(section, MAX_PATH, ".") &&
                    AppendText(section, MAX_PATH, best);
  if (decorated && !SameText(NativeMachine(), "x86")) return false;
  return CopyText(section, MAX_PATH, models);
}

// Field 2 of each line of `section`: the hardware ID; a line without one
// names compatible IDs only, and Windows matches no device by it here.
void ReadModels(HINF inf, const char* infPath, const char* section, CPathString& ids) {
  PlatformLayer& platform = GetPlatform();
  INFCONTEXT line;
  if (!platform.SetupFindFirstLineA(inf, section, nullptr, &line)) return;
  do {
    char id[MAX_PATH];
    if (!platform.SetupGetStringFieldA(&line, 2, id, MAX_PATH, nullptr) || !id[0]) {
      LogLine("%s: a model in [%s] names no hardware ID; passed over", infPath, section);
      continue;
    }
    if (!ContainsId(ids.c_str(), id)) ids.Append(id, strlen(id) + 1);
  } while (platform.SetupFindNextLine(&line, &line));
}

void ReadHardwareIds(HINF inf, const char* infPath, CPathString& ids) {
  PlatformLayer& platform = GetPlatform();
  INFCONTEXT line;
  if (!platform.SetupFindFirstLineA(inf, "Manufacturer", nullptr, &line)) return;
  do {
    char section[MAX_PATH];
    if (ChooseModels(&line, section)) ReadModels(inf, infPath, section, ids);
  } while (platform.SetupFindNextLine(&line, &line));
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

}  // namespace

bool IsPlainName(const char* name) {
  return *name && !ContainsText(name, "\\") && !ContainsText(name, "/") &&
         !ContainsText(name, ":") && !IsDeviceName(name);
}

bool IsCatalogName(const char* name) {
  const char* dot = FindLastChar(name, '.');
  return dot && dot != name && SameText(dot, ".cat") && IsPlainName(name);
}

bool ContainsId(const char* ids, const char* id) {
  for (const char* at = ids; *at; at += strlen(at) + 1)
    if (SameText(at, id)) return true;
  return false;
}

bool ReadInfFacts(const char* infPath, bool hardwareIds, InfFacts* facts) {
  PlatformLayer& platform = GetPlatform();
  memset(facts->catalogs, 0, sizeof(facts->catalogs));
  memset(facts->catalogTooLong, 0, sizeof(facts->catalogTooLong));
  facts->hardwareIds.Assign("");
  facts->driverVersion[0] = '\0';
  HINF inf = platform.SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, nullptr);
  if (inf == INVALID_HANDLE_VALUE) return false;
  for (int i = 0; i < kCatalogEntryCount; ++i) {
    bool read = platform.SetupGetLineTextA(nullptr, inf, "Version", kCatalogEntries[i],
                                           facts->catalogs[i], MAX_PATH, nullptr) != FALSE;
    facts->catalogTooLong[i] =
        !read && platform.GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    if (!read) facts->catalogs[i][0] = '\0';
  }
  INFCONTEXT line;
  if (platform.SetupFindFirstLineA(inf, "Version", "DriverVer", &line) &&
      !platform.SetupGetStringFieldA(&line, 2, facts->driverVersion,
                                     sizeof(facts->driverVersion), nullptr))
    facts->driverVersion[0] = '\0';
  if (hardwareIds) ReadHardwareIds(inf, infPath, facts->hardwareIds);
  platform.SetupCloseInfFile(inf);
  return true;
}

int AppliedCatalogEntry(const InfFacts& facts) {
  if (g_osVersion.IsWin9x()) return 0;
  int native = 2;
  if (g_bWow64) {
    native = g_nNativeMachine == IMAGE_FILE_MACHINE_ARM64 ? 4 : 3;
  } else {
    switch (g_wProcessorArchitecture) {
      case PROCESSOR_ARCHITECTURE_AMD64: native = 3; break;
      case PROCESSOR_ARCHITECTURE_ARM64: native = 4; break;
      case PROCESSOR_ARCHITECTURE_IA64: native = 5; break;
    }
  }
  return facts.catalogs[native][0] ? native : facts.catalogs[1][0] ? 1 : 0;
}
