// The package loop over arbitrary file names beside the program.
#include "fuzz_input.h"
#include "platform/sim/sim_machine.h"
#include "setup/setup_context.h"
#include "setup/text.h"
#include "setup/win_main.h"

// Names Windows would accept for one file in a folder.
static bool Plausible(const std::string& name) {
  if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 0x20 || std::string("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string::npos)
      return false;
  return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  uint8_t flags = input.Flags();
  CSimMachine machine;
  if (flags & 1) machine.UseCodePage932();
  if (flags & 2) machine.SetWin98();
  for (int count = 0; input.More() && count < 64; ++count) {
    std::string name = input.Next();
    if (!Plausible(name) || machine.FileExists("C:\\setup\\" + name) ||
        machine.FolderExists("C:\\setup\\" + name))
      continue;
    // A leading "+" makes a folder of the same name.
    if (name[0] == '+' && name.size() > 1) machine.AddFolder("C:\\setup\\" + name.substr(1));
    else machine.AddFile("C:\\setup\\" + name, name);
  }
  machine.Activate();

  // What the loop must visit: every entry the platform lists for the pattern.
  std::vector<std::string> expected;
  WIN32_FIND_DATAA found;
  machine.SetCurrentDir("C:\\setup");
  HANDLE find = machine.FindFirstFileA("vesk*.inf", &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      CPathString name(found.cFileName);
      const char* dot = FindLastChar(name.c_str(), '.');
      if (dot) name.Truncate(static_cast<size_t>(dot - name.c_str()));
      expected.push_back(name.c_str());
    } while (machine.FindNextFileA(find, &found));
    machine.FindClose(find);
  }

  ResetSetupContext();
  std::string line = flags & 4 ? "setup.exe -S" : "setup.exe";
  int code = WinMain(nullptr, nullptr, SkipProgramName(line.data()), 1);

  FUZZ_CHECK(code == 0);
  FUZZ_CHECK(machine.OpenFindHandles() == 0);
  FUZZ_CHECK(machine.OemInfCalls().size() == expected.size());
  std::string company = "C:\\WINDOWS\\Application Data\\Velmoran\\";
  for (size_t i = 0; i < expected.size(); ++i)
    FUZZ_CHECK(machine.OemInfCalls()[i].source == company + expected[i] + ".inf");
  if (flags & 4) FUZZ_CHECK(machine.MessageBoxes().empty());
  size_t successes = 0;
  for (const auto& call : machine.OemInfCalls()) successes += call.result ? 1 : 0;
  if (!(flags & 4)) FUZZ_CHECK(machine.MessageBoxes().size() >= successes);
  return 0;
}
