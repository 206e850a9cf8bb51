// The simulated machine's named mutexes, which another simulated process may hold.
#include "platform/sim/sim_internal.h"

using sim::Number;
using sim::Text;

void CSimMachine::HoldMutex(const std::string& name, bool abandoned) {
  m_mutexes[name].holder = abandoned ? Mutex::kOtherDying : Mutex::kOther;
}

bool CSimMachine::OwnsMutex(const std::string& name) const {
  auto it = m_mutexes.find(name);
  return it != m_mutexes.end() && it->second.holder == Mutex::kThisProcess;
}

// Object names hold no backslash on NT 4.0 and Windows 95/98/Me; from Windows
// 2000 on, only the namespace prefixes "Global\" and "Local\" may hold one.
// (Which code the refusal gives is not documented; callers only see a failure.)
HANDLE CSimMachine::CreateMutexA(SECURITY_ATTRIBUTES* security, BOOL initialOwner, LPCSTR name) {
  Record("CreateMutexA(" + std::string(security ? "security" : "null") + ", " +
         Number(initialOwner) + ", " + Text(name) + ")");
  std::string object = name ? name : "";
  bool namespaces = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT && m_version.dwMajorVersion >= 5;
  if (namespaces && (object.compare(0, 7, "Global\\") == 0 || object.compare(0, 6, "Local\\") == 0))
    object.erase(0, object.find('\\') + 1);
  if (object.find('\\') != std::string::npos)
    return Fail(m_version.dwPlatformId == VER_PLATFORM_WIN32_NT ? ERROR_PATH_NOT_FOUND
                                                                : ERROR_INVALID_NAME),
           nullptr;
  if (m_nMutexRefusal) return Fail(m_nMutexRefusal), nullptr;
  // Global\X and X are one object in session 0, the session of this simulated
  // process (the console session up to XP, services always).
  uintptr_t handle = m_nNextMutexHandle++;
  // An unnamed mutex is an object of its own, under a key no name can have.
  std::string key = name ? object : "\\unnamed " + Number(handle);
  bool existed = m_mutexes.count(key) > 0;
  Mutex& mutex = m_mutexes[key];
  if (initialOwner && mutex.holder == Mutex::kNobody) mutex.holder = Mutex::kThisProcess;
  if (initialOwner && mutex.holder == Mutex::kThisProcess) ++mutex.count;
  m_mutexHandles[handle] = key;
  m_nLastError = existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
  return reinterpret_cast<HANDLE>(handle);
}

// An owner that is another process finishes while this one waits: the wait
// ends with the mutex owned here, WAIT_ABANDONED if the other died holding it.
DWORD CSimMachine::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  Record("WaitForSingleObject(" + Number(reinterpret_cast<uintptr_t>(handle)) + ", " +
         Number(milliseconds) + ")");
  auto it = m_mutexHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == m_mutexHandles.end()) return Fail(ERROR_INVALID_HANDLE), WAIT_FAILED;
  Mutex& mutex = m_mutexes[it->second];
  DWORD result = mutex.holder == Mutex::kOtherDying ? WAIT_ABANDONED : WAIT_OBJECT_0;
  mutex.holder = Mutex::kThisProcess;
  ++mutex.count;
  return result;
}

BOOL CSimMachine::ReleaseMutex(HANDLE mutex) {
  Record("ReleaseMutex(" + Number(reinterpret_cast<uintptr_t>(mutex)) + ")");
  auto it = m_mutexHandles.find(reinterpret_cast<uintptr_t>(mutex));
  if (it == m_mutexHandles.end()) return Fail(ERROR_INVALID_HANDLE);
  Mutex& object = m_mutexes[it->second];
  if (object.holder != Mutex::kThisProcess) return Fail(ERROR_NOT_OWNER);
  if (--object.count == 0) object.holder = Mutex::kNobody;
  return TRUE;
}

BOOL CSimMachine::CloseHandle(HANDLE handle) {
  Record("CloseHandle(" + Number(reinterpret_cast<uintptr_t>(handle)) + ")");
  if (m_mutexHandles.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}
