// Every platform call of a route fails in turn (with each answer the
// function is documented to give, once and from then on), and every call is
// a kill and a power cut. Whatever happens, the run tells the truth about
// what Windows then holds, and one plain run afterwards ends exactly where an
// undisturbed run ends.
//
// By default every call fails, and every call that changes something is a
// kill and a power cut (one killed at a query ends as one killed at the next
// call). VESK_SWEEP=all kills at queries too; VESK_SWEEP=sampled takes every
// third call and the first and last ten, which the test command can afford
// under the sanitizers.
#include <stdlib.h>
#include <string.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "platform/sim/sim_gate.h"
#include "setup/setup_context.h"
#include "setup/setup_lock.h"
#include "setup/win_main.h"

namespace {

using Strings = std::vector<std::string>;
const std::string kCompany = "C:\\WINDOWS\\Application Data\\Velmoran";
const char kId[] = "USB\\VID_1D6B&PID_4001";
const int kKilled = -0x4B1D;

std::string PackageInf(const std::string& name) {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nDriverVer=01/01/2026,1.0.0.0\r\n"
         "[Manufacturer]\r\nV=M,NTx86,NTamd64,NTarm64\r\n[M]\r\nD=I,USB\\VID_1D6B&PID_4001\r\n"
         "[M.NTx86]\r\nD=I,USB\\VID_1D6B&PID_4001\r\n[M.NTamd64]\r\nD=I,USB\\VID_1D6B&PID_4001\r\n"
         "[M.NTarm64]\r\nD=I,USB\\VID_1D6B&PID_4001\r\n; " + name + "\r\n";
}

void Packages(CSimMachine& m, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    m.AddFile(std::string("C:\\setup\\") + name + ".inf", PackageInf(name));
    m.AddFile(std::string("C:\\setup\\") + name + ".sys", std::string("driver ") + name);
  }
}

int RunOn(CSimMachine& m, const std::string& commandLine) {
  (void)m;
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  try {
    ResetSetupContext();  // the process's static construction
    return WinMain(nullptr, nullptr, SkipProgramName(line.data()), 1);
  } catch (const CSimMachine::Killed&) {
    return kKilled;
  }
}

