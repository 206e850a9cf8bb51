// The gate in front of the simulated machine, and the failures each function
// is documented to give.
#include "platform/sim/sim_gate.h"

#include <string.h>

#include <map>
#include <type_traits>

#include "platform/sim/sim_internal.h"

namespace {

using Answer = CSimGate::Answer;
const CSimGate::Outcome kFails = CSimGate::kFails;
const CSimGate::Outcome kAfter = CSimGate::kFailsAfterDoing;
const CSimGate::Outcome kWith = CSimGate::kSucceedsWith;
const CSimGate::Outcome kAnswers = CSimGate::kAnswers;
const CSimGate::Outcome kAnswersAfter = CSimGate::kAnswersAfterDoing;

// Each failable function: its documented errors (the first the most common),
// then the codes the setup tests for after it, with the result each comes
// with. A function missing here cannot fail when given what the setup gives
// it (a close of a handle it holds, the clock, the process's own identity,
// the version query with its size set). An answer that states a fact (no
// driver key, no such value, no file matches, no more items, a function this
// Windows lacks) is the machine's own to give, where it is so.
const std::map<std::string, std::vector<Answer>>& Table() {
  static const std::map<std::string, std::vector<Answer>> table = {
      {"RtlGetVersion", {{0xC000007A, kAnswers}}},  // STATUS_PROCEDURE_NOT_FOUND
      {"GetWindowsDirectoryA", {{ERROR_NOT_ENOUGH_MEMORY, kFails}}},
      {"GetSystemDirectoryA", {{ERROR_NOT_ENOUGH_MEMORY, kFails}}},
      {"GetModuleFileNameA", {{ERROR_NOT_ENOUGH_MEMORY, kFails}}},
      {"SetCurrentDirectoryA", {{ERROR_ACCESS_DENIED, kFails}, {ERROR_PATH_NOT_FOUND, kFails}}},
      {"CreateDirectoryA",
       {{ERROR_ACCESS_DENIED, kFails}, {ERROR_DISK_FULL, kFails}, {ERROR_PATH_NOT_FOUND, kFails},
        {ERROR_ALREADY_EXISTS, kFails}}},
      {"LoadLibraryA", {{ERROR_MOD_NOT_FOUND, kFails}, {ERROR_DLL_INIT_FAILED, kFails}}},
      {"LoadLibraryExA", {{ERROR_MOD_NOT_FOUND, kFails}, {ERROR_DLL_INIT_FAILED, kFails}}},
      {"GetProcAddress", {{ERROR_PROC_NOT_FOUND, kFails}}},
      {"MessageBoxA", {{ERROR_NOT_ENOUGH_MEMORY, kFails}}},
      {"FormatMessageA", {{317 /* ERROR_MR_MID_NOT_FOUND */, kFails}}},
      {"IsWow64Process", {{ERROR_ACCESS_DENIED, kFails}, {ERROR_CALL_NOT_IMPLEMENTED, kFails}}},
      {"IsWow64Process2", {{ERROR_ACCESS_DENIED, kFails}, {ERROR_CALL_NOT_IMPLEMENTED, kFails}}},
      {"CreateProcessA",
       {{ERROR_ACCESS_DENIED, kFails}, {ERROR_BAD_EXE_FORMAT, kFails}, {ERROR_FILE_NOT_FOUND, kFails}}},
      {"GetExitCodeProcess", {{ERROR_ACCESS_DENIED, kFails}}},
      {"ResumeThread", {{ERROR_ACCESS_DENIED, kFails}}},
      {"TerminateProcess", {{ERROR_ACCESS_DENIED, kFails}}},
      {"OpenProcess", {{ERROR_INVALID_PARAMETER, kFails}, {ERROR_ACCESS_DENIED, kFails}}},
      {"FindResourceA", {{ERROR_RESOURCE_NAME_NOT_FOUND, kFails}}},
      {"LoadResource", {{ERROR_NOT_ENOUGH_MEMORY, kFails}}},
      {"SizeofResource", {{ERROR_RESOURCE_NAME_NOT_FOUND, kFails}}},
      {"SetEnvironmentVariableA", {{ERROR_NOT_ENOUGH_MEMORY, kFails}}},
      {"GetEnvironmentVariableA", {{ERROR_ENVVAR_NOT_FOUND, kFails}}},
      {"CreateJobObjectA", {{ERROR_ACCESS_DENIED, kFails}, {ERROR_CALL_NOT_IMPLEMENTED, kFails}}},
      {"SetInformationJobObject", {{ERROR_ACCESS_DENIED, kFails}}},
      {"AssignProcessToJobObject", {{ERROR_ACCESS_DENIED, kFails}}},
      {"QueryInformationJobObject", {{ERROR_ACCESS_DENIED, kFails}}},
      {"CreateMutexA",
       {{ERROR_ACCESS_DENIED, kFails}, {ERROR_INVALID_HANDLE, kFails},
        {ERROR_ALREADY_EXISTS, kWith}}},
      {"OpenMutexA", {{ERROR_FILE_NOT_FOUND, kFails}, {ERROR_ACCESS_DENIED, kFails}}},
      {"WaitForSingleObject",
       {{ERROR_INVALID_HANDLE, kFails}, {WAIT_TIMEOUT, kAnswers}, {WAIT_ABANDONED, kAnswersAfter}}},
      {"CopyFileA",
       {{ERROR_ACCESS_DENIED, kFails}, {ERROR_DISK_FULL, kAfter}, {ERROR_SHARING_VIOLATION, kFails},
        {ERROR_FILE_NOT_FOUND, kFails}, {ERROR_FILE_EXISTS, kFails}}},
      {"DeleteFileA",
       {{ERROR_ACCESS_DENIED, kFails}, {ERROR_SHARING_VIOLATION, kFails},
        {ERROR_FILE_NOT_FOUND, kFails}}},
      {"MoveFileA",
       {{ERROR_ACCESS_DENIED, kFails}, {ERROR_SHARING_VIOLATION, kFails},
        {ERROR_ALREADY_EXISTS, kFails}}},
      {"MoveFileExA",
       {{ERROR_ACCESS_DENIED, kFails}, {ERROR_SHARING_VIOLATION, kFails},
        {ERROR_FILE_NOT_FOUND, kFails}}},
      {"CreateFileA",
       {{ERROR_ACCESS_DENIED, kFails}, {ERROR_SHARING_VIOLATION, kFails},
        {ERROR_FILE_NOT_FOUND, kFails}, {ERROR_PATH_NOT_FOUND, kFails}, {ERROR_FILE_EXISTS, kFails},
        {ERROR_ALREADY_EXISTS, kWith}}},
      {"SetFilePointer", {{131 /* ERROR_NEGATIVE_SEEK */, kFails}}},
      {"GetFileSize", {{ERROR_ACCESS_DENIED, kFails}}},
      {"WriteFile", {{ERROR_DISK_FULL, kFails}, {ERROR_ACCESS_DENIED, kFails}}},
      {"FlushFileBuffers", {{ERROR_DISK_FULL, kFails}}},
      {"GetFileInformationByHandle", {{ERROR_ACCESS_DENIED, kFails}}},
      {"RemoveDirectoryA",
       {{ERROR_DIR_NOT_EMPTY, kFails}, {ERROR_SHARING_VIOLATION, kFails}, {ERROR_ACCESS_DENIED, kFails}}},
      {"GetVolumeInformationA", {{21 /* ERROR_NOT_READY */, kFails}}},
      {"GetFileSecurityA", {{ERROR_ACCESS_DENIED, kFails}}},
      {"OpenProcessToken", {{ERROR_ACCESS_DENIED, kFails}}},
      {"GetTokenInformation", {{ERROR_ACCESS_DENIED, kFails}}},
      {"SetFileSecurityA", {{ERROR_ACCESS_DENIED, kFails}}},
      {"GetFileAttributesA",
       {{ERROR_FILE_NOT_FOUND, kFails}, {ERROR_ACCESS_DENIED, kFails}, {ERROR_PATH_NOT_FOUND, kFails}}},
      {"SetFileAttributesA", {{ERROR_ACCESS_DENIED, kFails}}},
      {"FindFirstFileA", {{ERROR_ACCESS_DENIED, kFails}, {ERROR_PATH_NOT_FOUND, kFails}}},
      {"FindNextFileA", {{ERROR_ACCESS_DENIED, kFails}}},
      {"ReadFile", {{ERROR_ACCESS_DENIED, kFails}, {33 /* ERROR_LOCK_VIOLATION */, kFails}}},
      {"SetupOpenInfFileA", {{ERROR_FILE_NOT_FOUND, kFails}, {ERROR_ACCESS_DENIED, kFails}}},
      {"SetupGetLineTextA", {{ERROR_LINE_NOT_FOUND, kFails}, {ERROR_INSUFFICIENT_BUFFER, kFails}}},
      {"SetupFindFirstLineA", {{ERROR_LINE_NOT_FOUND, kFails}, {ERROR_SECTION_NOT_FOUND, kFails}}},
      {"SetupFindNextLine", {{ERROR_LINE_NOT_FOUND, kFails}}},
      {"SetupGetStringFieldA",
       {{ERROR_INVALID_PARAMETER, kFails}, {ERROR_INSUFFICIENT_BUFFER, kFails}}},
      {"SetupDiGetActualModelsSectionA",
       {{ERROR_CALL_NOT_IMPLEMENTED, kFails}, {ERROR_INVALID_PARAMETER, kFails}}},
      {"SetupUninstallOEMInfA",
       {{ERROR_INF_IN_USE_BY_DEVICES, kFails}, {ERROR_ACCESS_DENIED, kFails},
        {ERROR_FILE_NOT_FOUND, kFails}}},
      {"SetupDiGetClassDevsA", {{ERROR_NOT_ENOUGH_MEMORY, kFails}}},
      {"SetupDiGetDeviceRegistryPropertyA",
       {{13 /* ERROR_INVALID_DATA */, kFails}, {ERROR_INSUFFICIENT_BUFFER, kFails}}},
      {"SetupDiGetDeviceInstanceIdA", {{ERROR_INSUFFICIENT_BUFFER, kFails}}},
      {"SetupDiOpenDevRegKey", {{ERROR_ACCESS_DENIED, kFails}}},
      {"SetupDiCallClassInstaller", {{ERROR_ACCESS_DENIED, kFails}, {ERROR_IN_WOW64, kFails}}},
      {"SetupDiGetDeviceInstallParamsA", {{ERROR_INVALID_PARAMETER, kFails}}},
      {"CMP_WaitNoPendingInstallEvents",
       {{WAIT_TIMEOUT, kAnswers}, {ERROR_ACCESS_DENIED, kFails}, {ERROR_CALL_NOT_IMPLEMENTED, kFails}}},
      {"UpdateDriverForPlugAndPlayDevicesA",
       {{ERROR_NO_SUCH_DEVINST, kFails}, {ERROR_NO_MORE_ITEMS, kFails}, {ERROR_IN_WOW64, kFails},
        {ERROR_INVALID_FLAGS, kFails}, {ERROR_FILE_NOT_FOUND, kFails},
        {0xE0000247 /* ERROR_DRIVER_STORE_ADD_FAILED */, kAfter}}},
      {"DiUninstallDriverA", {{ERROR_ACCESS_DENIED, kFails}, {ERROR_FILE_NOT_FOUND, kFails}}},
      // With SP_COPY_NOOVERWRITE, a package already there: the name filled in.
      {"SetupCopyOEMInfA",
       {{ERROR_FILE_NOT_FOUND, kFails}, {ERROR_ACCESS_DENIED, kFails},
        {0xE000022F /* ERROR_NO_CATALOG_FOR_OEM_INF */, kFails}, {ERROR_FILE_EXISTS, kAfter}}},
      {"OpenSCManagerA", {{ERROR_ACCESS_DENIED, kFails}, {ERROR_DATABASE_DOES_NOT_EXIST, kFails}}},
      {"CreateServiceA",
       {{ERROR_SERVICE_EXISTS, kFails}, {ERROR_SERVICE_MARKED_FOR_DELETE, kFails},
        {ERROR_ACCESS_DENIED, kFails}}},
      {"OpenServiceA", {{ERROR_SERVICE_DOES_NOT_EXIST, kFails}, {ERROR_ACCESS_DENIED, kFails}}},
      {"StartServiceA",
       {{1055 /* ERROR_SERVICE_DATABASE_LOCKED */, kFails}, {ERROR_SERVICE_ALREADY_RUNNING, kFails},
        {ERROR_SERVICE_REQUEST_TIMEOUT, kFails}}},
      {"ControlService", {{ERROR_SERVICE_NOT_ACTIVE, kFails}, {ERROR_ACCESS_DENIED, kFails}}},
      {"QueryServiceStatus", {{ERROR_ACCESS_DENIED, kFails}}},
      // Another program deleted it a moment before.
      {"DeleteService", {{ERROR_SERVICE_MARKED_FOR_DELETE, kAfter}, {ERROR_ACCESS_DENIED, kFails}}},
      {"ChangeServiceConfigA", {{ERROR_ACCESS_DENIED, kFails}}},
      {"RegCreateKeyExA", {{ERROR_ACCESS_DENIED, kFails}}},
      {"RegSetValueExA", {{ERROR_ACCESS_DENIED, kFails}}},
      {"RegDeleteKeyA", {{ERROR_ACCESS_DENIED, kFails}, {ERROR_FILE_NOT_FOUND, kFails}}},
      {"RegOpenKeyExA", {{ERROR_FILE_NOT_FOUND, kFails}, {ERROR_ACCESS_DENIED, kFails}}},
      {"RegQueryValueExA", {{ERROR_MORE_DATA, kFails}}},
      {"RegDeleteValueA", {{ERROR_FILE_NOT_FOUND, kFails}, {ERROR_ACCESS_DENIED, kFails}}},
      {"RegEnumValueA", {{ERROR_ACCESS_DENIED, kFails}}},
      {"RegDeleteKeyExA", {{ERROR_ACCESS_DENIED, kFails}, {ERROR_CALL_NOT_IMPLEMENTED, kFails}}},
  };
  return table;
}

// The value a function answers when it fails, as Windows documents it.
template <typename Result>
Result FailureOf(const std::string& name, DWORD error) {
  if constexpr (std::is_pointer_v<Result>) {
    bool invalid = name == "CreateFileA" || name == "FindFirstFileA" ||
                   name == "SetupOpenInfFileA" || name == "SetupDiGetClassDevsA" ||
                   name == "SetupDiOpenDevRegKey";
    return invalid ? reinterpret_cast<Result>(reinterpret_cast<uintptr_t>(INVALID_HANDLE_VALUE))
                   : nullptr;
  } else {
    if (name.compare(0, 3, "Reg") == 0) return static_cast<Result>(error);  // the code itself
    if (name == "GetFileAttributesA") return static_cast<Result>(INVALID_FILE_ATTRIBUTES);
    if (name == "SetFilePointer") return static_cast<Result>(INVALID_SET_FILE_POINTER);
    if (name == "GetFileSize") return static_cast<Result>(INVALID_FILE_SIZE);
    if (name == "WaitForSingleObject" || name == "CMP_WaitNoPendingInstallEvents")
      return static_cast<Result>(WAIT_FAILED);
    if (name == "ResumeThread") return static_cast<Result>(0xFFFFFFFFu);
    return Result();
  }
}

}  // namespace

