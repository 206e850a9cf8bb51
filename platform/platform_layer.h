// The one seam between the setup logic and Windows. Every Windows service the
// logic needs is an operation here, named after the platform function it
// stands for and taking that function's arguments. setup.exe binds it to the
// real Win32 calls; the host build binds it to a simulated machine.
#ifndef PLATFORM_PLATFORM_LAYER_H
#define PLATFORM_PLATFORM_LAYER_H

#include "platform/win_types.h"

// The attributes SetFileAttributesA can set; the others it cannot change.
const DWORD kSettableFileAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

class PlatformLayer {
 public:
  // System information and folders
  virtual BOOL GetVersionExA(OSVERSIONINFOA* info) = 0;
  virtual UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) = 0;
  virtual UINT GetSystemDirectoryA(LPSTR buffer, UINT size) = 0;
  virtual DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) = 0;
  virtual BOOL SetCurrentDirectoryA(LPCSTR path) = 0;
  virtual void GetSystemInfo(SYSTEM_INFO* info) = 0;
  virtual BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES* security) = 0;
  virtual HMODULE LoadLibraryA(LPCSTR name) = 0;
  virtual HMODULE LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) = 0;
  virtual FARPROC GetProcAddress(HMODULE module, LPCSTR name) = 0;
  virtual DWORD GetLastError() = 0;
  // Lead-byte test of the ANSI code page: string helpers use it so that a
  // double-byte character is never split.
  virtual BOOL IsDBCSLeadByte(BYTE value) = 0;
  virtual int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) = 0;
  virtual DWORD GetTickCount() = 0;
  virtual void Sleep(DWORD milliseconds) = 0;

  // Processes: the 32-bit file hands over to its 64-bit twin under WOW64.
  virtual HANDLE GetCurrentProcess() = 0;
  // Both are newer than Windows 95 and NT 4.0 and are looked up when called:
  // where kernel32 lacks one, it fails with ERROR_CALL_NOT_IMPLEMENTED.
  virtual BOOL IsWow64Process(HANDLE process, PBOOL wow64) = 0;
  virtual BOOL IsWow64Process2(HANDLE process, USHORT* processMachine,
                               USHORT* nativeMachine) = 0;
  virtual BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                              SECURITY_ATTRIBUTES* processSecurity,
                              SECURITY_ATTRIBUTES* threadSecurity, BOOL inheritHandles,
                              DWORD creationFlags, LPVOID environment,
                              LPCSTR currentDirectory, STARTUPINFOA* startupInfo,
                              PROCESS_INFORMATION* processInformation) = 0;
  virtual BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) = 0;

  // Named mutexes: one setup at a time
  virtual HANDLE CreateMutexA(SECURITY_ATTRIBUTES* security, BOOL initialOwner, LPCSTR name) = 0;
  virtual HANDLE OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name) = 0;
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;
  virtual BOOL ReleaseMutex(HANDLE mutex) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;

  // Files
  virtual BOOL CopyFileA(LPCSTR source, LPCSTR destination, BOOL failIfExists) = 0;
  virtual BOOL DeleteFileA(LPCSTR path) = 0;
  virtual DWORD GetFileAttributesA(LPCSTR path) = 0;
  virtual BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) = 0;
  virtual HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) = 0;
  virtual BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) = 0;
  virtual BOOL FindClose(HANDLE find) = 0;
  // Calls the SetupCopyOEMInfA entry that GetProcAddress bound.
  virtual BOOL SetupCopyOEMInfA(PFN_SETUPCOPYOEMINFA entry, PCSTR sourceInfFileName,
                                PCSTR oemSourceMediaLocation, DWORD oemSourceMediaType,
                                DWORD copyStyle, PSTR destinationInfFileName,
                                DWORD destinationInfFileNameSize, PDWORD requiredSize,
                                PSTR* destinationInfFileNameComponent) = 0;

  // Service control manager
  virtual SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName,
                                   DWORD desiredAccess) = 0;
  virtual BOOL CloseServiceHandle(SC_HANDLE handle) = 0;
  virtual SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName,
                                   DWORD desiredAccess, DWORD serviceType, DWORD startType,
                                   DWORD errorControl, LPCSTR binaryPathName,
                                   LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
                                   LPCSTR serviceStartName, LPCSTR password) = 0;
  virtual SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) = 0;
  virtual BOOL StartServiceA(SC_HANDLE service, DWORD argCount, LPCSTR* args) = 0;
  virtual BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) = 0;
  virtual BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) = 0;
  virtual BOOL DeleteService(SC_HANDLE service) = 0;
  virtual BOOL ChangeServiceConfigA(SC_HANDLE service, DWORD serviceType, DWORD startType,
                                    DWORD errorControl, LPCSTR binaryPathName,
                                    LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
                                    LPCSTR serviceStartName, LPCSTR password,
                                    LPCSTR displayName) = 0;

  // Registry
  virtual LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                               DWORD options, REGSAM desired, SECURITY_ATTRIBUTES* security,
                               HKEY* result, LPDWORD disposition) = 0;
  virtual LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                              const BYTE* data, DWORD size) = 0;
  virtual LONG RegCloseKey(HKEY key) = 0;
  virtual LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) = 0;

 protected:
  // Not virtual and trivial: setup.exe's instance is constant-initialised, so
  // it exists before any static constructor asks it for anything.
  ~PlatformLayer() = default;
};

// The platform this process runs on. Defined once per build.
PlatformLayer& GetPlatform();

#endif  // PLATFORM_PLATFORM_LAYER_H
