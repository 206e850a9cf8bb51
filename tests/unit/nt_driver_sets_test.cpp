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
  EXPECT_EQ(machine.LogOf("CopyFileA"),
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
  EXPECT_EQ(machine.LogOf("CopyFileA").size(), 1u);
}

TEST_F(NtDriverSetsTest, InstalledAndStoppedServicesAreOnlyStarted) {
  machine.AddService("WinDriver", SERVICE_STOPPED);
  machine.AddService("Wdusbd", SERVICE_STOPPED);
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(machine.LogOf("CopyFileA").empty());
  EXPECT_TRUE(machine.LogOf("CreateServiceA").empty());
  EXPECT_EQ(machine.LogOf("StartServiceA").size(), 2u);
  EXPECT_EQ(machine.FindService("Wdusbd")->state, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(NtDriverSetsTest, RunningServicesAreLeftAlone) {
  machine.AddService("WinDriver", SERVICE_RUNNING);
  machine.AddService("Wdusbd", SERVICE_RUNNING);
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(machine.LogOf("StartServiceA").empty());
  EXPECT_TRUE(machine.LogOf("CopyFileA").empty());
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
  EXPECT_EQ(machine.LogOf("CopyFileA").size(), 1u);  // wdusbd.sys only
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
  EXPECT_EQ(Run("setup.exe -UNINSTALL"), 1);
  EXPECT_TRUE(machine.LogOf("ControlService").empty());  // not stopped first
  EXPECT_TRUE(machine.FileExists(std::string(kWinnt) + "windrvr.sys"));
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

TEST_F(NtDriverSetsTest, ServiceObjectsCloseTheirManagersInReverseOrder) {
  EXPECT_EQ(Run(), 1);
  Strings calls;
  for (const std::string& call : machine.Log())
    if (call.rfind("OpenSCManagerA", 0) == 0 || call.rfind("CloseServiceHandle", 0) == 0 ||
        call.rfind("CreateServiceA", 0) == 0)
      calls.push_back(call.substr(0, call.find('(')));
  // Manager 1, (open/close service...), manager 2, ..., then both managers closed.
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls.front(), "OpenSCManagerA");
  EXPECT_EQ(machine.LogOf("OpenSCManagerA").size(), 2u);
  EXPECT_EQ(calls[calls.size() - 1], "CloseServiceHandle");
  EXPECT_EQ(calls[calls.size() - 2], "CloseServiceHandle");
}

}  // namespace
