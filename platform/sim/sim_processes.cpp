// The simulated machine's processes: WOW64, and children this one starts.
#include "platform/sim/sim_internal.h"

#include <string.h>

using sim::Number;
using sim::Text;

namespace {

const uintptr_t kCurrentProcess = static_cast<uintptr_t>(-1);

}  // namespace

HANDLE CSimMachine::GetCurrentProcess() { return reinterpret_cast<HANDLE>(kCurrentProcess); }

bool CSimMachine::IsWow64() const {
  return !m_b64BitProcess && m_nNativeMachine != IMAGE_FILE_MACHINE_I386;
}

BOOL CSimMachine::IsWow64Process(HANDLE process, PBOOL wow64) {
  Record("IsWow64Process()");
  bool exists = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                (m_version.dwMajorVersion > 5 ||
                 (m_version.dwMajorVersion == 5 && m_version.dwMinorVersion >= 1));
  if (!exists) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (reinterpret_cast<uintptr_t>(process) != kCurrentProcess) return Fail(ERROR_INVALID_HANDLE);
  *wow64 = IsWow64() ? TRUE : FALSE;
  return TRUE;
}

// The process machine is IMAGE_FILE_MACHINE_UNKNOWN outside WOW64.
BOOL CSimMachine::IsWow64Process2(HANDLE process, USHORT* processMachine,
                                  USHORT* nativeMachine) {
  Record("IsWow64Process2()");
  bool exists = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                m_version.dwMajorVersion >= 10 && m_version.dwBuildNumber >= 16299;
  if (!exists) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if (m_bFailWow64Process2) return Fail(ERROR_ACCESS_DENIED);
  if (reinterpret_cast<uintptr_t>(process) != kCurrentProcess) return Fail(ERROR_INVALID_HANDLE);
  *processMachine = IsWow64() ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_UNKNOWN;
  *nativeMachine = m_nNativeMachine;
  return TRUE;
}

