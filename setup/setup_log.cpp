#include "setup/setup_log.h"

#include <string.h>

#include "res/version.h"
#include "setup/company_folder.h"
#include "setup/hand_over.h"
#include "setup/setup_context.h"
#include "setup/text.h"

SetupTally g_setupTally;

namespace {

// A line of at most 1023 characters, then CR LF.
const int kLineSize = 1024 + 2;
const DWORD kRotateAbove = 1024 * 1024;

// Null while no log is open (zero-filled: no room in the file).
HANDLE g_hLog;

void WriteLine(const char* format, va_list arguments, const char* tail = "") {
  if (!g_hLog) return;
  char line[kLineSize];
  int length = FormatList(line, sizeof(line) - 2, format, arguments);
  // The tail (an outcome) goes after the event, cut where the line is full.
  while (*tail && length < kLineSize - 3) line[length++] = *tail++;
  // A double-byte character cut in two there is left out whole.
  int whole = 0;
  while (whole < length) {
    int step = GetPlatform().IsDBCSLeadByte(static_cast<BYTE>(line[whole])) ? 2 : 1;
    if (whole + step > length) break;
    whole += step;
  }
  length = whole;
  // One event a line: line feeds inside it (box texts) become blanks.
  for (int i = 0; i < length; ++i)
    if (line[i] == '\r' || line[i] == '\n') line[i] = ' ';
  while (length && line[length - 1] == ' ') --length;
  line[length++] = '\r';
  line[length++] = '\n';
  DWORD written;
  // One write a line: a crash loses at most the line being written.
  GetPlatform().WriteFile(g_hLog, line, static_cast<DWORD>(length), &written, nullptr);
}

// ": ok", or ": error 5 (0x00000005) Access is denied." (the number alone
// where the system has no text for it).
void Outcome(char* out, bool ok, DWORD error) {
  if (ok) {
    memcpy(out, ": ok", 5);
    return;
  }
  char text[512];
  DWORD length = GetPlatform().FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
      sizeof(text), nullptr);
  while (length && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
    --length;
  text[length < sizeof(text) ? length : 0] = '\0';
  FormatInto(out, ": error %u (0x%08X)%s%s", error, error, length ? " " : "", text);
}

HANDLE OpenForAppending(const char* path, DWORD disposition = OPEN_ALWAYS) {
  // Readers (Notepad, type, a log collector) may open it meanwhile. Read
  // access for the last bytes an earlier run wrote. On NT a link's own name,
  // never what it points to.
  return GetPlatform().CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   disposition,
                                   IsNtFamily() ? FILE_ATTRIBUTE_NORMAL |
                                                      FILE_FLAG_OPEN_REPARSE_POINT
                                                : FILE_ATTRIBUTE_NORMAL,
                                   nullptr);
}

// Past 1 MiB the log becomes setup.log.old (MoveFileExA does nothing on
// Windows 95), and the older one goes. No failure may lose a generation, so
// the older one is renamed aside first and deleted only once the log has
// taken its name: a rename takes effect at once, where a delete of a file a
// reader holds (sharing delete) only marks it, and before Windows 10 1903 its
// name stays taken until the reader lets go. Where the log cannot be renamed
// (a reader holds it without FILE_SHARE_DELETE) the older one is put back; a
// read-only one or a folder in its place is left alone. This run then
// appends, and the next one tries again.
HANDLE OpenRotated(const char* path) {
  PlatformLayer& platform = GetPlatform();
  HANDLE log = OpenForAppending(path);
  if (log == INVALID_HANDLE_VALUE) return log;
  DWORD size = platform.GetFileSize(log, nullptr);
  if (size == INVALID_FILE_SIZE || size <= kRotateAbove) return log;
  char old[kLineSize];
  char older[kLineSize];
  FormatInto(old, "%s.old", path);
  FormatInto(older, "%s.older", path);
  DWORD attributes = platform.GetFileAttributesA(old);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
    return log;
  platform.CloseHandle(log);
  platform.DeleteFileA(older);  // left by a run that could not delete it
  bool aside = platform.MoveFileA(old, older) != FALSE;
  if (platform.MoveFileA(path, old))
    platform.DeleteFileA(older);
  else if (aside)
    platform.MoveFileA(older, old);
  return OpenForAppending(path);
}

