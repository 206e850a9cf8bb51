// The simulated machine answers as Windows does where the setup relies on it.
#include <gtest/gtest.h>

#include <string.h>

#include "platform/sim/sim_machine.h"

namespace {

class SimMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.Activate();
    machine.SetLastErrorValue(0xdeadbeef);
  }
  CSimMachine machine;
};

TEST_F(SimMachineTest, NamesAreCaseInsensitiveAndKeepTheirCase) {
  machine.AddFile("C:\\Data\\Vesk1.INF", "x");
  EXPECT_TRUE(machine.FileExists("c:\\DATA\\vesk1.inf"));
  WIN32_FIND_DATAA data;
  HANDLE find = machine.FindFirstFileA("C:\\data\\VESK*.inf", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "Vesk1.INF");
  EXPECT_FALSE(machine.FindNextFileA(find, &data));
  EXPECT_EQ(machine.GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(machine.FindClose(find));
}

TEST_F(SimMachineTest, WildcardsMatchAsFindFirstFileDoes) {
  for (const char* name : {"vesk.inf", "vesk1.inf", "vesk.a.inf", "vesk1.sys", "avesk1.inf",
                           "vesk1.inf.bak", "VESKX.INF"})
    machine.AddFile(std::string("C:\\d\\") + name);
  machine.SetCurrentDir("C:\\d");
  std::vector<std::string> found;
  WIN32_FIND_DATAA data;
  HANDLE find = machine.FindFirstFileA("vesk*.inf", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do found.push_back(data.cFileName);
  while (machine.FindNextFileA(find, &data));
  machine.FindClose(find);
  EXPECT_EQ(found, (std::vector<std::string>{"vesk.inf", "vesk1.inf", "vesk.a.inf", "VESKX.INF"}));
  EXPECT_EQ(machine.FindFirstFileA("vesk?.sys", &data) != INVALID_HANDLE_VALUE, true);
  EXPECT_EQ(machine.FindFirstFileA("none*.inf", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(machine.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SimMachineTest, CreateDirectoryReportsWhatIsInTheWay) {
  EXPECT_TRUE(machine.CreateDirectoryA("C:\\new", nullptr));
  EXPECT_FALSE(machine.CreateDirectoryA("C:\\NEW", nullptr));
  EXPECT_EQ(machine.GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  machine.AddFile("C:\\file");
  EXPECT_FALSE(machine.CreateDirectoryA("C:\\file", nullptr));
  EXPECT_EQ(machine.GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(machine.CreateDirectoryA("C:\\no\\such", nullptr));
  EXPECT_EQ(machine.GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(SimMachineTest, CopyFailsAsWindowsDoes) {
  machine.AddFile("C:\\a.sys", "a");
  machine.AddFolder("C:\\dir");
  struct Case {
    const char* source;
    const char* destination;
    BOOL failIfExists;
    DWORD error;
  } cases[] = {
      {"C:\\missing.sys", "C:\\b.sys", FALSE, ERROR_FILE_NOT_FOUND},
      {"C:\\dir", "C:\\b.sys", FALSE, ERROR_ACCESS_DENIED},
      {"C:\\a.sys", "C:\\no\\b.sys", FALSE, ERROR_PATH_NOT_FOUND},
      {"C:\\a.sys", "C:\\dir", FALSE, ERROR_ACCESS_DENIED},
      {"C:\\a.sys", "C:\\A.SYS", TRUE, ERROR_FILE_EXISTS},
  };
  for (const Case& c : cases) {
    machine.SetLastErrorValue(0xdeadbeef);
    EXPECT_FALSE(machine.CopyFileA(c.source, c.destination, c.failIfExists)) << c.source;
    EXPECT_EQ(machine.GetLastError(), c.error) << c.source << " -> " << c.destination;
  }
  EXPECT_TRUE(machine.CopyFileA("C:\\a.sys", "C:\\dir\\a.sys", FALSE));
  EXPECT_EQ(machine.FileContent("C:\\dir\\a.sys"), "a");
}

TEST_F(SimMachineTest, TruncatedModulePathIsNotTerminated) {
  machine.SetProgramPath("C:\\abcdef\\setup.exe");
  char buffer[8];
  memset(buffer, 'z', sizeof(buffer));
  EXPECT_EQ(machine.GetModuleFileNameA(nullptr, buffer, 8), 8u);
  EXPECT_EQ(std::string(buffer, 8), "C:\\abcde");
}

TEST_F(SimMachineTest, OemStoreRefusesIdenticalContentWithNoOverwrite) {
  machine.AddFile("C:\\p\\vesk1.inf", "same");
  machine.AddFile("C:\\q\\vesk1.inf", "same");
  PFN_SETUPCOPYOEMINFA entry = CSimMachine::SetupCopyOEMInfEntry();
  EXPECT_TRUE(machine.SetupCopyOEMInfA(entry, "C:\\p\\vesk1.inf", nullptr, 1, 8, nullptr, 0,
                                       nullptr, nullptr));
  EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\Inf\\oem0.inf"));
  EXPECT_FALSE(machine.SetupCopyOEMInfA(entry, "C:\\q\\vesk1.inf", nullptr, 1, 8, nullptr, 0,
                                        nullptr, nullptr));
  EXPECT_EQ(machine.GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_FALSE(machine.SetupCopyOEMInfA(entry, "vesk1.inf", nullptr, 1, 8, nullptr, 0, nullptr,
                                        nullptr));  // a relative source is not found
  EXPECT_FALSE(machine.SetupCopyOEMInfA(nullptr, "C:\\p\\vesk1.inf", nullptr, 1, 0, nullptr, 0,
                                        nullptr, nullptr));
}

TEST_F(SimMachineTest, DeletedServiceGoesWhenItsLastHandleCloses) {
  machine.AddService("Svc");
  SC_HANDLE manager = machine.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE first = machine.OpenServiceA(manager, "svc", SERVICE_ALL_ACCESS);
  SC_HANDLE second = machine.OpenServiceA(manager, "SVC", SERVICE_ALL_ACCESS);
  EXPECT_TRUE(machine.DeleteService(first));
  EXPECT_FALSE(machine.DeleteService(second));
  EXPECT_EQ(machine.GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  machine.CloseServiceHandle(first);
  EXPECT_NE(machine.FindService("Svc"), nullptr);
  machine.CloseServiceHandle(second);
  EXPECT_EQ(machine.FindService("Svc"), nullptr);
  EXPECT_FALSE(machine.KeyExists("System\\CurrentControlSet\\Services\\Svc"));
  machine.CloseServiceHandle(manager);
  EXPECT_EQ(machine.OpenServiceHandles(), 0u);
}

}  // namespace