// The child runs when it is waited for (once resumed, if it was started
// suspended); its exit code is the test's choice. It sees this process's
// environment as it is now.
BOOL CSimMachine::CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                                 SECURITY_ATTRIBUTES*, SECURITY_ATTRIBUTES*,
                                 BOOL inheritHandles, DWORD creationFlags, LPVOID,
                                 LPCSTR currentDirectory,
                                 STARTUPINFOA* startupInfo,
                                 PROCESS_INFORMATION* processInformation) {
  Record("CreateProcessA(" + Text(applicationName) + ", " + Text(commandLine) + ", " +
         Number(inheritHandles) + ")");
  if (!startupInfo || startupInfo->cb != sizeof(STARTUPINFOA) || !processInformation)
    return Fail(ERROR_INVALID_PARAMETER);
  if (m_nCreateProcessRefusal) return Fail(m_nCreateProcessRefusal);
  if (!applicationName || TooLong(applicationName)) return Fail(ERROR_FILENAME_EXCED_RANGE);
  const Node* program = NodeAt(applicationName);
  if (!program) return Fail(ERROR_FILE_NOT_FOUND);
  if (program->folder) return Fail(ERROR_ACCESS_DENIED);
  // Windows opens the program file for reading and executing, sharing reading
  // and deleting: a writer anywhere stops it.
  if (SharingConflict(*program, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE))
    return Fail(ERROR_SHARING_VIOLATION);
  ProcessStart start;
  start.application = applicationName;
  start.commandLine = commandLine ? commandLine : "";
  start.inheritHandles = inheritHandles;
  start.currentDirectoryNull = currentDirectory == nullptr;
  start.creationFlags = creationFlags;
  start.origin = Environment("VESK_SETUP_ORIGIN");
  start.image = program->content;
  for (const auto& file : m_files) {
    start.heldAgainstWrites |= file.second.key == Upper(program->path) &&
                               !(file.second.share & (FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    auto held = m_nodes.find(file.second.key);
    if (held != m_nodes.end() && held->second.folder && !(file.second.share & FILE_SHARE_DELETE))
      start.foldersHeld.push_back(held->second.path);
  }
  m_processes.push_back(start);
  uintptr_t process = m_nNextProcessHandle++;
  uintptr_t thread = m_nNextProcessHandle++;
  m_processHandles[process] = true;
  m_processHandles[thread] = false;
  m_processOf[process] = m_processOf[thread] = m_processes.size() - 1;
  processInformation->hProcess = reinterpret_cast<HANDLE>(process);
  processInformation->hThread = reinterpret_cast<HANDLE>(thread);
  processInformation->dwProcessId = static_cast<DWORD>(0x100 + m_processes.size());
  processInformation->dwThreadId = processInformation->dwProcessId + 1;
  return TRUE;
}

BOOL CSimMachine::GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  Record("GetExitCodeProcess(" + Number(reinterpret_cast<uintptr_t>(process)) + ")");
  auto it = m_processHandles.find(reinterpret_cast<uintptr_t>(process));
  if (it == m_processHandles.end() || !it->second) return Fail(ERROR_INVALID_HANDLE);
  *exitCode = m_processes[m_processOf[it->first]].ended ? m_nChildExitCode : STILL_ACTIVE;
  return TRUE;
}

bool CSimMachine::IsRunningImage(const std::string& fullPath) const {
  // This process's own file too.
  if (Upper(Resolve(m_strProgramPath)) == Upper(fullPath)) return true;
  for (const ProcessStart& process : m_processes)
    if (!process.ended && Upper(Resolve(process.application)) == Upper(fullPath)) return true;
  return false;
}

DWORD CSimMachine::ResumeThread(HANDLE thread) {
  Record("ResumeThread()");
  auto it = m_processHandles.find(reinterpret_cast<uintptr_t>(thread));
  if (it == m_processHandles.end() || it->second) return Fail(ERROR_INVALID_HANDLE), ~0u;
  if (m_bFailResume) return Fail(ERROR_ACCESS_DENIED), ~0u;
  ProcessStart& process = m_processes[m_processOf[it->first]];
  DWORD previous = (process.creationFlags & CREATE_SUSPENDED) && !process.resumed ? 1 : 0;
  process.resumed = true;
  return previous;
}

BOOL CSimMachine::TerminateProcess(HANDLE process, UINT) {
  Record("TerminateProcess()");
  auto it = m_processHandles.find(reinterpret_cast<uintptr_t>(process));
  if (it == m_processHandles.end() || !it->second) return Fail(ERROR_INVALID_HANDLE);
  // It ends on its own time: a wait sees the end.
  m_processes[m_processOf[it->first]].terminating = true;
  return TRUE;
}

// From XP on. It names the machine, but an x86 or x64 process on ARM64 is
// told what is emulated there: x86, or x64 where Windows 11 emulates that
// too. (A 64-bit process here on ARM64 is the x64 file: native ARM64
// processes are not simulated.)
void CSimMachine::GetNativeSystemInfo(SYSTEM_INFO* info) {
  Record("GetNativeSystemInfo()");
  memset(info, 0, sizeof(*info));
  bool exists = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                (m_version.dwMajorVersion > 5 ||
                 (m_version.dwMajorVersion == 5 && m_version.dwMinorVersion >= 1));
  if (!exists) {
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
    return;
  }
  info->dwNumberOfProcessors = m_nProcessors;
  switch (m_nNativeMachine) {
    case IMAGE_FILE_MACHINE_AMD64: info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64; break;
    case IMAGE_FILE_MACHINE_IA64: info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_IA64; break;
    case IMAGE_FILE_MACHINE_ARM64:
      info->wProcessorArchitecture = m_version.dwBuildNumber >= 22000
                                         ? PROCESSOR_ARCHITECTURE_AMD64
                                         : PROCESSOR_ARCHITECTURE_INTEL;
      break;
    default: info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  }
}

// ---------------------------------------------------------------- resources

HRSRC CSimMachine::FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  Record("FindResourceA(" + Number(reinterpret_cast<uintptr_t>(name)) + ")");
  if (module || !IS_INTRESOURCE(name) || type != RT_RCDATA)
    return Fail(ERROR_RESOURCE_TYPE_NOT_FOUND), nullptr;
  WORD id = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
  if (!m_resources.count(id)) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND), nullptr;
  return reinterpret_cast<HRSRC>(static_cast<uintptr_t>(id) + 0x10000);
}

HGLOBAL CSimMachine::LoadResource(HMODULE, HRSRC resource) {
  uintptr_t id = reinterpret_cast<uintptr_t>(resource) - 0x10000;
  auto it = m_resources.find(static_cast<WORD>(id));
  return it == m_resources.end() ? nullptr : const_cast<char*>(it->second.data());
}

LPVOID CSimMachine::LockResource(HGLOBAL data) { return data; }

DWORD CSimMachine::SizeofResource(HMODULE, HRSRC resource) {
  uintptr_t id = reinterpret_cast<uintptr_t>(resource) - 0x10000;
  auto it = m_resources.find(static_cast<WORD>(id));
  return it == m_resources.end() ? 0 : static_cast<DWORD>(it->second.size());
}

// ---------------------------------------------------------------- environment

void CSimMachine::SetEnvironment(const std::string& name, const std::string& value) {
  m_environment[Upper(name)] = value;
}

std::string CSimMachine::Environment(const std::string& name) const {
  auto it = m_environment.find(Upper(name));
  return it == m_environment.end() ? "" : it->second;
}

