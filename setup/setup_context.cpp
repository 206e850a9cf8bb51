#include "setup/setup_context.h"

#include <string.h>

#include "setup/company_folder.h"
#include "setup/hand_over.h"
#include "setup/setup_log.h"
#include "setup/text.h"

COsVersion::COsVersion() {
  memset(&m_info, 0, sizeof(m_info));
  m_info.dwOSVersionInfoSize = sizeof(m_info);
  // A failed query leaves a zero block: neither NT 4.0 nor Windows 95/98/Me.
  GetPlatform().GetVersionExA(&m_info);
}

bool COsVersion::IsNt4() const {
  return m_info.dwPlatformId == VER_PLATFORM_WIN32_NT && m_info.dwMajorVersion == 4;
}

bool COsVersion::IsWin9x() const { return m_info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS; }

bool IsNtFamily() { return g_osVersion.Info().dwPlatformId == VER_PLATFORM_WIN32_NT; }

COsVersion g_osVersion;
CPathString g_strWindowsDir;
CPathString g_strModuleDir;
CPathString g_strAppDataDir;
bool g_bInstall;
bool g_bSilent = false;
bool g_bPreinstallOnly;
bool g_bRemovePackages;
bool g_bMultiProcessor = false;
int g_nProcessors;
WORD g_wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
PFN_SETUPCOPYOEMINFA g_pfnSetupCopyOEMInf = nullptr;

// The flags' defaults, set by static construction: zero-filled variables
// take no room in the file, initialised ones a section of their own.
static struct SetupDefaults {
  SetupDefaults() {
    g_bInstall = true;
    g_nProcessors = -1;
  }
} s_setupDefaults;

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version block is the 148-byte ANSI one");

int SetupMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  LogLine("box%s \"%s\": %.900s", g_bSilent ? " (silent, not shown)" : "", caption, text);
  if (g_bSilent) return 1;
  return GetPlatform().MessageBoxA(owner, text, caption, type);
}

bool IsMultiProcessor() {
  if (g_nProcessors == -1) {
    SYSTEM_INFO info;
    memset(&info, 0, sizeof(info));
    GetPlatform().GetSystemInfo(&info);
    g_nProcessors = static_cast<int>(info.dwNumberOfProcessors);
    g_wProcessorArchitecture = info.wProcessorArchitecture;
  }
  return g_nProcessors > 1;
}

bool ReadPlatformPath(CPathString& out, PlatformPath which) {
  char buffer[MAX_PATH];
  buffer[0] = '\0';
  DWORD length = which == kModuleFile ? GetPlatform().GetModuleFileNameA(nullptr, buffer, MAX_PATH)
                 : which == kSystemDir ? GetPlatform().GetSystemDirectoryA(buffer, MAX_PATH)
                                       : GetPlatform().GetWindowsDirectoryA(buffer, MAX_PATH);
  buffer[MAX_PATH - 1] = '\0';
  out.Assign(buffer);
  return length != 0 && length < MAX_PATH && !out.IsEmpty();
}

// "X:\\..." or "\\\\server\\...": a path that names one place wherever the run starts.
static bool IsFullPath(const char* path) {
  char drive = static_cast<char>(path[0] | 0x20);
  return (drive >= 'a' && drive <= 'z' && path[1] == ':' && path[2] == '\\') ||
         (path[0] == '\\' && path[1] == '\\');
}

bool g_bTwin;

// A native file that our 32-bit file wrote into a run folder of the checked
// company folder, which only SYSTEM and Administrators may change: only that
// file can have started it there. The process's architecture is Windows'
// answer, not this build's.
bool RecogniseTwin() {
  IsMultiProcessor();
  g_bTwin = false;
  if (g_wProcessorArchitecture != PROCESSOR_ARCHITECTURE_AMD64 &&
      g_wProcessorArchitecture != PROCESSOR_ARCHITECTURE_ARM64)
    return false;
  CPathString module, windows;
  if (!ReadPlatformPath(module, kModuleFile) || !ReadPlatformPath(windows, kWindowsDir))
    return false;
  const char* file = FindLastChar(module.c_str(), '\\');
  if (!file) return false;
  module.Truncate(static_cast<size_t>(file - module.c_str()));
  const char* run = FindLastChar(module.c_str(), '\\');
  if (!run || !MatchesPattern(run + 1, "run-*")) return false;
  module.Truncate(static_cast<size_t>(run - module.c_str()));
  CPathString company(windows);
  company.Append("\\Application Data\\Velmoran");
  // Nothing may have been set aside: a part moved away just now took this
  // file's folder with it, somewhere nobody checked.
  g_bTwin = SameText(module.c_str(), company.c_str()) &&
            CheckCompanyFolder(windows.c_str(), true) && !*g_companyFolder.note;
  return g_bTwin;
}

