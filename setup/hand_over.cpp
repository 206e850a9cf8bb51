#include "setup/hand_over.h"

#include <string.h>

#include "setup/text.h"

char g_szHandOverFailure[kHandOverFailureSize];
bool g_bWow64;
USHORT g_nNativeMachine;

namespace {

// Where IsWow64Process2 exists (Windows 10 1709 on, every ARM64 Windows)
// only its answer counts: an x86 process on ARM64 is under WOW64 too, and an
// x64 file would run emulated there. Before it, IsWow64Process means x64
// (Windows before XP SP2 has neither and no 64-bit edition to speak of).
bool RunsUnderWow64OnX64() {
  PlatformLayer& platform = GetPlatform();
  USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
  USHORT nativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;
  g_bWow64 = false;
  if (platform.IsWow64Process2(platform.GetCurrentProcess(), &processMachine, &nativeMachine)) {
    g_bWow64 = processMachine != IMAGE_FILE_MACHINE_UNKNOWN;
    g_nNativeMachine = nativeMachine;
    return g_bWow64 && nativeMachine == IMAGE_FILE_MACHINE_AMD64;
  }
  if (platform.GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
  BOOL wow64 = FALSE;
  g_bWow64 = platform.IsWow64Process(platform.GetCurrentProcess(), &wow64) && wow64;
  g_nNativeMachine = IMAGE_FILE_MACHINE_AMD64;
  return g_bWow64;
}

// The program's own path with "64" before its extension; false for a name
// that already ends in "64" (no chain of hand-overs can form) or a path that
// does not fit. No trail byte of a double-byte character is a digit.
bool MakeTwinPath(char* path) {
  DWORD length = GetPlatform().GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length + 2 >= MAX_PATH) {
    FormatInto(g_szHandOverFailure, "the program's path is too long");
    return false;
  }
  path[length] = '\0';
  const char* separator = FindLastChar(path, '\\');
  char* name = separator ? path + (separator - path) + 1 : path;
  const char* dot = FindLastChar(name, '.');
  char* end = dot ? name + (dot - name) : path + length;
  if (end - name >= 2 && end[-2] == '6' && end[-1] == '4') return false;
  memmove(end + 2, end, static_cast<size_t>(path + length + 1 - end));
  end[0] = '6';
  end[1] = '4';
  return true;
}

}  // namespace

bool HandOverToNativeSetup(LPCSTR arguments, DWORD* exitCode) {
  g_szHandOverFailure[0] = '\0';
  if (!RunsUnderWow64OnX64()) return false;
  char twin[MAX_PATH];
  if (!MakeTwinPath(twin)) return false;
  PlatformLayer& platform = GetPlatform();
  DWORD attributes = platform.GetFileAttributesA(twin);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    FormatInto(g_szHandOverFailure, "%s is missing", twin);
    return false;
  }
  // The child's command line is its own name, then the arguments as received.
  CPathString line("\"");
  line.Append(twin).Append("\"");
  if (arguments && *arguments) line.Append(" ").Append(arguments);
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child;
  if (!platform.CreateProcessA(twin, line.Data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &child)) {
    FormatInto(g_szHandOverFailure, "%s could not be started (error %u)", twin,
               platform.GetLastError());
    return false;
  }
  platform.CloseHandle(child.hThread);
  // A child whose end cannot be seen has an unknown outcome: failure.
  DWORD code = static_cast<DWORD>(-1);
  if (platform.WaitForSingleObject(child.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !platform.GetExitCodeProcess(child.hProcess, &code))
    code = static_cast<DWORD>(-1);
  platform.CloseHandle(child.hProcess);
  *exitCode = code;
  return true;
}
