// The least a package pre-installer must do, for timing setup.exe against:
// the same setup-API and device calls (the INF reads, the copies,
// SetupCopyOEMInfA, the registry record, the wait for Windows' own installs
// and the device list once a run, each package's devices before and after
// UpdateDriverForPlugAndPlayDevicesA per hardware ID), and no other logic: no
// log, no lock, no checks of the company folder, no messages.
#include <windows.h>
#include <setupapi.h>

// newdev.h's, for the unattended run the bench makes.
#define INSTALLFLAG_NONINTERACTIVE 0x00000004

namespace {

typedef BOOL(WINAPI* CopyOemInf)(PCSTR, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR*);
typedef HINF(WINAPI* OpenInf)(PCSTR, PCSTR, DWORD, PUINT);
typedef void(WINAPI* CloseInf)(HINF);
typedef BOOL(WINAPI* LineText)(PINFCONTEXT, HINF, PCSTR, PCSTR, PSTR, DWORD, PDWORD);
typedef BOOL(WINAPI* FirstLine)(HINF, PCSTR, PCSTR, PINFCONTEXT);
typedef BOOL(WINAPI* NextLine)(PINFCONTEXT, PINFCONTEXT);
typedef BOOL(WINAPI* StringField)(PINFCONTEXT, DWORD, PSTR, DWORD, PDWORD);
typedef BOOL(WINAPI* ModelsSection)(PINFCONTEXT, void*, PSTR, DWORD, PDWORD, PVOID);
typedef HDEVINFO(WINAPI* ClassDevs)(const GUID*, PCSTR, HWND, DWORD);
typedef BOOL(WINAPI* EnumDevice)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
typedef BOOL(WINAPI* DeviceProperty)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD,
                                     PDWORD);
typedef HKEY(WINAPI* DeviceKey)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, DWORD, REGSAM);
typedef DWORD(WINAPI* WaitInstalls)(DWORD);
typedef BOOL(WINAPI* UpdateDriver)(HWND, PCSTR, PCSTR, DWORD, PBOOL);

template <typename T>
T Entry(HMODULE library, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

HMODULE g_setupapi;
OpenInf g_open;
CloseInf g_close;
LineText g_lineText;
FirstLine g_firstLine;
NextLine g_nextLine;
StringField g_field;
ModelsSection g_models;  // missing before Server 2003 SP1, and in Wine
CopyOemInf g_copyOem;
ClassDevs g_classDevs;
EnumDevice g_enumDevice;
DeviceProperty g_property;
DeviceKey g_deviceKey;
UpdateDriver g_update;
HDEVINFO g_devices = INVALID_HANDLE_VALUE;
bool g_devicesReady;
const char* g_machine;  // the native machine as INF decorations name it
OSVERSIONINFOA g_os;

const char* const kCatalogs[] = {"CatalogFile",         "CatalogFile.NT",
                                 "CatalogFile.NTx86",   "CatalogFile.NTamd64",
                                 "CatalogFile.NTarm64", "CatalogFile.NTia64"};

// Of "NT[arch][.major.minor...]": 0 where it does not apply to this
// Windows, else higher the closer (version first, then an architecture named).
DWORD Fit(const char* decoration) {
  if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, decoration, 2, "NT", 2) != CSTR_EQUAL)
    return 0;
  const char* p = decoration + 2;
  int arch = 0;
  while (p[arch] && p[arch] != '.') ++arch;
  if (arch && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, p, arch, g_machine, -1) !=
                  CSTR_EQUAL)
    return 0;
  p += arch;
  DWORD version[2] = {0, 0};
  for (int i = 0; i < 2 && *p == '.'; ++i)
    for (++p; *p >= '0' && *p <= '9'; ++p) version[i] = version[i] * 10 + (*p - '0');
  DWORD fit = (version[0] << 16) | version[1];
  if (fit > ((g_os.dwMajorVersion << 16) | g_os.dwMinorVersion)) return 0;
  return 0x80000000u | (fit << 1) | (arch ? 1 : 0);
}

