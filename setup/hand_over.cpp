#include "setup/hand_over.h"

#include <string.h>

#include "setup/setup_context.h"
#include "setup/text.h"

CPathString g_strHandOverFailure;

namespace {

// Where IsWow64Process2 exists (Windows 10 1709 on, every ARM64 Windows)
// only its answer counts: an x86 process on ARM64 is under WOW64 too, and an
// x64 file would run emulated there. Before it, IsWow64Process means x64
// (Windows before XP SP2 has neither and no 64-bit edition to speak of).
bool RunsUnderWow64OnX64() {
  PlatformLayer& platform = GetPlatform();
  USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
  USHORT nativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;
  if (platform.IsWow64Process2(platform.GetCurrentProcess(), &processMachine, &nativeMachine))
    return processMachine != IMAGE_FILE_MACHINE_UNKNOWN &&
           nativeMachine == IMAGE_FILE_MACHINE_AMD64;
  if (platform.GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
  BOOL wow64 = FALSE;
  return platform.IsWow64Process(platform.GetCurrentProcess(), &wow64) && wow64;
}

// False for a name that already ends in "64": no chain of hand-overs can form.
// (No trail byte of a double-byte character is a digit.)
bool TwinPath(const CPathString& program, CPathString& twin) {
  const char* path = program.c_str();
  const char* separator = FindLastChar(path, '\\');
  const char* name = separator ? separator + 1 : path;
  const char* dot = FindLastChar(name, '.');
  const char* end = dot ? dot : path + program.Length();
  if (end - name >= 2 && end[-2] == '6' && end[-1] == '4') return false;
  twin.Assign("").Append(path, static_cast<size_t>(end - path)).Append("64").Append(end);
  return true;
}

bool Failure(const CPathString& twin, const char* why, DWORD error = 0) {
  g_strHandOverFailure.Assign(twin.c_str()).Append(why);
  if (error) AppendNumber(g_strHandOverFailure.Append(" (error "), error).Append(")");
  return false;
}

}  // namespace

bool HandOverToNativeSetup(LPCSTR arguments, DWORD* exitCode) {
  g_strHandOverFailure.Assign("");
  if (!RunsUnderWow64OnX64()) return false;
  CPathString program, twin;
  if (!ReadProgramPath(program)) return Failure(program, ": the program's path is too long");
  if (!TwinPath(program, twin)) return false;
  PlatformLayer& platform = GetPlatform();
  if (twin.Length() >= MAX_PATH) return Failure(twin, ": the path is too long");
  DWORD attributes = platform.GetFileAttributesA(twin.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return Failure(twin, " is missing");

  // The child's command line is its own name, then the arguments as received.
  CPathString line("\"");
  line.Append(twin).Append("\"");
  if (arguments && *arguments) line.Append(" ").Append(arguments);
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child;
  memset(&child, 0, sizeof(child));
  if (!platform.CreateProcessA(twin.c_str(), line.Data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &child))
    return Failure(twin, " could not be started", platform.GetLastError());
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
