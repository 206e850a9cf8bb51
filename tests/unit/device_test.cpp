// The packages reach the devices plugged in, and leave them and the driver
// store again with -REMOVE; what the log and the exit code say is what
// Windows holds afterwards.
#include <string.h>

#include <gtest/gtest.h>

#include <map>

#include "infpkg/inf_facts.h"
#include "setup/hand_over.h"
#include "sim_process.h"

namespace {

using Strings = std::vector<std::string>;
const std::string kCompany = "C:\\WINDOWS\\Application Data\\Velmoran";
const char kId[] = "USB\\VID_1D6B&PID_4001";
const char kDevice[] = "USB\\VID_1D6B&PID_4001\\5&1";
const std::string kRecord = "Software\\Velmoran\\Vesk\\Packages";
const char kInstalled[] = "setup: Driver included in vesk1.inf has successfully installed.";
const char kRemoved[] = "setup: Driver included in vesk1.inf has been removed.";

// A package whose models sections name kId on every architecture we ship.
std::string PackageInf(const std::string& catalog = "") {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nDriverVer=01/01/2026,1.2.3.4\r\n" +
         (catalog.empty() ? "" : "CatalogFile=" + catalog + "\r\n") +
         "[Manufacturer]\r\n%Company%=Models,NTx86,NTamd64,NTarm64\r\n"
         "[Models]\r\n%Dev%=Install,USB\\VID_1D6B&PID_4001\r\n"
         "[Models.NTx86]\r\n%Dev%=Install,USB\\VID_1D6B&PID_4001\r\n"
         "[Models.NTamd64]\r\n%Dev%=Install,USB\\VID_1D6B&PID_4001\r\n"
         "[Models.NTarm64]\r\n%Dev%=Install,USB\\VID_1D6B&PID_4001\r\n"
         "[Strings]\r\nCompany=Velmoran\r\nDev=\"Vesk USB device\"\r\n";
}

class DeviceTestBase : public SimProcessTest {
 protected:
  void AddDevicePackage(const std::string& name, const std::string& catalog = "") {
    machine.AddFile("C:\\setup\\" + name + ".inf", PackageInf(catalog));
    machine.AddFile("C:\\setup\\" + name + ".sys", "driver " + name);
    if (!catalog.empty()) machine.AddFile("C:\\setup\\" + catalog, "catalog " + name);
  }
  std::string Log() const { return machine.FileContent(kCompany + "\\setup.log"); }
  // Each line in `lines` stands in the log, in this order.
  void ExpectInOrder(const Strings& lines) const {
    std::string log = Log();
    size_t at = 0;
    for (const std::string& line : lines) {
      size_t found = log.find(line, at);
      EXPECT_NE(found, std::string::npos) << "missing, or out of order: " << line << "\n" << log;
      if (found != std::string::npos) at = found + line.size();
    }
  }
  std::string DriverOf(const char* device = kDevice) const {
    const CSimMachine::Device* found = machine.FindDevice(device);
    return found ? found->driver : "(gone)";
  }
};

std::string Result(int code, const char* counts) {
  return "result: exit code " + std::to_string(code) + "; packages: " + counts;
}

void X64Wow64(CSimMachine& m) {
  m.SetWin10();
  m.SetNativeMachine(IMAGE_FILE_MACHINE_AMD64);  // no twin carried: it runs itself
}

// ---------------------------------------------------------------- install

struct DeviceCase {
  const char* name;
  void (*prepare)(CSimMachine&, CSimMachine::Device&);
  const char* arguments;
  int code;
  Strings lines;
  const char* driver;  // what the device uses afterwards
  Strings boxes;
  const char* absent = nullptr;  // text the log must not hold
};

void PrintTo(const DeviceCase& c, std::ostream* out) { *out << c.name; }

class DeviceTest : public DeviceTestBase, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(DeviceTest, DeviceEndsAsTheLogSays) {
  const DeviceCase& c = GetParam();
  AddDevicePackage("vesk1");
  c.prepare(machine, machine.AddDevice(kDevice, {"USB\\VID_1D6B&PID_4001&REV_0100", kId}));
  EXPECT_EQ(Run(std::string("setup.exe ") + c.arguments), c.code);
  ExpectInOrder(c.lines);
  if (c.absent) {
    EXPECT_EQ(Log().find(c.absent), std::string::npos) << Log();
  }
  EXPECT_EQ(DriverOf(), c.driver);
  EXPECT_EQ(Boxes(), c.boxes);
  EXPECT_EQ(machine.OpenDeviceLists(), 0u);
  EXPECT_EQ(machine.OpenKeyHandles(), 0u);
  EXPECT_FALSE(machine.Hung());
}

const char kInstalling[] = "installing vesk1.inf on devices with USB\\VID_1D6B&PID_4001";
const std::string kAnswered = std::string(kInstalling) + ": Windows answered TRUE";
const std::string kFresh = std::string("device ") + kDevice + ": no driver before, oem0.inf now";

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceTest,
    ::testing::Values(
        DeviceCase{"a present device gets the driver", [](CSimMachine&, CSimMachine::Device&) {},
                   "", 0,
                   {"record vesk1.inf as oem0.inf: ok", kInstalling, kAnswered, kFresh,
                    Result(0, "1 found, 1 registered, 0 already present, 0 failed; services: 0 "
                              "installed, 0 removed, 0 failed; devices: 1 updated, 0 failed")},
                   "oem0.inf", {kInstalled}},
        // An update disk: the device ran an older package of ours.
        DeviceCase{"an older package is replaced",
                   [](CSimMachine&, CSimMachine::Device& d) { d.driver = "oem5.inf"; }, "-S", 0,
                   {kAnswered, std::string("device ") + kDevice + ": oem5.inf before, oem0.inf now"},
                   "oem0.inf", {}},
        // Already on this package: installed again, but not updated.
        DeviceCase{"already on this package",
                   [](CSimMachine&, CSimMachine::Device& d) { d.driver = "oem0.inf"; }, "-S", 0,
                   {std::string("device ") + kDevice + ": oem0.inf before, oem0.inf now",
                    "devices: 0 updated, 0 failed"},
                   "oem0.inf", {}},
        DeviceCase{"not plugged in",
                   [](CSimMachine&, CSimMachine::Device& d) { d.present = false; }, "", 0,
                   {std::string(kInstalling) + ": no such device plugged in (staged for when one "
                                               "is)",
                    std::string("device ") + kDevice + ": no driver before, no driver now",
                    "devices: 0 updated, 0 failed"},
                   "", {kInstalled}, "Windows answered TRUE"},
        DeviceCase{"a better driver stays",
                   [](CSimMachine&, CSimMachine::Device& d) {
                     d.driver = "oem9.inf";
                     d.keepsBetterDriver = true;
                   },
                   "-S", 0,
                   {std::string(kInstalling) + ": the devices' drivers are as good or better",
                    std::string("device ") + kDevice + ": oem9.inf before, oem9.inf now",
                    "devices: 0 updated, 0 failed"},
                   "oem9.inf", {}},
        DeviceCase{"refused under WOW64",
                   [](CSimMachine& m, CSimMachine::Device&) { X64Wow64(m); }, "-S", 0,
                   {std::string(kInstalling) + ": refused to a 32-bit process on 64-bit Windows",
                    "devices: 0 updated, 1 failed"},
                   "", {}},
        DeviceCase{"another failure, with its number",
                   [](CSimMachine&, CSimMachine::Device& d) { d.installError = 0xE0000247; },
                   "-S", 0,
                   {std::string(kInstalling) + ": error 3758096967 (0xE0000247)",
                    "devices: 0 updated, 1 failed"},
                   "", {}},
        DeviceCase{"a restart",
                   [](CSimMachine&, CSimMachine::Device& d) { d.needsRestart = true; }, "", 3010,
                   {kAnswered + "; a restart is needed", kFresh, "result: exit code 3010;"},
                   "oem0.inf",
                   {kInstalled, "setup: Restart Windows to finish installing the drivers."}},
        DeviceCase{"a restart, silent",
                   [](CSimMachine&, CSimMachine::Device& d) { d.needsRestart = true; }, "-S", 3010,
                   {"box (silent, not shown) \"setup\": Restart Windows to finish installing the "
                    "drivers."},
                   "oem0.inf", {}},
        // Windows 2000 knows no INSTALLFLAG_NONINTERACTIVE, nor the wait.
        DeviceCase{"Windows 2000 and the silent flag",
                   [](CSimMachine& m, CSimMachine::Device&) { m.SetWin2000(); }, "-S", 0,
                   {std::string(kInstalling) + ": INSTALLFLAG_NONINTERACTIVE refused; again "
                                               "without it",
                    kAnswered, kFresh},
                   "oem0.inf", {}, "Windows' own device installs"},
        DeviceCase{"Windows' own install ends within the wait",
                   [](CSimMachine& m, CSimMachine::Device&) { m.SetPendingInstalls(30000); }, "-S",
                   0, {"devices: waited 30000 ms for Windows' own device installs", kFresh},
                   "oem0.inf", {}},
        DeviceCase{"Windows' own install still runs at the bound",
                   [](CSimMachine& m, CSimMachine::Device&) { m.SetPendingInstalls(INFINITE); },
                   "", 0,
                   {"record vesk1.inf as oem0.inf: ok",
                    "devices: Windows was still installing devices after 120 s; the packages stay "
                    "staged, and a later run or a replug installs them",
                    "result: exit code 0;"},
                   "", {kInstalled}, "installing vesk1.inf"},
        DeviceCase{"the wait fails",
                   [](CSimMachine& m, CSimMachine::Device&) {
                     m.FailPendingInstallWait(ERROR_ACCESS_DENIED);
                   },
                   "-S", 0,
                   {"wait for Windows' own device installs: error 5 (0x00000005) Access is "
                    "denied.",
                    kFresh},
                   "oem0.inf", {}},
        // Wine answers so for no device at all.
        DeviceCase{"TRUE while no device uses the package",
                   [](CSimMachine& m, CSimMachine::Device&) { m.AnswerUpdatesWithoutInstalling(); },
                   "-S", 0,
                   {kAnswered, std::string("device ") + kDevice + ": no driver before, no driver now",
                    "installing vesk1.inf on devices: Windows answered TRUE, but no device uses "
                    "oem0.inf",
                    "devices: 0 updated, 0 failed"},
                   "", {}},
        DeviceCase{"staged only",
                   [](CSimMachine&, CSimMachine::Device&) {}, "-PREINSTALL -S", 0,
                   {"record vesk1.inf as oem0.inf: ok", "devices: 0 updated"}, "", {},
                   "installing vesk1.inf"},
        // The missing library is said once, whatever the packages.
        DeviceCase{"no newdev.dll",
                   [](CSimMachine& m, CSimMachine::Device&) { m.RemoveLibrary("newdev.dll"); },
                   "-S", 0,
                   {"load C:\\WINDOWS\\System32\\newdev.dll: error 126 (0x0000007E)"}, "", {},
                   "installing vesk1.inf"}),
    CaseName());

