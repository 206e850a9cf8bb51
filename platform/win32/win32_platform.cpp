// The real platform's operations that are more than a call of Windows (the
// plain ones are inline in win32_platform.h); only in setup.exe.
#include "platform/platform_layer.h"

namespace {

// Windows 95's advapi32 may not export the service-manager functions, and one
// missing import stops the loader from starting the program at all, so they
// are bound at run time, at entry: each operation is then a test and a jump.
struct ServiceEntries {
  SC_HANDLE(WINAPI* openSCManager)(LPCSTR, LPCSTR, DWORD);
  BOOL(WINAPI* closeServiceHandle)(SC_HANDLE);
  SC_HANDLE(WINAPI* createService)(SC_HANDLE, LPCSTR, LPCSTR, DWORD, DWORD, DWORD, DWORD, LPCSTR,
                                   LPCSTR, LPDWORD, LPCSTR, LPCSTR, LPCSTR);
  SC_HANDLE(WINAPI* openService)(SC_HANDLE, LPCSTR, DWORD);
  BOOL(WINAPI* startService)(SC_HANDLE, DWORD, LPCSTR*);
  BOOL(WINAPI* controlService)(SC_HANDLE, DWORD, LPSERVICE_STATUS);
  BOOL(WINAPI* queryServiceStatus)(SC_HANDLE, LPSERVICE_STATUS);
  BOOL(WINAPI* deleteService)(SC_HANDLE);
  BOOL(WINAPI* changeServiceConfig)(SC_HANDLE, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD,
                                    LPCSTR, LPCSTR, LPCSTR, LPCSTR);
};

const char* const kServiceEntryNames[] = {
    "OpenSCManagerA", "CloseServiceHandle", "CreateServiceA",     "OpenServiceA",
    "StartServiceA",  "ControlService",     "QueryServiceStatus", "DeleteService",
    "ChangeServiceConfigA",
};
static_assert(sizeof(ServiceEntries) == sizeof(kServiceEntryNames), "one name per entry");

ServiceEntries g_services;
// Set at entry when the library search was cut to the system folder.
bool g_bSystemFolderOnly;

// The value a missing entry answers with, as Windows' own stubs do.
template <typename T>
T NotImplemented(T failure) {
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return failure;
}

// An entry of a library the process has loaded already (kernel32, advapi32,
// ntdll, or the setup library by its full path or, on 9x, by name): looked
// up when called, since Windows 95 and NT 4.0 lack many. GetModuleHandleA
// loads nothing.
FARPROC LoadedEntry(const char* library, const char* name) {
  HMODULE module = ::GetModuleHandleA(library);
  return module ? ::GetProcAddress(module, name) : nullptr;
}

// Through void(*)(): the generic entry type becomes the real signature.
template <typename T>
T EntryAs(FARPROC entry) {
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(entry));
}

// Each library's name stands once in the file (on x86 every reference to it
// takes a relocation).
FARPROC KernelEntry(const char* name) { return LoadedEntry("kernel32.dll", name); }
FARPROC AdvapiEntry(const char* name) { return LoadedEntry("advapi32.dll", name); }

// The setup library's and newdev's entries are kept once found (a loaded
// library is never let go): the INF reads and the device steps call some of
// them for every package and every device. One not found is looked up again
// at its next call (newdev may be loaded by then).
FARPROC KeptEntry(FARPROC& kept, const char* library, const char* name) {
  return kept ? kept : (kept = LoadedEntry(library, name));
}
FARPROC SetupEntry(FARPROC& kept, const char* name) {
  return KeptEntry(kept, "setupapi.dll", name);
}
FARPROC NewdevEntry(FARPROC& kept, const char* name) {
  return KeptEntry(kept, "newdev.dll", name);
}

// Calls `found` with `arguments`; where the entry is missing, answers
// `failure` with ERROR_CALL_NOT_IMPLEMENTED, as Windows' own stubs do.
template <typename Result, typename... Arguments>
Result CallEntry(FARPROC found, Result failure, Arguments... arguments) {
  auto entry = EntryAs<Result(WINAPI*)(Arguments...)>(found);
  if (!entry) return NotImplemented<Result>(failure);
  return entry(arguments...);
}

