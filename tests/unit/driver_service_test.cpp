// Driver-service objects over the simulated service manager and registry.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "platform/sim/sim_machine.h"
#include "service/nt_driver_service.h"

namespace {

const char kKey[] = "System\\CurrentControlSet\\Services\\WinDriver";

class DriverServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { machine.Activate(); }
  void TearDown() override {
    EXPECT_EQ(machine.OpenServiceHandles(), 0u) << "a service handle was left open";
    EXPECT_EQ(machine.OpenKeyHandles(), 0u) << "a registry key was left open";
  }
  static void ConfigureWinDriver(CNtDriverService& service, bool registryMode = false) {
    ASSERT_TRUE(service.Configure("WinDriver", "windrvr", SERVICE_AUTO_START, nullptr,
                                  registryMode));
  }
  CSimMachine machine;
};

TEST_F(DriverServiceTest, InstallCreatesAnAutoStartKernelDriver) {
  {
    CNtDriverService service;
    ConfigureWinDriver(service);
    EXPECT_FALSE(service.IsInstalled());
    EXPECT_TRUE(service.Install());
    EXPECT_TRUE(service.IsInstalled());
    EXPECT_FALSE(service.HasMessage());
  }
  EXPECT_EQ(machine.LogOf("OpenSCManagerA"),
            std::vector<std::string>{"OpenSCManagerA(null, null, 983103)"});
  EXPECT_EQ(machine.LogOf("CreateServiceA"),
            std::vector<std::string>{
                "CreateServiceA(\"WinDriver\", \"WinDriver\", 983551, 1, 2, 1, "
                "\"\\SystemRoot\\System32\\drivers\\windrvr.SYS\", null, null, null, null, "
                "null)"});
}

TEST_F(DriverServiceTest, ConfigureWithoutManagerChangesNothing) {
  machine.RefuseServiceManager();
  CNtDriverService service;
  EXPECT_FALSE(service.Configure("WinDriver", "windrvr", SERVICE_AUTO_START, nullptr, true));
  EXPECT_STREQ(service.GetMessageText(), "Cannot open service control manager\n");
  EXPECT_TRUE(service.HasError());
  // Registry mode stayed off, so Install goes to the (closed) manager.
  EXPECT_FALSE(service.Install());
  EXPECT_FALSE(service.Remove());
  EXPECT_FALSE(service.Start());
  EXPECT_FALSE(service.Stop());
  EXPECT_FALSE(service.IsInstalled());
  SERVICE_STATUS status;
  EXPECT_FALSE(service.QueryStatus(&status));
  EXPECT_TRUE(machine.LogOf("RegCreateKeyExA").empty());
  EXPECT_TRUE(machine.LogOf("CreateServiceA").empty());
  EXPECT_STREQ(service.GetMessageText(), "Cannot open service control manager\n");
}

TEST_F(DriverServiceTest, ImagePathDefaultsOnlyWhenNull) {
  CNtDriverService service;
  ASSERT_TRUE(service.Configure("S", "WinDrvR", SERVICE_AUTO_START, "", false));
  service.Install();
  EXPECT_NE(machine.FindService("S"), nullptr);
  EXPECT_EQ(machine.FindService("S")->binaryPath, "");
  CNtDriverService other;
  ASSERT_TRUE(other.Configure("T", "WinDrvR", SERVICE_AUTO_START, nullptr, false));
  other.Install();
  EXPECT_EQ(machine.FindService("T")->binaryPath, "\\SystemRoot\\System32\\drivers\\WinDrvR.SYS");
}

TEST_F(DriverServiceTest, MessagesAreAppendedWithoutSeparators) {
  CNtDriverService service;
  service.AddError("one\n");
  service.AddError("two\n");
  EXPECT_STREQ(service.GetMessageText(), "one\ntwo\n");
  EXPECT_TRUE(service.HasError());
  EXPECT_FALSE(service.HasWarning());
  service.ClearMessages();
  service.AddWarning("w\n");
  EXPECT_TRUE(service.HasWarning());
  EXPECT_FALSE(service.HasError());
  EXPECT_TRUE(service.HasMessage());
}

TEST_F(DriverServiceTest, InstallOfAnExistingServiceFailsWithoutText) {
  machine.AddService("WinDriver");
  CNtDriverService service;
  ConfigureWinDriver(service);
  EXPECT_FALSE(service.Install());
  EXPECT_FALSE(service.HasMessage());
}

