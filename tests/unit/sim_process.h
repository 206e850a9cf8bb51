// Runs the setup as a process on a simulated machine.
#ifndef TESTS_UNIT_SIM_PROCESS_H
#define TESTS_UNIT_SIM_PROCESS_H

#include <ctype.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"
#include "setup/setup_context.h"
#include "setup/win_main.h"

// A table row's name as GoogleTest takes it: letters and digits, "_" for the rest.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    std::string name = info.param.name;
    for (char& ch : name)
      if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
  }
};

class SimProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { machine.Activate(); }

  // Starts the process with the full command line, program name included,
  // as GetCommandLineA would give it.
  int Run(const std::string& commandLine = "\"C:\\setup\\setup.exe\"") {
    static_cast<CSimMachine&>(GetPlatform()).StartProcess();
    ResetSetupContext();
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    try {
      return WinMain(nullptr, nullptr, SkipProgramName(line.data()), 1);
    } catch (const CSimMachine::Killed&) {
      machine.EndKilledProcess();
      return kKilled;
    }
  }
  static constexpr int kKilled = -0x4B1D;  // no exit code: the run was stopped dead

  // A package beside the program: {name}.inf and, unless told, {name}.sys.
  void AddPackage(const std::string& name, bool withSys = true) {
    machine.AddFile("C:\\setup\\" + name + ".inf", "[Version]\r\n; " + name + "\r\n");
    if (withSys) machine.AddFile("C:\\setup\\" + name + ".sys", "driver " + name);
  }

  // The copies of drivers and packages: the program's own copy to remove
  // them with apart.
  std::vector<std::string> Copies() const {
    std::vector<std::string> copies;
    for (const std::string& call : machine.LogOf("CopyFileA"))
      if (call.find("vesk-setup.exe") == std::string::npos) copies.push_back(call);
    return copies;
  }

  std::vector<std::string> Boxes() const {
    std::vector<std::string> boxes;
    for (const auto& box : machine.MessageBoxes()) boxes.push_back(box.caption + ": " + box.text);
    return boxes;
  }

  CSimMachine machine;
};

#endif  // TESTS_UNIT_SIM_PROCESS_H