// A route on a machine: what is prepared, what ran before, this run's arguments.
struct Row {
  const char* name;
  void (*prepare)(CSimMachine&);
  const char* before;  // a run made first, undisturbed; null: none
  const char* commandLine;
  // Where a plain run's end is compared: all, or below this folder (a
  // hand-over's own run folders; whether the twin or this file did the work
  // depends on where the fault fell).
  const char* compared = nullptr;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

void Nt4(CSimMachine& m, DWORD processors) {
  m.SetNt4();
  m.SetProcessors(processors);
  for (const char* base : {"windrvr", "wdusbd", "tolv"})
    m.AddFile(std::string("C:\\setup\\") + base + ".sys", std::string("driver ") + base);
}
void Win10Device(CSimMachine& m) {
  m.SetWin10();
  Packages(m, {"vesk1"});
  m.AddDevice("USB\\VID_1D6B&PID_4001\\5&1", {kId});
}
void HandOver(CSimMachine& m, USHORT machine) {
  m.SetVersion(VER_PLATFORM_WIN32_NT, 10, 0, 22631);
  m.SetNativeMachine(machine);
  m.AddResource(201, "MZ x64 twin");
  m.AddResource(202, "MZ arm64 twin");
  Packages(m, {"vesk1"});
}

const Row kRows[] = {
    {"NT 4.0 install, one processor", [](CSimMachine& m) { Nt4(m, 1); }, nullptr, "setup.exe -S"},
    {"NT 4.0 install, several processors", [](CSimMachine& m) { Nt4(m, 2); }, nullptr,
     "setup.exe -S"},
    {"NT 4.0 install, with boxes", [](CSimMachine& m) { Nt4(m, 1); }, nullptr, "setup.exe"},
    {"NT 4.0 remove", [](CSimMachine& m) { Nt4(m, 1); }, "setup.exe -S",
     "setup.exe -UNINSTALL -S"},
    {"Windows 98, two packages",
     [](CSimMachine& m) {
       m.SetWin98();
       Packages(m, {"vesk1", "vesk2"});
     },
     nullptr, "setup.exe"},
    {"XP, two packages", [](CSimMachine& m) { Packages(m, {"vesk1", "vesk2"}); }, nullptr,
     "setup.exe -S"},
    {"XP, two packages, with boxes", [](CSimMachine& m) { Packages(m, {"vesk1", "vesk2"}); },
     nullptr, "setup.exe"},
    {"Windows 10, a device plugged in", Win10Device, nullptr, "setup.exe -S"},
    {"Windows 10, a device plugged in, with boxes", Win10Device, nullptr, "setup.exe"},
    {"-REMOVE on Windows 10", Win10Device, "setup.exe -S", "setup.exe -REMOVE -S"},
    {"-REMOVE on XP", [](CSimMachine& m) { Packages(m, {"vesk1", "vesk2"}); }, "setup.exe -S",
     "setup.exe -REMOVE"},
    {"hand-over on x64", [](CSimMachine& m) { HandOver(m, IMAGE_FILE_MACHINE_AMD64); }, nullptr,
     "setup.exe -S", "C:\\WINDOWS\\Application Data\\Velmoran\\run-"},
    {"hand-over on ARM64", [](CSimMachine& m) { HandOver(m, IMAGE_FILE_MACHINE_ARM64); },
     nullptr, "setup.exe", "C:\\WINDOWS\\Application Data\\Velmoran\\run-"},
};

// What Windows holds, but the setup log and the times: files and their
// attributes, services, registry, devices' drivers, what goes at the
// restart; only what lies below `under` where it is given.
std::string StateOf(const CSimMachine& m, const char* under = nullptr) {
  // What goes at the restart counts as gone: after it, both machines agree.
  std::vector<std::string> entries;
  const std::vector<std::string>& restart = m.DeletesAtRestart();
  for (const std::string& path : m.AllPaths()) {
    if (path.find("\\setup.log") != std::string::npos ||
        std::find(restart.begin(), restart.end(), path) != restart.end())
      continue;
    entries.push_back("file " + path + " " + std::to_string(m.Attributes(path)) + " " +
                      m.FileContent(path));
  }
  if (under) {
    std::vector<std::string> below;
    for (const std::string& entry : entries)
      if (entry.compare(5, strlen(under), under) == 0) below.push_back(entry);
    entries.swap(below);
  } else {
    for (const auto& entry : m.Services()) {
      const CSimMachine::Service& s = entry.second;
      entries.push_back("service " + s.name + " " + std::to_string(s.type) + " " +
                        std::to_string(s.startType) + " " + s.binaryPath + " " +
                        std::to_string(s.state) + " " + std::to_string(s.markedForDelete));
    }
    for (const std::string& key : m.KeyPaths()) {
      std::vector<std::string> values;  // in any order
      for (const auto& value : *m.KeyValues(key))
        values.push_back("\n  " + value.name + " " + std::to_string(value.type) + " " + value.data);
      std::sort(values.begin(), values.end());
      entries.push_back("key " + key);
      for (const std::string& value : values) entries.back() += value;
    }
    for (const CSimMachine::Device& device : m.Devices())
      entries.push_back("device " + device.instanceId + " " + device.driver);
  }
  // The store numbers packages in the order they came: named by the package.
  for (int n = 0; m.FileExists("C:\\WINDOWS\\Inf\\oem" + std::to_string(n) + ".inf"); ++n) {
    std::string content = m.FileContent("C:\\WINDOWS\\Inf\\oem" + std::to_string(n) + ".inf");
    size_t start = content.rfind("; ") + 2;
    std::string tag = content.substr(start, content.find('\r', start) - start);
    std::string from = "oem" + std::to_string(n) + ".", to = "oem(" + tag + ").";
    for (std::string& entry : entries)
      for (size_t at = 0; (at = entry.find(from, at)) != std::string::npos; at += to.size())
        entry.replace(at, from.size(), to);
  }
  std::sort(entries.begin(), entries.end());
  std::string state;
  for (const std::string& entry : entries) state += entry + "\n";
  return state;
}

Strings Lines(const std::string& text) {
  Strings lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start - (end > start && text[end - 1] == '\r')));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// The log lines this run wrote: those after its own header, where it wrote one.
