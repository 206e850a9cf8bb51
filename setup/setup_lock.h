// One setup at a time on a machine.
#ifndef SETUP_SETUP_LOCK_H
#define SETUP_SETUP_LOCK_H

#include "platform/platform_layer.h"

// Held for the whole run: a second setup started meanwhile (a second
// double-click while nothing shows, a management agent's retry) waits, without
// a time limit and without a word, until the first one has finished, and then
// finds its work done. Two named mutexes: the plain name, which is the only
// kind NT 4.0 and Windows 95/98/Me know and which is per session from Windows
// 2000 on, and the "Global\" one, so that Remote Desktop sessions wait for
// each other too. A name that cannot be taken is gone without: never a failure.
class CSetupLock {
 public:
  CSetupLock();
  ~CSetupLock();
  CSetupLock(const CSetupLock&) = delete;
  CSetupLock& operator=(const CSetupLock&) = delete;

 private:
  HANDLE m_hSession;
  HANDLE m_hGlobal;
};

#endif  // SETUP_SETUP_LOCK_H
