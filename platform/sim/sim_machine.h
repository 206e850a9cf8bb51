// A Windows machine in memory for the host build: what the setup logic asks
// of Windows, with faults that tests inject and a log of every call.
#ifndef PLATFORM_SIM_SIM_MACHINE_H
#define PLATFORM_SIM_SIM_MACHINE_H

#include <stdint.h>

#include <initializer_list>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/platform_layer.h"

class CSimMachine final : public PlatformLayer {
 public:
  struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    int mutexesOwned;  // named mutexes this process owned while the box was up
  };
  struct OemInfCall {
    std::string source;
    bool mediaLocationNull;
    DWORD mediaType;
    DWORD copyStyle;
    bool destinationNull;
    DWORD destinationSize;
    bool requiredSizeNull;
    bool componentNull;
    BOOL result;
    std::string published;  // the oemN.inf name given, if any
  };
  struct Service {
    std::string name;
    std::string displayName;
    std::string binaryPath;
    DWORD type = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    DWORD state = SERVICE_STOPPED;
    bool markedForDelete = false;
    int openHandles = 0;
    // Faults
    DWORD startError = 0;        // StartServiceA fails with this code
    bool stopStaysPending = false;
    bool denyFullAccess = false; // OpenServiceA with full rights is refused
  };
  struct ProcessStart {
    std::string application;
    std::string commandLine;
    BOOL inheritHandles;
    bool currentDirectoryNull;
    DWORD creationFlags;
    std::string origin;        // its VESK_SETUP_ORIGIN, as it started with it
    std::string image;         // the program file's bytes when it started
    bool killOnParentEnd = false;  // put in a job that ends with this process
    bool resumed = false;
    bool heldAgainstWrites = false;  // this process held its file, sharing no writing or deleting
    // The folders this process held open sharing no deleting, when it started.
    std::vector<std::string> foldersHeld;
    bool killedByJob = false;  // its job was closed while it ran
    uintptr_t job = 0;         // the job it was put in
    bool ended = false;
    bool terminating = false;  // TerminateProcess'd: ended once waited for
  };
  // Who made a named mutex that this process did not make.
  enum MutexMaker {
    kSameAccount,         // an administrator, SYSTEM, or a setup's admitting descriptor
    kOtherAccount,        // default security of another account: open for SYNCHRONIZE only
    kOtherAccountSealed,  // another account that admits nobody else at all
    kOtherType,           // the name belongs to an object that is not a mutex
  };
  struct RegValue {
    std::string name;
    DWORD type;
    std::string data;  // raw bytes as written
  };

  // A machine running Windows XP on one processor, single-byte code page, with
  // C:\WINDOWS (System32\Drivers, Inf) and the program at C:\setup\setup.exe.
  CSimMachine();
  ~CSimMachine();

  // Makes this machine the platform of the process until it is destroyed.
  void Activate();
  // A new run of the program starts: a new process, which has loaded no
  // library yet (what an earlier run loaded went with it).
  void StartProcess() { m_bSetupLibraryLoaded = m_bNewdevLoaded = false; }

  // ---- Configuration
  void SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build = 0);
  void SetNt4() { SetVersion(VER_PLATFORM_WIN32_NT, 4, 0, 1381); }
  void SetWin98() { SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998); }
  void SetWin2000() { SetVersion(VER_PLATFORM_WIN32_NT, 5, 0, 2195); }
  void SetWinXp() { SetVersion(VER_PLATFORM_WIN32_NT, 5, 1, 2600); }
  void SetWin10() { SetVersion(VER_PLATFORM_WIN32_NT, 10, 0, 19045); }
  // The processor Windows runs on (x86 by default), and whether this process
  // is a 64-bit one; a 32-bit process on another machine runs under WOW64.
  // IsWow64Process exists from XP on (the simulated XP has SP2), and
  // IsWow64Process2 from Windows 10 1709 (build 16299).
  void SetNativeMachine(USHORT machine) { m_nNativeMachine = machine; }
  void Run64BitProcess() { m_b64BitProcess = true; }
  void FailIsWow64Process2() { m_bFailWow64Process2 = true; }
  // The Remote Desktop session this process runs in (0: services, XP's console).
  void SetSession(DWORD session) { m_nSession = session; }
  void FailVersionQuery() { m_bFailVersion = true; }
  // What RtlGetVersion answers (2000 and later) where GetVersionExA is told
  // another version, as 8.1 and later do to a program without a manifest
  // entry for them.
  void SetTrueVersion(DWORD major, DWORD minor, DWORD build) {
    m_trueVersion = {major, minor, build};
  }
  void SetLocalTime(const SYSTEMTIME& time) { m_localTime = time; }
  // Also creates the folder with System32\Drivers and Inf below it.
  void SetWindowsDir(const std::string& path);
  void SetProgramPath(const std::string& path);  // the file and its folder are made
  void SetProcessors(DWORD count) { m_nProcessors = count; }
  void UseCodePage932() { m_bCodePage932 = true; }
  void SetCurrentDir(const std::string& path) { m_strCurrentDir = path; }
  // Windows' volume is FAT: no security, no links (NTFS otherwise).
  void UseFatVolume() { m_bFat = true; }
  // GetVolumeInformationA fails: the volume's kind is not known.
  void FailVolumeQuery() { m_bFailVolume = true; }
  // Enumeration order: creation order (FAT, the default) or sorted by name (NTFS).
  void SortEnumeration() { m_bSortedEnumeration = true; }
  // 8.3 short names, on by default (FAT always; NTFS unless turned off).
  void DisableShortNames() { m_bShortNames = false; }
  // A restart: services marked for deletion are gone, automatic-start services
  // run, every handle is gone and no file is in use any more.
  void Restart();

  // ---- Files and folders (names case-insensitive, as on Windows)
  void AddFolder(const std::string& path);  // with its parents
  void AddFile(const std::string& path, const std::string& content = "");  // parents made
  void RemovePath(const std::string& path);
  bool FileExists(const std::string& path) const;
  bool FolderExists(const std::string& path) const;
  std::string FileContent(const std::string& path) const;
  DWORD Attributes(const std::string& path) const;  // INVALID_FILE_ATTRIBUTES if absent
  void SetAttributes(const std::string& path, DWORD attributes);
  std::string ShortName(const std::string& path) const;  // empty: the long name is 8.3
  // A junction at `path` to the folder `target` (a reparse point).
  void AddJunction(const std::string& path, const std::string& target);
  // A second name for the file at `existing` (a hard link: one data for both).
  void AddHardLink(const std::string& existing, const std::string& path);
  // The file is in use until the clock has gone on `milliseconds`.
  void LockFileFor(const std::string& path, DWORD milliseconds);
  // Names (as stored) of the files and folders under `folder` and below.
  std::vector<std::string> FilesBelow(const std::string& folder) const;
  // Every file and folder, by its full path as stored, in order.
  std::vector<std::string> AllPaths() const;

  // ---- Faults
  void FailCopyTo(const std::string& destination, DWORD error = ERROR_ACCESS_DENIED);
  void FailCreateDirectory(const std::string& path, DWORD error = ERROR_ACCESS_DENIED);
  void LockFile(const std::string& path);  // in use: no delete, no overwrite
  // Another process has the file open with this access and sharing.
  void OpenElsewhere(const std::string& path, DWORD access, DWORD share);
  // The other processes close their files: a file deleted meanwhile goes.
  void CloseOtherProcesses();
  // Every WriteFile fails with this code, writing nothing (a full disk).
  void FailWrites(DWORD error = ERROR_DISK_FULL) { m_nWriteRefusal = error; }
  // Nothing can be created, written or renamed in this folder (its security
  // admits no writer).
  void DenyWritesIn(const std::string& folder);
  void RemoveLibrary(const std::string& name) { m_missingLibraries.insert(Upper(name)); }
  void RemoveEntry(const std::string& name) { m_missingEntries.insert(name); }
  void RefuseOemInf(DWORD error) { m_nOemInfRefusal = error; }
  void RefuseServiceManager(DWORD error = ERROR_ACCESS_DENIED) { m_nManagerRefusal = error; }
  void FailRegistryCreate(LONG error = ERROR_ACCESS_DENIED) { m_nRegCreateRefusal = error; }
  void FailRegistryWrite(const std::string& valueName, LONG error = ERROR_ACCESS_DENIED) {
    m_writeFaults[valueName] = error;
  }
  void SetLastErrorValue(DWORD error) { m_nLastError = error; }
  // Another process holds the named mutex and gives it back, or, abandoned,
  // dies holding it, `releaseAfter` milliseconds from now (INFINITE: never).
  void HoldMutex(const std::string& name, bool abandoned = false, DWORD releaseAfter = 0,
                 MutexMaker maker = kSameAccount);
  // CreateMutexA of `name` (every name when empty) fails with `error`.
  void RefuseMutexes(DWORD error = ERROR_ACCESS_DENIED, const std::string& name = "");
  void FailWaits(int count) { m_nWaitFailures = count; }
  // GetTickCount's value now; it wraps to 0 after 49.7 days, as Windows' does.
  void SetTickCount(DWORD ticks) { m_nTickCount = ticks; }
  // Processes this one starts end with this code when waited for (until
  // then they are running: STILL_ACTIVE), or cannot be started.
  void SetChildExitCode(DWORD code) { m_nChildExitCode = code; }
  void FailCreateProcess(DWORD error) { m_nCreateProcessRefusal = error; }
  // This process was started in a job (a management agent's): before Windows
  // 8 its children cannot be put in another one.
  void StartInJob() { m_bInJob = true; }
  // This process was put in a job that ends it when its parent ends.
  void StartInKillOnCloseJob() { m_bInJob = m_bInKillOnCloseJob = true; }
  // The agent's job this process runs in ends it on close too (its parent
  // and others run in it).
  void StartInAgentsKillOnCloseJob() { m_bInJob = m_bInKillOnCloseJob = m_bJobShared = true; }
  void FailResumeThread() { m_bFailResume = true; }
  void FailJobLimits() { m_bFailJobLimits = true; }
  // Another process with this id runs (OpenProcess finds it).
  void AddRunningProcess(DWORD pid) { m_runningPids.insert(pid); }
  // The account this process runs as (an administrator's by default).
  void SetUserSid(const std::string& sid) { m_strUserSid = sid; }
  // Files MoveFileExA was asked to delete at the next restart.
  const std::vector<std::string>& DeletesAtRestart() const { return m_deletesAtRestart; }
  // A resource of the running program (RT_RCDATA).
  void AddResource(WORD id, const std::string& bytes) { m_resources[id] = bytes; }
  void SetEnvironment(const std::string& name, const std::string& value);
  std::string Environment(const std::string& name) const;
  // Security of a file or folder (NT): the owner's SID and the DACL, as
  // bytes; `daclPresent` false is a null DACL (everybody). Folders made
  // without a descriptor get their parent's inheritable entries, as Windows
  // gives them: from the Windows folder on XP that admits Power Users to
  // change files, from Vista on it does not.
  void SetSecurity(const std::string& path, const std::string& ownerSid, const std::string& dacl,
                   bool daclPresent = true);
  // Its owner and DACL, as self-relative bytes.
  std::string SecurityOf(const std::string& path) const;
  // Whether only SYSTEM and Administrators may change what is in a folder:
  // they own it and no one else has rights that change files there.
  bool IsSealed(const std::string& path) const;
  // Bytes of a SID S-1-{authority}-{subs...}, an ACE with its SID, an ACL.
  static std::string Sid(std::initializer_list<uint32_t> subs, BYTE authority = 5);
  static std::string Ace(BYTE type, BYTE flags, DWORD mask, const std::string& sid);
  static std::string Acl(std::initializer_list<std::string> aces);

  // ---- A run stopped dead (a management agent's time limit, a crash)
  struct Killed {};  // thrown from the call at which the run stops
  // The run stops at the `nth` call of `function` from now (of any
  // function where it is empty): that call and everything after it never
  // happen.
  void KillAt(const std::string& function, size_t nth = 1);
  // Another process acts when this one makes its `nth` call of `function`,
  // before that call (an attacker racing the setup, a scanner).
  void AtCall(const std::string& function, std::function<void(CSimMachine&)> action,
              size_t nth = 1);
  // Windows ends the killed process: what it had done stays, its handles
  // close, a mutex it held goes with its last handle. The harness calls it.
  void EndKilledProcess();
  // The run stops dead here and now, before the call being made.
  [[noreturn]] void KillNow();
  // The same, where the call is made from a destructor, which must not
  // throw: the caller lets nothing after it reach the machine.
  void MarkKilled();
  // The power goes (after a kill): unflushed file data is lost but for a
  // torn half, the registry is as it was in `atStart`; then Windows starts.
  void LosePower(const CSimMachine& atStart);
  // A copy of the whole machine, to run the same start again.
  std::unique_ptr<CSimMachine> Clone() const;

  // ---- Observation
  const std::vector<MessageBoxCall>& MessageBoxes() const { return m_messageBoxes; }
  const std::vector<OemInfCall>& OemInfCalls() const { return m_oemInfCalls; }
  const std::vector<std::string>& Log() const { return m_log; }
  std::vector<std::string> LogOf(const std::string& function) const;
  const std::string& CurrentDir() const { return m_strCurrentDir; }
  size_t OpenFindHandles() const { return m_finds.size(); }
  size_t OpenServiceHandles() const;
  size_t OpenKeyHandles() const { return m_keyHandles.size(); }
  size_t OpenMutexHandles() const { return m_mutexHandles.size(); }
  size_t OpenProcessHandles() const { return m_processHandles.size() + m_jobs.size(); }
  size_t OpenFileHandles() const { return m_files.size(); }
  size_t OpenInfHandles() const { return m_infs.size(); }
  size_t OpenDeviceLists() const { return m_deviceSets.size(); }
  int Flushes() const { return m_nFlushes; }
  const std::vector<ProcessStart>& ProcessesStarted() const { return m_processes; }
  DWORD Now() const { return m_nTickCount; }
  // A wait without a time limit on something that never comes: the real
  // process would hang there for ever.
  bool Hung() const { return m_bHung; }
  // Whether this process owns the named mutex now.
  bool OwnsMutex(const std::string& name) const;
  int SystemInfoCalls() const { return m_nSystemInfoCalls; }

  // ---- Devices and Windows' own device installs
  struct Device {
    std::string instanceId;
    std::vector<std::string> hardwareIds;
    bool present = true;
    std::string driver;             // the published INF its driver comes from; empty: none
    std::string fallback;           // the driver it takes when that one's package goes
    bool keepsBetterDriver = false; // its driver ranks better than any package offered
    bool needsRestart = false;      // installing or removing its driver asks for a restart
    DWORD installError = 0;         // UpdateDriverForPlugAndPlayDevicesA fails so for it
    DWORD removeError = 0;          // DIF_REMOVE fails so for it
    DWORD number = 0;               // its DevInst
  };
  Device& AddDevice(const std::string& instanceId, const std::vector<std::string>& hardwareIds,
                    bool present = true);
  const Device* FindDevice(const std::string& instanceId) const;
  const std::vector<Device>& Devices() const { return m_devices; }
  // Windows is installing devices itself for `milliseconds` more (INFINITE:
  // it never ends); or the wait for that fails with `error`.
  void SetPendingInstalls(DWORD milliseconds) { m_nPendingInstalls = milliseconds; }
  void FailPendingInstallWait(DWORD error) { m_nPendingWaitError = error; }
  // UpdateDriverForPlugAndPlayDevicesA answers TRUE and installs nothing.
  void AnswerUpdatesWithoutInstalling() { m_bUpdatesLie = true; }
  // SetupUninstallOEMInfA and DiUninstallDriverA fail so.
  void RefuseUninstall(DWORD error) { m_nUninstallRefusal = error; }
  // Where the store keeps a published package's catalog.
  std::string StoreCatalog(const std::string& published) const;
  // The product type and suite GetVersionExA gives in an OSVERSIONINFOEXA.
  void SetProductType(BYTE type, WORD suite = 0) {
    m_nProductType = type;
    m_nSuiteMask = suite;
  }

  // ---- Service database and registry
  Service* FindService(const std::string& name);
  const std::map<std::string, Service>& Services() const { return m_services; }
  std::vector<std::string> KeyPaths() const;
  Service& AddService(const std::string& name, DWORD state = SERVICE_STOPPED);
  bool KeyExists(const std::string& path) const;  // below HKEY_LOCAL_MACHINE
  void AddKey(const std::string& path);
  const std::vector<RegValue>* KeyValues(const std::string& path) const;

  // ---- PlatformLayer
  BOOL GetVersionExA(OSVERSIONINFOA* info) override;
  LONG RtlGetVersion(RTL_OSVERSIONINFOW* info) override;
  void GetLocalTime(SYSTEMTIME* time) override { *time = m_localTime; }
  UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) override;
  UINT GetSystemDirectoryA(LPSTR buffer, UINT size) override;
  DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) override;
  BOOL SetCurrentDirectoryA(LPCSTR path) override;
  void GetSystemInfo(SYSTEM_INFO* info) override;
  BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES* security) override;
  HMODULE LoadLibraryA(LPCSTR name) override;
  HMODULE LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) override;
  FARPROC GetProcAddress(HMODULE module, LPCSTR name) override;
  DWORD GetLastError() override { return m_nLastError; }
  BOOL IsDBCSLeadByte(BYTE value) override;
  int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override;
  DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                       LPSTR buffer, DWORD size, va_list* arguments) override;
  DWORD GetTickCount() override { return m_nTickCount; }
  void Sleep(DWORD milliseconds) override;
  HANDLE GetCurrentProcess() override;
  BOOL IsWow64Process(HANDLE process, PBOOL wow64) override;
  BOOL IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) override;
  BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                      SECURITY_ATTRIBUTES* processSecurity, SECURITY_ATTRIBUTES* threadSecurity,
                      BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                      LPCSTR currentDirectory, STARTUPINFOA* startupInfo,
                      PROCESS_INFORMATION* processInformation) override;
  BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) override;
  DWORD GetCurrentProcessId() override { return 0x1A4; }
  DWORD ResumeThread(HANDLE thread) override;
  BOOL TerminateProcess(HANDLE process, UINT exitCode) override;
  void GetNativeSystemInfo(SYSTEM_INFO* info) override;
  HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) override;
  HGLOBAL LoadResource(HMODULE module, HRSRC resource) override;
  LPVOID LockResource(HGLOBAL data) override;
  DWORD SizeofResource(HMODULE module, HRSRC resource) override;
  BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value) override;
  DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) override;
  HANDLE CreateJobObjectA(SECURITY_ATTRIBUTES* security, LPCSTR name) override;
  BOOL SetInformationJobObject(HANDLE job, int infoClass, void* info, DWORD size) override;
  BOOL AssignProcessToJobObject(HANDLE job, HANDLE process) override;
  BOOL QueryInformationJobObject(HANDLE job, int infoClass, void* info, DWORD size,
                                 LPDWORD returned) override;
  HANDLE CreateMutexA(SECURITY_ATTRIBUTES* security, BOOL initialOwner, LPCSTR name) override;
  HANDLE OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name) override;
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
  BOOL ReleaseMutex(HANDLE mutex) override;
  BOOL CloseHandle(HANDLE handle) override;
  BOOL CopyFileA(LPCSTR source, LPCSTR destination, BOOL failIfExists) override;
  BOOL DeleteFileA(LPCSTR path) override;
  BOOL MoveFileA(LPCSTR existing, LPCSTR newName) override;
  BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) override;
  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                     DWORD disposition, DWORD flags, HANDLE templateFile) override;
  DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) override;
  DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) override;
  BOOL WriteFile(HANDLE file, const void* data, DWORD size, LPDWORD written,
                 OVERLAPPED* overlapped) override;
  BOOL FlushFileBuffers(HANDLE file) override;
  BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) override;
  BOOL RemoveDirectoryA(LPCSTR path) override;
  BOOL GetVolumeInformationA(LPCSTR root, LPSTR name, DWORD nameSize, LPDWORD serial,
                             LPDWORD maximumLength, LPDWORD flags, LPSTR fileSystem,
                             DWORD fileSystemSize) override;
  HANDLE OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId) override;
  BOOL SetFileSecurityA(LPCSTR path, DWORD information, void* descriptor) override;
  BOOL GetFileSecurityA(LPCSTR path, DWORD information, void* descriptor, DWORD size,
                        LPDWORD needed) override;
  BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) override;
  BOOL GetTokenInformation(HANDLE token, int infoClass, void* info, DWORD size,
                           LPDWORD needed) override;
  BOOL ReadFile(HANDLE file, void* buffer, DWORD size, LPDWORD read,
                OVERLAPPED* overlapped) override;
  DWORD GetFileAttributesA(LPCSTR path) override;
  BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) override;
  HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) override;
  BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) override;
  BOOL FindClose(HANDLE find) override;
  HINF SetupOpenInfFileA(LPCSTR fileName, LPCSTR infClass, DWORD infStyle,
                         UINT* errorLine) override;
  BOOL SetupGetLineTextA(void* context, HINF inf, LPCSTR section, LPCSTR key, LPSTR buffer,
                         DWORD size, LPDWORD requiredSize) override;
  void SetupCloseInfFile(HINF inf) override;
  BOOL SetupCopyOEMInfA(PFN_SETUPCOPYOEMINFA entry, PCSTR sourceInfFileName,
                        PCSTR oemSourceMediaLocation, DWORD oemSourceMediaType, DWORD copyStyle,
                        PSTR destinationInfFileName, DWORD destinationInfFileNameSize,
                        PDWORD requiredSize, PSTR* destinationInfFileNameComponent) override;
  SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName,
                           DWORD desiredAccess) override;
  BOOL CloseServiceHandle(SC_HANDLE handle) override;
  SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName,
                           DWORD desiredAccess, DWORD serviceType, DWORD startType,
                           DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
                           LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
                           LPCSTR password) override;
  SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) override;
  BOOL StartServiceA(SC_HANDLE service, DWORD argCount, LPCSTR* args) override;
  BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) override;
  BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) override;
  BOOL DeleteService(SC_HANDLE service) override;
  BOOL ChangeServiceConfigA(SC_HANDLE service, DWORD serviceType, DWORD startType,
                            DWORD errorControl, LPCSTR binaryPathName, LPCSTR loadOrderGroup,
                            LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
                            LPCSTR password, LPCSTR displayName) override;
  LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                       REGSAM desired, SECURITY_ATTRIBUTES* security, HKEY* result,
                       LPDWORD disposition) override;
  LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                      DWORD size) override;
  LONG RegCloseKey(HKEY key) override;
  LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) override;
  LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired,
                     HKEY* result) override;
  LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                        LPDWORD size) override;
  LONG RegDeleteValueA(HKEY key, LPCSTR valueName) override;
  LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                     LPDWORD type, LPBYTE data, LPDWORD dataSize) override;
  LONG RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM view, DWORD reserved) override;
  BOOL SetupFindFirstLineA(HINF inf, LPCSTR section, LPCSTR key, INFCONTEXT* context) override;
  BOOL SetupFindNextLine(INFCONTEXT* context, INFCONTEXT* next) override;
  BOOL SetupGetStringFieldA(INFCONTEXT* context, DWORD field, LPSTR buffer, DWORD size,
                            LPDWORD requiredSize) override;
  BOOL SetupDiGetActualModelsSectionA(INFCONTEXT* context, void* alternatePlatform, LPSTR buffer,
                                      DWORD size, LPDWORD requiredSize, void* reserved) override;
  BOOL SetupUninstallOEMInfA(LPCSTR infFileName, DWORD flags, void* reserved) override;
  HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator, HWND parent,
                                DWORD flags) override;
  BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) override;
  BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
                                         LPDWORD type, LPBYTE buffer, DWORD size,
                                         LPDWORD requiredSize) override;
  BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO set, SP_DEVINFO_DATA* device, LPSTR buffer,
                                   DWORD size, LPDWORD requiredSize) override;
  HKEY SetupDiOpenDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope, DWORD profile,
                            DWORD keyType, REGSAM desired) override;
  BOOL SetupDiCallClassInstaller(DWORD function, HDEVINFO set, SP_DEVINFO_DATA* device) override;
  BOOL SetupDiGetDeviceInstallParamsA(HDEVINFO set, SP_DEVINFO_DATA* device,
                                      SP_DEVINSTALL_PARAMS_A* parameters) override;
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;
  DWORD CMP_WaitNoPendingInstallEvents(DWORD timeout) override;
  BOOL UpdateDriverForPlugAndPlayDevicesA(HWND parent, LPCSTR hardwareId, LPCSTR fullInfPath,
                                          DWORD flags, PBOOL rebootRequired) override;
  BOOL DiUninstallDriverA(HWND parent, LPCSTR infPath, DWORD flags, PBOOL needReboot) override;

  // The value GetProcAddress gives for SetupCopyOEMInfA.
  static PFN_SETUPCOPYOEMINFA SetupCopyOEMInfEntry();

 private:
  struct Node {
    std::string path;  // as created
    bool folder = false;
    std::string content;
    uint64_t order = 0;
    bool locked = false;
    DWORD attributes = 0;
    std::string shortName;  // empty when the long name is a valid 8.3 name
    std::vector<std::pair<DWORD, DWORD>> otherOpens;  // another process's access, sharing
    // NT security: empty owner for none set yet (then the parent's rules apply)
    std::string ownerSid;
    std::string dacl;
    bool daclPresent = true;
    bool deletePending = false;  // deleted while open: the name stays until the last close
    DWORD unlockAt = 0;          // locked until the clock reaches it (0: for good)
    // A junction: the folder it stands for (the name is its own, a link).
    std::string target;
    // Names of one file (hard links) share a group; 0: the file has one name.
    uint64_t linkGroup = 0;
    // Bytes that reached the disk before the data written since its last
    // flush; npos: all of it.
    size_t flushed = std::string::npos;
  };
  struct OpenFile {
    std::string key;  // Upper(full path)
    DWORD access;
    DWORD share;
    size_t position = 0;
  };
  struct Find {
    struct Entry {
      std::string name;
      std::string shortName;
      DWORD attributes;
      size_t size;
    };
    std::vector<Entry> entries;  // as they were when the enumeration began
    size_t next = 0;
  };
  struct ServiceHandle {
    int manager;  // the manager's number (1 for the first opened), 0 for a service
    std::string serviceKey;
  };
  struct Mutex {
    enum Holder { kNobody, kThisProcess, kOther, kOtherDying } holder = kNobody;
    int count = 0;  // this process's waits not yet released: ownership is recursive
    DWORD releaseAfter = 0;  // how long the other holder keeps it; INFINITE: for ever
    MutexMaker maker = kSameAccount;
  };
  struct RegKey {
    std::string path;
    std::vector<RegValue> values;
  };

  // Code page 932 lead bytes when that code page is in use.
  bool IsLeadByte(unsigned char value) const;
  // Index of the last "\\" that is not a trail byte, or npos.
  size_t LastSeparator(const std::string& path) const;
  std::string Upper(const std::string& text) const;
  std::string Resolve(const std::string& path) const;  // full path, no trailing "\"
  std::string ParentOf(const std::string& fullPath) const;
  std::string NameOf(const std::string& fullPath) const;
  // The node a path names, a junction at its end followed; LinkAt: not.
  Node* NodeAt(const std::string& path);
  const Node* NodeAt(const std::string& path) const;
  Node* LinkAt(const std::string& path);
  const Node* LinkAt(const std::string& path) const;
  // What one name of a file changed, all its names hold.
  void SyncLinks(const Node& changed);
  DWORD LinkCount(const Node& node) const;
  Node& MakeNode(const std::string& fullPath, bool folder);
  void EraseNode(const std::string& fullPath);
  std::string MakeShortName(const std::string& fullPath) const;
  // The ANSI calls refuse a path of `limit` characters or more, as given or in full.
  bool TooLong(const std::string& path, size_t limit = MAX_PATH) const;
  std::string SystemDir() const;
  bool IsSetupLibrary(const std::string& name) const;
  // Puts the INF at `infPath` (and its catalog) into the store, or finds it
  // there (*existed); gives its published name.
  std::string Publish(const std::string& infPath, bool* existed);
  // The fields of the INF line a context points at (0: its key).
  bool InfLineAt(const INFCONTEXT* context, std::vector<std::string>* fields,
                 bool* hasKey) const;
  std::string ActualModelsSection(const std::vector<std::string>& fields) const;
  Device* DeviceIn(HDEVINFO set, const SP_DEVINFO_DATA* data);
  bool NewdevLoaded(const char* entry) const;
  bool IsNewdevLibrary(const std::string& name) const;
  static std::string DriverKeyPath(const Device& device);
  // The key a process opens: under WOW64, SOFTWARE is the 32-bit view's
  // unless the 64-bit one is asked for.
  std::string ViewOf(const std::string& subKey, REGSAM desired) const;
  // The catalog an INF names for this machine, as the setup API picks it:
  // the entry decorated for the native architecture, else ".NT" on the NT
  // family, else the plain one; empty when it names none.
  std::string CatalogFor(const std::string& infText) const;
  // The object a mutex name stands for in this session; false for a name
  // this Windows refuses, with the error it gives.
  bool MutexKey(LPCSTR name, std::string* key, DWORD* error) const;
  HANDLE NewMutexHandle(const std::string& key);
  bool IsWow64() const;
  // Whether a started process that has not ended runs from this file.
  bool IsRunningImage(const std::string& fullPath) const;
  bool Fail(DWORD error);
  void Record(const std::string& call);
  // What ends with this process: its handles, its libraries.
  void EndProcess();
  // A copy of the machine: the state a kill goes back to.
  CSimMachine(const CSimMachine&) = default;
  CSimMachine& operator=(const CSimMachine&) = default;
  bool WildcardMatch(const char* pattern, const char* name) const;
  // Whether opening `node` with this access and sharing (or deleting or
  // renaming it, with FILE_SHARE_DELETE asked of the others) conflicts with
  // the opens there are.
  bool SharingConflict(const Node& node, DWORD access, DWORD share) const;
  bool WritesDenied(const std::string& fullPath) const;
  // MoveFileA and MoveFileExA with a new name.
  BOOL Move(LPCSTR existing, LPCSTR newName, DWORD flags);
  // The owner and DACL a node has, made from its parent's where none was set.
  void EffectiveSecurity(const std::string& fullPath, std::string* owner, std::string* dacl,
                         bool* present) const;
  static DWORD AdministratorAccess(const std::string& dacl, bool present);
  // The entries a folder passes on to what is made in it, and their count.
  std::pair<std::string, int> InheritableOf(const std::string& folder) const;
  // Whether `path` names a device that a read waits on for ever (the machine
  // is hung then).
  bool ReadsFromDevice(const std::string& path);
  // Whether DeleteFile takes the name away at once even while the file is
  // open (POSIX semantics, Windows 10 1903 and later on NTFS).
  bool DeletesNameAtOnce() const;
  bool IsOpen(const Node& node) const;
  // Files marked for deletion that nobody has open any more are gone.
  void DropDeletedFiles();
  OpenFile* FileOf(HANDLE handle);
  void FillFindData(const Find& find, WIN32_FIND_DATAA* data) const;
  ServiceHandle* HandleOf(SC_HANDLE handle);
  SC_HANDLE NewServiceHandle(int manager, const std::string& serviceKey);
  void DeleteServiceNow(std::map<std::string, Service>::iterator service);
  void WriteServiceKey(const Service& service);
  static std::string ServiceKeyPath(const std::string& name);

  // Identity
  OSVERSIONINFOA m_version;
  bool m_bFailVersion = false;
  struct {
    DWORD major, minor, build;
  } m_trueVersion = {0, 0, 0};
  SYSTEMTIME m_localTime = {2026, 12, 3, 9, 10, 20, 30, 0};
  std::string m_strWindowsDir;
  std::string m_strProgramPath;
  DWORD m_nProcessors = 1;
  bool m_bCodePage932 = false;
  std::string m_strCurrentDir;
  DWORD m_nLastError = 0;

  // Files
  std::map<std::string, Node> m_nodes;  // key: Upper(full path)
  std::set<std::string> m_shortNames;   // Upper(folder + "\\" + short name)
  uint64_t m_nNextOrder = 1;
  bool m_bSortedEnumeration = false;
  bool m_bFat = false;
  bool m_bFailVolume = false;
  bool m_bShortNames = true;
  std::map<std::string, DWORD> m_copyFaults;
  std::map<std::string, DWORD> m_createFaults;
  std::set<std::string> m_deniedFolders;
  std::map<uintptr_t, OpenFile> m_files;
  uintptr_t m_nNextFile = 0x7000;
  DWORD m_nWriteRefusal = 0;
  int m_nFlushes = 0;
  std::map<uintptr_t, Find> m_finds;
  uintptr_t m_nNextFind = 0x1000;

  // Libraries and setup API
  std::set<std::string> m_missingLibraries;
  std::set<std::string> m_missingEntries;
  DWORD m_nOemInfRefusal = 0;
  int m_nPublished = 0;
  bool m_bSetupLibraryLoaded = false;
  std::map<uintptr_t, std::string> m_infs;  // open INF handles: the file's text
  uintptr_t m_nNextInf = 0x8000;

  // Devices
  std::vector<Device> m_devices;
  DWORD m_nNextDevice = 1;
  std::map<uintptr_t, std::vector<DWORD>> m_deviceSets;  // a list: its devices' numbers
  std::map<uintptr_t, std::set<DWORD>> m_restartAsked;    // a list: devices that asked
  uintptr_t m_nNextDeviceSet = 0x9000;
  bool m_bNewdevLoaded = false;
  DWORD m_nPendingInstalls = 0;
  DWORD m_nPendingWaitError = 0;
  DWORD m_nUninstallRefusal = 0;
  bool m_bUpdatesLie = false;
  BYTE m_nProductType = 1;  // VER_NT_WORKSTATION
  WORD m_nSuiteMask = 0;

  // Services and registry
  DWORD m_nManagerRefusal = 0;
  std::map<std::string, Service> m_services;
  std::map<uintptr_t, ServiceHandle> m_serviceHandles;
  uintptr_t m_nNextServiceHandle = 0x2000;
  int m_nManagersOpened = 0;
  std::map<std::string, RegKey> m_keys;  // key: Upper(path below HKLM)
  std::map<uintptr_t, std::string> m_keyHandles;
  uintptr_t m_nNextKeyHandle = 0x3000;
  LONG m_nRegCreateRefusal = 0;
  std::map<std::string, LONG> m_writeFaults;  // by value name

  // Named mutexes (names are case-sensitive) and time
  std::map<std::string, Mutex> m_mutexes;
  std::map<uintptr_t, std::string> m_mutexHandles;
  uintptr_t m_nNextMutexHandle = 0x4000;
  std::map<std::string, DWORD> m_mutexRefusals;  // by name as given; "" for every name
  int m_nWaitFailures = 0;
  DWORD m_nSession = 0;
  DWORD m_nTickCount = 1000;
  bool m_bHung = false;

  // Processes
  USHORT m_nNativeMachine = IMAGE_FILE_MACHINE_I386;
  bool m_b64BitProcess = false;
  bool m_bFailWow64Process2 = false;
  DWORD m_nChildExitCode = 0;
  DWORD m_nCreateProcessRefusal = 0;
  std::vector<ProcessStart> m_processes;
  bool m_bInJob = false;
  bool m_bInKillOnCloseJob = false;
  bool m_bJobShared = false;
  bool m_bFailResume = false;
  bool m_bFailJobLimits = false;
  std::set<DWORD> m_runningPids;
  std::map<uintptr_t, DWORD> m_otherProcesses;  // a handle OpenProcess gave: its id
  std::string m_strUserSid = Sid({21, 1, 2, 3, 500});
  std::vector<std::string> m_deletesAtRestart;
  std::map<uintptr_t, bool> m_jobs;  // job handle: kill on close set
  std::map<WORD, std::string> m_resources;
  std::map<std::string, std::string> m_environment;  // key: Upper(name)
  std::map<uintptr_t, bool> m_processHandles;  // true for a process, false for its thread
  std::map<uintptr_t, size_t> m_processOf;     // a handle's process in m_processes
  uintptr_t m_nNextProcessHandle = 0x6000;

  // Kills
  std::string m_strKillAt;
  size_t m_nKillCountdown = 0;
  std::shared_ptr<CSimMachine> m_pBeforeKill;
  struct Hook {
    std::string function;
    size_t countdown;
    std::function<void(CSimMachine&)> action;
  };
  std::vector<Hook> m_hooks;
  bool m_bInHook = false;
  size_t m_nJunctions = 0;
  uint64_t m_nNextLinkGroup = 1;

  // Observation
  std::vector<MessageBoxCall> m_messageBoxes;
  std::vector<OemInfCall> m_oemInfCalls;
  std::vector<std::string> m_log;
  int m_nSystemInfoCalls = 0;
};

#endif  // PLATFORM_SIM_SIM_MACHINE_H