// Windows' device installs can wait on a driver or a device for minutes: a
// run stopped meanwhile has written where it stood, and the next run ends
// the job.
TEST_F(DeviceTestBase, LogSaysWhereAHungDeviceInstallStood) {
  AddDevicePackage("vesk1");
  machine.AddDevice(kDevice, {kId});
  machine.KillAt("UpdateDriverForPlugAndPlayDevicesA");
  EXPECT_EQ(Run("setup.exe -S"), kKilled);
  std::string log = Log();
  EXPECT_EQ(log.substr(log.rfind("\r\n", log.size() - 3) + 2),
            std::string(kInstalling) + "\r\n");
  EXPECT_EQ(DriverOf(), "");
  EXPECT_EQ(machine.OpenFileHandles(), 0u);
  EXPECT_EQ(Run("setup.exe -S"), 0);
  EXPECT_EQ(DriverOf(), "oem0.inf");
  ExpectInOrder({"register C:\\WINDOWS\\Application Data\\Velmoran\\vesk1.inf: already present "
                 "as oem0.inf", kFresh});
}

// Windows 9x and NT 4.0 install on no device; 9x says so once a run.
TEST_F(DeviceTestBase, OldWindowsStageOnlyAndSaySoOnce) {
  machine.SetWin98();
  AddDevicePackage("vesk1");
  AddDevicePackage("vesk2");
  machine.AddDevice(kDevice, {kId});
  EXPECT_EQ(Run("setup.exe -S"), 0);
  std::string log = Log();
  const char said[] = "devices: this Windows installs no driver on devices for a setup";
  ASSERT_NE(log.find(said), std::string::npos) << log;
  EXPECT_EQ(log.find(said, log.find(said) + 1), std::string::npos) << log;
  EXPECT_TRUE(machine.LogOf("LoadLibraryExA").empty());
  EXPECT_EQ(machine.OemInfCalls().size(), 2u);
}