Strings RunLines(const CSimMachine& m, size_t before) {
  std::string log = m.FileContent(kCompany + "\\setup.log");
  size_t header = log.rfind("==== ");
  if (header == std::string::npos || (header < before && log.size() >= before)) return {};
  return Lines(log.substr(header));
}

// "a -> b: ok" and the like: the part between two markers.
std::string Between(const std::string& text, const std::string& from, const std::string& to) {
  size_t start = text.find(from);
  if (start == std::string::npos) return "";
  start += from.size();
  size_t end = text.find(to, start);
  return end == std::string::npos ? "" : text.substr(start, end - start);
}

bool StoreHas(const CSimMachine& m, const std::string& content) {
  for (const std::string& path : m.FilesBelow("C:\\WINDOWS\\Inf")) {
    size_t dot = path.rfind('.');
    if (dot != std::string::npos && path.substr(dot) == ".inf" && m.FileContent(path) == content)
      return true;
  }
  return false;
}

// Every claim the run made stands on what the machine holds now.
void ExpectTruth(const CSimMachine& m, const Row& row, int code, const Strings& lines,
                 const Strings& services, bool wholeLog, const std::string& label) {
  std::map<std::string, std::string> published;  // package INF name -> store name
  int registered = 0, present = 0, created = 0, updated = 0, removed = 0;
  for (const std::string& line : lines) {
    std::string from, to;
    bool ok = line.size() > 4 && line.compare(line.size() - 4, 4, ": ok") == 0;
    if (line.rfind("copy ", 0) == 0 && ok && line.find(" -> ") != std::string::npos) {
      from = Between(line, "copy ", " -> ");
      to = line.substr(line.find(" -> ") + 4, line.size() - line.find(" -> ") - 8);
      std::string source = from.find(':') != std::string::npos ? from : "C:\\setup\\" + from;
      EXPECT_EQ(m.FileContent(to), m.FileContent(source)) << label << ": " << line;
    }
    if (line.rfind("register ", 0) == 0 && line.find(" as ") != std::string::npos && ok) {
      std::string inf = Between(line, "register ", " as ");
      EXPECT_TRUE(StoreHas(m, m.FileContent(inf))) << label << ": " << line;
      published[inf.substr(inf.rfind('\\') + 1)] = Between(line, " as ", ": ok");
      ++registered;
    }
    if (line.find(": already present as ") != std::string::npos) {
      std::string inf = Between(line, "register ", ": already");
      EXPECT_TRUE(StoreHas(m, m.FileContent(inf))) << label << ": " << line;
      ++present;
    }
    if (line.rfind("service ", 0) == 0 && line.find(": create: ok") != std::string::npos) {
      // There, with our image path, and its driver file with it.
      std::string name = Between(line, "service ", ": create");
      bool there = false;
      for (const auto& entry : m.Services()) {
        const std::string& image = entry.second.binaryPath;
        there |= entry.second.name == name && image.rfind("\\SystemRoot\\", 0) == 0 &&
                 m.FileExists("C:\\WINDOWS\\" + image.substr(12));
      }
      EXPECT_TRUE(there) << label << ": " << line;
      ++created;
    }
    if (line.rfind("device ", 0) == 0 && line.find(" before, ") != std::string::npos) {
      std::string instance = Between(line, "device ", ": ");
      std::string before = Between(line, ": ", " before, ");
      std::string now = Between(line, " before, ", " now");
      std::string driver;
      for (const CSimMachine::Device& device : m.Devices())
        if (device.instanceId == instance) driver = device.driver.empty() ? "no driver" : device.driver;
      const std::string unread = "driver unreadable";
      if (now != unread && instance != "?") {
        EXPECT_EQ(driver, now) << label << ": " << line;
      }
      updated += now != before && now != "no driver" && now != unread && before != unread;
    }
    if (line.find("\": Driver included in ") != std::string::npos &&
        line.find("has been removed.") != std::string::npos) {
      std::string inf = Between(line, "Driver included in ", " has been removed.");
      EXPECT_FALSE(StoreHas(m, m.FileContent("C:\\setup\\" + inf))) << label << ": " << line;
      ++removed;
    }
    if (line.find("has successfully installed.") != std::string::npos) {
      std::string inf = Between(line, "Driver included in ", " has successfully");
      EXPECT_TRUE(StoreHas(m, m.FileContent(kCompany + "\\" + inf))) << label << ": " << line;
    }
    if (line.rfind("result: ", 0) == 0) {
      // Never more than the machine holds; as many as the lines said, unless
      // a lost log write took a line with it.
      int storeHas = 0, storeLacks = 0, services = 0, devices = 0;
      for (const std::string& path : m.FilesBelow("C:\\setup"))
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".inf") == 0)
          (StoreHas(m, m.FileContent(path)) ? storeHas : storeLacks)++;
      for (const auto& entry : m.Services()) services += !entry.second.markedForDelete;
      for (const CSimMachine::Device& device : m.Devices()) devices += !device.driver.empty();
      // Each count stands after a marker of its own in the result line.
      const struct {
        const char* after;
        int said, most;
      } counts[] = {{" found, ", registered, storeHas},
                    {" registered, ", present, storeHas},
                    {"services: ", created, services},
                    {"devices: ", updated, devices},
                    {"removal: ", removed, storeLacks}};
      for (const auto& count : counts) {
        size_t at = line.find(count.after);
        ASSERT_NE(at, std::string::npos) << label << ": " << line;
        int claimed = atoi(line.c_str() + at + strlen(count.after));
        EXPECT_LE(claimed, count.most) << label << ": " << count.after << line;
        if (wholeLog) EXPECT_EQ(claimed, count.said) << label << ": " << count.after << line;
        else EXPECT_GE(claimed, count.said) << label << ": " << count.after << line;
      }
    }
  }
  // What the exit code says. NT 4.0: 1 only when the whole set an
  // undisturbed run installs is there, or when all of it is gone.
  std::string command = row.commandLine;
  bool removing = command.find("UNINSTALL") != std::string::npos;
  if (code == 1 && !removing) {
    for (const std::string& name : services) {
      auto it = m.Services().find(name);
      EXPECT_TRUE(it != m.Services().end() && !it->second.markedForDelete) << label << ": " << name;
    }
  }
  if (code == 1 && removing) {
    for (const auto& entry : m.Services())
      EXPECT_TRUE(entry.second.markedForDelete) << label << ": " << entry.first;
  }
  if (command.find("-REMOVE") != std::string::npos && (code == 0 || code == 3010)) {
    for (const char* name : {"vesk1", "vesk2"})
      EXPECT_FALSE(StoreHas(m, m.FileContent(std::string("C:\\setup\\") + name + ".inf")) &&
                   !m.FileContent(std::string("C:\\setup\\") + name + ".inf").empty())
          << label << ": exit " << code << " while " << name << " stays in the store";
  }
}