void BindServiceEntries() {
  // advapi32 is loaded already (the registry calls are imported from it): take
  // that one rather than search for the library again.
  FARPROC* slots = reinterpret_cast<FARPROC*>(&g_services);
  for (unsigned i = 0; i < sizeof(kServiceEntryNames) / sizeof(kServiceEntryNames[0]); ++i)
    slots[i] = AdvapiEntry(kServiceEntryNames[i]);
}

// Some Windows versions leave a truncated path unterminated.
void TerminateBuffer(LPSTR buffer, DWORD size, DWORD length) {
  if (size == 0) return;
  buffer[length < size ? length : size - 1] = '\0';
}

// For the folder queries a result of size or more means the buffer was too
// small and holds nothing.
UINT TerminateFolder(LPSTR buffer, UINT size, UINT length) {
  TerminateBuffer(buffer, size, length < size ? length : 0);
  return length;
}

}  // namespace

// The operations that are more than a call: newer functions bound at run
// time, answers mended, the service manager bound on first use.

LONG PlatformLayer::RtlGetVersion(RTL_OSVERSIONINFOW* info) {
  auto entry =
      EntryAs<LONG(WINAPI*)(RTL_OSVERSIONINFOW*)>(LoadedEntry("ntdll.dll", "RtlGetVersion"));
  return entry ? entry(info) : static_cast<LONG>(0xC000007A);  // STATUS_PROCEDURE_NOT_FOUND
}
UINT PlatformLayer::GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  return TerminateFolder(buffer, size, ::GetWindowsDirectoryA(buffer, size));
}
DWORD PlatformLayer::GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  DWORD length = ::GetModuleFileNameA(module, buffer, size);
  TerminateBuffer(buffer, size, length);
  return length;
}
UINT PlatformLayer::GetSystemDirectoryA(LPSTR buffer, UINT size) {
  return TerminateFolder(buffer, size, ::GetSystemDirectoryA(buffer, size));
}
// Once the default directories are the system folder only, a library
// loaded by its full path takes its dependencies from there: that is what
// LOAD_WITH_ALTERED_SEARCH_PATH is asked for, and the documentation gives no
// rule for the flag together with those defaults, so it is not passed then.
HMODULE PlatformLayer::LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  if (g_bSystemFolderOnly) flags &= ~LOAD_WITH_ALTERED_SEARCH_PATH;
  return ::LoadLibraryExA(name, file, flags);
}
BOOL PlatformLayer::IsWow64Process(HANDLE process, PBOOL wow64) {
  return CallEntry<BOOL>(KernelEntry("IsWow64Process"), FALSE, process, wow64);
}
BOOL PlatformLayer::IsWow64Process2(HANDLE process, USHORT* processMachine,
                                    USHORT* nativeMachine) {
  return CallEntry<BOOL>(KernelEntry("IsWow64Process2"), FALSE,
                         process, processMachine, nativeMachine);
}
void PlatformLayer::GetNativeSystemInfo(SYSTEM_INFO* info) {
  auto entry = EntryAs<void(WINAPI*)(SYSTEM_INFO*)>(KernelEntry("GetNativeSystemInfo"));
  if (entry) return entry(info);
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
}
HANDLE PlatformLayer::CreateJobObjectA(SECURITY_ATTRIBUTES* security, LPCSTR name) {
  return CallEntry<HANDLE>(KernelEntry("CreateJobObjectA"), nullptr, security, name);
}
BOOL PlatformLayer::SetInformationJobObject(HANDLE job, int infoClass, void* info, DWORD size) {
  return CallEntry<BOOL>(KernelEntry("SetInformationJobObject"), FALSE, job, infoClass, info, size);
}
BOOL PlatformLayer::AssignProcessToJobObject(HANDLE job, HANDLE process) {
  return CallEntry<BOOL>(KernelEntry("AssignProcessToJobObject"), FALSE, job, process);
}
BOOL PlatformLayer::QueryInformationJobObject(HANDLE job, int infoClass, void* info, DWORD size,
                                              LPDWORD returned) {
  return CallEntry<BOOL>(KernelEntry("QueryInformationJobObject"), FALSE,
                         job, infoClass, info, size, returned);
}
BOOL PlatformLayer::GetFileSecurityA(LPCSTR path, DWORD information, void* descriptor,
                                     DWORD size, LPDWORD needed) {
  return CallEntry<BOOL>(AdvapiEntry("GetFileSecurityA"), FALSE,
                         path, information, descriptor, size, needed);
}
BOOL PlatformLayer::OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
  return CallEntry<BOOL>(AdvapiEntry("OpenProcessToken"), FALSE, process, access, token);
}
BOOL PlatformLayer::GetTokenInformation(HANDLE token, int infoClass, void* info, DWORD size,
                                        LPDWORD needed) {
  return CallEntry<BOOL>(AdvapiEntry("GetTokenInformation"), FALSE,
                         token, infoClass, info, size, needed);
}
BOOL PlatformLayer::SetFileSecurityA(LPCSTR path, DWORD information, void* descriptor) {
  return CallEntry<BOOL>(AdvapiEntry("SetFileSecurityA"), FALSE, path, information, descriptor);
}
HINF PlatformLayer::SetupOpenInfFileA(LPCSTR fileName, LPCSTR infClass, DWORD infStyle,
                                      UINT* errorLine) {
  static FARPROC entry;
  return CallEntry<HINF>(SetupEntry(entry, "SetupOpenInfFileA"), INVALID_HANDLE_VALUE,
                         fileName, infClass, infStyle, errorLine);
}
BOOL PlatformLayer::SetupGetLineTextA(void* context, HINF inf, LPCSTR section, LPCSTR key,
                                      LPSTR buffer, DWORD size, LPDWORD requiredSize) {
  static FARPROC entry;
  return CallEntry<BOOL>(SetupEntry(entry, "SetupGetLineTextA"), FALSE,
                         context, inf, section, key, buffer, size, requiredSize);
}
void PlatformLayer::SetupCloseInfFile(HINF inf) {
  static FARPROC kept;
  auto entry = EntryAs<void(WINAPI*)(HINF)>(SetupEntry(kept, "SetupCloseInfFile"));
  if (entry) entry(inf);
}
BOOL PlatformLayer::SetupFindFirstLineA(HINF inf, LPCSTR section, LPCSTR key,
                                        INFCONTEXT* context) {
  static FARPROC entry;
  return CallEntry<BOOL>(SetupEntry(entry, "SetupFindFirstLineA"), FALSE,
                         inf, section, key, context);
}
BOOL PlatformLayer::SetupFindNextLine(INFCONTEXT* context, INFCONTEXT* next) {
  static FARPROC entry;
  return CallEntry<BOOL>(SetupEntry(entry, "SetupFindNextLine"), FALSE, context, next);
}
BOOL PlatformLayer::SetupGetStringFieldA(INFCONTEXT* context, DWORD field, LPSTR buffer,
                                         DWORD size, LPDWORD requiredSize) {
  static FARPROC entry;
  return CallEntry<BOOL>(SetupEntry(entry, "SetupGetStringFieldA"), FALSE,
                         context, field, buffer, size, requiredSize);
}
BOOL PlatformLayer::SetupDiGetActualModelsSectionA(INFCONTEXT* context, void* alternatePlatform,
                                                   LPSTR buffer, DWORD size,
                                                   LPDWORD requiredSize, void* reserved) {
  static FARPROC entry;
  return CallEntry<BOOL>(SetupEntry(entry, "SetupDiGetActualModelsSectionA"), FALSE,
                         context, alternatePlatform, buffer, size, requiredSize, reserved);
}
BOOL PlatformLayer::SetupUninstallOEMInfA(LPCSTR infFileName, DWORD flags, void* reserved) {
  static FARPROC entry;
  return CallEntry<BOOL>(SetupEntry(entry, "SetupUninstallOEMInfA"), FALSE,
                         infFileName, flags, reserved);
}
HDEVINFO PlatformLayer::SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator,
                                             HWND parent, DWORD flags) {
  static FARPROC entry;
  return CallEntry<HDEVINFO>(SetupEntry(entry, "SetupDiGetClassDevsA"), INVALID_HANDLE_VALUE,
                             classGuid, enumerator, parent, flags);
}
BOOL PlatformLayer::SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) {
  static FARPROC entry;
  return CallEntry<BOOL>(SetupEntry(entry, "SetupDiEnumDeviceInfo"), FALSE, set, index, device);
}
BOOL PlatformLayer::SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                      DWORD property, LPDWORD type,
                                                      LPBYTE buffer, DWORD size,
                                                      LPDWORD requiredSize) {
  static FARPROC entry;
  return CallEntry<BOOL>(SetupEntry(entry, "SetupDiGetDeviceRegistryPropertyA"), FALSE,
                         set, device, property, type, buffer, size, requiredSize);
}
BOOL PlatformLayer::SetupDiGetDeviceInstanceIdA(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                LPSTR buffer, DWORD size, LPDWORD requiredSize) {
  static FARPROC entry;
  return CallEntry<BOOL>(SetupEntry(entry, "SetupDiGetDeviceInstanceIdA"), FALSE,
                         set, device, buffer, size, requiredSize);
}
HKEY PlatformLayer::SetupDiOpenDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope,
                                         DWORD profile, DWORD keyType, REGSAM desired) {
  static FARPROC entry;
  return CallEntry<HKEY>(SetupEntry(entry, "SetupDiOpenDevRegKey"),
                         reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE),
                         set, device, scope, profile, keyType, desired);
}
BOOL PlatformLayer::SetupDiCallClassInstaller(DWORD function, HDEVINFO set,
                                              SP_DEVINFO_DATA* device) {
  static FARPROC entry;
  return CallEntry<BOOL>(SetupEntry(entry, "SetupDiCallClassInstaller"), FALSE,
                         function, set, device);
}
BOOL PlatformLayer::SetupDiGetDeviceInstallParamsA(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                   SP_DEVINSTALL_PARAMS_A* parameters) {
  static FARPROC entry;
  return CallEntry<BOOL>(SetupEntry(entry, "SetupDiGetDeviceInstallParamsA"), FALSE,
                         set, device, parameters);
}
BOOL PlatformLayer::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  static FARPROC entry;
  return CallEntry<BOOL>(SetupEntry(entry, "SetupDiDestroyDeviceInfoList"), FALSE, set);
}
DWORD PlatformLayer::CMP_WaitNoPendingInstallEvents(DWORD timeout) {
  static FARPROC entry;
  return CallEntry<DWORD>(SetupEntry(entry, "CMP_WaitNoPendingInstallEvents"), WAIT_FAILED,
                          timeout);
}
BOOL PlatformLayer::UpdateDriverForPlugAndPlayDevicesA(HWND parent, LPCSTR hardwareId,
                                                       LPCSTR fullInfPath, DWORD flags,
                                                       PBOOL rebootRequired) {
  static FARPROC entry;
  return CallEntry<BOOL>(NewdevEntry(entry, "UpdateDriverForPlugAndPlayDevicesA"), FALSE,
                         parent, hardwareId, fullInfPath, flags, rebootRequired);
}
BOOL PlatformLayer::DiUninstallDriverA(HWND parent, LPCSTR infPath, DWORD flags,
                                       PBOOL needReboot) {
  static FARPROC entry;
  return CallEntry<BOOL>(NewdevEntry(entry, "DiUninstallDriverA"), FALSE,
                         parent, infPath, flags, needReboot);
}
LONG PlatformLayer::RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM view, DWORD reserved) {
  auto entry = EntryAs<LONG(WINAPI*)(HKEY, LPCSTR, REGSAM, DWORD)>(
      AdvapiEntry("RegDeleteKeyExA"));
  return entry ? entry(key, subKey, view, reserved) : ERROR_CALL_NOT_IMPLEMENTED;
}
BOOL PlatformLayer::SetupCopyOEMInfA(PFN_SETUPCOPYOEMINFA entry, PCSTR sourceInfFileName,
                                     PCSTR oemSourceMediaLocation, DWORD oemSourceMediaType,
                                     DWORD copyStyle, PSTR destinationInfFileName,
                                     DWORD destinationInfFileNameSize, PDWORD requiredSize,
                                     PSTR* destinationInfFileNameComponent) {
  if (!entry) return NotImplemented<BOOL>(FALSE);
  return entry(sourceInfFileName, oemSourceMediaLocation, oemSourceMediaType, copyStyle,
               destinationInfFileName, destinationInfFileNameSize, requiredSize,
               destinationInfFileNameComponent);
}