// ---------------------------------------------------------------- models sections

struct ModelsCase {
  const char* name;
  void (*windows)(CSimMachine&);
  const char* manufacturer;  // the [Manufacturer] line
  Strings ids;               // the hardware IDs read, in order
};

void PrintTo(const ModelsCase& c, std::ostream* out) { *out << c.name; }

class ModelsTest : public DeviceTestBase,
                   public ::testing::WithParamInterface<std::tuple<ModelsCase, bool>> {};

// Each section names its own ID; "Empty" names none, "Partial" a line with
// compatible IDs only.
TEST_P(ModelsTest, HardwareIdsOfTheSectionThisWindowsTakes) {
  const ModelsCase& c = std::get<0>(GetParam());
  bool fallback = std::get<1>(GetParam());
  c.windows(machine);
  if (fallback) machine.RemoveEntry("SetupDiGetActualModelsSectionA");
  std::string inf = std::string("[Version]\r\n[Manufacturer]\r\n") + c.manufacturer + "\r\n";
  for (const char* section :
       {"M", "M.NT", "M.NTx86", "M.NTamd64", "M.NTarm64", "M.NT.5", "M.NT.6", "M.NTx86.5.1",
        "M.NTamd64.10.0", "M.NTamd64.10.0...19041", "M.NTamd64.10.0.3", "M.NTx86.5.1.1",
        "M.NTx86.5.1..0x80"})
    inf += std::string("[") + section + "]\r\nD=I," + section + "\\ID\r\n";
  inf += "[M.NTx86.6.0]\r\n[Partial]\r\nD=I,,PCI\\CC_0C03\r\nD=I,P\\ID\r\n";
  machine.AddFile("C:\\setup\\v.inf", inf);
  ASSERT_EQ(Run("setup.exe -REMOVE -S"), 0);  // binds the setup API and reads the machine
  InfFacts facts;
  ASSERT_TRUE(ReadInfFacts("C:\\setup\\v.inf", true, &facts));
  Strings ids;
  for (const char* id = facts.hardwareIds.c_str(); *id; id += strlen(id) + 1) ids.push_back(id);
  EXPECT_EQ(ids, c.ids);
}

