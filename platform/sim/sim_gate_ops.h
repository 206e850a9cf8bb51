// Every operation of PlatformLayer, for the gate in front of the simulated
// machine (sim_gate.h): SIM_GATE_OP(result, name, (parameters), (arguments)).
// A gate that misses one does not compile: it must override them all.
SIM_GATE_OP(BOOL, GetVersionExA, (OSVERSIONINFOA * info), (info))
SIM_GATE_OP(LONG, RtlGetVersion, (RTL_OSVERSIONINFOW * info), (info))
SIM_GATE_OP(void, GetLocalTime, (SYSTEMTIME * time), (time))
SIM_GATE_OP(UINT, GetWindowsDirectoryA, (LPSTR buffer, UINT size), (buffer, size))
SIM_GATE_OP(UINT, GetSystemDirectoryA, (LPSTR buffer, UINT size), (buffer, size))
SIM_GATE_OP(DWORD, GetModuleFileNameA, (HMODULE module, LPSTR buffer, DWORD size),
            (module, buffer, size))
SIM_GATE_OP(BOOL, SetCurrentDirectoryA, (LPCSTR path), (path))
SIM_GATE_OP(void, GetSystemInfo, (SYSTEM_INFO * info), (info))
SIM_GATE_OP(BOOL, CreateDirectoryA, (LPCSTR path, SECURITY_ATTRIBUTES* security), (path, security))
SIM_GATE_OP(HMODULE, LoadLibraryA, (LPCSTR name), (name))
SIM_GATE_OP(HMODULE, LoadLibraryExA, (LPCSTR name, HANDLE file, DWORD flags), (name, file, flags))
SIM_GATE_OP(FARPROC, GetProcAddress, (HMODULE module, LPCSTR name), (module, name))
SIM_GATE_OP(DWORD, GetLastError, (), ())
SIM_GATE_OP(BOOL, IsDBCSLeadByte, (BYTE value), (value))
SIM_GATE_OP(int, MessageBoxA, (HWND owner, LPCSTR text, LPCSTR caption, UINT type),
            (owner, text, caption, type))
SIM_GATE_OP(DWORD, FormatMessageA,
            (DWORD flags, const void* source, DWORD messageId, DWORD languageId, LPSTR buffer,
             DWORD size, va_list* arguments),
            (flags, source, messageId, languageId, buffer, size, arguments))
SIM_GATE_OP(DWORD, GetTickCount, (), ())
SIM_GATE_OP(void, Sleep, (DWORD milliseconds), (milliseconds))
SIM_GATE_OP(HANDLE, GetCurrentProcess, (), ())
SIM_GATE_OP(BOOL, IsWow64Process, (HANDLE process, PBOOL wow64), (process, wow64))
SIM_GATE_OP(BOOL, IsWow64Process2, (HANDLE process, USHORT* processMachine, USHORT* nativeMachine),
            (process, processMachine, nativeMachine))
SIM_GATE_OP(BOOL, CreateProcessA,
            (LPCSTR applicationName, LPSTR commandLine, SECURITY_ATTRIBUTES* processSecurity,
             SECURITY_ATTRIBUTES* threadSecurity, BOOL inheritHandles, DWORD creationFlags,
             LPVOID environment, LPCSTR currentDirectory, STARTUPINFOA* startupInfo,
             PROCESS_INFORMATION* processInformation),
            (applicationName, commandLine, processSecurity, threadSecurity, inheritHandles,
             creationFlags, environment, currentDirectory, startupInfo, processInformation))
SIM_GATE_OP(BOOL, GetExitCodeProcess, (HANDLE process, LPDWORD exitCode), (process, exitCode))
SIM_GATE_OP(DWORD, GetCurrentProcessId, (), ())
SIM_GATE_OP(DWORD, ResumeThread, (HANDLE thread), (thread))
SIM_GATE_OP(BOOL, TerminateProcess, (HANDLE process, UINT exitCode), (process, exitCode))
SIM_GATE_OP(HANDLE, OpenProcess, (DWORD access, BOOL inheritHandle, DWORD processId),
            (access, inheritHandle, processId))
