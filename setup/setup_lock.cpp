#include "setup/setup_lock.h"

#include "setup/admin_security.h"
#include "setup/setup_context.h"

// A mutex's default security admits only the account that made it (and
// SYSTEM): another administrator's session, or a SYSTEM agent after an
// administrator, could not open it (KB 318825). This one grants
// MUTEX_ALL_ACCESS to SYSTEM and to Administrators.
const AdminDescriptor g_lockSecurityDescriptor =
    MakeAdminDescriptor(0x001F0001, 0, kDaclPresent | kSelfRelative, false);

namespace {

const char kLockName[] = "Velmoran.Vesk.Setup";
const char kGlobalLockName[] = "Global\\Velmoran.Vesk.Setup";
const DWORD kRetryInterval = 1000;

// Names this Windows does not take at all (NT 4.0 and 9x refuse the backslash).
bool IsRefusedName(DWORD error) {
  return error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
         error == ERROR_BAD_PATHNAME;
}

HANDLE OpenLockMutex(const char* name) {
  // Constant, so that it is read-only data rather than a copy made from
  // writable data (a section of its own in the file).
  static const SECURITY_ATTRIBUTES security = {
      sizeof(security), const_cast<unsigned char*>(g_lockSecurityDescriptor.bytes), FALSE};
  // Windows 95/98/Me have no security on objects.
  bool nt = g_osVersion.Info().dwPlatformId == VER_PLATFORM_WIN32_NT;
  HANDLE mutex = GetPlatform().CreateMutexA(
      nt ? const_cast<SECURITY_ATTRIBUTES*>(&security) : nullptr, FALSE, name);
  // Made by an older setup, or with a higher integrity level: waiting on it,
  // owning and releasing it need no more than SYNCHRONIZE.
  if (!mutex && GetPlatform().GetLastError() == ERROR_ACCESS_DENIED)
    mutex = GetPlatform().OpenMutexA(SYNCHRONIZE, FALSE, name);
  return mutex;
}

DWORD TimeLeft(DWORD start) {
  DWORD elapsed = GetPlatform().GetTickCount() - start;
  return elapsed >= kLockWaitLimit ? 0 : kLockWaitLimit - elapsed;
}

// The mutex, owned; null when the name is refused, or with *timedOut set
// when the time limit passed. A mutex whose owner died holding it (a killed
// setup) is owned all the same.
HANDLE Take(const char* name, DWORD start, bool* timedOut) {
  for (;;) {
    HANDLE mutex = OpenLockMutex(name);
    if (!mutex && IsRefusedName(GetPlatform().GetLastError())) return nullptr;
    if (mutex) {
      DWORD result = GetPlatform().WaitForSingleObject(mutex, TimeLeft(start));
      if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return mutex;
      GetPlatform().CloseHandle(mutex);
    }
    // Another account's object, an object of another type, or a failed wait:
    // never run unguarded while another setup may be running.
    DWORD left = TimeLeft(start);
    if (left == 0) {
      *timedOut = true;
      return nullptr;
    }
    GetPlatform().Sleep(left < kRetryInterval ? left : kRetryInterval);
  }
}

void Give(HANDLE mutex) {
  if (!mutex) return;
  GetPlatform().ReleaseMutex(mutex);
  GetPlatform().CloseHandle(mutex);
}

}  // namespace

// Always the session name first, so that no two setups wait for each other crosswise.
CSetupLock::CSetupLock(bool parentHolds)
    : m_hSession(nullptr), m_hGlobal(nullptr), m_bHeld(parentHolds), m_nWaited(0) {
  if (parentHolds) return;
  DWORD start = GetPlatform().GetTickCount();
  bool timedOut = false;
  m_hSession = Take(kLockName, start, &timedOut);
  if (!timedOut) m_hGlobal = Take(kGlobalLockName, start, &timedOut);
  m_bHeld = !timedOut;
  m_nWaited = GetPlatform().GetTickCount() - start;
  // A setup that gives up holds nothing while its box waits for a click:
  // the plain name would keep this session's next setup out meanwhile.
  if (timedOut) {
    Give(m_hSession);
    m_hSession = nullptr;
  }
}

CSetupLock::~CSetupLock() {
  Give(m_hGlobal);
  Give(m_hSession);
}
