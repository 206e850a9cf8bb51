// Start-up: the setup state, switches, silent mode and the choice of route.
#include <ctype.h>
#include <stdint.h>

#include <gtest/gtest.h>

#include "sim_process.h"

namespace {

const char kInitFailure[] = "setup: Setup failed to initialize.\nPlease check OS for compatibility.";
using Boxes_t = std::vector<std::string>;

class StartupTest : public SimProcessTest {};

TEST_F(StartupTest, TypicalRunFillsTheSetupState) {
  EXPECT_EQ(Run(), 0);
  EXPECT_STREQ(g_strWindowsDir.c_str(), "C:\\WINDOWS");
  EXPECT_STREQ(g_strModuleDir.c_str(), "C:\\setup");
  EXPECT_STREQ(g_strAppDataDir.c_str(), "C:\\WINDOWS\\Application Data\\Velmoran");
  EXPECT_EQ(machine.CurrentDir(), "C:\\setup");
  EXPECT_TRUE(machine.FolderExists("C:\\WINDOWS\\Application Data\\Velmoran"));
  EXPECT_TRUE(g_bInstall);
  EXPECT_FALSE(g_bSilent);
  EXPECT_FALSE(g_bMultiProcessor);
  EXPECT_EQ(g_nProcessors, 1);
  EXPECT_EQ(g_pfnSetupCopyOEMInf, CSimMachine::SetupCopyOEMInfEntry());
  EXPECT_EQ(machine.LogOf("GetVersionExA"), std::vector<std::string>{"GetVersionExA(148)"});
  EXPECT_TRUE(machine.MessageBoxes().empty());
}

TEST_F(StartupTest, ProcessorCountIsAskedOnce) {
  machine.SetProcessors(2);
  Run();
  EXPECT_TRUE(g_bMultiProcessor);
  EXPECT_TRUE(IsMultiProcessor());
  EXPECT_EQ(machine.SystemInfoCalls(), 1);
}

struct SwitchCase {
  const char* commandLine;
  bool install;
  bool silent;
};

void PrintTo(const SwitchCase& c, std::ostream* out) { *out << "\"" << c.commandLine << "\""; }

class SwitchTest : public StartupTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchTest, SwitchesAreFoundAnywhereInTheArguments) {
  const SwitchCase& c = GetParam();
  Run(c.commandLine);
  EXPECT_EQ(g_bInstall, c.install) << c.commandLine;
  EXPECT_EQ(g_bSilent, c.silent) << c.commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SwitchTest,
    ::testing::Values(SwitchCase{"\"C:\\setup\\setup.exe\"", true, false},
                      SwitchCase{"C:\\setup\\setup.exe", true, false},
                      SwitchCase{"setup.exe -S", true, true},
                      SwitchCase{"setup.exe -s", true, true},
                      SwitchCase{"setup.exe -SILENT", true, true},
                      SwitchCase{"setup.exe -uninstall", false, false},
                      SwitchCase{"setup.exe /x -Uninstall", false, false},
                      // "-UNINSTALL" holds no "-S"; "-UNINSTALL -S" holds both.
                      SwitchCase{"setup.exe -UNINSTALL -s", false, true},
                      SwitchCase{"setup.exe --uninstall=yes", false, false},
                      SwitchCase{"setup.exe /S", true, false},
                      SwitchCase{"setup.exe -X-S", true, true},
                      SwitchCase{"\"C:\\a -S\\setup.exe\"", true, false},
                      SwitchCase{"\"C:\\a -UNINSTALL\\setup.exe\" \t ", true, false},
                      SwitchCase{"\"\"", true, false},
                      SwitchCase{"", true, false}));

TEST_F(StartupTest, ProgramPathIsSearchedOnlyForSsetup) {
  machine.SetProgramPath("C:\\Tools-S\\install.exe");
  machine.AddFile("C:\\Tools-S\\vesk1.inf", "inf");
  EXPECT_EQ(Run("\"C:\\Tools-S\\install.exe\""), 0);
  EXPECT_FALSE(g_bSilent);
  EXPECT_TRUE(g_bInstall);
  EXPECT_EQ(Boxes(), (Boxes_t{"setup: Copy file fail: vesk1.sys",
                              "setup: Driver included in vesk1.inf has successfully installed."}));
}

