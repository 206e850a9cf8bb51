// Start-up over arbitrary program paths, command lines and Windows folders.
#include <string.h>

#include "fuzz_input.h"
#include "platform/sim/sim_machine.h"
#include "setup/setup_context.h"
#include "setup/win_main.h"

// The program's folder, worked out apart from the code under test: the path
// before its last "\\" that is not the trail byte of a double-byte character.
static std::string ExpectedFolder(CSimMachine& machine, const std::string& path) {
  size_t cut = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (machine.IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (path[i] == '\\') cut = i;
  }
  return cut == std::string::npos ? path : path.substr(0, cut);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  uint8_t flags = input.Flags();
  std::string programPath = input.Next();
  std::string commandLine = input.Next();
  std::string windowsDir = input.Next();

  CSimMachine machine;
  if (flags & 1) machine.UseCodePage932();
  switch ((flags >> 1) & 3) {
    case 0: machine.SetNt4(); break;
    case 1: machine.SetWin98(); break;
    case 2: machine.SetWinXp(); break;
    default: machine.FailVersionQuery(); break;
  }
  machine.SetProcessors(flags & 8 ? 2 : 1);
  if (flags & 16) machine.RemoveLibrary("setupapi.dll");
  if (windowsDir.size() > 3 && windowsDir[1] == ':' && windowsDir[2] == '\\')
    machine.SetWindowsDir(windowsDir);
  machine.SetProgramPath(programPath);
  // Every byte-wise cut is a real folder, so that cutting inside a double-byte
  // character would go unnoticed by the platform: only the checks below catch it.
  for (size_t i = 3; i < programPath.size(); ++i)
    if (programPath[i] == '\\' && programPath[1] == ':') machine.AddFolder(programPath.substr(0, i));
  machine.Activate();
  ResetSetupContext();

  std::string line = commandLine;
  int code = WinMain(nullptr, nullptr, SkipProgramName(line.data()), 1);

  FUZZ_CHECK(code == -1 || code == 0 || code == 1 || code == 1618);
  // The setup lock is given back on every way out.
  FUZZ_CHECK(machine.OpenMutexHandles() == 0 && !machine.OwnsMutex("Velmoran.Vesk.Setup"));
  if (g_bSilent) FUZZ_CHECK(machine.MessageBoxes().empty());
  for (const auto& box : machine.MessageBoxes())
    FUZZ_CHECK(box.caption == "setup" || box.caption == "setup fail");
  // Silence comes only from an "s" somewhere.
  if (programPath.find_first_of("sS") == std::string::npos &&
      commandLine.find_first_of("sS") == std::string::npos)
    FUZZ_CHECK(!g_bSilent);
  if (code != -1) {
    // The folder made current is the program path cut before a real separator.
    std::string folder = g_strModuleDir.c_str();
    FUZZ_CHECK(programPath.compare(0, folder.size(), folder) == 0);
    FUZZ_CHECK(folder == ExpectedFolder(machine, programPath));
    FUZZ_CHECK(folder.size() < programPath.size() && programPath[folder.size()] == '\\');
    FUZZ_CHECK(programPath.size() < MAX_PATH);
  }
  return 0;
}
