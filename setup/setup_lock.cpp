#include "setup/setup_lock.h"

namespace {

const char kLockName[] = "Velmoran.Vesk.Setup";
const char kGlobalLockName[] = "Global\\Velmoran.Vesk.Setup";

// The mutex, owned, or null when it cannot be had. A mutex whose owner died
// holding it (a killed setup) is owned all the same.
HANDLE Take(const char* name) {
  HANDLE mutex = GetPlatform().CreateMutexA(nullptr, FALSE, name);
  if (!mutex) return nullptr;
  DWORD result = GetPlatform().WaitForSingleObject(mutex, INFINITE);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return mutex;
  GetPlatform().CloseHandle(mutex);
  return nullptr;
}

void Give(HANDLE mutex) {
  if (!mutex) return;
  GetPlatform().ReleaseMutex(mutex);
  GetPlatform().CloseHandle(mutex);
}

}  // namespace

// Always the session name first, so that no two setups wait for each other crosswise.
CSetupLock::CSetupLock() : m_hSession(Take(kLockName)), m_hGlobal(Take(kGlobalLockName)) {}

CSetupLock::~CSetupLock() {
  Give(m_hGlobal);
  Give(m_hSession);
}