void ExpectNothingHeld(const CSimMachine& m, const std::string& label) {
  EXPECT_EQ(m.OpenFileHandles(), 0u) << label;
  EXPECT_EQ(m.OpenFindHandles(), 0u) << label;
  EXPECT_EQ(m.OpenKeyHandles(), 0u) << label;
  EXPECT_EQ(m.OpenServiceHandles(), 0u) << label;
  EXPECT_EQ(m.OpenMutexHandles(), 0u) << label;
  EXPECT_EQ(m.OpenProcessHandles(), 0u) << label;
  EXPECT_EQ(m.OpenInfHandles(), 0u) << label;
  EXPECT_EQ(m.OpenDeviceLists(), 0u) << label;
  EXPECT_FALSE(m.Hung()) << label;
}

// Every line the plain run wrote is whole, after whatever the cut run left.
void ExpectReadableLog(const CSimMachine& m, const std::string& label) {
  std::string log = m.FileContent(kCompany + "\\setup.log");
  size_t header = log.rfind("==== ");
  ASSERT_NE(header, std::string::npos) << label;
  EXPECT_TRUE(header == 0 || log.compare(header - 2, 2, "\r\n") == 0) << label;
  EXPECT_TRUE(log.size() >= 2 && log.compare(log.size() - 2, 2, "\r\n") == 0) << label;
}

