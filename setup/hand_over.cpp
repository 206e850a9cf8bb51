#include "setup/hand_over.h"

#include <string.h>

#include "setup/company_folder.h"
#include "setup/setup_context.h"
#include "setup/text.h"

const char kOriginVariable[] = "VESK_SETUP_ORIGIN";
char g_szHandOverFailure[kHandOverFailureSize];
bool g_bWow64;
USHORT g_nNativeMachine;

namespace {

// The machine Windows runs on, for a process under WOW64. IsWow64Process2
// (Windows 10 1709 on, every ARM64 Windows) tells x64 from ARM64; where it
// is missing or fails, IsWow64Process says WOW64 and GetNativeSystemInfo
// says which: it never names ARM64 to an x86 process, and an Itanium gets no
// twin.
void ReadMachine() {
  PlatformLayer& platform = GetPlatform();
  USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
  USHORT nativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;
  if (platform.IsWow64Process2(platform.GetCurrentProcess(), &processMachine, &nativeMachine)) {
    g_bWow64 = processMachine != IMAGE_FILE_MACHINE_UNKNOWN;
    g_nNativeMachine = nativeMachine;
    return;
  }
  BOOL wow64 = FALSE;
  g_bWow64 = platform.IsWow64Process(platform.GetCurrentProcess(), &wow64) && wow64;
  if (!g_bWow64) return;
  SYSTEM_INFO native;
  memset(&native, 0, sizeof(native));
  platform.GetNativeSystemInfo(&native);
  if (native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64)
    g_nNativeMachine = IMAGE_FILE_MACHINE_AMD64;
}

#ifndef _WIN64
// The twin for this machine, as the program carries it; null when it has none.
const void* TwinImage(WORD resource, DWORD* size) {
  PlatformLayer& platform = GetPlatform();
  HRSRC found = platform.FindResourceA(nullptr, MAKEINTRESOURCEA(resource), RT_RCDATA);
  if (!found) return nullptr;
  *size = platform.SizeofResource(nullptr, found);
  HGLOBAL loaded = platform.LoadResource(nullptr, found);
  return loaded && *size ? platform.LockResource(loaded) : nullptr;
}

// What a killed run's folder holds, and the folder, held meanwhile. A twin
// whose parent was killed between its suspended start and its job stays,
// suspended, until the restart, and holds its file: that goes at the
// restart, the folder after it.
void RemoveRunFolder(const char* folder, HANDLE held) {
  PlatformLayer& platform = GetPlatform();
  ForEachInFolder(folder, [](const char* path, const WIN32_FIND_DATAA& found, void*) {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
    if (!GetPlatform().DeleteFileA(path))
      GetPlatform().MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }, nullptr);
  platform.CloseHandle(held);
  if (!platform.RemoveDirectoryA(folder))
    platform.MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// An entry of the company folder: a run folder that a killed run left
// behind, once the process that made it no longer runs (its twin, which runs
// from there, cannot go before); a twin an older setup left in the folder
// itself.
void RemoveLeftover(const char* path, const WIN32_FIND_DATAA& found, void*) {
  PlatformLayer& platform = GetPlatform();
  // Long names only: the pattern matches 8.3 names too.
  if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (MatchesPattern(found.cFileName, "setup*-*.exe")) platform.DeleteFileA(path);
    return;
  }
  if (!MatchesPattern(found.cFileName, "run-*")) return;
  // A junction planted under such a name before the folder was sealed goes
  // as a link: what it leads to is never entered.
  if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    platform.RemoveDirectoryA(path);
    return;
  }
  DWORD pid = 0;
  for (const char* p = found.cFileName + 4; *p && *p != '-'; ++p)
    pid = pid * 16 + static_cast<DWORD>(*p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10);
  HANDLE maker = platform.OpenProcess(SYNCHRONIZE, FALSE, pid);
  bool runs = maker && platform.WaitForSingleObject(maker, 0) == WAIT_TIMEOUT;
  if (maker) platform.CloseHandle(maker);
  // Only a run folder of ours: one planted before the folder was sealed
  // stays where it is.
  HANDLE held = runs ? nullptr : HoldTrustedFolder(path);
  if (held) RemoveRunFolder(path, held);
}

// Writes the twin as a new file, then holds it open for reading, sharing
// neither writing nor deleting, until the child has started. (A handle that
// writes cannot become one that denies writing while it is open, since its
// own writing conflicts; in the moment between, only SYSTEM and
// Administrators may touch the sealed folder's files.)
HANDLE WriteTwin(const char* path, const void* image, DWORD size, DWORD* error) {
  PlatformLayer& platform = GetPlatform();
  HANDLE file = platform.CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = platform.GetLastError();
    return file;
  }
  DWORD written = 0;
  BOOL ok = platform.WriteFile(file, image, size, &written, nullptr) && written == size;
  *error = platform.GetLastError();
  platform.CloseHandle(file);
  HANDLE held = INVALID_HANDLE_VALUE;
  if (ok) {
    held = platform.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    *error = platform.GetLastError();
  }
  if (held == INVALID_HANDLE_VALUE) platform.DeleteFileA(path);
  return held;
}

// A job that ends the twin when this process ends, however it ends (a
// management agent's time limit kills the file it started).
HANDLE MakeKillOnCloseJob() {
  PlatformLayer& platform = GetPlatform();
  HANDLE job = platform.CreateJobObjectA(nullptr, nullptr);
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
  memset(&limits, 0, sizeof(limits));
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (platform.SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                       sizeof(limits)))
    return job;
  platform.CloseHandle(job);
  return nullptr;
}