TEST_F(StartupTest, SsetupAnywhereInTheProgramPathIsSilent) {
  for (const char* path : {"C:\\SSETUP\\x.exe", "C:\\tools\\MySSetup.exe", "C:\\a\\ssetup.exe"}) {
    machine.SetProgramPath(path);
    Run(std::string("\"") + path + "\"");
    EXPECT_TRUE(g_bSilent) << path;
  }
}

TEST_F(StartupTest, RemoveModeElsewhereDoesNothingButStartUp) {
  AddPackage("vesk1");
  EXPECT_EQ(Run("setup.exe -UNINSTALL"), 1);
  EXPECT_TRUE(machine.FolderExists("C:\\WINDOWS\\Application Data\\Velmoran"));
  EXPECT_NE(g_pfnSetupCopyOEMInf, nullptr);
  EXPECT_TRUE(machine.LogOf("CopyFileA").empty());
  EXPECT_TRUE(machine.LogOf("FindFirstFileA").empty());
  EXPECT_TRUE(machine.MessageBoxes().empty());
}

// Windows 9x finds the setup library by name; the NT family (and a system
// whose version is unknown) loads it from the system folder only.
TEST_F(StartupTest, EveryVersionButNt4TakesThePackageRouteWithItsOwnSetupLibrary) {
  const std::vector<std::string> byName = {"LoadLibraryA(\"setupapi.dll\")",
                                           "GetProcAddress(\"SetupCopyOEMInfA\")"};
  const std::vector<std::string> fromSystem = {
      "GetSystemDirectoryA(260)",
      "LoadLibraryExA(\"C:\\WINDOWS\\System32\\setupapi.dll\", null, 8)",
      "GetProcAddress(\"SetupCopyOEMInfA\")"};
  struct Version {
    DWORD platform, major, minor;
  };
  for (Version v : {Version{1, 4, 0}, Version{1, 4, 10}, Version{1, 4, 90}, Version{2, 3, 51},
                    Version{2, 5, 0}, Version{2, 5, 1}, Version{2, 6, 1}, Version{2, 10, 0},
                    Version{0, 0, 0}}) {
    CSimMachine fresh;
    fresh.Activate();
    fresh.SetVersion(v.platform, v.major, v.minor);
    EXPECT_EQ(Run(), 0) << v.platform << " " << v.major << "." << v.minor;
    EXPECT_FALSE(fresh.LogOf("FindFirstFileA").empty());
    std::vector<std::string> loading;
    for (const std::string& call : fresh.Log())
      if (call.find("Library") != std::string::npos || call.rfind("GetSystemDirectory", 0) == 0 ||
          call.rfind("GetProcAddress", 0) == 0)
        loading.push_back(call);
    EXPECT_EQ(loading, v.platform == 1 ? byName : fromSystem) << v.platform << " " << v.major;
  }
  machine.Activate();
}

TEST_F(StartupTest, Nt4NeitherCreatesTheCompanyFolderNorBindsTheSetupApi) {
  machine.SetNt4();
  machine.RemoveLibrary("setupapi.dll");
  Run();
  EXPECT_FALSE(machine.FolderExists("C:\\WINDOWS\\Application Data"));
  EXPECT_TRUE(g_strAppDataDir.IsEmpty());
  EXPECT_EQ(g_pfnSetupCopyOEMInf, nullptr);
  EXPECT_TRUE(machine.LogOf("LoadLibraryA").empty());
  EXPECT_TRUE(machine.LogOf("LoadLibraryExA").empty());
  EXPECT_TRUE(machine.LogOf("FindFirstFileA").empty());
}

