// The setup log: %windir%\Application Data\Velmoran\setup.log, where every
// run appends what became of every file, package and service, so that an
// administrator can tell afterwards what an unattended run did. Never a
// failure of its own: where it cannot be written the run goes on as it would.
#ifndef SETUP_SETUP_LOG_H
#define SETUP_SETUP_LOG_H

#include "platform/platform_layer.h"

// What the closing line counts.
struct SetupTally {
  int packagesFound;
  int packagesRegistered;
  int packagesPresent;
  int packagesFailed;
  int servicesInstalled;
  int servicesRemoved;
  int servicesFailed;
  int devicesUpdated;   // now use the package's INF, and did not before
  int deviceFailures;
  int packagesRemoved;  // out of the store (-REMOVE)
  int packagesKept;     // still in the store after -REMOVE
};
extern SetupTally g_setupTally;

// Opens the log once the setup state is read (the company folder is made
// there; on NT 4.0 for the log alone), keeps the previous one as
// setup.log.old when it has grown past 1 MiB, and writes the run's header.
void OpenSetupLog(LPCSTR commandLine, DWORD waitedForLock);

// One event, one line: `format` as FormatList (setup/text.h) takes it.
void LogLine(const char* format, ...);

// One event and its outcome: "ok", or the Windows error `error` in decimal
// and hexadecimal with the system's text for it.
void LogResult(bool ok, DWORD error, const char* format, ...);

// The closing line (exit code and tally), then flushed and closed.
void CloseSetupLog(int exitCode);

#endif  // SETUP_SETUP_LOG_H
