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

// The package pattern checked apart from the program's own matcher: "vesk" at
// the start and ".inf" at the end, letter case ignored, the end on a
// character boundary. The platform also lists entries for their 8.3 names.
static bool OwnNameMatches(const std::string& name, bool codePage932) {
  if (name.size() < 8) return false;
  std::string upper;
  for (char c : name) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (upper.compare(0, 4, "VESK") != 0 || upper.compare(upper.size() - 4, 4, ".INF") != 0)
    return false;
  size_t i = 0;
  while (i < name.size() - 4) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool lead = codePage932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
    i += lead ? 2 : 1;
  }
  return i == name.size() - 4;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  uint8_t flags = input.Flags();
  CSimMachine machine;
  if (flags & 1) machine.UseCodePage932();
  if (flags & 2) machine.SetWin98();
  if (flags & 8) machine.SortEnumeration();
  if (flags & 16) machine.DisableShortNames();
  std::string previous = "vesk.cat";
  for (int count = 0; input.More() && count < 64; ++count) {
    std::string name = input.Next();
    if (!Plausible(name) || machine.FileExists("C:\\setup\\" + name) ||
        machine.FolderExists("C:\\setup\\" + name))
      continue;
    // A leading "+" makes a folder of the same name. With flag 32 every file
    // is an INF that names the file before it as its catalog, in one of the
    // entries, as a name or as a path.
    static const char* const kEntries[] = {"CatalogFile", "CatalogFile.NT", "CatalogFile.NTx86",
                                           "CatalogFile.NTamd64", "CatalogFile.NTarm64"};
    std::string content = flags & 32 ? "[Version]\r\n" + std::string(kEntries[name.size() % 5]) +
                                           " = " + (name.size() % 3 ? "" : "..\\") + previous +
                                           "\r\n"
                                     : name;
    if (name[0] == '+' && name.size() > 1) machine.AddFolder("C:\\setup\\" + name.substr(1));
    else machine.AddFile("C:\\setup\\" + name, content);
    previous = name;
  }
  machine.Activate();

  // What the loop must visit: every entry the platform lists for the pattern
  // whose own name matches it.
  std::vector<std::string> expected;
  WIN32_FIND_DATAA found;
  machine.SetCurrentDir("C:\\setup");
  HANDLE find = machine.FindFirstFileA("vesk*.inf", &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!OwnNameMatches(found.cFileName, flags & 1)) continue;
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
  FUZZ_CHECK(machine.OpenInfHandles() == 0);
  FUZZ_CHECK(!machine.Hung());  // no copy ever reads from a device (a catalog named COM1)
  // Everything in the company folder but the log is a file from beside the
  // program, under its own name: a catalog named by a path is never copied.
  // The one exception is the program's own copy, which removes the packages.
  std::string folder = "C:\\WINDOWS\\Application Data\\Velmoran\\";
  for (const std::string& file : machine.FilesBelow(folder)) {
    std::string own = file.substr(folder.size());
    if (own == "setup.log") continue;
    if (own == "vesk-setup.exe") {
      FUZZ_CHECK(machine.FileContent(file) == machine.FileContent("C:\\setup\\setup.exe"));
      continue;
    }
    FUZZ_CHECK(machine.FileExists("C:\\setup\\" + own) &&
               machine.FileContent("C:\\setup\\" + own) == machine.FileContent(file));
  }
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