class SweepTest : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    const Row& row = GetParam();
    base.Activate();
    row.prepare(base);
    if (row.before) {
      ASSERT_NE(RunOn(base, row.before), kKilled);
    }
    std::unique_ptr<CSimMachine> clean = base.Clone();
    CSimGate gate(*clean);
    gate.Activate();
    code = RunOn(*clean, row.commandLine);
    names = gate.Names();
    state = StateOf(*clean, row.compared);
    for (const auto& entry : clean->Services()) services.push_back(entry.first);
    ExpectNothingHeld(*clean, "clean run");
  }

  // One disturbed run from the prepared machine, then one plain run.
  void Sweep(const CSimGate::Fault& fault, const std::string& label) {
    ++runs;
    std::unique_ptr<CSimMachine> m = base.Clone();
    CSimGate gate(*m);
    m->Activate();
    size_t logBefore = m->FileContent(kCompany + "\\setup.log").size();
    gate.Activate(fault);
    int result = RunOn(*m, GetParam().commandLine);
    bool killed = fault.mode == CSimGate::kKill || fault.mode == CSimGate::kPowerCut;
    if (killed) {
      EXPECT_TRUE(gate.Killed()) << label;
      gate.EndKilledRun();
    } else {
      ExpectNothingHeld(*m, label);
      bool wholeLog = strcmp(names[fault.call - 1].c_str(), "WriteFile") != 0;
      ExpectTruth(*m, GetParam(), result, RunLines(*m, logBefore), services, wholeLog, label);
    }
    DWORD started = m->Now();
    gate.Activate();
    RunOn(*m, GetParam().commandLine);
    EXPECT_LT(m->Now() - started, kLockWaitLimit) << label << ": waited for a dead lock";
    EXPECT_EQ(StateOf(*m, GetParam().compared), state) << label << ": the plain run after it ends elsewhere";
    if (killed && m->FileExists(kCompany + "\\setup.log")) ExpectReadableLog(*m, label);
  }

  CSimMachine base;
  size_t runs = 0;  // disturbed runs, each followed by a plain one
  Strings services;  // the keys of those an undisturbed run leaves
  int code = 0;
  Strings names;
  std::string state;
};

bool SweepIs(const char* how) {
  const char* sweep = getenv("VESK_SWEEP");
  return sweep && strcmp(sweep, how) == 0;
}

TEST_P(SweepTest, EveryCallFailsAndIsAKill) {
  for (size_t call = 1; call <= names.size(); ++call) {
    if (SweepIs("sampled") && call > 10 && call + 10 <= names.size() && call % 3) continue;
    std::string at = std::to_string(call) + " " + names[call - 1];
    for (const CSimGate::Answer& answer : CSimGate::AnswersOf(names[call - 1])) {
      std::string error = " error " + std::to_string(answer.error);
      Sweep({CSimGate::kFailOnce, call, answer}, "call " + at + error + " once");
      Sweep({CSimGate::kFailFromThenOn, call, answer}, "call " + at + error + " from then on");
    }
    if (SweepIs("all") || !CSimGate::ChangesNothing(names[call - 1])) {
      Sweep({CSimGate::kKill, call, {}}, "killed at call " + at);
      Sweep({CSimGate::kPowerCut, call, {}}, "power cut at call " + at);
    }
    if (HasFailure()) return;  // one call's findings at a time
  }
  // The calls of the route that cannot fail as the setup makes them.
  std::set<std::string> sure;
  for (const std::string& name : names)
    if (CSimGate::AnswersOf(name).empty()) sure.insert(name);
  std::string list;
  for (const std::string& name : sure) list += (list.empty() ? "" : " ") + name;
  RecordProperty("cannot_fail", list);
  RecordProperty("calls", static_cast<int>(names.size()));
  RecordProperty("disturbed_runs", static_cast<int>(runs));
}

INSTANTIATE_TEST_SUITE_P(Routes, SweepTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
