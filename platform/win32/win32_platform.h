// The real platform of setup.exe: each operation calls the Win32 function of
// its name. The plain ones are here, inline, so that a call of the logic is a
// call of Windows; those that bind a newer function at run time or mend an
// answer are in win32_platform.cpp. Included by platform_layer.h only.
#ifndef PLATFORM_WIN32_WIN32_PLATFORM_H
#define PLATFORM_WIN32_WIN32_PLATFORM_H

// It holds nothing: every operation is Windows' own.
inline PlatformLayer& GetPlatform() {
  static constinit PlatformLayer s_platform;
  return s_platform;
}

inline BOOL PlatformLayer::GetVersionExA(OSVERSIONINFOA* info) { return ::GetVersionExA(info); }
inline void PlatformLayer::GetLocalTime(SYSTEMTIME* time) { ::GetLocalTime(time); }
inline BOOL PlatformLayer::SetCurrentDirectoryA(LPCSTR path) { return ::SetCurrentDirectoryA(path); }
inline void PlatformLayer::GetSystemInfo(SYSTEM_INFO* info) { ::GetSystemInfo(info); }
inline BOOL PlatformLayer::CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES* security) {
  return ::CreateDirectoryA(path, security);
}
inline HMODULE PlatformLayer::LoadLibraryA(LPCSTR name) { return ::LoadLibraryA(name); }
inline FARPROC PlatformLayer::GetProcAddress(HMODULE module, LPCSTR name) {
  return ::GetProcAddress(module, name);
}
inline DWORD PlatformLayer::GetLastError() { return ::GetLastError(); }
inline BOOL PlatformLayer::IsDBCSLeadByte(BYTE value) { return ::IsDBCSLeadByte(value); }
inline int PlatformLayer::MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  return ::MessageBoxA(owner, text, caption, type);
}
inline DWORD PlatformLayer::FormatMessageA(DWORD flags, const void* source, DWORD messageId,
                                           DWORD languageId, LPSTR buffer, DWORD size,
                                           va_list* arguments) {
  return ::FormatMessageA(flags, source, messageId, languageId, buffer, size, arguments);
}
inline DWORD PlatformLayer::GetTickCount() { return ::GetTickCount(); }
inline void PlatformLayer::Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

inline HANDLE PlatformLayer::GetCurrentProcess() { return ::GetCurrentProcess(); }
inline BOOL PlatformLayer::CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                                          SECURITY_ATTRIBUTES* processSecurity,
                                          SECURITY_ATTRIBUTES* threadSecurity,
                                          BOOL inheritHandles, DWORD creationFlags,
                                          LPVOID environment, LPCSTR currentDirectory,
                                          STARTUPINFOA* startupInfo,
                                          PROCESS_INFORMATION* processInformation) {
  return ::CreateProcessA(applicationName, commandLine, processSecurity, threadSecurity,
                          inheritHandles, creationFlags, environment, currentDirectory,
                          startupInfo, processInformation);
}
inline BOOL PlatformLayer::GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  return ::GetExitCodeProcess(process, exitCode);
}

inline DWORD PlatformLayer::GetCurrentProcessId() { return ::GetCurrentProcessId(); }
inline DWORD PlatformLayer::ResumeThread(HANDLE thread) { return ::ResumeThread(thread); }
inline BOOL PlatformLayer::TerminateProcess(HANDLE process, UINT exitCode) {
  return ::TerminateProcess(process, exitCode);
}
inline HRSRC PlatformLayer::FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  return ::FindResourceA(module, name, type);
}
inline HGLOBAL PlatformLayer::LoadResource(HMODULE module, HRSRC resource) {
  return ::LoadResource(module, resource);
}
inline LPVOID PlatformLayer::LockResource(HGLOBAL data) { return ::LockResource(data); }
inline DWORD PlatformLayer::SizeofResource(HMODULE module, HRSRC resource) {
  return ::SizeofResource(module, resource);
}
inline BOOL PlatformLayer::SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  return ::SetEnvironmentVariableA(name, value);
}
inline DWORD PlatformLayer::GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  return ::GetEnvironmentVariableA(name, buffer, size);
}

inline HANDLE PlatformLayer::CreateMutexA(SECURITY_ATTRIBUTES* security, BOOL initialOwner,
                                          LPCSTR name) {
  return ::CreateMutexA(security, initialOwner, name);
}
inline HANDLE PlatformLayer::OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name) {
  return ::OpenMutexA(desiredAccess, inheritHandle, name);
}
inline DWORD PlatformLayer::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return ::WaitForSingleObject(handle, milliseconds);
}
inline BOOL PlatformLayer::ReleaseMutex(HANDLE mutex) { return ::ReleaseMutex(mutex); }
inline BOOL PlatformLayer::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