SIM_GATE_OP(void, GetNativeSystemInfo, (SYSTEM_INFO * info), (info))
SIM_GATE_OP(HRSRC, FindResourceA, (HMODULE module, LPCSTR name, LPCSTR type), (module, name, type))
SIM_GATE_OP(HGLOBAL, LoadResource, (HMODULE module, HRSRC resource), (module, resource))
SIM_GATE_OP(LPVOID, LockResource, (HGLOBAL data), (data))
SIM_GATE_OP(DWORD, SizeofResource, (HMODULE module, HRSRC resource), (module, resource))
SIM_GATE_OP(BOOL, SetEnvironmentVariableA, (LPCSTR name, LPCSTR value), (name, value))
SIM_GATE_OP(DWORD, GetEnvironmentVariableA, (LPCSTR name, LPSTR buffer, DWORD size),
            (name, buffer, size))
SIM_GATE_OP(HANDLE, CreateJobObjectA, (SECURITY_ATTRIBUTES * security, LPCSTR name),
            (security, name))
SIM_GATE_OP(BOOL, SetInformationJobObject, (HANDLE job, int infoClass, void* info, DWORD size),
            (job, infoClass, info, size))
SIM_GATE_OP(BOOL, AssignProcessToJobObject, (HANDLE job, HANDLE process), (job, process))
SIM_GATE_OP(BOOL, QueryInformationJobObject,
            (HANDLE job, int infoClass, void* info, DWORD size, LPDWORD returned),
            (job, infoClass, info, size, returned))
SIM_GATE_OP(HANDLE, CreateMutexA, (SECURITY_ATTRIBUTES * security, BOOL initialOwner, LPCSTR name),
            (security, initialOwner, name))
SIM_GATE_OP(HANDLE, OpenMutexA, (DWORD desiredAccess, BOOL inheritHandle, LPCSTR name),
            (desiredAccess, inheritHandle, name))
SIM_GATE_OP(DWORD, WaitForSingleObject, (HANDLE handle, DWORD milliseconds), (handle, milliseconds))
SIM_GATE_OP(BOOL, ReleaseMutex, (HANDLE mutex), (mutex))
SIM_GATE_OP(BOOL, CloseHandle, (HANDLE handle), (handle))
SIM_GATE_OP(BOOL, CopyFileA, (LPCSTR source, LPCSTR destination, BOOL failIfExists),
            (source, destination, failIfExists))
SIM_GATE_OP(BOOL, DeleteFileA, (LPCSTR path), (path))
SIM_GATE_OP(BOOL, MoveFileA, (LPCSTR existing, LPCSTR newName), (existing, newName))
SIM_GATE_OP(BOOL, MoveFileExA, (LPCSTR existing, LPCSTR newName, DWORD flags),
            (existing, newName, flags))
SIM_GATE_OP(HANDLE, CreateFileA,
            (LPCSTR name, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
             DWORD disposition, DWORD flags, HANDLE templateFile),
            (name, access, shareMode, security, disposition, flags, templateFile))
SIM_GATE_OP(DWORD, SetFilePointer, (HANDLE file, LONG distance, LONG* distanceHigh, DWORD method),
            (file, distance, distanceHigh, method))
SIM_GATE_OP(DWORD, GetFileSize, (HANDLE file, LPDWORD sizeHigh), (file, sizeHigh))
SIM_GATE_OP(BOOL, WriteFile,
            (HANDLE file, const void* data, DWORD size, LPDWORD written, OVERLAPPED* overlapped),
            (file, data, size, written, overlapped))
SIM_GATE_OP(BOOL, FlushFileBuffers, (HANDLE file), (file))
SIM_GATE_OP(BOOL, GetFileInformationByHandle, (HANDLE file, BY_HANDLE_FILE_INFORMATION* info),
            (file, info))
SIM_GATE_OP(BOOL, RemoveDirectoryA, (LPCSTR path), (path))
SIM_GATE_OP(BOOL, GetVolumeInformationA,
            (LPCSTR root, LPSTR name, DWORD nameSize, LPDWORD serial, LPDWORD maximumLength,
             LPDWORD flags, LPSTR fileSystem, DWORD fileSystemSize),
            (root, name, nameSize, serial, maximumLength, flags, fileSystem, fileSystemSize))
SIM_GATE_OP(BOOL, GetFileSecurityA,
            (LPCSTR path, DWORD information, void* descriptor, DWORD size, LPDWORD needed),
            (path, information, descriptor, size, needed))
SIM_GATE_OP(BOOL, OpenProcessToken, (HANDLE process, DWORD access, HANDLE* token),
            (process, access, token))
SIM_GATE_OP(BOOL, GetTokenInformation,
            (HANDLE token, int infoClass, void* info, DWORD size, LPDWORD needed),
            (token, infoClass, info, size, needed))