TEST_F(DriverServiceTest, RemoveMarksForDeletionAndToleratesAnEarlierMark) {
  machine.AddService("WinDriver", SERVICE_RUNNING);
  SC_HANDLE manager = machine.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE held = machine.OpenServiceA(manager, "WinDriver", SERVICE_ALL_ACCESS);
  {
    CNtDriverService service;
    ConfigureWinDriver(service);
    EXPECT_FALSE(service.IsMarkedForDelete());
    EXPECT_TRUE(service.Remove());
    EXPECT_TRUE(machine.FindService("WinDriver")->markedForDelete);
    EXPECT_EQ(machine.FindService("WinDriver")->state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(service.Remove());  // already marked: 1072 counts as done
    EXPECT_TRUE(service.IsMarkedForDelete());
  }
  machine.CloseServiceHandle(held);
  machine.CloseServiceHandle(manager);
  // Still running, so NT keeps it until it stops or Windows restarts.
  ASSERT_NE(machine.FindService("WinDriver"), nullptr);
  machine.Restart();
  EXPECT_EQ(machine.FindService("WinDriver"), nullptr);
}

TEST_F(DriverServiceTest, RemoveOfAMissingServiceFails) {
  CNtDriverService service;
  ConfigureWinDriver(service);
  EXPECT_FALSE(service.Remove());
  EXPECT_STREQ(service.GetMessageText(), "");
}

TEST_F(DriverServiceTest, StopOfAStoppedServiceSucceeds) {
  machine.AddService("WinDriver", SERVICE_STOPPED);
  CNtDriverService service;
  ConfigureWinDriver(service);
  EXPECT_TRUE(service.Stop());
}

TEST_F(DriverServiceTest, StopStillPendingIsNotStopped) {
  machine.AddService("WinDriver", SERVICE_RUNNING).stopStaysPending = true;
  CNtDriverService service;
  ConfigureWinDriver(service);
  EXPECT_FALSE(service.Stop());
  EXPECT_EQ(machine.FindService("WinDriver")->state, static_cast<DWORD>(SERVICE_STOP_PENDING));
}

TEST_F(DriverServiceTest, StartAndStopChangeTheState) {
  machine.AddService("WinDriver", SERVICE_STOPPED);
  CNtDriverService service;
  ConfigureWinDriver(service);
  EXPECT_TRUE(service.Start());
  SERVICE_STATUS status;
  ASSERT_TRUE(service.QueryStatus(&status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_FALSE(service.Start());  // already running
  EXPECT_TRUE(service.Stop());
  machine.FindService("WinDriver")->startError = ERROR_DLL_INIT_FAILED;
  EXPECT_FALSE(service.Start());
}

TEST_F(DriverServiceTest, ServiceWithoutFullRightsCountsAsNotInstalled) {
  machine.AddService("WinDriver").denyFullAccess = true;
  CNtDriverService service;
  ConfigureWinDriver(service);
  EXPECT_FALSE(service.IsInstalled());
}

TEST_F(DriverServiceTest, RegistryInstallWritesTheKeyInOrder) {
  CNtDriverService service;
  ConfigureWinDriver(service, true);
  EXPECT_TRUE(service.Install());
  EXPECT_FALSE(service.HasMessage());
  EXPECT_TRUE(machine.LogOf("CreateServiceA").empty());
  EXPECT_EQ(machine.LogOf("RegCreateKeyExA"),
            std::vector<std::string>{"RegCreateKeyExA(\"" + std::string(kKey) +
                                     "\", 0, \"\", 0, 983103, null)"});
  const auto* values = machine.KeyValues(kKey);
  ASSERT_NE(values, nullptr);
  auto dword = [](DWORD v) { return std::string(reinterpret_cast<char*>(&v), 4); };
  std::vector<CSimMachine::RegValue> expected = {
      {"Start", REG_DWORD, dword(2)},
      {"Type", REG_DWORD, dword(1)},
      {"ErrorControl", REG_DWORD, dword(1)},
      {"Group", REG_SZ, std::string("Extended Base", 14)},
      {"ImagePath", REG_SZ, std::string("\\SystemRoot\\System32\\drivers\\windrvr.SYS", 41)},
      {"DisplayName", REG_SZ, std::string("WinDriver", 10)}};
  ASSERT_EQ(values->size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ((*values)[i].name, expected[i].name);
    EXPECT_EQ((*values)[i].type, expected[i].type) << expected[i].name;
    EXPECT_EQ((*values)[i].data, expected[i].data) << expected[i].name;
  }
}

TEST_F(DriverServiceTest, RegistryInstallOnAnExistingKeyWarns) {
  machine.AddKey(kKey);
  CNtDriverService service;
  ConfigureWinDriver(service, true);
  service.AddError("stale\n");
  EXPECT_TRUE(service.Install());
  EXPECT_TRUE(service.HasWarning());
  EXPECT_FALSE(service.HasError());
  EXPECT_STREQ(service.GetMessageText(), "WinDriver already exists in Win-NT registry\n");
}

TEST_F(DriverServiceTest, RegistryInstallThatCannotOpenTheKeyFails) {
  machine.FailRegistryCreate();
  CNtDriverService service;
  ConfigureWinDriver(service, true);
  EXPECT_FALSE(service.Install());
  EXPECT_STREQ(service.GetMessageText(), "Cannot open registry key\n");
}

TEST_F(DriverServiceTest, RegistryInstallThatCannotWriteAValueFails) {
  machine.FailRegistryWrite("ImagePath");
  CNtDriverService service;
  ConfigureWinDriver(service, true);
  EXPECT_FALSE(service.Install());
  EXPECT_STREQ(service.GetMessageText(), "Cannot write registry value\n");
  // The values after the failed one are still written.
  const auto* values = machine.KeyValues(kKey);
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(values->back().name, "DisplayName");
}

TEST_F(DriverServiceTest, RegistryRemove) {
  machine.AddKey(kKey);
  CNtDriverService service;
  ConfigureWinDriver(service, true);
  EXPECT_TRUE(service.Remove());
  EXPECT_FALSE(machine.KeyExists(kKey));
  EXPECT_FALSE(service.Remove());
  EXPECT_TRUE(service.HasError());
  EXPECT_STREQ(service.GetMessageText(), "WinDriver does not exist in Win-NT registry\n");
}

TEST_F(DriverServiceTest, OverLongNamesAreRefusedWhole) {
  CNtDriverService service;
  std::string serviceName(1000, 's');
  EXPECT_FALSE(service.Configure(serviceName.c_str(), "d", SERVICE_AUTO_START, nullptr, false));
  EXPECT_TRUE(service.HasError());
  std::string driverName(256, 'd');
  EXPECT_FALSE(service.Configure("S", driverName.c_str(), SERVICE_AUTO_START, nullptr, false));
  // Nothing was stored: no service of another (shortened) name can be made.
  EXPECT_FALSE(service.Install());
  EXPECT_TRUE(machine.LogOf("CreateServiceA").size() <= 1u);
  EXPECT_EQ(machine.FindService(serviceName.substr(0, 999)), nullptr);
  std::string longest(255, 'd');
  EXPECT_TRUE(service.Configure("S", longest.c_str(), SERVICE_AUTO_START, nullptr, false));
}

TEST_F(DriverServiceTest, NameThatFillsItsFieldStillFitsTheKeyPathCheck) {
  // 999 characters fit the name field; the key path would need 1034 bytes.
  std::string name(999, 'k');
  CNtDriverService service;
  ASSERT_TRUE(service.Configure(name.c_str(), "d", SERVICE_AUTO_START, nullptr, true));
  EXPECT_FALSE(service.Install());
  EXPECT_STREQ(service.GetMessageText(), "Cannot open registry key\n");
  EXPECT_TRUE(machine.LogOf("RegCreateKeyExA").empty());
  EXPECT_FALSE(service.Remove());
  EXPECT_EQ(std::string(service.GetMessageText()), name + " does not exist in Win-NT registry\n");
}

TEST_F(DriverServiceTest, MessageLogStaysInsideItsField) {
  CNtDriverService service;
  std::string chunk(300, 'e');
  for (int i = 0; i < 10; ++i) service.AddError(chunk.c_str());
  EXPECT_EQ(strlen(service.GetMessageText()), 1999u);
  service.AddWarning("more");
  EXPECT_EQ(strlen(service.GetMessageText()), 1999u);
  EXPECT_TRUE(service.HasWarning());
}

}  // namespace