inline BOOL PlatformLayer::CopyFileA(LPCSTR source, LPCSTR destination, BOOL failIfExists) {
  return ::CopyFileA(source, destination, failIfExists);
}
inline BOOL PlatformLayer::DeleteFileA(LPCSTR path) { return ::DeleteFileA(path); }
inline BOOL PlatformLayer::MoveFileA(LPCSTR existing, LPCSTR newName) {
  return ::MoveFileA(existing, newName);
}
inline BOOL PlatformLayer::MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) {
  return ::MoveFileExA(existing, newName, flags);
}
inline HANDLE PlatformLayer::CreateFileA(LPCSTR name, DWORD access, DWORD shareMode,
                                         SECURITY_ATTRIBUTES* security, DWORD disposition,
                                         DWORD flags, HANDLE templateFile) {
  return ::CreateFileA(name, access, shareMode, security, disposition, flags, templateFile);
}
inline DWORD PlatformLayer::SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh,
                                           DWORD method) {
  return ::SetFilePointer(file, distance, distanceHigh, method);
}
inline DWORD PlatformLayer::GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  return ::GetFileSize(file, sizeHigh);
}
inline BOOL PlatformLayer::WriteFile(HANDLE file, const void* data, DWORD size, LPDWORD written,
                                     OVERLAPPED* overlapped) {
  return ::WriteFile(file, data, size, written, overlapped);
}
inline BOOL PlatformLayer::FlushFileBuffers(HANDLE file) { return ::FlushFileBuffers(file); }
inline BOOL PlatformLayer::GetFileInformationByHandle(HANDLE file,
                                                      BY_HANDLE_FILE_INFORMATION* info) {
  return ::GetFileInformationByHandle(file, info);
}
inline BOOL PlatformLayer::RemoveDirectoryA(LPCSTR path) { return ::RemoveDirectoryA(path); }
inline BOOL PlatformLayer::GetVolumeInformationA(LPCSTR root, LPSTR name, DWORD nameSize,
                                                 LPDWORD serial, LPDWORD maximumLength,
                                                 LPDWORD flags, LPSTR fileSystem,
                                                 DWORD fileSystemSize) {
  return ::GetVolumeInformationA(root, name, nameSize, serial, maximumLength, flags, fileSystem,
                                 fileSystemSize);
}
inline HANDLE PlatformLayer::OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId) {
  return ::OpenProcess(access, inheritHandle, processId);
}
inline BOOL PlatformLayer::ReadFile(HANDLE file, void* buffer, DWORD size, LPDWORD read,
                                    OVERLAPPED* overlapped) {
  return ::ReadFile(file, buffer, size, read, overlapped);
}
inline DWORD PlatformLayer::GetFileAttributesA(LPCSTR path) { return ::GetFileAttributesA(path); }
inline BOOL PlatformLayer::SetFileAttributesA(LPCSTR path, DWORD attributes) {
  return ::SetFileAttributesA(path, attributes);
}
// The package loop terminates every name it is given.
inline HANDLE PlatformLayer::FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
  return ::FindFirstFileA(pattern, data);
}
inline BOOL PlatformLayer::FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  return ::FindNextFileA(find, data);
}
inline BOOL PlatformLayer::FindClose(HANDLE find) { return ::FindClose(find); }

inline LONG PlatformLayer::RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved,
                                           LPSTR keyClass, DWORD options, REGSAM desired,
                                           SECURITY_ATTRIBUTES* security, HKEY* result,
                                           LPDWORD disposition) {
  return ::RegCreateKeyExA(key, subKey, reserved, keyClass, options, desired, security, result,
                           disposition);
}
inline LONG PlatformLayer::RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                                          const BYTE* data, DWORD size) {
  return ::RegSetValueExA(key, valueName, reserved, type, data, size);
}
inline LONG PlatformLayer::RegCloseKey(HKEY key) { return ::RegCloseKey(key); }
inline LONG PlatformLayer::RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  return ::RegDeleteKeyA(key, subKey);
}
inline LONG PlatformLayer::RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired,
                                         HKEY* result) {
  return ::RegOpenKeyExA(key, subKey, options, desired, result);
}
inline LONG PlatformLayer::RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved,
                                            LPDWORD type, LPBYTE data, LPDWORD size) {
  return ::RegQueryValueExA(key, valueName, reserved, type, data, size);
}
inline LONG PlatformLayer::RegDeleteValueA(HKEY key, LPCSTR valueName) {
  return ::RegDeleteValueA(key, valueName);
}
inline LONG PlatformLayer::RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize,
                                         LPDWORD reserved, LPDWORD type, LPBYTE data,
                                         LPDWORD dataSize) {
  return ::RegEnumValueA(key, index, name, nameSize, reserved, type, data, dataSize);
}

#endif  // PLATFORM_WIN32_WIN32_PLATFORM_H
