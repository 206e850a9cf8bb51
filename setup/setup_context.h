// The process-wide setup state, filled by static construction and InitSetup.
#ifndef SETUP_SETUP_CONTEXT_H
#define SETUP_SETUP_CONTEXT_H

#include "platform/platform_layer.h"
#include "setup/path_string.h"

// The platform's version block, read once when the object is built.
class COsVersion {
 public:
  COsVersion();
  virtual ~COsVersion() = default;

  const OSVERSIONINFOA& Info() const { return m_info; }
  bool IsNt4() const;
  bool IsWin9x() const;

 private:
  OSVERSIONINFOA m_info;
};

extern COsVersion g_osVersion;
// Windows NT 4.0, 2000 and later: owners, DACLs and handles to folders.
bool IsNtFamily();
extern CPathString g_strWindowsDir;
extern CPathString g_strModuleDir;
extern CPathString g_strAppDataDir;
extern bool g_bInstall;
extern bool g_bSilent;
// "-PREINSTALL": stage only; "-REMOVE": take the packages out again. Whole
// arguments, letter case ignored.
extern bool g_bPreinstallOnly;
extern bool g_bRemovePackages;
extern bool g_bMultiProcessor;
extern int g_nProcessors;
// The processor architecture this process sees (x86 under WOW64), read with
// the processor count.
extern WORD g_wProcessorArchitecture;
extern PFN_SETUPCOPYOEMINFA g_pfnSetupCopyOEMInf;

int SetupMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
bool IsMultiProcessor();
// 1 on success, -1 when the setup cannot run on this system.
int InitSetup(LPCSTR commandLine);

enum PlatformPath { kWindowsDir, kModuleFile, kSystemDir };
// Fills a platform path; false when it does not fit a path buffer, since a
// truncated path names some other place.
bool ReadPlatformPath(CPathString& out, PlatformPath which);

// Whether this process is a twin that our 32-bit file started: the native
// file in a run folder of the checked company folder (g_bTwin). Its parent
// holds the lock for it. Once, first of all.
extern bool g_bTwin;
bool RecogniseTwin();

// The full path of the program the user started: this file's own, or, in a
// twin that a 32-bit file started, that file's. False when it does not fit a
// path buffer.
bool ReadProgramPath(CPathString& path);
// Whether `name` is one of the arguments, whole, letter case ignored (quotes
// group and are dropped, as the C runtime reads a command line).
bool HasArgument(LPCSTR commandLine, const char* name);
// Whether a run with these arguments is silent: by its name ("ssetup") or by
// "-S". For what happens before InitSetup has read them.
bool IsSilentRun(LPCSTR commandLine);

// Puts every variable back to its state after static construction, reading
// the version block again: a simulated process starts from here.
void ResetSetupContext();

#endif  // SETUP_SETUP_CONTEXT_H
