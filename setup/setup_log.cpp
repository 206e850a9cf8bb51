#include "setup/setup_log.h"

#include <string.h>

#include "res/version.h"
#include "setup/hand_over.h"
#include "setup/setup_context.h"
#include "setup/text.h"

SetupTally g_setupTally;

namespace {

// A line as wvsprintfA makes it, at most 1023 characters, then CR LF.
const int kLineSize = 1024 + 2;
const DWORD kRotateAbove = 1024 * 1024;

HANDLE g_hLog = INVALID_HANDLE_VALUE;

void WriteLine(const char* format, va_list arguments, const char* tail = "") {
  if (g_hLog == INVALID_HANDLE_VALUE) return;
  char line[kLineSize];
  int length = FormatList(line, sizeof(line) - 2, format, arguments);
  // The tail (an outcome) goes after the event, cut where the line is full.
  while (*tail && length < kLineSize - 3) line[length++] = *tail++;
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

HANDLE OpenForAppending(const char* path) {
  // Readers (Notepad, type, a log collector) may open it meanwhile.
  return GetPlatform().CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Past 1 MiB the log becomes setup.log.old (MoveFileExA does nothing on
// Windows 95). Where that fails (a reader holds it, a read-only file, a
// folder in the way) this run appends, and the next one tries again.
HANDLE OpenRotated(const char* path) {
  HANDLE log = OpenForAppending(path);
  if (log == INVALID_HANDLE_VALUE) return log;
  DWORD size = GetPlatform().GetFileSize(log, nullptr);
  if (size == INVALID_FILE_SIZE || size <= kRotateAbove) return log;
  GetPlatform().CloseHandle(log);
  char old[kLineSize];
  FormatInto(old, "%s.old", path);
  GetPlatform().DeleteFileA(old);
  GetPlatform().MoveFileA(path, old);
  return OpenForAppending(path);
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
          g_bWow64 ? "yes" : "no", *g_szHandOverFailure ? "; not handed over: " : "",
          g_szHandOverFailure);
  LogLine("silent: %s; waited %u ms for another setup", g_bSilent ? "yes" : "no", waited);
}

}  // namespace

void OpenSetupLog(LPCSTR commandLine, DWORD waitedForLock) {
  memset(&g_setupTally, 0, sizeof(g_setupTally));
  g_hLog = INVALID_HANDLE_VALUE;
  if (g_strWindowsDir.IsEmpty()) return;
  // NT 4.0 makes no company folder of its own: here it is made for the log.
  // Elsewhere start-up made it, or there is none and so no log.
  char path[kLineSize];
  int length = FormatInto(path, "%s\\Application Data", g_strWindowsDir.c_str());
  if (g_osVersion.IsNt4()) GetPlatform().CreateDirectoryA(path, nullptr);
  length += FormatInto(path + length, "\\Velmoran");
  if (g_osVersion.IsNt4()) GetPlatform().CreateDirectoryA(path, nullptr);
  FormatInto(path + length, "\\setup.log");
  HANDLE log = OpenRotated(path);
  if (log == INVALID_HANDLE_VALUE) return;
  // At the end of the file: earlier runs' bytes are never touched.
  if (GetPlatform().SetFilePointer(log, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER) {
    GetPlatform().CloseHandle(log);
    return;
  }
  g_hLog = log;
  WriteHeader(commandLine, waitedForLock);
}

void LogLine(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  WriteLine(format, arguments);
  va_end(arguments);
}

void LogResult(bool ok, DWORD error, const char* format, ...) {
  if (g_hLog == INVALID_HANDLE_VALUE) return;
  char outcome[600];
  Outcome(outcome, ok, error);
  va_list arguments;
  va_start(arguments, format);
  WriteLine(format, arguments, outcome);
  va_end(arguments);
}

void CloseSetupLog(int exitCode) {
  if (g_hLog == INVALID_HANDLE_VALUE) return;
  const SetupTally& t = g_setupTally;
  // As Windows sees the code: -1 is 0xFFFFFFFF.
  char code[24];
  FormatInto(code, exitCode == -1 ? "-1 (0xFFFFFFFF)" : "%d", exitCode);
  LogLine("result: exit code %s; packages: %d found, %d registered, %d already present, "
          "%d failed; services: %d installed, %d removed, %d failed",
          code, t.packagesFound, t.packagesRegistered, t.packagesPresent, t.packagesFailed,
          t.servicesInstalled, t.servicesRemoved, t.servicesFailed);
  GetPlatform().FlushFileBuffers(g_hLog);
  GetPlatform().CloseHandle(g_hLog);
  g_hLog = INVALID_HANDLE_VALUE;
}
