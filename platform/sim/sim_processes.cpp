// The simulated machine's processes: WOW64, and children this one starts.
#include "platform/sim/sim_internal.h"

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

// The child ends when it is waited for; its exit code is the test's choice.
BOOL CSimMachine::CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                                 SECURITY_ATTRIBUTES*, SECURITY_ATTRIBUTES*,
                                 BOOL inheritHandles, DWORD, LPVOID, LPCSTR currentDirectory,
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
  m_processes.push_back({applicationName, commandLine ? commandLine : "", inheritHandles,
                         currentDirectory == nullptr});
  uintptr_t process = m_nNextProcessHandle++;
  uintptr_t thread = m_nNextProcessHandle++;
  m_processHandles[process] = true;
  m_processHandles[thread] = false;
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
  *exitCode = m_endedProcesses.count(it->first) ? m_nChildExitCode : STILL_ACTIVE;
  return TRUE;
}