// Only a twin believes the origin its parent gave it, and only as a full
// path: a variable set in some environment (an unelevated program may set the
// user's) sends no other run to another folder.
bool ReadProgramPath(CPathString& path) {
  if (g_bTwin) {
    char origin[MAX_PATH];
    DWORD length = GetPlatform().GetEnvironmentVariableA(kOriginVariable, origin, MAX_PATH);
    if (length > 3 && length < MAX_PATH && IsFullPath(origin)) {
      path.Assign(origin);
      return true;
    }
  }
  return ReadPlatformPath(path, kModuleFile);
}

static bool HasSilentName(const CPathString& programPath) {
  CPathString lower(programPath.c_str());
  MakeLower(lower);
  return ContainsText(lower.c_str(), "ssetup");
}

static bool HasSwitch(LPCSTR commandLine, const char* name) {
  CPathString upper(commandLine ? commandLine : "");
  MakeUpper(upper);
  return ContainsText(upper.c_str(), name);
}

bool IsSilentRun(LPCSTR commandLine) {
  CPathString path;
  ReadProgramPath(path);
  return HasSilentName(path) || HasSwitch(commandLine, "-S");
}

// Makes the program's folder current; its own path is never searched for switches.
static bool EnterModuleDir() {
  const char* separator = FindLastChar(g_strModuleDir.c_str(), '\\');
  if (!separator) return false;
  g_strModuleDir.Truncate(static_cast<size_t>(separator - g_strModuleDir.c_str()));
  // "X:" alone would mean drive X's current folder, not its root.
  CPathString folder(g_strModuleDir.c_str());
  if (folder.Length() == 2 && folder.c_str()[1] == ':') folder.Append("\\");
  return GetPlatform().SetCurrentDirectoryA(folder.c_str()) != FALSE;
}

bool HasArgument(LPCSTR commandLine, const char* name) {
  const char* p = commandLine ? commandLine : "";
  for (;;) {
    while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
    if (!*p) return false;
    CPathString argument;
    bool quoted = false;
    for (; *p && (quoted || static_cast<unsigned char>(*p) > ' '); ++p) {
      if (*p == '"') quoted = !quoted;
      else argument.Append(p, 1);
    }
    if (SameText(argument.c_str(), name)) return true;
  }
}

// The old switches are substrings anywhere; the new ones, which take
// drivers out or leave devices alone, must be meant whole.
static void ReadSwitches(LPCSTR commandLine) {
  if (HasSwitch(commandLine, "-UNINSTALL")) g_bInstall = false;
  if (HasSwitch(commandLine, "-S")) g_bSilent = true;
  g_bPreinstallOnly = HasArgument(commandLine, "-PREINSTALL");
  g_bRemovePackages = HasArgument(commandLine, "-REMOVE");
  if (g_bRemovePackages) g_bInstall = false;
}

// On the NT family the program runs elevated, often from a folder that others
// can write (a download folder, a share): the setup library comes from the
// system folder by its full path, never from a search that starts in the
// program's folder, and its own dependencies are then looked for in that
// system folder first (the "altered" search starts in the library's folder).
// Windows 95/98/Me have no such boundary, and there the library was a
// redistributable that vendors could ship beside their setup: found by name.
static HMODULE LoadSetupLibrary() {
  if (g_osVersion.IsWin9x()) return GetPlatform().LoadLibraryA("setupapi.dll");
  CPathString path;
  if (!ReadPlatformPath(path, kSystemDir)) return nullptr;
  path.Append("\\setupapi.dll");
  return GetPlatform().LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

static bool BindSetupApi() {
  HMODULE library = LoadSetupLibrary();
  if (!library) return false;
  FARPROC entry = GetPlatform().GetProcAddress(library, "SetupCopyOEMInfA");
  // Through void(*)(): the generic entry type becomes the real signature.
  g_pfnSetupCopyOEMInf =
      reinterpret_cast<PFN_SETUPCOPYOEMINFA>(reinterpret_cast<void (*)()>(entry));
  return g_pfnSetupCopyOEMInf != nullptr;
}

int InitSetup(LPCSTR commandLine) {
  bool windowsDirRead = ReadPlatformPath(g_strWindowsDir, kWindowsDir);
  bool modulePathRead = ReadProgramPath(g_strModuleDir);

  if (HasSilentName(g_strModuleDir)) g_bSilent = true;

  if (!windowsDirRead || !modulePathRead) return -1;
  if (!EnterModuleDir()) return -1;
  g_bMultiProcessor = IsMultiProcessor();

  if (!g_osVersion.IsNt4()) {
    CheckCompanyFolder(g_strWindowsDir.c_str(), IsNtFamily());
    if (g_companyFolder.state == kFolderMissing) return -1;
    g_strAppDataDir = g_companyFolder.path;
  }

  ReadSwitches(commandLine);

  if (!g_osVersion.IsNt4() && !BindSetupApi()) return -1;
  return 1;
}