CSimGate::~CSimGate() {
  if (sim::IsActivePlatform(this)) m_machine.Activate();
}

std::vector<CSimGate::Answer> CSimGate::AnswersOf(const std::string& function) {
  auto it = Table().find(function);
  return it == Table().end() ? std::vector<Answer>() : it->second;
}

bool CSimGate::ChangesNothing(const std::string& function) {
  static const char* const queries[] = {
      "GetVersionExA", "RtlGetVersion", "GetLocalTime", "GetWindowsDirectoryA",
      "GetSystemDirectoryA", "GetModuleFileNameA", "GetSystemInfo", "GetProcAddress",
      "GetLastError", "IsDBCSLeadByte", "FormatMessageA", "GetTickCount", "GetCurrentProcess",
      "IsWow64Process", "IsWow64Process2", "GetExitCodeProcess", "GetCurrentProcessId",
      "GetNativeSystemInfo", "FindResourceA", "LoadResource", "LockResource", "SizeofResource",
      "GetEnvironmentVariableA", "QueryInformationJobObject", "GetFileSize",
      "GetFileInformationByHandle", "GetVolumeInformationA", "GetFileSecurityA",
      "GetTokenInformation", "GetFileAttributesA", "FindNextFileA", "ReadFile",
      "SetupGetLineTextA", "SetupFindFirstLineA", "SetupFindNextLine", "SetupGetStringFieldA",
      "SetupDiGetActualModelsSectionA", "SetupDiEnumDeviceInfo",
      "SetupDiGetDeviceRegistryPropertyA", "SetupDiGetDeviceInstanceIdA",
      "SetupDiGetDeviceInstallParamsA", "QueryServiceStatus", "RegQueryValueExA",
      "RegEnumValueA"};
  for (const char* query : queries)
    if (function == query) return true;
  return false;
}

