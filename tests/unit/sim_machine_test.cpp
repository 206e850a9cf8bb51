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

// Long names and 8.3 names both match (vesk.a.inf is VESKA~1.INF, vesk1.info
// VESK1~1.INF), in creation order as on FAT or sorted as on NTFS.
TEST_F(SimMachineTest, WildcardsMatchAsFindFirstFileDoes) {
  for (const char* name : {"vesk1.inf", "vesk.a.inf", "vesk1.sys", "avesk1.inf", "vesk1.inf.bak",
                           "VESKX.INF", "vesk1.info", "vesk.inf", "vesk2.inf_old"})
    machine.AddFile(std::string("C:\\d\\") + name);
  machine.SetCurrentDir("C:\\d");
  auto list = [this](const char* pattern) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE find = machine.FindFirstFileA(pattern, &data);
    if (find == INVALID_HANDLE_VALUE) return found;
    do found.push_back(std::string(data.cFileName) + "/" + data.cAlternateFileName);
    while (machine.FindNextFileA(find, &data));
    machine.FindClose(find);
    return found;
  };
  using Names = std::vector<std::string>;
  EXPECT_EQ(list("vesk*.inf"), (Names{"vesk1.inf/", "vesk.a.inf/VESKA~1.INF", "VESKX.INF/",
                                      "vesk1.info/VESK1~1.INF", "vesk.inf/",
                                      "vesk2.inf_old/VESK2~1.INF"}));
  machine.SortEnumeration();
  EXPECT_EQ(list("vesk*.inf"), (Names{"vesk.a.inf/VESKA~1.INF", "vesk.inf/", "vesk1.inf/",
                                      "vesk1.info/VESK1~1.INF", "vesk2.inf_old/VESK2~1.INF",
                                      "VESKX.INF/"}));
  CSimMachine ntfs;
  ntfs.DisableShortNames();
  ntfs.AddFile("C:\\d\\vesk1.info");
  EXPECT_EQ(ntfs.FindFirstFileA("C:\\d\\vesk*.inf", nullptr), INVALID_HANDLE_VALUE);
  WIN32_FIND_DATAA data;
  EXPECT_NE(machine.FindFirstFileA("vesk?.sys", &data), INVALID_HANDLE_VALUE);
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
  // Room is kept for an 8.3 name below it: 248 characters at most.
  EXPECT_TRUE(machine.CreateDirectoryA(("C:\\" + std::string(245, 'f')).c_str(), nullptr));
  EXPECT_FALSE(machine.CreateDirectoryA(("C:\\" + std::string(246, 'f')).c_str(), nullptr));
  EXPECT_EQ(machine.GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(SimMachineTest, CopyFailsAsWindowsDoes) {
  machine.AddFile("C:\\a.sys", "a");
  machine.AddFolder("C:\\dir");
  std::string deep = "C:\\dir\\" + std::string(250, 'l') + "\\x.sys";  // 263 characters
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
      {"C:\\a.sys", "C:\\A.SYS", FALSE, ERROR_SHARING_VIOLATION},  // onto itself
      {"C:\\a.sys", "C:\\ro.sys", FALSE, ERROR_ACCESS_DENIED},
      {"C:\\a.sys", "C:\\hidden.sys", FALSE, ERROR_ACCESS_DENIED},
      {"C:\\a.sys", "C:\\system.sys", FALSE, ERROR_ACCESS_DENIED},
      {"C:\\a.sys", deep.c_str(), FALSE, ERROR_FILENAME_EXCED_RANGE},
  };
  machine.AddFile("C:\\ro.sys");
  machine.SetAttributes("C:\\ro.sys", FILE_ATTRIBUTE_READONLY);
  machine.AddFile("C:\\hidden.sys");
  machine.SetAttributes("C:\\hidden.sys", FILE_ATTRIBUTE_HIDDEN);
  machine.AddFile("C:\\system.sys");
  machine.SetAttributes("C:\\system.sys", FILE_ATTRIBUTE_SYSTEM);
  for (const Case& c : cases) {
    machine.SetLastErrorValue(0xdeadbeef);
    EXPECT_FALSE(machine.CopyFileA(c.source, c.destination, c.failIfExists)) << c.source;
    EXPECT_EQ(machine.GetLastError(), c.error) << c.source << " -> " << c.destination;
  }
  // The copy takes the source's attributes, and a read-only file cannot be deleted.
  machine.SetAttributes("C:\\a.sys", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_TRUE(machine.CopyFileA("C:\\a.sys", "C:\\dir\\a.sys", FALSE));
  EXPECT_EQ(machine.FileContent("C:\\dir\\a.sys"), "a");
  EXPECT_EQ(machine.GetFileAttributesA("C:\\dir\\a.sys"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_FALSE(machine.DeleteFileA("C:\\dir\\a.sys"));
  EXPECT_EQ(machine.GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(machine.SetFileAttributesA("C:\\dir\\a.sys", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(machine.GetFileAttributesA("C:\\dir\\a.sys"), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(machine.DeleteFileA("C:\\dir\\a.sys"));
  EXPECT_EQ(machine.GetFileAttributesA("C:\\dir\\a.sys"), INVALID_FILE_ATTRIBUTES);
}

// XP: unterminated, last error untouched at success; Vista and later:
// terminated, ERROR_INSUFFICIENT_BUFFER.
TEST_F(SimMachineTest, TruncatedModulePathAsEachFamilyGivesIt) {
  machine.SetProgramPath("C:\\abcdef\\setup.exe");
  char buffer[8];
  memset(buffer, 'z', sizeof(buffer));
  EXPECT_EQ(machine.GetModuleFileNameA(nullptr, buffer, 8), 8u);
  EXPECT_EQ(std::string(buffer, 8), "C:\\abcde");
  EXPECT_EQ(machine.GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  machine.SetWin10();
  EXPECT_EQ(machine.GetModuleFileNameA(nullptr, buffer, 8), 8u);
  EXPECT_EQ(std::string(buffer, 8), std::string("C:\\abcd\0", 8));
  EXPECT_EQ(machine.GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
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
  // A running one stays, marked, until it is stopped or Windows restarts.
  machine.AddService("Running", SERVICE_RUNNING);
  machine.AddService("Loaded", SERVICE_RUNNING);
  for (const char* name : {"Running", "Loaded"}) {
    SC_HANDLE service = machine.OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    EXPECT_TRUE(machine.DeleteService(service));
    EXPECT_FALSE(machine.ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                              SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(machine.GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    machine.CloseServiceHandle(service);
  }
  ASSERT_NE(machine.FindService("Running"), nullptr);
  SC_HANDLE running = machine.OpenServiceA(manager, "Running", SERVICE_ALL_ACCESS);
  SERVICE_STATUS status;
  EXPECT_TRUE(machine.ControlService(running, SERVICE_CONTROL_STOP, &status));
  machine.CloseServiceHandle(running);
  EXPECT_EQ(machine.FindService("Running"), nullptr);
  machine.CloseServiceHandle(manager);
  EXPECT_EQ(machine.OpenServiceHandles(), 0u);
  ASSERT_NE(machine.FindService("Loaded"), nullptr);
  machine.Restart();
  EXPECT_EQ(machine.FindService("Loaded"), nullptr);
}

}  // namespace
