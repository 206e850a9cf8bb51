// The simulated machine's named mutexes, which another simulated process or
// another account may hold, and its clock.
#include "platform/sim/sim_internal.h"

#include <iterator>

using sim::Number;
using sim::Text;

void CSimMachine::HoldMutex(const std::string& name, bool abandoned, DWORD releaseAfter,
                            MutexMaker maker) {
  std::string key;
  DWORD error;
  if (!MutexKey(name.c_str(), &key, &error)) return;
  Mutex& mutex = m_mutexes[key];
  mutex.holder = abandoned ? Mutex::kOtherDying : Mutex::kOther;
  mutex.releaseAfter = releaseAfter;
  mutex.maker = maker;
}

void CSimMachine::RefuseMutexes(DWORD error, const std::string& name) {
  m_mutexRefusals[name] = error;
}

bool CSimMachine::OwnsMutex(const std::string& name) const {
  std::string key;
  DWORD error;
  if (!MutexKey(name.c_str(), &key, &error)) return false;
  auto it = m_mutexes.find(key);
  return it != m_mutexes.end() && it->second.holder == Mutex::kThisProcess;
}

// Object names hold no backslash on NT 4.0 and Windows 95/98/Me; from Windows
// 2000 on, only the namespace prefixes "Global\" and "Local\" may hold one.
// (Which code the refusal gives is not documented; callers only see a failure.)
// A plain or "Local\" name is the session's own; in session 0 the session's
// namespace is the global one, so "Global\X" and "X" are one object there.
bool CSimMachine::MutexKey(LPCSTR name, std::string* key, DWORD* error) const {
  std::string object = name ? name : "";
  bool namespaces = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT && m_version.dwMajorVersion >= 5;
  bool global = namespaces && object.compare(0, 7, "Global\\") == 0;
  if (global || (namespaces && object.compare(0, 6, "Local\\") == 0))
    object.erase(0, object.find('\\') + 1);
  if (object.find('\\') != std::string::npos) {
    *error = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT ? ERROR_PATH_NOT_FOUND
                                                             : ERROR_INVALID_NAME;
    return false;
  }
  *key = global || m_nSession == 0 ? object : "Session\\" + Number(m_nSession) + "\\" + object;
  return true;
}

HANDLE CSimMachine::NewMutexHandle(const std::string& key) {
  uintptr_t handle = m_nNextMutexHandle++;
  m_mutexHandles[handle] = key;
  return reinterpret_cast<HANDLE>(handle);
}

HANDLE CSimMachine::CreateMutexA(SECURITY_ATTRIBUTES* security, BOOL initialOwner, LPCSTR name) {
  Record("CreateMutexA(" + std::string(security ? "security" : "null") + ", " +
         Number(initialOwner) + ", " + Text(name) + ")");
  std::string key;
  DWORD error;
  if (name && !MutexKey(name, &key, &error)) return Fail(error), nullptr;
  for (const std::string& refused : {std::string(), std::string(name ? name : "")}) {
    auto refusal = m_mutexRefusals.find(refused);
    if (refusal != m_mutexRefusals.end()) return Fail(refusal->second), nullptr;
  }
  // An unnamed mutex is an object of its own, under a key no name can have.
  if (!name) key = "\\unnamed " + Number(m_nNextMutexHandle);
  auto existing = m_mutexes.find(key);
  if (existing != m_mutexes.end()) {
    // Opening the existing object asks for full access.
    if (existing->second.maker == kOtherType) return Fail(ERROR_INVALID_HANDLE), nullptr;
    if (existing->second.maker != kSameAccount) return Fail(ERROR_ACCESS_DENIED), nullptr;
  }
  bool existed = existing != m_mutexes.end();
  Mutex& mutex = m_mutexes[key];
  if (initialOwner && mutex.holder == Mutex::kNobody) mutex.holder = Mutex::kThisProcess;
  if (initialOwner && mutex.holder == Mutex::kThisProcess) ++mutex.count;
  HANDLE handle = NewMutexHandle(key);
  m_nLastError = existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
  return handle;
}

// Another account's default security lets others wait on its mutex (and so
// own and release it) only where it grants SYNCHRONIZE.
HANDLE CSimMachine::OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name) {
  Record("OpenMutexA(" + Number(desiredAccess) + ", " + Number(inheritHandle) + ", " + Text(name) +
         ")");
  std::string key;
  DWORD error;
  if (!name) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  if (!MutexKey(name, &key, &error)) return Fail(error), nullptr;
  auto it = m_mutexes.find(key);
  if (it == m_mutexes.end()) return Fail(ERROR_FILE_NOT_FOUND), nullptr;
  switch (it->second.maker) {
    case kOtherType: return Fail(ERROR_INVALID_HANDLE), nullptr;
    case kOtherAccountSealed: return Fail(ERROR_ACCESS_DENIED), nullptr;
    case kOtherAccount:
      if (desiredAccess & ~SYNCHRONIZE) return Fail(ERROR_ACCESS_DENIED), nullptr;
      break;
    case kSameAccount: break;
  }
  return NewMutexHandle(key);
}