TEST_F(StartupTest, ZeroVersionBlockCountsAsAnOrdinarySystem) {
  machine.FailVersionQuery();
  AddPackage("vesk1");
  machine.SetWin98();  // ignored: the query fails
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(g_osVersion.Info().dwPlatformId, 0u);
  EXPECT_EQ(g_osVersion.Info().dwOSVersionInfoSize, 148u);
  EXPECT_FALSE(g_osVersion.IsNt4());
  EXPECT_FALSE(g_osVersion.IsWin9x());
  EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\Application Data\\Velmoran\\vesk1.inf"));
  EXPECT_FALSE(machine.FileExists("C:\\WINDOWS\\Inf\\vesk1.inf"));  // no Windows 9x copies
}

TEST_F(StartupTest, CompanyFolderFailureIsShownEvenWithS) {
  machine.FailCreateDirectory("C:\\WINDOWS\\Application Data\\Velmoran");
  EXPECT_EQ(Run("setup.exe -S"), -1);
  EXPECT_EQ(Boxes(), Boxes_t{kInitFailure});
  // The folder made before the failure stays.
  EXPECT_TRUE(machine.FolderExists("C:\\WINDOWS\\Application Data"));
  EXPECT_TRUE(machine.LogOf("LoadLibraryA").empty());
}

TEST_F(StartupTest, ApplicationDataFailureStopsBeforeTheCompanyFolder) {
  machine.FailCreateDirectory("C:\\WINDOWS\\Application Data", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(machine.LogOf("CreateDirectoryA").size(), 1u);
  EXPECT_EQ(Boxes(), Boxes_t{kInitFailure});
}

TEST_F(StartupTest, CompanyFolderFailureIsSilentForSsetup) {
  machine.SetProgramPath("C:\\disk\\ssetup.exe");
  machine.FailCreateDirectory("C:\\WINDOWS\\Application Data\\Velmoran");
  EXPECT_EQ(Run("ssetup.exe"), -1);
  EXPECT_TRUE(machine.MessageBoxes().empty());
}

TEST_F(StartupTest, MissingSetupLibraryIsSilentWithS) {
  machine.RemoveLibrary("setupapi.dll");
  EXPECT_EQ(Run("setup.exe -S"), -1);
  EXPECT_TRUE(machine.MessageBoxes().empty());
  EXPECT_EQ(Run("setup.exe"), -1);
  EXPECT_EQ(Boxes(), Boxes_t{kInitFailure});
}

TEST_F(StartupTest, MissingSetupEntryFailsStartUp) {
  machine.RemoveEntry("SetupCopyOEMInfA");
  AddPackage("vesk1");
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(Boxes(), Boxes_t{kInitFailure});
  EXPECT_TRUE(machine.LogOf("CopyFileA").empty());
}

TEST_F(StartupTest, PlainFileInPlaceOfTheCompanyFolderCountsAsExisting) {
  machine.AddFile("C:\\WINDOWS\\Application Data\\Velmoran", "not a folder");
  AddPackage("vesk1");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), (Boxes_t{"setup: Copy file fail: vesk1.sys",
                              "setup: Copy file fail: vesk1.inf"}));
  EXPECT_EQ(machine.FileContent("C:\\WINDOWS\\Application Data\\Velmoran"), "not a folder");
}

TEST_F(StartupTest, ProgramAtADriveRootWorksInThatRoot) {
  machine.SetProgramPath("D:\\setup.exe");
  machine.AddFolder("D:\\other");
  machine.SetCurrentDir("D:\\other");  // "D:" alone would mean this folder
  machine.AddFile("D:\\vesk1.inf", "inf");
  machine.AddFile("D:\\vesk1.sys", "sys");
  EXPECT_EQ(Run("D:\\setup.exe"), 0);
  EXPECT_STREQ(g_strModuleDir.c_str(), "D:");
  EXPECT_EQ(machine.CurrentDir(), "D:\\");
  EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\Application Data\\Velmoran\\vesk1.sys"));
}