// Starts the twin suspended, puts it in the job (where one could be made
// and Windows lets it: before Windows 8 a process already in a job cannot
// be put in another, and the twin then runs without), then lets it run.
bool StartTwin(const char* path, LPCSTR arguments, HANDLE job, PROCESS_INFORMATION* child,
               DWORD* error) {
  PlatformLayer& platform = GetPlatform();
  // Its own name in quotes, then the arguments exactly as received.
  CPathString line("\"");
  line.Append(path).Append("\"");
  if (arguments && *arguments) line.Append(" ").Append(arguments);
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  if (!platform.CreateProcessA(path, line.Data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                               nullptr, nullptr, &startup, child)) {
    *error = platform.GetLastError();
    return false;
  }
  if (job) platform.AssignProcessToJobObject(job, child->hProcess);
  if (platform.ResumeThread(child->hThread) == static_cast<DWORD>(-1)) {
    *error = platform.GetLastError();
    // Ending is asynchronous: its file cannot be deleted before it has ended.
    platform.TerminateProcess(child->hProcess, static_cast<UINT>(-1));
    platform.WaitForSingleObject(child->hProcess, 5000);
    platform.CloseHandle(child->hThread);
    platform.CloseHandle(child->hProcess);
    return false;
  }
  platform.CloseHandle(child->hThread);
  return true;
}

// A scanner may still hold the file a moment after the twin ended; what
// cannot go now goes at the next restart (the twin, then its folder), or
// with the next run.
void DeleteTwin(const char* path) {
  PlatformLayer& platform = GetPlatform();
  for (int attempt = 0; !platform.DeleteFileA(path); ++attempt) {
    if (attempt == 10) {
      platform.MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      return;
    }
    platform.Sleep(200);
  }
}
#endif

}  // namespace

bool RunsEmulated() {
#if defined(__x86_64__) || defined(_M_X64)
  return !g_bWow64 && g_nNativeMachine == IMAGE_FILE_MACHINE_ARM64;
#else
  return false;
#endif
}

bool HandOverToNativeSetup(LPCSTR arguments, DWORD* exitCode) {
  g_szHandOverFailure[0] = '\0';
  g_bWow64 = false;
  g_nNativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;
  ReadMachine();
#ifdef _WIN64
  // A native file carries no twin.
  (void)arguments;
  (void)exitCode;
  return false;
#else
  if (!g_bWow64) return false;
  WORD resource = g_nNativeMachine == IMAGE_FILE_MACHINE_AMD64   ? kTwinX64Resource
                  : g_nNativeMachine == IMAGE_FILE_MACHINE_ARM64 ? kTwinArm64Resource
                                                                 : 0;
  if (!resource) return false;
  PlatformLayer& platform = GetPlatform();
  const char* name = resource == kTwinX64Resource ? "setup64" : "setuparm64";
  DWORD size = 0;
  const void* image = TwinImage(resource, &size);
  if (!image) {
    FormatInto(g_szHandOverFailure, "this file carries no %s.exe", name);
    return false;
  }
  CPathString program, windows;
  if (!ReadProgramPath(program) || !ReadPlatformPath(windows, kWindowsDir)) {
    FormatInto(g_szHandOverFailure, "no path for %s.exe (error %u)", name, platform.GetLastError());
    return false;
  }
  // The company folder, checked and held until the run ends; then a folder
  // of this run's own in it, sealed as it is made, for the twin alone: no
  // file planted beside it, and no other run's cleaning, can reach it.
  if (!CheckCompanyFolder(windows.c_str(), true)) {
    FormatInto(g_szHandOverFailure, "the company folder is not safe to use%s%s",
               *g_companyFolder.note ? ": " : "", g_companyFolder.note);
    return false;
  }
  const char* company = g_companyFolder.path.c_str();
  ForEachInFolder(company, RemoveLeftover, nullptr);
  char run[kFormatSize], path[kFormatSize];
  FormatInto(run, "%s\\run-%X-%X", company, platform.GetCurrentProcessId(),
             platform.GetTickCount());
  FormatInto(path, "%s\\%s-%X.exe", run, name, platform.GetCurrentProcessId());
  if (!MakeSealedFolder(run, true)) {
    FormatInto(g_szHandOverFailure, "%s could not be made (error %u)", run,
               platform.GetLastError());
    return false;
  }
  DWORD error = 0;
  bool started = false;
  HANDLE job = nullptr;
  PROCESS_INFORMATION child;
  HANDLE held = WriteTwin(path, image, size, &error);
  bool written = held != INVALID_HANDLE_VALUE;
  if (!written) {
    FormatInto(g_szHandOverFailure, "%s could not be written (error %u)", path, error);
  } else {
    platform.SetEnvironmentVariableA(kOriginVariable, program.c_str());
    job = MakeKillOnCloseJob();
    started = StartTwin(path, arguments, job, &child, &error);
    platform.CloseHandle(held);
    if (!started)
      FormatInto(g_szHandOverFailure, "%s could not be started (error %u)", path, error);
  }
  if (started) {
    // A child whose end cannot be seen has an unknown outcome: failure.
    DWORD code = static_cast<DWORD>(-1);
    if (platform.WaitForSingleObject(child.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !platform.GetExitCodeProcess(child.hProcess, &code))
      code = static_cast<DWORD>(-1);
    platform.CloseHandle(child.hProcess);
    *exitCode = code;
  }
  // Closing the job ends what runs in it: only once the twin has ended.
  if (job) platform.CloseHandle(job);
  if (written) DeleteTwin(path);
  if (!platform.RemoveDirectoryA(run)) platform.MoveFileExA(run, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return started;
#endif
}