// The models section this Windows takes from a [Manufacturer] line.
bool ChooseModels(INFCONTEXT* line, char* section) {
  if (g_models && g_models(line, nullptr, section, MAX_PATH, nullptr, nullptr)) return true;
  if (!g_field(line, 1, section, MAX_PATH, nullptr)) return false;
  // Windows 2000 knows no decorations.
  if (g_os.dwMajorVersion == 5 && g_os.dwMinorVersion == 0) return true;
  char decoration[MAX_PATH], best[MAX_PATH];
  DWORD bestFit = 0;
  for (DWORD field = 2; g_field(line, field, decoration, MAX_PATH, nullptr); ++field) {
    DWORD fit = Fit(decoration);
    if (fit > bestFit) {
      bestFit = fit;
      lstrcpyA(best, decoration);
    }
  }
  if (bestFit) {
    lstrcatA(section, ".");
    lstrcatA(section, best);
    return true;
  }
  // From XP on the undecorated section serves x86 alone.
  return lstrcmpA(g_machine, "x86") == 0;
}

// The hardware IDs (field 2 of each model line), each ended by a NUL.
char* ReadInf(const char* path, char* ids) {
  HINF inf = g_open(path, nullptr, INF_STYLE_WIN4, nullptr);
  *ids = '\0';
  if (inf == INVALID_HANDLE_VALUE) return ids;
  char text[MAX_PATH];
  for (const char* entry : kCatalogs) g_lineText(nullptr, inf, "Version", entry, text, MAX_PATH, nullptr);
  INFCONTEXT line, model;
  if (g_firstLine(inf, "Version", "DriverVer", &line)) g_field(&line, 2, text, MAX_PATH, nullptr);
  char* end = ids;
  if (g_firstLine(inf, "Manufacturer", nullptr, &line)) do {
      if (!ChooseModels(&line, text) || !g_firstLine(inf, text, nullptr, &model)) continue;
      do {
        if (g_field(&model, 2, end, MAX_PATH, nullptr) && *end) end += lstrlenA(end) + 1;
      } while (g_nextLine(&model, &model));
    } while (g_nextLine(&line, &line));
  *end = '\0';
  g_close(inf);
  return ids;
}