// XP leaves the truncated path unterminated, Vista and later terminate it:
// either way it names another place.
TEST_F(StartupTest, TruncatedProgramPathFailsInsteadOfUsingAnotherFolder) {
  std::string folder = "C:\\" + std::string(250, 'd');
  machine.SetProgramPath(folder + "\\setup.exe");  // 264 characters
  machine.AddFile(folder.substr(0, 259 - 10) + "\\vesk1.inf", "stray");
  EXPECT_EQ(Run("x"), -1);
  machine.SetWin10();
  EXPECT_EQ(Run("x"), -1);
  EXPECT_EQ(Boxes(), (Boxes_t{kInitFailure, kInitFailure}));
  EXPECT_TRUE(machine.LogOf("SetCurrentDirectoryA").empty());
}

TEST_F(StartupTest, ProgramPathOf259CharactersWorks) {
  std::string folder = "C:\\" + std::string(246, 'd');
  std::string path = folder + "\\setup.exe";
  ASSERT_EQ(path.size(), 259u);
  machine.SetProgramPath(path);
  EXPECT_EQ(Run("x"), 0);
  EXPECT_EQ(machine.CurrentDir(), folder);
}

TEST_F(StartupTest, UnreachableProgramFolderFailsStartUp) {
  machine.SetProgramPath("C:\\gone\\setup.exe");
  machine.RemovePath("C:\\gone");
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(Boxes(), Boxes_t{kInitFailure});
}

// Code page 932: ソ is 0x83 0x5C, whose trail byte is "\".
TEST_F(StartupTest, DoubleByteNameEndingInBackslashByteIsOneCharacter) {
  machine.UseCodePage932();
  const std::string so = "\x83\x5C";
  machine.SetProgramPath("C:\\" + so + "\\" + so + ".exe");
  machine.AddFile("C:\\" + so + "\\vesk1.inf", "inf");
  machine.AddFile("C:\\" + so + "\\vesk1.sys", "sys");
  EXPECT_EQ(Run("x"), 0);
  EXPECT_EQ(std::string(g_strModuleDir.c_str()), "C:\\" + so);
  EXPECT_EQ(machine.CurrentDir(), "C:\\" + so);
  EXPECT_TRUE(machine.FileExists("C:\\WINDOWS\\Application Data\\Velmoran\\vesk1.sys"));
}

TEST_F(StartupTest, DoubleByteNameWhoseTrailByteIsALetterIsNotSilent) {
  machine.UseCodePage932();
  // ピ is 0x83 0x73: its trail byte is "s", but "ピsetup" holds no "ssetup".
  machine.SetProgramPath("C:\\\x83\x73setup\\x.exe");
  Run("x");
  EXPECT_FALSE(g_bSilent);
  machine.SetProgramPath("C:\\\x83\x73ssetup\\x.exe");
  Run("x");
  EXPECT_TRUE(g_bSilent);
}

TEST_F(StartupTest, LoneLeadByteAtTheEndIsReadSafely) {
  machine.UseCodePage932();
  Run("setup.exe -s\x83");
  EXPECT_TRUE(g_bSilent);
  Run("setup.exe \x83");
  EXPECT_FALSE(g_bSilent);
}

TEST_F(StartupTest, DoubleByteWindowsFolder) {
  machine.UseCodePage932();
  const std::string windows = "C:\\\x95\x5C";  // 表
  machine.SetWindowsDir(windows);
  AddPackage("vesk1");
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(machine.FileExists(windows + "\\Application Data\\Velmoran\\vesk1.inf"));
}


// One setup at a time: the lock is taken before anything changes on the
// machine, held through the route, given back at the end; where it cannot be
// had the setup runs as it would without it.
struct LockCase {
  const char* name;
  void (*prepare)(CSimMachine&);
  std::vector<std::string> calls;  // the mutex calls, in order
};

void PrintTo(const LockCase& c, std::ostream* out) { *out << c.name; }

class SetupLockTest : public StartupTest, public ::testing::WithParamInterface<LockCase> {};

