// The tests' own device tool, built at test time for the build's architecture.
//   device_helper make ID...  makes a root-enumerated USB device with these
//                             hardware IDs; prints "made\t<instance ID>"
//   device_helper show        one line a device, tab-separated:
//                             device, instance ID, hardware IDs (";"), the
//                             driver (SPDRP_DRIVER) or "none", the driver
//                             key's InfPath or "none <error>"
//   device_helper remove      removes every device "make" made (ROOT\USB\...);
//                             prints "removed\t<instance ID>" for each
// No C runtime and only kernel32 imports, setupapi bound at run time: the
// same source builds for ARM64, which has no MinGW libraries here.
#include <windows.h>
#include <setupapi.h>

namespace {

// {36FC9E60-C465-11CF-8056-444553540000}, GUID_DEVCLASS_USB
const GUID kUsbClass = {0x36FC9E60, 0xC465, 0x11CF,
                         {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

decltype(&SetupDiCreateDeviceInfoList) CreateList;
decltype(&SetupDiCreateDeviceInfoA) CreateDevice;
decltype(&SetupDiSetDeviceRegistryPropertyA) SetProperty;
decltype(&SetupDiGetDeviceRegistryPropertyA) GetProperty;
decltype(&SetupDiCallClassInstaller) CallInstaller;
decltype(&SetupDiGetClassDevsA) GetClassDevs;
decltype(&SetupDiEnumDeviceInfo) EnumDevice;
decltype(&SetupDiGetDeviceInstanceIdA) GetInstanceId;
decltype(&SetupDiOpenDevRegKey) OpenDevRegKey;
decltype(&SetupDiDestroyDeviceInfoList) DestroyList;
decltype(&RegQueryValueExA) QueryValue;

// Static: no stack probes, no memset of large frames.
char g_out[8192];
int g_used;
char g_text[4096];

void Put(const char* text) {
  while (*text && g_used < static_cast<int>(sizeof(g_out)) - 1) g_out[g_used++] = *text++;
}

void PutHex(DWORD value) {
  char digits[11] = "0x";
  for (int i = 0; i < 8; ++i) digits[2 + i] = "0123456789ABCDEF"[(value >> (28 - 4 * i)) & 15];
  digits[10] = '\0';
  Put(digits);
}

void Flush() {
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), g_out, g_used, &written, nullptr);
  g_used = 0;
}

[[noreturn]] void Fail(const char* what) {
  Put("error\t");
  Put(what);
  Put("\t");
  PutHex(GetLastError());
  Put("\n");
  Flush();
  ExitProcess(1);
}

template <typename T>
void Bind(HMODULE library, T& entry, const char* name) {
  entry = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  if (!entry) Fail(name);
}

void BindAll() {
  HMODULE setup = LoadLibraryA("setupapi.dll");
  HMODULE advapi = LoadLibraryA("advapi32.dll");
  if (!setup || !advapi) Fail("LoadLibraryA");
  Bind(setup, CreateList, "SetupDiCreateDeviceInfoList");
  Bind(setup, CreateDevice, "SetupDiCreateDeviceInfoA");
  Bind(setup, SetProperty, "SetupDiSetDeviceRegistryPropertyA");
  Bind(setup, GetProperty, "SetupDiGetDeviceRegistryPropertyA");
  Bind(setup, CallInstaller, "SetupDiCallClassInstaller");
  Bind(setup, GetClassDevs, "SetupDiGetClassDevsA");
  Bind(setup, EnumDevice, "SetupDiEnumDeviceInfo");
  Bind(setup, GetInstanceId, "SetupDiGetDeviceInstanceIdA");
  Bind(setup, OpenDevRegKey, "SetupDiOpenDevRegKey");
  Bind(setup, DestroyList, "SetupDiDestroyDeviceInfoList");
  Bind(advapi, QueryValue, "RegQueryValueExA");
}

// The arguments after the program's own name, blank-separated; quotes group.
char* NextArgument(char*& p) {
  while (*p == ' ' || *p == '\t') ++p;
  if (!*p) return nullptr;
  char* start = p;
  char* out = p;
  bool quoted = false;
  for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
    if (*p == '"') quoted = !quoted;
    else *out++ = *p;
  }
  if (*p) ++p;
  *out = '\0';
  return start;
}

