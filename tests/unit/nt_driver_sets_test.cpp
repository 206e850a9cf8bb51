// Windows NT 4.0: installing and removing the kernel-driver sets.
#include <gtest/gtest.h>

#include "sim_process.h"

namespace {

using Strings = std::vector<std::string>;
const std::string kDrivers = "C:\\WINDOWS\\System32\\Drivers\\";

class NtDriverSetsTest : public SimProcessTest {
 protected:
  void SetUp() override {
    SimProcessTest::SetUp();
    machine.SetNt4();
    machine.SetWindowsDir("C:\\WINNT");
    for (const char* name : {"windrvr", "wdusbd", "tolv"})
      machine.AddFile(std::string("C:\\setup\\") + name + ".sys", std::string("driver ") + name);
  }
  void TearDown() override { EXPECT_EQ(machine.OpenServiceHandles(), 0u) << "handle leaked"; }

  void ExpectAutoStartKernelDriver(const char* name, const char* base) {
    const CSimMachine::Service* service = machine.FindService(name);
    ASSERT_NE(service, nullptr) << name;
    EXPECT_EQ(service->name, name);
    EXPECT_EQ(service->displayName, name);
    EXPECT_EQ(service->type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(service->startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(service->errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(service->binaryPath,
              std::string("\\SystemRoot\\System32\\drivers\\") + base + ".SYS");
  }
};

const char kWinnt[] = "C:\\WINNT\\System32\\Drivers\\";

TEST_F(NtDriverSetsTest, FreshInstallOnOneProcessor) {
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(machine.FileContent(std::string(kWinnt) + "windrvr.sys"), "driver windrvr");
  EXPECT_EQ(machine.FileContent(std::string(kWinnt) + "wdusbd.sys"), "driver wdusbd");
  EXPECT_FALSE(machine.FileExists(std::string(kWinnt) + "tolv.sys"));
  ExpectAutoStartKernelDriver("WinDriver", "windrvr");
  ExpectAutoStartKernelDriver("Wdusbd", "wdusbd");
  EXPECT_EQ(machine.FindService("WinDriver")->state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(machine.FindService("Wdusbd")->state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Copies(),
            (Strings{"CopyFileA(\"windrvr.sys\", \"C:\\WINNT\\System32\\Drivers\\windrvr.sys\", 0)",
                     "CopyFileA(\"wdusbd.sys\", \"C:\\WINNT\\System32\\Drivers\\wdusbd.sys\", 0)"}));
  EXPECT_TRUE(machine.MessageBoxes().empty());
  EXPECT_EQ(machine.FindService("TOLV"), nullptr);
}

TEST_F(NtDriverSetsTest, FreshInstallOnSeveralProcessors) {
  machine.SetProcessors(4);
  EXPECT_EQ(Run(), 1);
  ExpectAutoStartKernelDriver("TOLV", "tolv");
  EXPECT_EQ(machine.FileContent(std::string(kWinnt) + "tolv.sys"), "driver tolv");
  EXPECT_EQ(machine.FindService("WinDriver"), nullptr);
  EXPECT_EQ(Copies().size(), 1u);
}

TEST_F(NtDriverSetsTest, InstalledAndStoppedServicesAreOnlyStarted) {
  machine.AddService("WinDriver", SERVICE_STOPPED);
  machine.AddService("Wdusbd", SERVICE_STOPPED);
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(Copies().empty());
  EXPECT_TRUE(machine.LogOf("CreateServiceA").empty());
  EXPECT_EQ(machine.LogOf("StartServiceA").size(), 2u);
  EXPECT_EQ(machine.FindService("Wdusbd")->state, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(NtDriverSetsTest, RunningServicesAreLeftAlone) {
  machine.AddService("WinDriver", SERVICE_RUNNING);
  machine.AddService("Wdusbd", SERVICE_RUNNING);
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(machine.LogOf("StartServiceA").empty());
  EXPECT_TRUE(Copies().empty());
  EXPECT_TRUE(machine.MessageBoxes().empty());
}

TEST_F(NtDriverSetsTest, MissingDriverFileStopsTheInstall) {
  machine.RemovePath("C:\\setup\\windrvr.sys");
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(Boxes(), Strings{"setup fail: Copy file fail: windrvr.sys"});
  EXPECT_TRUE(machine.LogOf("CreateServiceA").empty());
  EXPECT_FALSE(machine.FileExists(std::string(kWinnt) + "wdusbd.sys"));
}

TEST_F(NtDriverSetsTest, MissingDriverFileIsNeverLookedAtWhenRegistered) {
  machine.RemovePath("C:\\setup\\windrvr.sys");
  machine.AddService("WinDriver", SERVICE_RUNNING);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Copies().size(), 1u);  // wdusbd.sys only
  ExpectAutoStartKernelDriver("Wdusbd", "wdusbd");
}

TEST_F(NtDriverSetsTest, SecondDriverFailingKeepsTheFirst) {
  machine.AddService("Wdusbd").denyFullAccess = true;  // exists, but not ours to open
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(Boxes(), Strings{"setup: Setup fail: "});
  EXPECT_EQ(machine.FindService("WinDriver")->state, static_cast<DWORD>(SERVICE_RUNNING));
  // The file copied for the failed entry stays.
  EXPECT_TRUE(machine.FileExists(std::string(kWinnt) + "wdusbd.sys"));
}

TEST_F(NtDriverSetsTest, DriverThatDoesNotStartDoesNotFailTheInstall) {
  machine.AddService("WinDriver", SERVICE_STOPPED).startError = ERROR_DLL_INIT_FAILED;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(machine.FindService("Wdusbd")->state, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(NtDriverSetsTest, ClosedManagerCopiesThenFailsTheInstall) {
  machine.RefuseServiceManager();
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(Boxes(), Strings{"setup: Setup fail: Cannot open service control manager\n"});
  EXPECT_TRUE(machine.FileExists(std::string(kWinnt) + "windrvr.sys"));
  EXPECT_FALSE(machine.FileExists(std::string(kWinnt) + "wdusbd.sys"));
}

TEST_F(NtDriverSetsTest, ClosedManagerFailsTheRemoveAtOnce) {
  machine.RefuseServiceManager();
  machine.AddFile(std::string(kWinnt) + "windrvr.sys");
  EXPECT_EQ(Run("setup.exe -UNINSTALL"), -1);
  EXPECT_EQ(Boxes(), Strings{"setup: Setup fail: Cannot open service control manager\n"});
  EXPECT_TRUE(machine.LogOf("DeleteFileA").empty());
}

// Files from a CD are read-only, and CopyFileA passes that on: the installed
// files must not keep it, and a read-only file left in the way is replaced.
TEST_F(NtDriverSetsTest, ReadOnlyFilesAreInstalledWritableReplacedAndRemoved) {
  for (const char* name : {"windrvr", "wdusbd"})
    machine.SetAttributes(std::string("C:\\setup\\") + name + ".sys", FILE_ATTRIBUTE_READONLY);
  machine.AddFile(std::string(kWinnt) + "wdusbd.sys", "older");
  machine.SetAttributes(std::string(kWinnt) + "wdusbd.sys", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Run(), 1);
  for (const char* name : {"windrvr", "wdusbd"}) {
    EXPECT_EQ(machine.FileContent(std::string(kWinnt) + name + ".sys"), std::string("driver ") + name);
    EXPECT_EQ(machine.Attributes(std::string(kWinnt) + name + ".sys") & FILE_ATTRIBUTE_READONLY, 0u);
  }
  EXPECT_TRUE(machine.MessageBoxes().empty());
  machine.SetAttributes(std::string(kWinnt) + "windrvr.sys", FILE_ATTRIBUTE_READONLY);
  for (auto& name : {"WinDriver", "Wdusbd"}) machine.FindService(name)->state = SERVICE_STOPPED;
  EXPECT_EQ(Run("setup.exe -uninstall"), 1);
  EXPECT_FALSE(machine.FileExists(std::string(kWinnt) + "windrvr.sys"));
}

// Removed while the drivers run, the services stay marked for deletion until
// Windows restarts; an install then would report drivers that are about to go.
TEST_F(NtDriverSetsTest, InstallRightAfterARemoveOfRunningDriversAsksForARestart) {
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Run("setup.exe -UNINSTALL"), 1);
  ASSERT_NE(machine.FindService("WinDriver"), nullptr);
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(Boxes(), Strings{"setup: Setup fail: WinDriver is being removed: restart Windows, "
                             "then run setup again\n"});
  EXPECT_TRUE(Copies().size() == 2u);  // only the first install's
  machine.Restart();
  EXPECT_EQ(machine.FindService("WinDriver"), nullptr);
  EXPECT_EQ(Run(), 1);
  ExpectAutoStartKernelDriver("WinDriver", "windrvr");
  ExpectAutoStartKernelDriver("Wdusbd", "wdusbd");
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(NtDriverSetsTest, RemoveDeletesServicesAndFiles) {
  EXPECT_EQ(Run(), 1);
  for (auto& name : {"WinDriver", "Wdusbd"}) machine.FindService(name)->state = SERVICE_STOPPED;
  EXPECT_EQ(Run("setup.exe -uninstall"), 1);
  EXPECT_EQ(machine.FindService("WinDriver"), nullptr);
  EXPECT_EQ(machine.FindService("Wdusbd"), nullptr);
  EXPECT_FALSE(machine.FileExists(std::string(kWinnt) + "windrvr.sys"));
  EXPECT_FALSE(machine.FileExists(std::string(kWinnt) + "wdusbd.sys"));
  EXPECT_TRUE(machine.MessageBoxes().empty());
}

TEST_F(NtDriverSetsTest, RemoveOfRunningServicesMarksThemAndKeepsLoadedFiles) {
  EXPECT_EQ(Run(), 1);
  machine.LockFile(std::string(kWinnt) + "windrvr.sys");  // the driver is loaded
  machine.SetAttributes(std::string(kWinnt) + "windrvr.sys", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Run("setup.exe -UNINSTALL"), 1);
  EXPECT_TRUE(machine.LogOf("ControlService").empty());  // not stopped first
  EXPECT_TRUE(machine.FileExists(std::string(kWinnt) + "windrvr.sys"));
  // The file that stays keeps its attributes.
  EXPECT_EQ(machine.Attributes(std::string(kWinnt) + "windrvr.sys"),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(machine.FileExists(std::string(kWinnt) + "wdusbd.sys"));
  EXPECT_TRUE(machine.MessageBoxes().empty());
}

TEST_F(NtDriverSetsTest, RemoveWithTheFirstServiceAbsentLeavesTheSecond) {
  machine.AddService("Wdusbd");
  EXPECT_EQ(Run("setup.exe -UNINSTALL"), -1);
  EXPECT_EQ(Boxes(), Strings{"setup: Setup fail: "});
  EXPECT_NE(machine.FindService("Wdusbd"), nullptr);
  EXPECT_FALSE(machine.FindService("Wdusbd")->markedForDelete);
}

TEST_F(NtDriverSetsTest, RemoveOnSeveralProcessors) {
  machine.SetProcessors(2);
  machine.AddService("TOLV");
  machine.AddService("WinDriver");
  EXPECT_EQ(Run("setup.exe -UNINSTALL"), 1);
  EXPECT_EQ(machine.FindService("TOLV"), nullptr);
  EXPECT_NE(machine.FindService("WinDriver"), nullptr);
}

TEST_F(NtDriverSetsTest, SilentRunsShowNothingButEndTheSame) {
  machine.RemovePath("C:\\setup\\windrvr.sys");
  EXPECT_EQ(Run("setup.exe -S"), -1);
  EXPECT_EQ(Run("setup.exe -S -UNINSTALL"), -1);
  machine.SetProgramPath("C:\\setup\\ssetup.exe");
  EXPECT_EQ(Run("ssetup.exe"), -1);
  EXPECT_TRUE(machine.MessageBoxes().empty());
}

// Each entry's object lives until the procedure returns: the second manager
// opens while the first is open, and they close in reverse order.
TEST_F(NtDriverSetsTest, ServiceObjectsCloseTheirManagersInReverseOrder) {
  for (const char* route : {"setup.exe", "setup.exe -UNINSTALL"}) {
    CSimMachine fresh;
    fresh.Activate();
    fresh.SetNt4();
    for (const char* name : {"windrvr", "wdusbd"}) fresh.AddFile(std::string("C:\\setup\\") + name + ".sys");
    if (std::string(route).find("UNINSTALL") != std::string::npos)
      for (const char* name : {"WinDriver", "Wdusbd"}) fresh.AddService(name);
    EXPECT_EQ(Run(route), 1);
    Strings managers;
    for (const std::string& call : fresh.Log())
      if (call.rfind("OpenSCManagerA", 0) == 0 || call.rfind("CloseServiceHandle(manager", 0) == 0)
        managers.push_back(call.rfind("Open", 0) == 0 ? "open" : call);
    EXPECT_EQ(managers, (Strings{"open", "open", "CloseServiceHandle(manager 2)",
                                 "CloseServiceHandle(manager 1)"}))
        << route;
    EXPECT_EQ(fresh.OpenServiceHandles(), 0u);
  }
  machine.Activate();
}

}  // namespace