// The INF the device's driver came from; empty where it has none.
void DriverInf(SP_DEVINFO_DATA* device, char* inf) {
  *inf = '\0';
  HKEY key = g_deviceKey(g_devices, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
  if (key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return;
  DWORD size = MAX_PATH;
  RegQueryValueExA(key, "InfPath", nullptr, nullptr, reinterpret_cast<BYTE*>(inf), &size);
  RegCloseKey(key);
}

bool HasIdOf(SP_DEVINFO_DATA* device, const char* ids) {
  char own[4096];
  if (!g_property(g_devices, device, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(own),
                  sizeof(own), nullptr))
    return false;
  for (const char* id = own; *id; id += lstrlenA(id) + 1)
    for (const char* at = ids; *at; at += lstrlenA(at) + 1)
      if (lstrcmpiA(at, id) == 0) return true;
  return false;
}

void InstallOnDevices(const char* inf, const char* ids) {
  if (!*ids) return;
  if (!g_devicesReady) {
    g_devicesReady = true;
    char path[MAX_PATH];
    GetSystemDirectoryA(path, MAX_PATH);
    lstrcatA(path, "\\newdev.dll");
    g_update = Entry<UpdateDriver>(LoadLibraryA(path), "UpdateDriverForPlugAndPlayDevicesA");
    Entry<WaitInstalls>(g_setupapi, "CMP_WaitNoPendingInstallEvents")(2 * 60 * 1000);
    g_devices = g_classDevs(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  }
  DWORD matched[256];
  DWORD count = 0;
  SP_DEVINFO_DATA device;
  device.cbSize = sizeof(device);
  char before[MAX_PATH], now[MAX_PATH];
  for (DWORD index = 0; g_enumDevice(g_devices, index, &device); ++index) {
    if (!HasIdOf(&device, ids) || count == 256) continue;
    DriverInf(&device, before);
    matched[count++] = index;
  }
  BOOL restart;
  for (const char* id = ids; *id; id += lstrlenA(id) + 1) g_update(nullptr, id, inf, INSTALLFLAG_NONINTERACTIVE, &restart);
  for (DWORD i = 0; i < count; ++i)
    if (g_enumDevice(g_devices, matched[i], &device)) DriverInf(&device, now);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char company[MAX_PATH], here[MAX_PATH], from[MAX_PATH], to[MAX_PATH], published[MAX_PATH];
  GetWindowsDirectoryA(company, MAX_PATH);
  lstrcatA(company, "\\Application Data");
  CreateDirectoryA(company, nullptr);
  lstrcatA(company, "\\Velmoran");
  CreateDirectoryA(company, nullptr);
  GetCurrentDirectoryA(MAX_PATH, here);
  g_os.dwOSVersionInfoSize = sizeof(g_os);
  GetVersionExA(&g_os);
  SYSTEM_INFO system;
  GetNativeSystemInfo(&system);
  g_machine = system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64   ? "amd64"
              : system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ? "arm64"
              : system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64  ? "ia64"
                                                                              : "x86";
  HMODULE s = g_setupapi = LoadLibraryA("setupapi.dll");
  g_open = Entry<OpenInf>(s, "SetupOpenInfFileA");
  g_close = Entry<CloseInf>(s, "SetupCloseInfFile");
  g_lineText = Entry<LineText>(s, "SetupGetLineTextA");
  g_firstLine = Entry<FirstLine>(s, "SetupFindFirstLineA");
  g_nextLine = Entry<NextLine>(s, "SetupFindNextLine");
  g_field = Entry<StringField>(s, "SetupGetStringFieldA");
  g_models = Entry<ModelsSection>(s, "SetupDiGetActualModelsSectionA");
  g_copyOem = Entry<CopyOemInf>(s, "SetupCopyOEMInfA");
  g_classDevs = Entry<ClassDevs>(s, "SetupDiGetClassDevsA");
  g_enumDevice = Entry<EnumDevice>(s, "SetupDiEnumDeviceInfo");
  g_property = Entry<DeviceProperty>(s, "SetupDiGetDeviceRegistryPropertyA");
  g_deviceKey = Entry<DeviceKey>(s, "SetupDiOpenDevRegKey");
  static char ids[65536];
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA("vesk*.inf", &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    wsprintfA(from, "%s\\%s", here, found.cFileName);
    ReadInf(from, ids);
    *(found.cFileName + lstrlenA(found.cFileName) - 4) = '\0';
    wsprintfA(from, "%s.sys", found.cFileName);
    wsprintfA(to, "%s\\%s.sys", company, found.cFileName);
    CopyFileA(from, to, FALSE);
    wsprintfA(from, "%s.inf", found.cFileName);
    wsprintfA(to, "%s\\%s.inf", company, found.cFileName);
    CopyFileA(from, to, FALSE);
    PSTR name = published;
    if (!g_copyOem(to, nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, published, MAX_PATH, nullptr,
                   &name) &&
        GetLastError() != ERROR_FILE_EXISTS)
      continue;
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Velmoran\\Vesk\\Packages", 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
      RegSetValueExA(key, from, 0, REG_SZ, reinterpret_cast<BYTE*>(name), lstrlenA(name) + 1);
      RegCloseKey(key);
    }
    InstallOnDevices(to, ids);
  } while (FindNextFileA(find, &found));
  FindClose(find);
  if (g_devices != INVALID_HANDLE_VALUE)
    Entry<BOOL(WINAPI*)(HDEVINFO)>(s, "SetupDiDestroyDeviceInfoList")(g_devices);
  return 0;
}
