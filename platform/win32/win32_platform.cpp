// The real platform: thin calls of the Win32 functions, only in setup.exe.
#include "platform/platform_layer.h"

namespace {

// Windows 95's advapi32 may not export the service-manager functions, and one
// missing import stops the loader from starting the program at all, so they
// are bound at run time on first use.
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
bool g_bServicesBound;
// Set at entry when the library search was cut to the system folder.
bool g_bSystemFolderOnly;

const ServiceEntries& BindServiceEntries() {
  if (!g_bServicesBound) {
    g_bServicesBound = true;
    // advapi32 is loaded already (the registry calls are imported from it): take
    // that one rather than search for the library again.
    HMODULE advapi = ::GetModuleHandleA("advapi32.dll");
    FARPROC* slots = reinterpret_cast<FARPROC*>(&g_services);
    for (unsigned i = 0; i < sizeof(kServiceEntryNames) / sizeof(kServiceEntryNames[0]); ++i)
      slots[i] = advapi ? ::GetProcAddress(advapi, kServiceEntryNames[i]) : nullptr;
  }
  return g_services;
}

// The value a missing entry answers with, as Windows' own stubs do.
template <typename T>
T NotImplemented(T failure) {
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return failure;
}

// kernel32's entries that Windows 95 and NT 4.0 lack, looked up on first use.
FARPROC KernelEntry(const char* name) {
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  return kernel ? ::GetProcAddress(kernel, name) : nullptr;
}

// Through void(*)(): the generic entry type becomes the real signature.
template <typename T>
T EntryAs(FARPROC entry) {
  return reinterpret_cast<T>(reinterpret_cast<void (*)()>(entry));
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

class CWin32Platform final : public PlatformLayer {
 public:
  constexpr CWin32Platform() = default;

  BOOL GetVersionExA(OSVERSIONINFOA* info) override { return ::GetVersionExA(info); }
  UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) override {
    return TerminateFolder(buffer, size, ::GetWindowsDirectoryA(buffer, size));
  }
  DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) override {
    DWORD length = ::GetModuleFileNameA(module, buffer, size);
    TerminateBuffer(buffer, size, length);
    return length;
  }
  UINT GetSystemDirectoryA(LPSTR buffer, UINT size) override {
    return TerminateFolder(buffer, size, ::GetSystemDirectoryA(buffer, size));
  }
  BOOL SetCurrentDirectoryA(LPCSTR path) override { return ::SetCurrentDirectoryA(path); }
  void GetSystemInfo(SYSTEM_INFO* info) override { ::GetSystemInfo(info); }
  BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES* security) override {
    return ::CreateDirectoryA(path, security);
  }
  HMODULE LoadLibraryA(LPCSTR name) override { return ::LoadLibraryA(name); }
  // Once the default directories are the system folder only, a library
  // loaded by its full path takes its dependencies from there: that is what
  // LOAD_WITH_ALTERED_SEARCH_PATH is asked for, and the documentation gives no
  // rule for the flag together with those defaults, so it is not passed then.
  HMODULE LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) override {
    if (g_bSystemFolderOnly) flags &= ~LOAD_WITH_ALTERED_SEARCH_PATH;
    return ::LoadLibraryExA(name, file, flags);
  }
  FARPROC GetProcAddress(HMODULE module, LPCSTR name) override {
    return ::GetProcAddress(module, name);
  }
  DWORD GetLastError() override { return ::GetLastError(); }
  BOOL IsDBCSLeadByte(BYTE value) override { return ::IsDBCSLeadByte(value); }
  int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override {
    return ::MessageBoxA(owner, text, caption, type);
  }
  DWORD GetTickCount() override { return ::GetTickCount(); }
  void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }

  HANDLE GetCurrentProcess() override { return ::GetCurrentProcess(); }
  BOOL IsWow64Process(HANDLE process, PBOOL wow64) override {
    auto entry = EntryAs<BOOL(WINAPI*)(HANDLE, PBOOL)>(KernelEntry("IsWow64Process"));
    if (!entry) return NotImplemented<BOOL>(FALSE);
    return entry(process, wow64);
  }
  BOOL IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) override {
    auto entry =
        EntryAs<BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*)>(KernelEntry("IsWow64Process2"));
    if (!entry) return NotImplemented<BOOL>(FALSE);
    return entry(process, processMachine, nativeMachine);
  }
  BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                      SECURITY_ATTRIBUTES* processSecurity, SECURITY_ATTRIBUTES* threadSecurity,
                      BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                      LPCSTR currentDirectory, STARTUPINFOA* startupInfo,
                      PROCESS_INFORMATION* processInformation) override {
    return ::CreateProcessA(applicationName, commandLine, processSecurity, threadSecurity,
                            inheritHandles, creationFlags, environment, currentDirectory,
                            startupInfo, processInformation);
  }
  BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) override {
    return ::GetExitCodeProcess(process, exitCode);
  }

  HANDLE CreateMutexA(SECURITY_ATTRIBUTES* security, BOOL initialOwner, LPCSTR name) override {
    return ::CreateMutexA(security, initialOwner, name);
  }
  HANDLE OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name) override {
    return ::OpenMutexA(desiredAccess, inheritHandle, name);
  }
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
    return ::WaitForSingleObject(handle, milliseconds);
  }
  BOOL ReleaseMutex(HANDLE mutex) override { return ::ReleaseMutex(mutex); }
  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }

  BOOL CopyFileA(LPCSTR source, LPCSTR destination, BOOL failIfExists) override {
    return ::CopyFileA(source, destination, failIfExists);
  }
  BOOL DeleteFileA(LPCSTR path) override { return ::DeleteFileA(path); }
  DWORD GetFileAttributesA(LPCSTR path) override { return ::GetFileAttributesA(path); }
  BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) override {
    return ::SetFileAttributesA(path, attributes);
  }
  // The package loop terminates every name it is given.
  HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) override {
    return ::FindFirstFileA(pattern, data);
  }
  BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override {
    return ::FindNextFileA(find, data);
  }
  BOOL FindClose(HANDLE find) override { return ::FindClose(find); }
  BOOL SetupCopyOEMInfA(PFN_SETUPCOPYOEMINFA entry, PCSTR sourceInfFileName,
                        PCSTR oemSourceMediaLocation, DWORD oemSourceMediaType, DWORD copyStyle,
                        PSTR destinationInfFileName, DWORD destinationInfFileNameSize,
                        PDWORD requiredSize, PSTR* destinationInfFileNameComponent) override {
    if (!entry) return NotImplemented<BOOL>(FALSE);
    return entry(sourceInfFileName, oemSourceMediaLocation, oemSourceMediaType, copyStyle,
                 destinationInfFileName, destinationInfFileNameSize, requiredSize,
                 destinationInfFileNameComponent);
  }

  SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName,
                           DWORD desiredAccess) override {
    const ServiceEntries& e = BindServiceEntries();
    if (!e.openSCManager) return NotImplemented<SC_HANDLE>(nullptr);
    return e.openSCManager(machineName, databaseName, desiredAccess);
  }
  BOOL CloseServiceHandle(SC_HANDLE handle) override {
    const ServiceEntries& e = BindServiceEntries();
    if (!e.closeServiceHandle) return NotImplemented<BOOL>(FALSE);
    return e.closeServiceHandle(handle);
  }
  SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName,
                           DWORD desiredAccess, DWORD serviceType, DWORD startType,
                           DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
                           LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
                           LPCSTR password) override {
    const ServiceEntries& e = BindServiceEntries();
    if (!e.createService) return NotImplemented<SC_HANDLE>(nullptr);
    return e.createService(manager, serviceName, displayName, desiredAccess, serviceType,
                           startType, errorControl, binaryPathName, loadOrderGroup, tagId,
                           dependencies, serviceStartName, password);
  }
  SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) override {
    const ServiceEntries& e = BindServiceEntries();
    if (!e.openService) return NotImplemented<SC_HANDLE>(nullptr);
    return e.openService(manager, serviceName, desiredAccess);
  }
  BOOL StartServiceA(SC_HANDLE service, DWORD argCount, LPCSTR* args) override {
    const ServiceEntries& e = BindServiceEntries();
    if (!e.startService) return NotImplemented<BOOL>(FALSE);
    return e.startService(service, argCount, args);
  }
  BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) override {
    const ServiceEntries& e = BindServiceEntries();
    if (!e.controlService) return NotImplemented<BOOL>(FALSE);
    return e.controlService(service, control, status);
  }
  BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) override {
    const ServiceEntries& e = BindServiceEntries();
    if (!e.queryServiceStatus) return NotImplemented<BOOL>(FALSE);
    return e.queryServiceStatus(service, status);
  }
  BOOL DeleteService(SC_HANDLE service) override {
    const ServiceEntries& e = BindServiceEntries();
    if (!e.deleteService) return NotImplemented<BOOL>(FALSE);
    return e.deleteService(service);
  }
  BOOL ChangeServiceConfigA(SC_HANDLE service, DWORD serviceType, DWORD startType,
                            DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
                            LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
                            LPCSTR password, LPCSTR displayName) override {
    const ServiceEntries& e = BindServiceEntries();
    if (!e.changeServiceConfig) return NotImplemented<BOOL>(FALSE);
    return e.changeServiceConfig(service, serviceType, startType, errorControl, binaryPathName,
                                 loadOrderGroup, tagId, dependencies, serviceStartName, password,
                                 displayName);
  }

  LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                       REGSAM desired, SECURITY_ATTRIBUTES* security, HKEY* result,
                       LPDWORD disposition) override {
    return ::RegCreateKeyExA(key, subKey, reserved, keyClass, options, desired, security, result,
                             disposition);
  }
  LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                      DWORD size) override {
    return ::RegSetValueExA(key, valueName, reserved, type, data, size);
  }
  LONG RegCloseKey(HKEY key) override { return ::RegCloseKey(key); }
  LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) override { return ::RegDeleteKeyA(key, subKey); }
};

constinit CWin32Platform g_win32Platform;

}  // namespace

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
void RestrictLibrarySearch() {
  auto setDefault = EntryAs<BOOL(WINAPI*)(DWORD)>(KernelEntry("SetDefaultDllDirectories"));
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    g_bSystemFolderOnly = true;
    return;
  }
  auto setDirectory = EntryAs<BOOL(WINAPI*)(LPCSTR)>(KernelEntry("SetDllDirectoryA"));
  if (setDirectory) setDirectory("");
  PreloadSystemLibraries();
}

PlatformLayer& GetPlatform() { return g_win32Platform; }