const char kTakeSession[] = "CreateMutexA(null, 0, \"Velmoran.Vesk.Setup\")";
const char kTakeGlobal[] = "CreateMutexA(null, 0, \"Global\\Velmoran.Vesk.Setup\")";
const std::vector<std::string> kBothTakenAndGiven = {
    kTakeSession,          "WaitForSingleObject(16384, 4294967295)",
    kTakeGlobal,           "WaitForSingleObject(16385, 4294967295)",
    "ReleaseMutex(16385)", "CloseHandle(16385)",
    "ReleaseMutex(16384)", "CloseHandle(16384)"};

TEST_P(SetupLockTest, HeldForTheWholeRun) {
  const LockCase& c = GetParam();
  AddPackage("vesk1");
  c.prepare(machine);
  EXPECT_EQ(Run(), 0);
  std::vector<std::string> calls;
  size_t lastTake = 0, firstGive = SIZE_MAX, firstChange = SIZE_MAX, lastWork = 0;
  for (size_t i = 0; i < machine.Log().size(); ++i) {
    const std::string& call = machine.Log()[i];
    auto is = [&call](const char* function) { return call.rfind(function, 0) == 0; };
    if (is("CreateMutexA") || is("WaitForSingleObject") || is("ReleaseMutex") || is("CloseHandle"))
      calls.push_back(call);
    if (is("CreateMutexA") || is("WaitForSingleObject")) lastTake = i;
    if (is("ReleaseMutex") && firstGive == SIZE_MAX) firstGive = i;
    if (is("CreateDirectoryA") && firstChange == SIZE_MAX) firstChange = i;
    if (is("SetupCopyOEMInfA") || is("MessageBoxA")) lastWork = i;
  }
  EXPECT_EQ(calls, c.calls);
  // Taken before the first folder is made, given back after the last registration.
  EXPECT_LT(lastTake, firstChange);
  if (firstGive != SIZE_MAX) {
    EXPECT_GT(firstGive, lastWork);
  }
  EXPECT_EQ(machine.OemInfCalls().size(), 1u);
  EXPECT_EQ(machine.OpenMutexHandles(), 0u);
  EXPECT_FALSE(machine.OwnsMutex("Velmoran.Vesk.Setup"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetupLockTest,
    ::testing::Values(
        // XP's console session is session 0, where both names are one mutex: owned twice.
        LockCase{"free", [](CSimMachine&) {},
                 kBothTakenAndGiven},
        // Another setup holds it: this one waits until it has finished.
        LockCase{"held by another setup",
                 [](CSimMachine& m) { m.HoldMutex("Velmoran.Vesk.Setup"); },
                 kBothTakenAndGiven},
        // A setup killed while holding it: WAIT_ABANDONED, and the lock is this one's.
        LockCase{"abandoned",
                 [](CSimMachine& m) { m.HoldMutex("Velmoran.Vesk.Setup", true); },
                 kBothTakenAndGiven},
        // No mutex at all: the setup runs unguarded, as it always did.
        LockCase{"uncreatable", [](CSimMachine& m) { m.RefuseMutexes(); },
                 {kTakeSession, kTakeGlobal}},
        // Windows 98 knows no "Global\" names: the plain one alone.
        LockCase{"Windows 98", [](CSimMachine& m) { m.SetWin98(); },
                 {kTakeSession, "WaitForSingleObject(16384, 4294967295)", kTakeGlobal,
                  "ReleaseMutex(16384)", "CloseHandle(16384)"}}),
    [](const ::testing::TestParamInfo<LockCase>& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

// NT 4.0 refuses the "Global\" name too; its route is guarded by the plain one.
TEST_F(StartupTest, Nt4IsGuardedByThePlainNameAlone) {
  machine.SetNt4();
  machine.AddFile("C:\\setup\\windrvr.sys", "driver");
  machine.AddFile("C:\\setup\\wdusbd.sys", "driver");
  machine.HoldMutex("Velmoran.Vesk.Setup");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(machine.LogOf("ReleaseMutex"), std::vector<std::string>{"ReleaseMutex(16384)"});
  EXPECT_EQ(machine.OpenMutexHandles(), 0u);
}

}  // namespace