void Make(char* args) {
  // The hardware IDs as REG_MULTI_SZ.
  DWORD size = 0;
  for (char* id; (id = NextArgument(args)) != nullptr;)
    for (int i = 0; size < sizeof(g_text) - 2; ++i) {
      g_text[size++] = id[i];
      if (!id[i]) break;
    }
  g_text[size++] = '\0';
  HDEVINFO set = CreateList(&kUsbClass, nullptr);
  if (set == INVALID_HANDLE_VALUE) Fail("SetupDiCreateDeviceInfoList");
  SP_DEVINFO_DATA device;
  ZeroMemory(&device, sizeof(device));
  device.cbSize = sizeof(device);
  if (!CreateDevice(set, "USB", &kUsbClass, nullptr, nullptr, DICD_GENERATE_ID, &device))
    Fail("SetupDiCreateDeviceInfoA");
  if (!SetProperty(set, &device, SPDRP_HARDWAREID, reinterpret_cast<BYTE*>(g_text), size))
    Fail("SetupDiSetDeviceRegistryPropertyA");
  if (!CallInstaller(DIF_REGISTERDEVICE, set, &device)) Fail("DIF_REGISTERDEVICE");
  if (!GetInstanceId(set, &device, g_text, sizeof(g_text), nullptr))
    Fail("SetupDiGetDeviceInstanceIdA");
  Put("made\t");
  Put(g_text);
  Put("\n");
}

void Show() {
  HDEVINFO set = GetClassDevs(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) Fail("SetupDiGetClassDevsA");
  SP_DEVINFO_DATA device;
  for (DWORD index = 0;; ++index) {
    ZeroMemory(&device, sizeof(device));
    device.cbSize = sizeof(device);
    if (!EnumDevice(set, index, &device)) break;
    Put("device\t");
    Put(GetInstanceId(set, &device, g_text, sizeof(g_text), nullptr) ? g_text : "?");
    Put("\t");
    ZeroMemory(g_text, sizeof(g_text));
    if (GetProperty(set, &device, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(g_text),
                    sizeof(g_text) - 2, nullptr))
      for (const char* id = g_text; *id; id += lstrlenA(id) + 1) {
        if (id != g_text) Put(";");
        Put(id);
      }
    Put("\t");
    ZeroMemory(g_text, sizeof(g_text));
    Put(GetProperty(set, &device, SPDRP_DRIVER, nullptr, reinterpret_cast<BYTE*>(g_text),
                    sizeof(g_text) - 1, nullptr)
            ? g_text
            : "none");
    Put("\t");
    HKEY key = OpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) {
      Put("none ");
      PutHex(GetLastError());
    } else {
      ZeroMemory(g_text, sizeof(g_text));
      DWORD size = sizeof(g_text) - 1;
      LONG error = QueryValue(key, "InfPath", nullptr, nullptr, reinterpret_cast<BYTE*>(g_text),
                              &size);
      if (error == ERROR_SUCCESS) {
        Put(g_text);
      } else {
        Put("none ");
        PutHex(static_cast<DWORD>(error));
      }
    }
    Put("\n");
    if (g_used > static_cast<int>(sizeof(g_out)) - 1024) Flush();
  }
}

// Letter case ignored, as Windows compares instance IDs.
bool StartsWith(const char* text, const char* start) {
  for (; *start; ++text, ++start)
    if ((*text | 0x20) != (*start | 0x20)) return false;
  return true;
}

// The first device "make" made, in a fresh list: removing one may reorder
// the list it was in. False when there is none.
bool RemoveOne() {
  HDEVINFO set = GetClassDevs(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) Fail("SetupDiGetClassDevsA");
  SP_DEVINFO_DATA device;
  bool found = false;
  for (DWORD index = 0; !found; ++index) {
    ZeroMemory(&device, sizeof(device));
    device.cbSize = sizeof(device);
    if (!EnumDevice(set, index, &device)) break;
    found = GetInstanceId(set, &device, g_text, sizeof(g_text), nullptr) &&
            StartsWith(g_text, "ROOT\\USB\\");
  }
  if (found) {
    if (!CallInstaller(DIF_REMOVE, set, &device)) Fail("DIF_REMOVE");
    Put("removed\t");
    Put(g_text);
    Put("\n");
  }
  DestroyList(set);
  return found;
}

void Remove() {
  for (int i = 0; i < 1000 && RemoveOne(); ++i) {
  }
}

}  // namespace

// Neither the compiler nor the C runtime is there to give these.
extern "C" void* memset(void* to, int value, size_t size) {
  volatile unsigned char* bytes = static_cast<unsigned char*>(to);
  while (size--) *bytes++ = static_cast<unsigned char>(value);
  return to;
}

extern "C" void* memcpy(void* to, const void* from, size_t size) {
  volatile unsigned char* out = static_cast<unsigned char*>(to);
  const unsigned char* in = static_cast<const unsigned char*>(from);
  while (size--) *out++ = *in++;
  return to;
}

// The console program's entry that the linkers look for by default.
extern "C" int mainCRTStartup() {
  char* args = GetCommandLineA();
  NextArgument(args);
  char* command = NextArgument(args);
  BindAll();
  if (command && lstrcmpA(command, "make") == 0) Make(args);
  else if (command && lstrcmpA(command, "show") == 0) Show();
  else if (command && lstrcmpA(command, "remove") == 0) Remove();
  else Fail("usage: device_helper make ID... | show | remove");
  Flush();
  ExitProcess(0);
}