SC_HANDLE PlatformLayer::OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName,
                                        DWORD desiredAccess) {
  if (!g_services.openSCManager) return NotImplemented<SC_HANDLE>(nullptr);
  return g_services.openSCManager(machineName, databaseName, desiredAccess);
}
BOOL PlatformLayer::CloseServiceHandle(SC_HANDLE handle) {
  if (!g_services.closeServiceHandle) return NotImplemented<BOOL>(FALSE);
  return g_services.closeServiceHandle(handle);
}
SC_HANDLE PlatformLayer::CreateServiceA(SC_HANDLE manager, LPCSTR serviceName,
                                        LPCSTR displayName, DWORD desiredAccess,
                                        DWORD serviceType, DWORD startType, DWORD errorControl,
                                        LPCSTR binaryPathName, LPCSTR loadOrderGroup,
                                        LPDWORD tagId, LPCSTR dependencies,
                                        LPCSTR serviceStartName, LPCSTR password) {
  if (!g_services.createService) return NotImplemented<SC_HANDLE>(nullptr);
  return g_services.createService(manager, serviceName, displayName, desiredAccess, serviceType,
                         startType, errorControl, binaryPathName, loadOrderGroup, tagId,
                         dependencies, serviceStartName, password);
}
SC_HANDLE PlatformLayer::OpenServiceA(SC_HANDLE manager, LPCSTR serviceName,
                                      DWORD desiredAccess) {
  if (!g_services.openService) return NotImplemented<SC_HANDLE>(nullptr);
  return g_services.openService(manager, serviceName, desiredAccess);
}
BOOL PlatformLayer::StartServiceA(SC_HANDLE service, DWORD argCount, LPCSTR* args) {
  if (!g_services.startService) return NotImplemented<BOOL>(FALSE);
  return g_services.startService(service, argCount, args);
}
BOOL PlatformLayer::ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) {
  if (!g_services.controlService) return NotImplemented<BOOL>(FALSE);
  return g_services.controlService(service, control, status);
}
BOOL PlatformLayer::QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
  if (!g_services.queryServiceStatus) return NotImplemented<BOOL>(FALSE);
  return g_services.queryServiceStatus(service, status);
}
BOOL PlatformLayer::DeleteService(SC_HANDLE service) {
  if (!g_services.deleteService) return NotImplemented<BOOL>(FALSE);
  return g_services.deleteService(service);
}
BOOL PlatformLayer::ChangeServiceConfigA(SC_HANDLE service, DWORD serviceType, DWORD startType,
                                         DWORD errorControl, LPCSTR binaryPathName,
                                         LPCSTR loadOrderGroup, LPDWORD tagId,
                                         LPCSTR dependencies, LPCSTR serviceStartName,
                                         LPCSTR password, LPCSTR displayName) {
  if (!g_services.changeServiceConfig) return NotImplemented<BOOL>(FALSE);
  return g_services.changeServiceConfig(service, serviceType, startType, errorControl, binaryPathName,
                               loadOrderGroup, tagId, dependencies, serviceStartName, password,
                               displayName);
}