void CSimGate::Activate(const Fault& fault) {
  m_fault = fault;
  m_names.clear();
  m_dead = false;
  if (fault.mode == kPowerCut) m_pAtStart = m_machine.Clone();
  sim::ActivatePlatform(this);
}

void CSimGate::EndKilledRun() {
  m_machine.EndKilledProcess();
  if (m_fault.mode == kPowerCut && m_pAtStart) m_machine.LosePower(*m_pAtStart);
}

template <typename Result, typename Call>
Result CSimGate::Pass(const char* name, Call call) {
  m_names.push_back(name);
  size_t n = m_names.size();
  bool here = m_fault.mode != kPass &&
              (n == m_fault.call || (m_fault.mode == kFailFromThenOn && n > m_fault.call &&
                                     m_names[m_fault.call - 1] == name));
  bool killHere = here && (m_fault.mode == kKill || m_fault.mode == kPowerCut);
  if (killHere) m_machine.MarkKilled();
  m_dead |= killHere;
  if (m_dead) {
    // Nothing a killed process does reaches Windows. A handle's release may
    // be made from a destructor, which cannot throw: the process stops at
    // its next other call, or after its last.
    static const char* const releases[] = {"CloseHandle", "CloseServiceHandle", "ReleaseMutex",
                                           "RegCloseKey", "FindClose", "SetupCloseInfFile",
                                           "SetupDiDestroyDeviceInfoList"};
    bool release = false;
    for (const char* each : releases) release |= strcmp(each, name) == 0;
    if (!release) throw CSimMachine::Killed();
    if constexpr (std::is_void_v<Result>) return;
    else return Result();
  }
  if (!here) return call();
  const Answer& answer = m_fault.answer;
  if constexpr (std::is_void_v<Result>) {
    return call();
  } else {
    if (!Table().count(name)) return call();  // it cannot fail
    switch (answer.outcome) {
      case kSucceedsWith: {
        Result result = call();
        m_machine.SetLastErrorValue(answer.error);
        return result;
      }
      case kAnswersAfterDoing:
        call();
        [[fallthrough]];
      case kAnswers:
        if constexpr (std::is_integral_v<Result>) return static_cast<Result>(answer.error);
        break;
      case kFailsAfterDoing:
        call();
        break;
      case kFails:
        break;
    }
    m_machine.SetLastErrorValue(answer.error);
    return FailureOf<Result>(name, answer.error);
  }
}

#define SIM_GATE_OP(Result, Name, Parameters, Arguments) \
  Result CSimGate::Name Parameters {                     \
    return Pass<Result>(#Name, [&]() { return m_machine.Name Arguments; }); \
  }
#include "platform/sim/sim_gate_ops.h"
#undef SIM_GATE_OP