// Whether the held log is ours alone: one name (a hard link planted under its
// name before the folder was sealed would take the writes to another file),
// no reparse point, an owner that only an administrator can be.
bool IsOwnLog(HANDLE log, const char* path) {
  PlatformLayer& platform = GetPlatform();
  BY_HANDLE_FILE_INFORMATION info;
  DWORD attributes = platform.GetFileAttributesA(path);
  return platform.GetFileInformationByHandle(log, &info) && info.nNumberOfLinks == 1 &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         HasTrustedOwner(path);
}

// A log that is not ours alone is set aside, whatever it is, and a new one
// begun: `note` says so for the log itself.
HANDLE OpenOwnLog(const char* path, char* note) {
  HANDLE log = OpenRotated(path);
  if (log == INVALID_HANDLE_VALUE || !IsNtFamily() || IsOwnLog(log, path)) return log;
  PlatformLayer& platform = GetPlatform();
  platform.CloseHandle(log);
  char aside[kLineSize];
  SetAsideName(aside, path);
  if (!platform.MoveFileA(path, aside)) return INVALID_HANDLE_VALUE;
  FormatInto(note, "%s was set aside as %s: it was not this setup's own file", path, aside);
  log = OpenForAppending(path, CREATE_NEW);
  if (log != INVALID_HANDLE_VALUE && !IsOwnLog(log, path)) {
    platform.CloseHandle(log);
    return INVALID_HANDLE_VALUE;
  }
  return log;
}

// A run cut short (a crash, a full disk) can leave its last line without its
// CR LF: it is ended first, so that this run's header begins a line of its own.
void EndCutLine(DWORD size) {
  if (size == 0) return;
  PlatformLayer& platform = GetPlatform();
  char last[2] = {0, 0};
  DWORD got = 0;
  if (size >= 2 &&
      platform.SetFilePointer(g_hLog, -2, nullptr, FILE_END) != INVALID_SET_FILE_POINTER)
    platform.ReadFile(g_hLog, last, 2, &got, nullptr);
  if (got == 2 && last[0] == '\r' && last[1] == '\n') return;
  platform.SetFilePointer(g_hLog, 0, nullptr, FILE_END);
  bool afterCr = last[1] == '\r';
  DWORD written;
  platform.WriteFile(g_hLog, afterCr ? "\n" : "\r\n", afterCr ? 1 : 2, &written, nullptr);
}

// The version Windows really is: RtlGetVersion where ntdll has it, else the
// block GetVersionExA gave (which says 6.2 on 8.1 and later).
void WriteHeader(LPCSTR commandLine, DWORD waited) {
  PlatformLayer& platform = GetPlatform();
  SYSTEMTIME now;
  platform.GetLocalTime(&now);
  CPathString program;
  ReadProgramPath(program);
  LogLine("==== %04u-%02u-%02u %02u:%02u:%02u %.260s %s (" SETUP_BUILD_TEXT
          "), command line: \"%.600s\"",
          now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, program.c_str(),
          SETUP_VERSION_TEXT, commandLine ? commandLine : "");
  const OSVERSIONINFOA& reported = g_osVersion.Info();
  RTL_OSVERSIONINFOW real;
  memset(&real, 0, sizeof(real));
  real.dwOSVersionInfoSize = sizeof(real);
  char servicePack[128];
  if (platform.RtlGetVersion(&real) == 0) {
    size_t i = 0;
    for (; i < 127 && real.szCSDVersion[i]; ++i)
      servicePack[i] = real.szCSDVersion[i] < 0x80 ? static_cast<char>(real.szCSDVersion[i]) : '?';
    servicePack[i] = '\0';
  } else {
    real.dwMajorVersion = reported.dwMajorVersion;
    real.dwMinorVersion = reported.dwMinorVersion;
    real.dwBuildNumber = reported.dwBuildNumber & 0xFFFF;  // 9x keeps more in the high word
    real.dwPlatformId = reported.dwPlatformId;
    memcpy(servicePack, reported.szCSDVersion, sizeof(servicePack));
    servicePack[127] = '\0';
  }
  LogLine("Windows %u.%u.%u, platform %u, service pack \"%s\"; processors: %d; WOW64: %s%s%s",
          real.dwMajorVersion,
          real.dwMinorVersion, real.dwBuildNumber, real.dwPlatformId, servicePack, g_nProcessors,
          g_bWow64 ? "yes" : RunsEmulated() ? "no, x64 emulated on ARM64" : "no",
          *g_szHandOverFailure ? "; not handed over: " : "",
          g_szHandOverFailure);
  LogLine("silent: %s; waited %u ms for another setup", g_bSilent ? "yes" : "no", waited);
  char origin[4];
  if (!g_bTwin && platform.GetEnvironmentVariableA(kOriginVariable, origin, sizeof(origin)))
    LogLine("%s is set and ignored: this is no twin that a setup of ours started",
            kOriginVariable);
  // A twin started by the 32-bit file: which file runs, for which.
  CPathString running;
  ReadPlatformPath(running, kModuleFile);
  if (strncmp(running.c_str(), program.c_str(), MAX_PATH) != 0) {
    // Before Windows 8 a twin started in a management agent's job cannot be
    // put in the one that ends it with the file that started it: its own
    // job ends it on close and holds it alone.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION job;
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION count;
    bool bound = platform.QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation,
                                                    &job, sizeof(job), nullptr) &&
                 (job.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE) &&
                 platform.QueryInformationJobObject(nullptr, JobObjectBasicAccountingInformation,
                                                    &count, sizeof(count), nullptr) &&
                 count.ActiveProcesses == 1;
    LogLine("running as %.260s for %.260s; ends with it: %s", running.c_str(), program.c_str(),
            bound ? "yes" : "no");
  }
}

}  // namespace