BOOL CSimMachine::SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  Record("SetEnvironmentVariableA(" + Text(name) + ", " + Text(value) + ")");
  if (value) m_environment[Upper(name)] = value;
  else m_environment.erase(Upper(name));
  return TRUE;
}

// The length without the terminator when it fits, else the size it needs.
DWORD CSimMachine::GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  Record("GetEnvironmentVariableA(" + Text(name) + ")");
  auto it = m_environment.find(Upper(name));
  if (it == m_environment.end()) return Fail(ERROR_ENVVAR_NOT_FOUND), 0;
  DWORD length = static_cast<DWORD>(it->second.size());
  if (length + 1 > size) return length + 1;
  memcpy(buffer, it->second.c_str(), length + 1);
  return length;
}

// ---------------------------------------------------------------- jobs

HANDLE CSimMachine::CreateJobObjectA(SECURITY_ATTRIBUTES*, LPCSTR) {
  Record("CreateJobObjectA()");
  bool exists = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT && m_version.dwMajorVersion >= 5;
  if (!exists) return Fail(ERROR_CALL_NOT_IMPLEMENTED), nullptr;
  uintptr_t job = m_nNextProcessHandle++;
  m_jobs[job] = false;
  return reinterpret_cast<HANDLE>(job);
}

BOOL CSimMachine::SetInformationJobObject(HANDLE job, int infoClass, void* info, DWORD size) {
  Record("SetInformationJobObject(" + Number(infoClass) + ")");
  auto it = m_jobs.find(reinterpret_cast<uintptr_t>(job));
  if (it == m_jobs.end()) return Fail(ERROR_INVALID_HANDLE);
  if (infoClass != JobObjectExtendedLimitInformation ||
      size != sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION))
    return Fail(ERROR_BAD_LENGTH);
  if (m_bFailJobLimits) return Fail(ERROR_ACCESS_DENIED);
  const auto* limits = static_cast<const JOBOBJECT_EXTENDED_LIMIT_INFORMATION*>(info);
  it->second = (limits->BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) != 0;
  return TRUE;
}

// Jobs nest from Windows 8 on; before it a process in a job joins no other.
BOOL CSimMachine::AssignProcessToJobObject(HANDLE job, HANDLE process) {
  Record("AssignProcessToJobObject()");
  auto it = m_jobs.find(reinterpret_cast<uintptr_t>(job));
  auto child = m_processHandles.find(reinterpret_cast<uintptr_t>(process));
  if (it == m_jobs.end() || child == m_processHandles.end() || !child->second)
    return Fail(ERROR_INVALID_HANDLE);
  bool nests = m_version.dwMajorVersion > 6 ||
               (m_version.dwMajorVersion == 6 && m_version.dwMinorVersion >= 2);
  if (m_bInJob && !nests) return Fail(ERROR_ACCESS_DENIED);
  m_processes[m_processOf[child->first]].killOnParentEnd = it->second;
  m_processes[m_processOf[child->first]].job = it->first;
  return TRUE;
}

// With no handle: the job this process is in (the innermost where they nest).
BOOL CSimMachine::QueryInformationJobObject(HANDLE job, int infoClass, void* info, DWORD size,
                                            LPDWORD) {
  Record("QueryInformationJobObject(" + Number(infoClass) + ")");
  if (job || !m_bInJob) return Fail(ERROR_INVALID_HANDLE);
  if (infoClass == JobObjectBasicAccountingInformation &&
      size == sizeof(JOBOBJECT_BASIC_ACCOUNTING_INFORMATION)) {
    auto* count = static_cast<JOBOBJECT_BASIC_ACCOUNTING_INFORMATION*>(info);
    memset(count, 0, sizeof(*count));
    count->ActiveProcesses = count->TotalProcesses = m_bJobShared ? 3 : 1;
    return TRUE;
  }
  if (infoClass != JobObjectExtendedLimitInformation ||
      size != sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION))
    return Fail(ERROR_BAD_LENGTH);
  auto* limits = static_cast<JOBOBJECT_EXTENDED_LIMIT_INFORMATION*>(info);
  memset(limits, 0, sizeof(*limits));
  if (m_bInKillOnCloseJob)
    limits->BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  return TRUE;
}

// A process id of a running process gives a handle to wait on; one that
// runs no more, ERROR_INVALID_PARAMETER.
HANDLE CSimMachine::OpenProcess(DWORD access, BOOL, DWORD processId) {
  Record("OpenProcess(" + Number(access) + ", " + Number(processId) + ")");
  if (!m_runningPids.count(processId)) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  uintptr_t handle = m_nNextProcessHandle++;
  m_otherProcesses[handle] = processId;
  return reinterpret_cast<HANDLE>(handle);
}
