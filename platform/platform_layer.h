// The one seam between the setup logic and Windows. Every Windows service the
// logic needs is an operation here, named after the platform function it
// stands for and taking that function's arguments. The host build binds it to
// a simulated machine, which overrides every operation. setup.exe has one
// platform, Windows itself: there each operation is a plain member that calls
// the Win32 function (platform/win32/win32_platform.h), so a call costs what
// calling Windows directly costs, without a table of entries and a forwarding
// function per operation (several KiB of a file that must stay small).
#ifndef PLATFORM_PLATFORM_LAYER_H
#define PLATFORM_PLATFORM_LAYER_H

#include <stdarg.h>

#include "platform/win_types.h"

// The attributes SetFileAttributesA can set; the others it cannot change.
const DWORD kSettableFileAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

#ifdef _WIN32
// No state: a call passes the arguments on as they are.
#define PLATFORM_OPERATION static
#define PLATFORM_ABSTRACT
#else
#define PLATFORM_OPERATION virtual
#define PLATFORM_ABSTRACT = 0
#endif

class PlatformLayer {
 public:
  // System information and folders
  PLATFORM_OPERATION BOOL GetVersionExA(OSVERSIONINFOA* info) PLATFORM_ABSTRACT;
  // ntdll's, looked up when called: the true version, where GetVersionExA
  // answers 6.2 on 8.1 and later to a program whose manifest names no newer
  // Windows. Missing (9x, NT 4.0): STATUS_PROCEDURE_NOT_FOUND.
  PLATFORM_OPERATION LONG RtlGetVersion(RTL_OSVERSIONINFOW* info) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION void GetLocalTime(SYSTEMTIME* time) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION UINT GetSystemDirectoryA(LPSTR buffer, UINT size) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetCurrentDirectoryA(LPCSTR path) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION void GetSystemInfo(SYSTEM_INFO* info) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES* security) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION HMODULE LoadLibraryA(LPCSTR name) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION HMODULE LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION FARPROC GetProcAddress(HMODULE module, LPCSTR name) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION DWORD GetLastError() PLATFORM_ABSTRACT;
  // Lead-byte test of the ANSI code page: string helpers use it so that a
  // double-byte character is never split.
  PLATFORM_OPERATION BOOL IsDBCSLeadByte(BYTE value) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId,
                               DWORD languageId, LPSTR buffer, DWORD size,
                               va_list* arguments) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION DWORD GetTickCount() PLATFORM_ABSTRACT;
  PLATFORM_OPERATION void Sleep(DWORD milliseconds) PLATFORM_ABSTRACT;

  // Processes: the 32-bit file hands over to its 64-bit twin under WOW64.
  PLATFORM_OPERATION HANDLE GetCurrentProcess() PLATFORM_ABSTRACT;
  // Both are newer than Windows 95 and NT 4.0 and are looked up when called:
  // where kernel32 lacks one, it fails with ERROR_CALL_NOT_IMPLEMENTED.
  PLATFORM_OPERATION BOOL IsWow64Process(HANDLE process, PBOOL wow64) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL IsWow64Process2(HANDLE process, USHORT* processMachine,
                               USHORT* nativeMachine) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                              SECURITY_ATTRIBUTES* processSecurity,
                              SECURITY_ATTRIBUTES* threadSecurity, BOOL inheritHandles,
                              DWORD creationFlags, LPVOID environment,
                              LPCSTR currentDirectory, STARTUPINFOA* startupInfo,
                              PROCESS_INFORMATION* processInformation) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION DWORD GetCurrentProcessId() PLATFORM_ABSTRACT;
  PLATFORM_OPERATION DWORD ResumeThread(HANDLE thread) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL TerminateProcess(HANDLE process, UINT exitCode) PLATFORM_ABSTRACT;
  // Whether the process that made a leftover still runs.
  PLATFORM_OPERATION HANDLE OpenProcess(DWORD access, BOOL inheritHandle,
                                        DWORD processId) PLATFORM_ABSTRACT;
  // Looked up when called (XP on). Where kernel32 lacks it, the processor
  // architecture answered is PROCESSOR_ARCHITECTURE_UNKNOWN.
  PLATFORM_OPERATION void GetNativeSystemInfo(SYSTEM_INFO* info) PLATFORM_ABSTRACT;
  // The twin the 32-bit file carries: a resource of the running program.
  PLATFORM_OPERATION HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION HGLOBAL LoadResource(HMODULE module, HRSRC resource) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION LPVOID LockResource(HGLOBAL data) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION DWORD SizeofResource(HMODULE module, HRSRC resource) PLATFORM_ABSTRACT;
  // What a parent tells the twin it starts, out of reach of the switches.
  PLATFORM_OPERATION BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) PLATFORM_ABSTRACT;
  // Job objects (Windows 2000 on), looked up when called: where kernel32
  // lacks them they fail with ERROR_CALL_NOT_IMPLEMENTED.
  PLATFORM_OPERATION HANDLE CreateJobObjectA(SECURITY_ATTRIBUTES* security, LPCSTR name) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetInformationJobObject(HANDLE job, int infoClass, void* info,
                                                  DWORD size) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL AssignProcessToJobObject(HANDLE job, HANDLE process) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL QueryInformationJobObject(HANDLE job, int infoClass, void* info,
                                                    DWORD size, LPDWORD returned) PLATFORM_ABSTRACT;

  // Named mutexes: one setup at a time
  PLATFORM_OPERATION HANDLE CreateMutexA(SECURITY_ATTRIBUTES* security, BOOL initialOwner, LPCSTR name) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION HANDLE OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL ReleaseMutex(HANDLE mutex) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL CloseHandle(HANDLE handle) PLATFORM_ABSTRACT;

  // Files
  PLATFORM_OPERATION BOOL CopyFileA(LPCSTR source, LPCSTR destination, BOOL failIfExists) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL DeleteFileA(LPCSTR path) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL MoveFileA(LPCSTR existing, LPCSTR newName) PLATFORM_ABSTRACT;
  // Windows 95 exports it as a stub that fails; used on the NT family only.
  PLATFORM_OPERATION BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode,
                             SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                             HANDLE templateFile) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL WriteFile(HANDLE file, const void* data, DWORD size, LPDWORD written,
                         OVERLAPPED* overlapped) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL FlushFileBuffers(HANDLE file) PLATFORM_ABSTRACT;
  // What a held handle is: attributes, link count (Windows 95 and NT 4.0 have it).
  PLATFORM_OPERATION BOOL GetFileInformationByHandle(HANDLE file,
                                                     BY_HANDLE_FILE_INFORMATION* info) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL RemoveDirectoryA(LPCSTR path) PLATFORM_ABSTRACT;
  // Whether a volume keeps security on its files (FAT does not).
  PLATFORM_OPERATION BOOL GetVolumeInformationA(LPCSTR root, LPSTR name, DWORD nameSize,
                                                LPDWORD serial, LPDWORD maximumLength,
                                                LPDWORD flags, LPSTR fileSystem,
                                                DWORD fileSystemSize) PLATFORM_ABSTRACT;
  // A file's or folder's security as self-relative bytes (NT; looked up when
  // called: where advapi32 lacks them they fail with
  // ERROR_CALL_NOT_IMPLEMENTED).
  PLATFORM_OPERATION BOOL GetFileSecurityA(LPCSTR path, DWORD information, void* descriptor,
                                           DWORD size, LPDWORD needed) PLATFORM_ABSTRACT;
  // The account this process runs as (NT; looked up like the two above).
  PLATFORM_OPERATION BOOL OpenProcessToken(HANDLE process, DWORD access,
                                           HANDLE* token) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL GetTokenInformation(HANDLE token, int infoClass, void* info,
                                              DWORD size, LPDWORD needed) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetFileSecurityA(LPCSTR path, DWORD information,
                                           void* descriptor) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION DWORD GetFileAttributesA(LPCSTR path) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL FindClose(HANDLE find) PLATFORM_ABSTRACT;

  // Reading back the setup log's last bytes (Windows 95 and NT 4.0 export it).
  PLATFORM_OPERATION BOOL ReadFile(HANDLE file, void* buffer, DWORD size, LPDWORD read,
                                   OVERLAPPED* overlapped) PLATFORM_ABSTRACT;

  // The setup library's INF reader, from the setupapi.dll the process has
  // loaded (it is never loaded for them); where it is not loaded they fail
  // with ERROR_CALL_NOT_IMPLEMENTED.
  PLATFORM_OPERATION HINF SetupOpenInfFileA(LPCSTR fileName, LPCSTR infClass, DWORD infStyle,
                                            UINT* errorLine) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetupGetLineTextA(void* context, HINF inf, LPCSTR section, LPCSTR key,
                                            LPSTR buffer, DWORD size,
                                            LPDWORD requiredSize) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION void SetupCloseInfFile(HINF inf) PLATFORM_ABSTRACT;
  // Lines and fields of an INF, and the models section this Windows takes
  // from a [Manufacturer] line (Server 2003 SP1 on).
  PLATFORM_OPERATION BOOL SetupFindFirstLineA(HINF inf, LPCSTR section, LPCSTR key,
                                              INFCONTEXT* context) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetupFindNextLine(INFCONTEXT* context,
                                            INFCONTEXT* next) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetupGetStringFieldA(INFCONTEXT* context, DWORD field, LPSTR buffer,
                                               DWORD size, LPDWORD requiredSize) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetupDiGetActualModelsSectionA(INFCONTEXT* context,
                                                         void* alternatePlatform, LPSTR buffer,
                                                         DWORD size, LPDWORD requiredSize,
                                                         void* reserved) PLATFORM_ABSTRACT;
  // A package out of the driver store (XP on).
  PLATFORM_OPERATION BOOL SetupUninstallOEMInfA(LPCSTR infFileName, DWORD flags,
                                                void* reserved) PLATFORM_ABSTRACT;
  // Devices, present or not, their hardware IDs and driver keys.
  PLATFORM_OPERATION HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator,
                                                   HWND parent, DWORD flags) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index,
                                                SP_DEVINFO_DATA* device) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set,
                                                            SP_DEVINFO_DATA* device,
                                                            DWORD property, LPDWORD type,
                                                            LPBYTE buffer, DWORD size,
                                                            LPDWORD requiredSize) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                      LPSTR buffer, DWORD size,
                                                      LPDWORD requiredSize) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION HKEY SetupDiOpenDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device,
                                               DWORD scope, DWORD profile, DWORD keyType,
                                               REGSAM desired) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetupDiCallClassInstaller(DWORD function, HDEVINFO set,
                                                    SP_DEVINFO_DATA* device) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetupDiGetDeviceInstallParamsA(
      HDEVINFO set, SP_DEVINFO_DATA* device, SP_DEVINSTALL_PARAMS_A* parameters) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) PLATFORM_ABSTRACT;
  // Windows' own device installs still under way (XP on; where it is
  // missing: WAIT_FAILED with ERROR_CALL_NOT_IMPLEMENTED).
  PLATFORM_OPERATION DWORD CMP_WaitNoPendingInstallEvents(DWORD timeout) PLATFORM_ABSTRACT;
  // newdev.dll's, from the one the process has loaded (2000 on; the second
  // from Windows 10 1703).
  PLATFORM_OPERATION BOOL UpdateDriverForPlugAndPlayDevicesA(HWND parent, LPCSTR hardwareId,
                                                             LPCSTR fullInfPath, DWORD flags,
                                                             PBOOL rebootRequired) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL DiUninstallDriverA(HWND parent, LPCSTR infPath, DWORD flags,
                                             PBOOL needReboot) PLATFORM_ABSTRACT;
  // Calls the SetupCopyOEMInfA entry that GetProcAddress bound.
  PLATFORM_OPERATION BOOL SetupCopyOEMInfA(PFN_SETUPCOPYOEMINFA entry, PCSTR sourceInfFileName,
                                PCSTR oemSourceMediaLocation, DWORD oemSourceMediaType,
                                DWORD copyStyle, PSTR destinationInfFileName,
                                DWORD destinationInfFileNameSize, PDWORD requiredSize,
                                PSTR* destinationInfFileNameComponent) PLATFORM_ABSTRACT;

  // Service control manager
  PLATFORM_OPERATION SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName,
                                   DWORD desiredAccess) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL CloseServiceHandle(SC_HANDLE handle) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName,
                                   DWORD desiredAccess, DWORD serviceType, DWORD startType,
                                   DWORD errorControl, LPCSTR binaryPathName,
                                   LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
                                   LPCSTR serviceStartName, LPCSTR password) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL StartServiceA(SC_HANDLE service, DWORD argCount, LPCSTR* args) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL DeleteService(SC_HANDLE service) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION BOOL ChangeServiceConfigA(SC_HANDLE service, DWORD serviceType, DWORD startType,
                                    DWORD errorControl, LPCSTR binaryPathName,
                                    LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
                                    LPCSTR serviceStartName, LPCSTR password,
                                    LPCSTR displayName) PLATFORM_ABSTRACT;

  // Registry
  PLATFORM_OPERATION LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                               DWORD options, REGSAM desired, SECURITY_ATTRIBUTES* security,
                               HKEY* result, LPDWORD disposition) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                              const BYTE* data, DWORD size) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION LONG RegCloseKey(HKEY key) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired,
                                        HKEY* result) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved,
                                           LPDWORD type, LPBYTE data,
                                           LPDWORD size) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION LONG RegDeleteValueA(HKEY key, LPCSTR valueName) PLATFORM_ABSTRACT;
  PLATFORM_OPERATION LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize,
                                        LPDWORD reserved, LPDWORD type, LPBYTE data,
                                        LPDWORD dataSize) PLATFORM_ABSTRACT;
  // A key of the 64-bit view from a process under WOW64 (every 64-bit
  // Windows has it; looked up when called).
  PLATFORM_OPERATION LONG RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM view,
                                          DWORD reserved) PLATFORM_ABSTRACT;

#ifndef _WIN32
 protected:
  // Not virtual: no machine is deleted through the seam.
  ~PlatformLayer() = default;
#endif
};

#ifdef _WIN32
#include "platform/win32/win32_platform.h"
#else
// The platform this process runs on: the active simulated machine.
PlatformLayer& GetPlatform();
#endif

#endif  // PLATFORM_PLATFORM_LAYER_H