SIM_GATE_OP(BOOL, SetFileSecurityA, (LPCSTR path, DWORD information, void* descriptor),
            (path, information, descriptor))
SIM_GATE_OP(DWORD, GetFileAttributesA, (LPCSTR path), (path))
SIM_GATE_OP(BOOL, SetFileAttributesA, (LPCSTR path, DWORD attributes), (path, attributes))
SIM_GATE_OP(HANDLE, FindFirstFileA, (LPCSTR pattern, WIN32_FIND_DATAA* data), (pattern, data))
SIM_GATE_OP(BOOL, FindNextFileA, (HANDLE find, WIN32_FIND_DATAA* data), (find, data))
SIM_GATE_OP(BOOL, FindClose, (HANDLE find), (find))
SIM_GATE_OP(BOOL, ReadFile,
            (HANDLE file, void* buffer, DWORD size, LPDWORD read, OVERLAPPED* overlapped),
            (file, buffer, size, read, overlapped))
SIM_GATE_OP(HINF, SetupOpenInfFileA,
            (LPCSTR fileName, LPCSTR infClass, DWORD infStyle, UINT* errorLine),
            (fileName, infClass, infStyle, errorLine))
SIM_GATE_OP(BOOL, SetupGetLineTextA,
            (void* context, HINF inf, LPCSTR section, LPCSTR key, LPSTR buffer, DWORD size,
             LPDWORD requiredSize),
            (context, inf, section, key, buffer, size, requiredSize))
SIM_GATE_OP(void, SetupCloseInfFile, (HINF inf), (inf))
SIM_GATE_OP(BOOL, SetupFindFirstLineA, (HINF inf, LPCSTR section, LPCSTR key, INFCONTEXT* context),
            (inf, section, key, context))
SIM_GATE_OP(BOOL, SetupFindNextLine, (INFCONTEXT * context, INFCONTEXT* next), (context, next))
SIM_GATE_OP(BOOL, SetupGetStringFieldA,
            (INFCONTEXT * context, DWORD field, LPSTR buffer, DWORD size, LPDWORD requiredSize),
            (context, field, buffer, size, requiredSize))
SIM_GATE_OP(BOOL, SetupDiGetActualModelsSectionA,
            (INFCONTEXT * context, void* alternatePlatform, LPSTR buffer, DWORD size,
             LPDWORD requiredSize, void* reserved),
            (context, alternatePlatform, buffer, size, requiredSize, reserved))
SIM_GATE_OP(BOOL, SetupUninstallOEMInfA, (LPCSTR infFileName, DWORD flags, void* reserved),
            (infFileName, flags, reserved))
SIM_GATE_OP(HDEVINFO, SetupDiGetClassDevsA,
            (const GUID* classGuid, LPCSTR enumerator, HWND parent, DWORD flags),
            (classGuid, enumerator, parent, flags))
SIM_GATE_OP(BOOL, SetupDiEnumDeviceInfo, (HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device),
            (set, index, device))
SIM_GATE_OP(BOOL, SetupDiGetDeviceRegistryPropertyA,
            (HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, LPDWORD type, LPBYTE buffer,
             DWORD size, LPDWORD requiredSize),
            (set, device, property, type, buffer, size, requiredSize))
SIM_GATE_OP(BOOL, SetupDiGetDeviceInstanceIdA,
            (HDEVINFO set, SP_DEVINFO_DATA* device, LPSTR buffer, DWORD size, LPDWORD requiredSize),
            (set, device, buffer, size, requiredSize))
SIM_GATE_OP(HKEY, SetupDiOpenDevRegKey,
            (HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope, DWORD profile, DWORD keyType,
             REGSAM desired),
            (set, device, scope, profile, keyType, desired))
SIM_GATE_OP(BOOL, SetupDiCallClassInstaller,
            (DWORD function, HDEVINFO set, SP_DEVINFO_DATA* device), (function, set, device))
SIM_GATE_OP(BOOL, SetupDiGetDeviceInstallParamsA,
            (HDEVINFO set, SP_DEVINFO_DATA* device, SP_DEVINSTALL_PARAMS_A* parameters),
            (set, device, parameters))