// Libraries that Windows itself loads by name while the program runs: creating
// a window (MessageBoxA does) pulls in uxtheme.dll from Vista on, and
// uxtheme.dll pulls in dwmapi.dll on 7 without KB2533623. Loaded first from
// the system folder, they are found already loaded when Windows asks for them
// by name. Where one does not exist (2000 and older, 9x) the load just fails.
static void PreloadSystemLibraries() {
  static const char* const kLibraries[] = {"dwmapi.dll", "uxtheme.dll"};
  char path[MAX_PATH + 16];  // the folder and the longest name with its "\\"
  UINT folder = ::GetSystemDirectoryA(path, MAX_PATH);
  if (folder == 0 || folder >= MAX_PATH) return;
  for (const char* name : kLibraries) {
    char* end = path + folder;
    *end++ = '\\';
    while ((*end++ = *name++) != '\0') {
    }
    // Their own dependencies then come from the system folder too.
    ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
}

// setup.exe runs elevated from folders that others may write: no library may
// come from there, nor from the current folder. Where kernel32 has them (both
// are newer than Windows 95 and NT 4.0, so they are looked up), the search is
// cut down to the system folder (Windows 8, or Vista/7 with KB2533623). Else
// the current folder is dropped from it (XP SP1 and later), but the program's
// own folder stays first: the libraries Windows loads by name on its own are
// loaded from the system folder beforehand.
static void RestrictLibrarySearch() {
  auto setDefault = EntryAs<BOOL(WINAPI*)(DWORD)>(KernelEntry("SetDefaultDllDirectories"));
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    g_bSystemFolderOnly = true;
    return;
  }
  auto setDirectory = EntryAs<BOOL(WINAPI*)(LPCSTR)>(KernelEntry("SetDllDirectoryA"));
  if (setDirectory) setDirectory("");
  PreloadSystemLibraries();
}

// At entry, before anything else can load a library.
void PreparePlatform() {
  RestrictLibrarySearch();
  BindServiceEntries();
}
