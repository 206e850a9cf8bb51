// One setup at a time on a machine.
#ifndef SETUP_SETUP_LOCK_H
#define SETUP_SETUP_LOCK_H

#include "platform/platform_layer.h"

// Exit code when another setup held the lock for longer than a setup waits:
// Windows Installer's ERROR_INSTALL_ALREADY_RUNNING, which management agents
// (Intune, Configuration Manager) retry on their own.
const int kAnotherSetupRunning = 1618;

// Exit code when the company folder is not safe to use and cannot be set
// aside: Windows Installer's ERROR_INSTALL_PACKAGE_REJECTED ("forbidden by
// system policy"), a failure to every deployment tool, never retried on its
// own; an administrator must look.
const int kCompanyFolderRefused = 1625;

// How long a setup waits for the lock, both names together: a first setup's
// copies and registrations take seconds to a few minutes even from a slow CD
// or share, and a management agent gives an install 60 minutes (Intune's
// default) before it gives up itself, so a retry after 1618 still fits.
const DWORD kLockWaitLimit = 15 * 60 * 1000;

// Held for the whole run: a second setup started meanwhile (a second
// double-click while nothing shows, a management agent's retry, another
// administrator's session) waits until the first one has finished, and then
// finds its work done. Two named mutexes: the plain name, the only kind NT
// 4.0 and Windows 95/98/Me know and per session from Windows 2000 on, and the
// "Global\" one, so that Remote Desktop sessions wait for each other too.
// A name this Windows refuses is gone without; any other failure to get a
// mutex is tried again every second, and the wait ends at the time limit.
class CSetupLock {
 public:
  // `parentHolds`: a twin's parent holds the lock for it and waits for it,
  // so the twin takes none (it would wait for itself).
  explicit CSetupLock(bool parentHolds);
  ~CSetupLock();
  CSetupLock(const CSetupLock&) = delete;
  CSetupLock& operator=(const CSetupLock&) = delete;

  // False when the time limit passed before the lock was had; then nothing
  // of it is held.
  bool IsHeld() const { return m_bHeld; }
  // How long it waited for another setup, in milliseconds.
  DWORD Waited() const { return m_nWaited; }

 private:
  HANDLE m_hSession;
  HANDLE m_hGlobal;
  bool m_bHeld;
  DWORD m_nWaited;
};

// The security descriptor the lock's mutexes are made with on NT: full
// access for SYSTEM and Administrators, whoever made them.
extern const struct AdminDescriptor g_lockSecurityDescriptor;

#endif  // SETUP_SETUP_LOCK_H