void OpenSetupLog(LPCSTR commandLine, DWORD waitedForLock) {
  memset(&g_setupTally, 0, sizeof(g_setupTally));
  g_hLog = nullptr;
  if (g_strWindowsDir.IsEmpty()) return;
  // NT 4.0 uses the company folder for the log alone: it is made and checked
  // here. Elsewhere start-up did, or there is none and so no log; nor where a
  // link on the way would take the log elsewhere.
  if (g_osVersion.IsNt4()) CheckCompanyFolder(g_strWindowsDir.c_str(), true);
  const CompanyFolder& folder = g_companyFolder;
  if ((folder.state != kFolderSafe && folder.state != kFolderUnsafe) || !folder.linkFree) return;
  char path[kLineSize], aside[kLineSize];
  aside[0] = '\0';
  FormatInto(path, "%s\\setup.log", folder.path.c_str());
  HANDLE log = OpenOwnLog(path, aside);
  if (log == INVALID_HANDLE_VALUE) return;
  // At the end of the file: earlier runs' bytes are never touched.
  DWORD size = GetPlatform().SetFilePointer(log, 0, nullptr, FILE_END);
  if (size == INVALID_SET_FILE_POINTER) {
    GetPlatform().CloseHandle(log);
    return;
  }
  g_hLog = log;
  EndCutLine(size);
  WriteHeader(commandLine, waitedForLock);
  if (*folder.note) LogLine("%s", folder.note);
  if (*aside) LogLine("%s", aside);
}

void LogLine(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  WriteLine(format, arguments);
  va_end(arguments);
}

void LogResult(bool ok, DWORD error, const char* format, ...) {
  if (!g_hLog) return;
  char outcome[1024];  // what FormatInto may write
  Outcome(outcome, ok, error);
  va_list arguments;
  va_start(arguments, format);
  WriteLine(format, arguments, outcome);
  va_end(arguments);
}

void CloseSetupLog(int exitCode) {
  if (!g_hLog) return;
  const SetupTally& t = g_setupTally;
  // As Windows sees the code: -1 is 0xFFFFFFFF.
  char code[1024];  // what FormatInto may write
  FormatInto(code, exitCode == -1 ? "-1 (0xFFFFFFFF)" : "%d", exitCode);
  LogLine("result: exit code %s; packages: %d found, %d registered, %d already present, "
          "%d failed; services: %d installed, %d removed, %d failed; devices: %d updated, %d "
          "failed; removal: %d removed, %d kept",
          code, t.packagesFound, t.packagesRegistered, t.packagesPresent, t.packagesFailed,
          t.servicesInstalled, t.servicesRemoved, t.servicesFailed, t.devicesUpdated,
          t.deviceFailures, t.packagesRemoved, t.packagesKept);
  GetPlatform().FlushFileBuffers(g_hLog);
  GetPlatform().CloseHandle(g_hLog);
  g_hLog = nullptr;
}