// An owner that is another process gives the mutex back after its time: the
// wait ends with the mutex owned here (WAIT_ABANDONED if the other died
// holding it), or with WAIT_TIMEOUT when that is later than the time limit.
DWORD CSimMachine::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  Record("WaitForSingleObject(" + Number(reinterpret_cast<uintptr_t>(handle)) + ", " +
         Number(milliseconds) + ")");
  // Another process that runs on: it does not end while this one waits.
  if (m_otherProcesses.count(reinterpret_cast<uintptr_t>(handle))) {
    if (milliseconds == INFINITE) m_bHung = true;
    Sleep(milliseconds == INFINITE ? 0 : milliseconds);
    return WAIT_TIMEOUT;
  }
  auto process = m_processHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (process != m_processHandles.end() && m_nWaitFailures > 0) {
    --m_nWaitFailures;
    return Fail(ERROR_INVALID_HANDLE), WAIT_FAILED;
  }
  if (process != m_processHandles.end()) {
    ProcessStart& child = m_processes[m_processOf[process->first]];
    // A process started suspended and never resumed never ends.
    if ((child.creationFlags & CREATE_SUSPENDED) && !child.resumed && !child.ended &&
        !child.terminating) {
      if (milliseconds == INFINITE) m_bHung = true;
      Sleep(milliseconds == INFINITE ? 0 : milliseconds);
      return WAIT_TIMEOUT;
    }
    child.ended = true;
    return WAIT_OBJECT_0;
  }
  auto it = m_mutexHandles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == m_mutexHandles.end() || m_nWaitFailures > 0) {
    if (m_nWaitFailures > 0) --m_nWaitFailures;
    return Fail(ERROR_INVALID_HANDLE), WAIT_FAILED;
  }
  Mutex& mutex = m_mutexes[it->second];
  bool other = mutex.holder == Mutex::kOther || mutex.holder == Mutex::kOtherDying;
  if (other && mutex.releaseAfter > 0 &&
      (mutex.releaseAfter == INFINITE || mutex.releaseAfter > milliseconds)) {
    if (milliseconds == INFINITE) {
      m_bHung = true;
      return Fail(ERROR_INVALID_HANDLE), WAIT_FAILED;
    }
    Sleep(milliseconds);
    return WAIT_TIMEOUT;
  }
  if (other) Sleep(mutex.releaseAfter);
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
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  // A job that ends its processes on close ends them now.
  auto job = m_jobs.find(value);
  if (job != m_jobs.end() && job->second)
    for (ProcessStart& child : m_processes)
      if (child.job == value && !child.ended) child.ended = child.killedByJob = true;
  if (m_mutexHandles.erase(value) == 0 && m_processHandles.erase(value) == 0 &&
      m_jobs.erase(value) == 0 && m_otherProcesses.erase(value) == 0) {
    if (m_files.erase(value) == 0) return Fail(ERROR_INVALID_HANDLE);
    DropDeletedFiles();
  }
  m_processOf.erase(value);
  return TRUE;
}

// Time passes for the other holders too. Another account's object that this
// process has no handle to is gone when its maker lets go of it.
void CSimMachine::Sleep(DWORD milliseconds) {
  Record("Sleep(" + Number(milliseconds) + ")");
  m_nTickCount += milliseconds;
  for (auto& entry : m_nodes) {
    Node& node = entry.second;
    if (node.locked && node.unlockAt && static_cast<int32_t>(m_nTickCount - node.unlockAt) >= 0)
      node.locked = false;
  }
  for (auto it = m_mutexes.begin(); it != m_mutexes.end();) {
    Mutex& mutex = it->second;
    if (mutex.releaseAfter != INFINITE)
      mutex.releaseAfter = mutex.releaseAfter > milliseconds ? mutex.releaseAfter - milliseconds : 0;
    bool opened = false;
    for (const auto& handle : m_mutexHandles) opened |= handle.second == it->first;
    bool gone = mutex.releaseAfter == 0 && mutex.maker != kSameAccount && !opened &&
                (mutex.holder == Mutex::kOther || mutex.holder == Mutex::kOtherDying);
    it = gone ? m_mutexes.erase(it) : std::next(it);
  }
}