void Xp(CSimMachine&) {}
void X64(CSimMachine& m) {
  m.SetVersion(VER_PLATFORM_WIN32_NT, 10, 0, 19045);
  m.SetNativeMachine(IMAGE_FILE_MACHINE_AMD64);
  m.Run64BitProcess();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModelsTest,
    ::testing::Combine(
        ::testing::Values(
            ModelsCase{"XP takes its architecture's", Xp, "C=M,NTamd64,NTx86", {"M.NTx86\\ID"}},
            ModelsCase{"XP takes the plain one where none fits", Xp, "C=M,NTamd64",
                       {"M\\ID"}},
            ModelsCase{"the highest version not above this one", Xp, "C=M,NT.6,NT.5,NT",
                       {"M.NT.5\\ID"}},
            ModelsCase{"a version beats product and suite", Xp, "C=M,NTx86.5.1..0x80,NTx86.5.1",
                       {"M.NTx86.5.1\\ID"}},
            ModelsCase{"a workstation's product type", Xp, "C=M,NTx86.5.1.1,NTx86",
                       {"M.NTx86.5.1.1\\ID"}},
            ModelsCase{"an empty section excludes this Windows",
                       [](CSimMachine& m) { m.SetVersion(VER_PLATFORM_WIN32_NT, 6, 1, 7601); },
                       "C=M,NTx86.6.0,NTx86.5.1", {}},
            ModelsCase{"Windows 2000 knows no decorations",
                       [](CSimMachine& m) { m.SetWin2000(); }, "C=M,NTx86", {"M\\ID"}},
            ModelsCase{"x64 takes amd64", X64, "C=M,NTx86,NTamd64", {"M.NTamd64\\ID"}},
            ModelsCase{"x64 never the plain one", X64, "C=M,NTx86", {}},
            ModelsCase{"a server's product type is not a workstation's", X64,
                       "C=M,NTamd64.10.0.3,NTamd64", {"M.NTamd64\\ID"}},
            ModelsCase{"a build within its version", X64,
                       "C=M,NTamd64.10.0...19041,NTamd64.10.0", {"M.NTamd64.10.0...19041\\ID"}},
            ModelsCase{"a build too new for this Windows",
                       [](CSimMachine& m) {
                         X64(m);
                         m.SetVersion(VER_PLATFORM_WIN32_NT, 10, 0, 17763);
                       },
                       "C=M,NTamd64.10.0...19041,NTamd64.10.0", {"M.NTamd64.10.0\\ID"}},
            ModelsCase{"the 32-bit file under WOW64 reads the native machine's",
                       X64Wow64, "C=M,NTx86,NTamd64", {"M.NTamd64\\ID"}},
            ModelsCase{"ARM64",
                       [](CSimMachine& m) {
                         X64Wow64(m);
                         m.SetNativeMachine(IMAGE_FILE_MACHINE_ARM64);
                       },
                       "C=M,NTamd64,NTarm64", {"M.NTarm64\\ID"}},
            // A line with compatible IDs only is passed over, and logged.
            ModelsCase{"a model without a hardware ID", Xp, "C=Partial", {"P\\ID"}}),
        ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<ModelsCase, bool>>& info) {
      std::string name = std::string(std::get<0>(info.param).name) +
                         (std::get<1>(info.param) ? " by the documented rules" : "");
      for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

// ---------------------------------------------------------------- removal

struct RemovalCase {
  const char* name;
  void (*prepare)(CSimMachine&);  // after a first install
  const char* arguments;
  int code;
  Strings lines;
  Strings boxes;
  bool kept;  // the package and the setup's own copies stay
  const char* driver = "(gone)";
};

void PrintTo(const RemovalCase& c, std::ostream* out) { *out << c.name; }

class RemovalTest : public DeviceTestBase, public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(RemovalTest, PackageLeavesOrTheExitCodeSaysSo) {
  const RemovalCase& c = GetParam();
  AddDevicePackage("vesk1", "vesk1.cat");
  machine.AddDevice(kDevice, {kId});
  machine.AddDevice("USB\\VID_1D6B&PID_4001\\6&2", {kId}, false).driver = "oem0.inf";
  ASSERT_EQ(Run("setup.exe -S"), 0);
  ASSERT_EQ(DriverOf(), "oem0.inf");
  c.prepare(machine);
  EXPECT_EQ(Run(std::string("setup.exe ") + c.arguments), c.code);
  ExpectInOrder(c.lines);
  EXPECT_EQ(Boxes(), c.boxes);
  EXPECT_EQ(machine.FileExists("C:\\WINDOWS\\Inf\\oem0.inf"), c.kept);
  for (const char* copy : {"\\vesk1.inf", "\\vesk1.sys", "\\vesk1.cat"})
    EXPECT_EQ(machine.FileExists(kCompany + copy), c.kept) << copy;
  const auto* record = machine.KeyValues(kRecord);
  EXPECT_EQ(record && !record->empty(), c.kept);
  EXPECT_TRUE(machine.FileExists(kCompany + "\\setup.log"));
  EXPECT_EQ(DriverOf(), c.driver);
  EXPECT_EQ(machine.OpenDeviceLists(), 0u);
  EXPECT_EQ(machine.OpenKeyHandles(), 0u);
  EXPECT_EQ(machine.OpenFileHandles(), 0u);
}

const std::string kStore = "C:\\WINDOWS\\Inf\\oem0.inf";
const char kFail[] = "setup: Remove driver fail: vesk1.inf";
const char kKeeps[] = "setup: Remove driver fail: vesk1.inf\nThis Windows keeps driver packages in its store.";

INSTANTIATE_TEST_SUITE_P(
    Cases, RemovalTest,
    ::testing::Values(
        // XP: off each device that uses it, present or not, then out of the store.
        RemovalCase{"XP", [](CSimMachine&) {}, "-REMOVE", 0,
                    {"remove vesk1.inf: in the driver store as oem0.inf",
                     "uninstalling driver " + kStore,
                     std::string("removing device ") + kDevice + ", which uses oem0.inf",
                     std::string("removing device ") + kDevice + ": ok",
                     "removing device USB\\VID_1D6B&PID_4001\\6&2: ok",
                     "removing oem0.inf from the driver store", 
                     "removing oem0.inf from the driver store: ok",
                     "forget vesk1.inf: ok",
                     Result(0, "1 found, 0 registered, 0 already present, 0 failed; services: 0 "
                               "installed, 0 removed, 0 failed; devices: 0 updated, 0 failed; "
                               "removal: 1 removed, 0 kept")},
                    {kRemoved}, false},
        // 10 1703 on: each device moves to the driver it had, or none.
        RemovalCase{"Windows 10", [](CSimMachine& m) { m.SetWin10(); }, "-REMOVE -S", 0,
                    {"uninstalling driver " + kStore + ": ok"}, {}, false, ""},
        RemovalCase{"a restart",
                    [](CSimMachine& m) {
                      m.SetWin10();
                      const_cast<CSimMachine::Device&>(*m.FindDevice(kDevice)).needsRestart = true;
                    },
                    "-REMOVE", 3010, {"result: exit code 3010;"},
                    {kRemoved, "setup: Restart Windows to finish removing the drivers."}, false,
                    ""},
        RemovalCase{"a restart on XP",
                    [](CSimMachine& m) {
                      const_cast<CSimMachine::Device&>(*m.FindDevice(kDevice)).needsRestart = true;
                    },
                    "-REMOVE -S", 3010, {"result: exit code 3010;"}, {}, false},
        RemovalCase{"found without a record",
                    [](CSimMachine& m) {
                      HKEY key;
                      m.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecord.c_str(), 0, KEY_SET_VALUE, &key);
                      m.RegDeleteValueA(key, "vesk1.inf");
                      m.RegCloseKey(key);
                    },
                    "-REMOVE -S", 0,
                    {"remove vesk1.inf: in the driver store as oem0.inf"}, {}, false},
        RemovalCase{"the store refuses",
                    [](CSimMachine& m) { m.RefuseUninstall(ERROR_ACCESS_DENIED); }, "-REMOVE",
                    1603,
                    {"removing oem0.inf from the driver store: error 5 (0x00000005) Access is "
                     "denied.",
                     "remove vesk1.inf: oem0.inf is still in the driver store",
                     "removal: 0 removed, 1 kept"},
                    {kFail}, true, "(gone)"},
        // Neither has SetupUninstallOEMInf: the store copy and ours stay.
        RemovalCase{"Windows 2000", [](CSimMachine& m) { m.SetWin2000(); }, "-REMOVE", 1603,
                    {"remove vesk1.inf: this Windows cannot take a package out of its driver "
                     "store; oem0.inf stays"},
                    {kKeeps}, true, "oem0.inf"},
        RemovalCase{"Windows 98", [](CSimMachine& m) { m.SetWin98(); }, "-REMOVE -S", 1603, {}, {},
                    true, "oem0.inf"},
        RemovalCase{"under WOW64",
                    X64Wow64, "-REMOVE -S", 1603,
                    {"uninstalling driver " + kStore +
                     ": error 3758096949 (0xE0000235)"},
                    {}, true, "oem0.inf"},
        // What the store holds is not known: no success.
        RemovalCase{"the INF cannot be read",
                    [](CSimMachine& m) {
                      m.RemovePath("C:\\setup\\vesk1.inf");
                      m.AddFolder("C:\\setup\\vesk1.inf");
                    },
                    "-REMOVE", 1603,
                    {"remove vesk1.inf: read it: error", "removal: 0 removed, 1 kept"}, {kFail},
                    true, "oem0.inf"},
        RemovalCase{"-UNINSTALL does nothing here", [](CSimMachine&) {}, "-UNINSTALL", 1, {}, {},
                    true, "oem0.inf"}),
    CaseName());

// Which package in the store is ours: the record where it still holds our
// bytes, else the INF with our bytes and not another catalog.
TEST_F(DeviceTestBase, RemovalTakesOnlyItsOwnPackage) {
  AddDevicePackage("vesk1", "vesk1.cat");
  ASSERT_EQ(Run("setup.exe -S"), 0);
  ASSERT_TRUE(machine.FileExists("C:\\WINDOWS\\Inf\\oem0.inf"));
  // Another vendor's package took a name the record still gives.
  machine.AddFile("C:\\WINDOWS\\Inf\\oem7.inf", "another vendor's");
  HKEY key;
  ASSERT_EQ(machine.RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRecord.c_str(), 0, nullptr, 0,
                                    KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  machine.RegSetValueExA(key, "vesk1.inf", 0, REG_SZ, reinterpret_cast<const BYTE*>("oem7.inf"), 9);
  machine.RegCloseKey(key);
  // The same INF with another catalog is another package; listed first.
  machine.SortEnumeration();
  machine.AddFile("C:\\WINDOWS\\Inf\\avesk1.inf", machine.FileContent("C:\\setup\\vesk1.inf"));
  machine.AddFile(machine.StoreCatalog("avesk1.inf"), "another catalog");
  EXPECT_EQ(Run("setup.exe -REMOVE -S"), 0);
  EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\Inf\\oem7.inf"));
  EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\Inf\\avesk1.inf"));
  EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\Inf\\oem0.inf"));
  EXPECT_FALSE(machine.FileExists(machine.StoreCatalog("oem0.inf")));
  // Then nothing of ours is left: a package never staged is no failure.
  EXPECT_EQ(Run("setup.exe -REMOVE"), 0);
  EXPECT_TRUE(Boxes().empty());
  ExpectInOrder({"remove vesk1.inf: not in the driver store"});
  EXPECT_FALSE(machine.KeyExists("Software\\Velmoran\\Vesk"));
  EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\Inf\\avesk1.inf"));
  // A recorded name that is a path leads out of the store: never taken.
  ASSERT_EQ(Run("setup.exe -S"), 0);
  ASSERT_EQ(machine.RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRecord.c_str(), 0, nullptr, 0,
                                    KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char outside[] = "..\\..\\setup\\vesk1.inf";
  machine.RegSetValueExA(key, "vesk1.inf", 0, REG_SZ, reinterpret_cast<const BYTE*>(outside),
                         sizeof(outside));
  machine.RegCloseKey(key);
  EXPECT_EQ(Run("setup.exe -REMOVE -S"), 0);
  ExpectInOrder({"remove vesk1.inf: in the driver store as oem"});
}

// A name planted before the folder was sealed may be a second name of a
// file of the system: taking the setup's copy away takes that name alone and
// changes nothing of the file behind it.
TEST_F(DeviceTestBase, RemovalChangesNothingBehindAPlantedName) {
  const std::string hal = "C:\\WINDOWS\\System32\\hal.dll";
  AddDevicePackage("vesk1");
  machine.AddFile(hal, "the hardware layer");
  machine.SetAttributes(hal, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
  machine.AddHardLink(hal, kCompany + "\\vesk1.sys");
  EXPECT_EQ(Run("setup.exe -REMOVE -S"), 0);
  EXPECT_EQ(machine.Attributes(hal), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(machine.FileContent(hal), "the hardware layer");
}

// ---------------------------------------------------------------- Programs and Features

const std::string kEntryKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VeskUsbDrivers";
const std::string kRemover = kCompany + "\\vesk-setup.exe";

// The entry's values as text: strings without their terminator, numbers in decimal.
std::map<std::string, std::string> EntryOf(const CSimMachine& m, const std::string& key) {
  std::map<std::string, std::string> entry;
  const auto* values = m.KeyValues(key);
  for (const auto& value : values ? *values : std::vector<CSimMachine::RegValue>()) {
    if (value.type == REG_DWORD) {
      DWORD number;
      memcpy(&number, value.data.data(), sizeof(number));
      entry[value.name] = "#" + std::to_string(number);
    } else {
      entry[value.name] = value.data.substr(0, value.data.find('\0'));
    }
  }
  return entry;
}

struct EntryCase {
  const char* name;
  void (*windows)(CSimMachine&);
  const char* removeSwitch;  // null: no entry and no copy
  const char* version;       // DisplayVersion
};

void PrintTo(const EntryCase& c, std::ostream* out) { *out << c.name; }

class EntryTest : public DeviceTestBase, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(EntryTest, InstallLeavesACopyAndAnEntryToRemoveWith) {
  const EntryCase& c = GetParam();
  c.windows(machine);
  AddDevicePackage("vesk1");
  machine.AddFile("C:\\setup\\windrvr.sys", "driver");
  machine.AddFile("C:\\setup\\wdusbd.sys", "driver");
  int code = Run("setup.exe -S");
  EXPECT_EQ(code, g_osVersion.IsNt4() ? 1 : 0);
  std::map<std::string, std::string> entry = EntryOf(machine, kEntryKey);
  if (!c.removeSwitch) {
    EXPECT_TRUE(entry.empty());
    EXPECT_FALSE(machine.FileExists(kRemover));
    return;
  }
  EXPECT_EQ(machine.FileContent(kRemover), machine.FileContent("C:\\setup\\setup.exe"));
  std::map<std::string, std::string> expected = {
      {"DisplayName", "Vesk USB drivers"},
      {"DisplayVersion", c.version},
      {"Publisher", "Velmoran"},
      {"InstallDate", "20261209"},
      {"InstallLocation", kCompany},
      {"DisplayIcon", kRemover},
      {"UninstallString", "\"" + kRemover + "\" " + c.removeSwitch},
      {"QuietUninstallString", "\"" + kRemover + "\" " + c.removeSwitch + " -S"},
      {"NoModify", "#1"},
      {"NoRepair", "#1"},
      {"EstimatedSize", "#1"}};
  EXPECT_EQ(entry, expected);
  // A second run, from a newer disk, brings it up to date: the newest of
  // its packages (1.10 is newer than 1.2, which sorts after it as text).
  AddDevicePackage("vesk2");
  machine.AddFile("C:\\setup\\vesk1.inf",
                  machine.FileContent("C:\\setup\\vesk1.inf").replace(
                      machine.FileContent("C:\\setup\\vesk1.inf").find("1.2.3.4"), 7, "1.10.0.0"));
  SYSTEMTIME later = {2027, 1, 5, 8, 9, 0, 0, 0};
  machine.SetLocalTime(later);
  Run("setup.exe -S");
  entry = EntryOf(machine, kEntryKey);
  EXPECT_EQ(entry["InstallDate"], "20270108");
  EXPECT_EQ(entry["DisplayVersion"], std::string(c.version) == "1.2.3.4" ? "1.10.0.0" : c.version);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EntryTest,
    ::testing::Values(
        EntryCase{"XP", [](CSimMachine&) {}, "-REMOVE", "1.2.3.4"},
        EntryCase{"Windows 10", [](CSimMachine& m) { m.SetWin10(); }, "-REMOVE", "1.2.3.4"},
        // A 32-bit file that could not hand over writes to the native view.
        EntryCase{"the 32-bit file under WOW64", X64Wow64, "-REMOVE", "1.2.3.4"},
        EntryCase{"NT 4.0", [](CSimMachine& m) { m.SetNt4(); }, "-UNINSTALL", "1.0.0.0"},
        // Removal cannot take the package out of their stores.
        EntryCase{"Windows 2000", [](CSimMachine& m) { m.SetWin2000(); }, nullptr, ""},
        EntryCase{"Windows 98", [](CSimMachine& m) { m.SetWin98(); }, nullptr, ""}),
    CaseName());

// Where the entry cannot be written or the company folder failed its check,
// the log says so and nothing else changes.
TEST_F(DeviceTestBase, NoEntryIsNoFailure) {
  AddDevicePackage("vesk1");
  machine.FailRegistryWrite("UninstallString");
  EXPECT_EQ(Run("setup.exe"), 0);
  EXPECT_EQ(Boxes(), Strings{kInstalled});
  ExpectInOrder({"entry in Programs and Features: HKLM\\" + kEntryKey + ": error 5 (0x00000005)"});
  // No half entry: a name in the list whose button starts nothing.
  EXPECT_FALSE(machine.KeyExists(kEntryKey));
  // A copy that cannot be made (a folder planted under its new name before
  // the folder was sealed) leaves the name to nothing, or to a file another
  // account planted and can still change: no entry starts either.
  machine.AddFolder(kRemover + ".new");
  machine.AddFile(kRemover, "planted");
  machine.SetSecurity(kRemover, CSimMachine::Sid({21, 1, 2, 3, 1003}), "", false);
  for (int planted = 1; planted >= 0; --planted) {
    if (!planted) machine.RemovePath(kRemover);
    EXPECT_EQ(Run("setup.exe -S"), 0);
    EXPECT_FALSE(machine.KeyExists(kEntryKey)) << planted;
    ExpectInOrder({"no entry in Programs and Features: " + kRemover + " is not this program's copy"});
  }
  // A copy of ours that runs stays, and the entry that starts it is written.
  machine.RemovePath(kRemover + ".new");
  Run("setup.exe -S");
  machine.LockFile(kRemover);
  Run("setup.exe -S");
  ExpectInOrder({kRemover + " was left as it is",
                 "entry in Programs and Features: HKLM\\" + kEntryKey + ": error 5"});

  CSimMachine nt4;
  nt4.Activate();
  nt4.SetNt4();
  nt4.AddFile("C:\\setup\\windrvr.sys", "driver");
  nt4.AddFile("C:\\setup\\wdusbd.sys", "driver");
  nt4.AddFolder(kCompany);
  nt4.SetSecurity(kCompany, CSimMachine::Sid({21, 1, 2, 3, 1003}), "", false);
  nt4.OpenElsewhere(kCompany, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
  EXPECT_EQ(Run("setup.exe -S"), 1);
  EXPECT_FALSE(nt4.FileExists(kRemover));
  EXPECT_FALSE(nt4.KeyExists(kEntryKey));
  EXPECT_NE(nt4.FileContent(kCompany + "\\setup.log")
                .find("no entry in Programs and Features: the company folder did not pass its "
                      "check"),
            std::string::npos);
  machine.Activate();
}

// Removed from the list: the copy runs from the company folder on the
// copies beside it; with every package gone the entry, the copies and the
// copy itself (renamed, at the restart) go, and the log stays. An install
// before the restart keeps its own new copy.
TEST_F(DeviceTestBase, RemovalFromTheCopy) {
  AddDevicePackage("vesk1", "vesk1.cat");
  machine.AddDevice(kDevice, {kId});
  ASSERT_EQ(Run("setup.exe -S"), 0);
  std::string quiet = EntryOf(machine, kEntryKey)["QuietUninstallString"];
  // Kept where a package stays in the store.
  machine.SetProgramPath(kRemover);
  machine.RefuseUninstall(ERROR_ACCESS_DENIED);
  EXPECT_EQ(Run(quiet), 1603);
  EXPECT_TRUE(machine.KeyExists(kEntryKey));
  EXPECT_TRUE(machine.FileExists(kRemover));
  machine.RefuseUninstall(0);
  // Killed as it forgets the package: the next removal finishes the work.
  machine.KillAt("RegDeleteValueA");
  EXPECT_EQ(Run(quiet), kKilled);
  // A package of ours that another disk staged keeps the entry and the copy.
  HKEY key;
  machine.RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRecord.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                          nullptr, &key, nullptr);
  machine.RegSetValueExA(key, "vesk9.inf", 0, REG_SZ, reinterpret_cast<const BYTE*>("oem7.inf"), 9);
  machine.RegCloseKey(key);
  EXPECT_EQ(Run(quiet), 0);
  EXPECT_TRUE(machine.KeyExists(kEntryKey));
  EXPECT_TRUE(machine.FileExists(kRemover));
  machine.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecord.c_str(), 0, KEY_SET_VALUE, &key);
  ASSERT_EQ(machine.RegDeleteValueA(key, "vesk9.inf"), ERROR_SUCCESS);
  machine.RegCloseKey(key);
  // An entry that cannot be deleted (a key under it) keeps its copy.
  machine.RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kEntryKey + "\\Extra").c_str(), 0, nullptr, 0,
                          KEY_SET_VALUE, nullptr, &key, nullptr);
  machine.RegCloseKey(key);
  EXPECT_EQ(Run(quiet), 0);
  EXPECT_TRUE(machine.FileExists(kRemover));
  EXPECT_TRUE(machine.DeletesAtRestart().empty());
  machine.RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kEntryKey + "\\Extra").c_str());
  EXPECT_EQ(Run(quiet), 0);
  EXPECT_EQ(machine.LogOf("SetupUninstallOEMInfA").back(), "SetupUninstallOEMInfA(\"oem0.inf\", 0)");
  EXPECT_FALSE(machine.KeyExists(kEntryKey));
  const std::string aside = kRemover + ".removed-20261209-102030";
  EXPECT_EQ(machine.DeletesAtRestart(), Strings{aside});
  Strings left;
  for (const std::string& file : machine.FilesBelow(kCompany)) left.push_back(file);
  EXPECT_EQ(left, (Strings{kCompany + "\\setup.log", aside}));
  // Installed again before the restart, from the disk.
  machine.SetProgramPath("C:\\setup\\setup.exe");
  ASSERT_EQ(Run("setup.exe -S"), 0);
  machine.Restart();
  EXPECT_TRUE(machine.FileExists(kRemover));
  EXPECT_FALSE(machine.FileExists(aside));
  EXPECT_TRUE(machine.KeyExists(kEntryKey));
}

}  // namespace