SIM_GATE_OP(BOOL, SetupDiDestroyDeviceInfoList, (HDEVINFO set), (set))
SIM_GATE_OP(DWORD, CMP_WaitNoPendingInstallEvents, (DWORD timeout), (timeout))
SIM_GATE_OP(BOOL, UpdateDriverForPlugAndPlayDevicesA,
            (HWND parent, LPCSTR hardwareId, LPCSTR fullInfPath, DWORD flags, PBOOL rebootRequired),
            (parent, hardwareId, fullInfPath, flags, rebootRequired))
SIM_GATE_OP(BOOL, DiUninstallDriverA, (HWND parent, LPCSTR infPath, DWORD flags, PBOOL needReboot),
            (parent, infPath, flags, needReboot))
SIM_GATE_OP(BOOL, SetupCopyOEMInfA,
            (PFN_SETUPCOPYOEMINFA entry, PCSTR sourceInfFileName, PCSTR oemSourceMediaLocation,
             DWORD oemSourceMediaType, DWORD copyStyle, PSTR destinationInfFileName,
             DWORD destinationInfFileNameSize, PDWORD requiredSize,
             PSTR* destinationInfFileNameComponent),
            (entry, sourceInfFileName, oemSourceMediaLocation, oemSourceMediaType, copyStyle,
             destinationInfFileName, destinationInfFileNameSize, requiredSize,
             destinationInfFileNameComponent))
SIM_GATE_OP(SC_HANDLE, OpenSCManagerA,
            (LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess),
            (machineName, databaseName, desiredAccess))
SIM_GATE_OP(BOOL, CloseServiceHandle, (SC_HANDLE handle), (handle))
SIM_GATE_OP(SC_HANDLE, CreateServiceA,
            (SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName, DWORD desiredAccess,
             DWORD serviceType, DWORD startType, DWORD errorControl, LPCSTR binaryPathName,
             LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
             LPCSTR password),
            (manager, serviceName, displayName, desiredAccess, serviceType, startType, errorControl,
             binaryPathName, loadOrderGroup, tagId, dependencies, serviceStartName, password))
SIM_GATE_OP(SC_HANDLE, OpenServiceA, (SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess),
            (manager, serviceName, desiredAccess))
SIM_GATE_OP(BOOL, StartServiceA, (SC_HANDLE service, DWORD argCount, LPCSTR* args),
            (service, argCount, args))
SIM_GATE_OP(BOOL, ControlService, (SC_HANDLE service, DWORD control, SERVICE_STATUS* status),
            (service, control, status))
SIM_GATE_OP(BOOL, QueryServiceStatus, (SC_HANDLE service, SERVICE_STATUS* status),
            (service, status))
SIM_GATE_OP(BOOL, DeleteService, (SC_HANDLE service), (service))
SIM_GATE_OP(BOOL, ChangeServiceConfigA,
            (SC_HANDLE service, DWORD serviceType, DWORD startType, DWORD errorControl,
             LPCSTR binaryPathName, LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
             LPCSTR serviceStartName, LPCSTR password, LPCSTR displayName),
            (service, serviceType, startType, errorControl, binaryPathName, loadOrderGroup, tagId,
             dependencies, serviceStartName, password, displayName))
SIM_GATE_OP(LONG, RegCreateKeyExA,
            (HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM desired,
             SECURITY_ATTRIBUTES* security, HKEY* result, LPDWORD disposition),
            (key, subKey, reserved, keyClass, options, desired, security, result, disposition))
SIM_GATE_OP(LONG, RegSetValueExA,
            (HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size),
            (key, valueName, reserved, type, data, size))
SIM_GATE_OP(LONG, RegCloseKey, (HKEY key), (key))
SIM_GATE_OP(LONG, RegDeleteKeyA, (HKEY key, LPCSTR subKey), (key, subKey))
SIM_GATE_OP(LONG, RegOpenKeyExA,
            (HKEY key, LPCSTR subKey, DWORD options, REGSAM desired, HKEY* result),
            (key, subKey, options, desired, result))
SIM_GATE_OP(LONG, RegQueryValueExA,
            (HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size),
            (key, valueName, reserved, type, data, size))
SIM_GATE_OP(LONG, RegDeleteValueA, (HKEY key, LPCSTR valueName), (key, valueName))
SIM_GATE_OP(LONG, RegEnumValueA,
            (HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPDWORD type,
             LPBYTE data, LPDWORD dataSize),
            (key, index, name, nameSize, reserved, type, data, dataSize))
SIM_GATE_OP(LONG, RegDeleteKeyExA, (HKEY key, LPCSTR subKey, REGSAM view, DWORD reserved),
            (key, subKey, view, reserved))
