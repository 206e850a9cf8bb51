// Start-up: the setup state, switches, silent mode and the choice of route.
#include <ctype.h>
#include <stdint.h>

#include <gtest/gtest.h>

#include "setup/admin_security.h"
#include "setup/company_folder.h"
#include "setup/hand_over.h"
#include "setup/setup_lock.h"
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
  // Only SYSTEM and Administrators may change what is in it; made so, as
  // Application Data, which was not there.
  EXPECT_TRUE(machine.IsSealed("C:\\WINDOWS\\Application Data\\Velmoran"));
  EXPECT_TRUE(machine.IsSealed("C:\\WINDOWS\\Application Data"));
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
  bool removePackages = false;  // whole arguments only, letter case ignored
  bool preinstallOnly = false;
};

void PrintTo(const SwitchCase& c, std::ostream* out) { *out << "\"" << c.commandLine << "\""; }

class SwitchTest : public StartupTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchTest, SwitchesAreFoundAnywhereInTheArguments) {
  const SwitchCase& c = GetParam();
  Run(c.commandLine);
  EXPECT_EQ(g_bInstall, c.install) << c.commandLine;
  EXPECT_EQ(g_bSilent, c.silent) << c.commandLine;
  EXPECT_EQ(g_bRemovePackages, c.removePackages) << c.commandLine;
  EXPECT_EQ(g_bPreinstallOnly, c.preinstallOnly) << c.commandLine;
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
                      SwitchCase{"", true, false},
                      SwitchCase{"setup.exe -REMOVE", false, false, true},
                      SwitchCase{"setup.exe -remove -S", false, true, true},
                      SwitchCase{"setup.exe \"-Remove\"", false, false, true},
                      SwitchCase{"setup.exe -REMOVEX", true, false},
                      SwitchCase{"setup.exe /x-REMOVE", true, false},
                      SwitchCase{"\"C:\\a -REMOVE\\setup.exe\"", true, false},
                      SwitchCase{"setup.exe\t-preinstall", true, false, false, true},
                      SwitchCase{"setup.exe -PREINSTALLED", true, false}));

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
  EXPECT_TRUE(Copies().empty());
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

// NT 4.0 makes the company folder for its log alone.
TEST_F(StartupTest, Nt4NeitherUsesTheCompanyFolderNorBindsTheSetupApi) {
  machine.SetNt4();
  machine.RemoveLibrary("setupapi.dll");
  Run();
  EXPECT_EQ(machine.FilesBelow("C:\\WINDOWS\\Application Data"),
            (std::vector<std::string>{"C:\\WINDOWS\\Application Data\\Velmoran",
                                      "C:\\WINDOWS\\Application Data\\Velmoran\\setup.log"}));
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
  EXPECT_TRUE(Copies().empty());
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
// machine, held through the route, given back at the end. What cannot be had
// within the time limit ends in 1618 with nothing changed; only a name this
// Windows refuses is gone without.
struct LockCase {
  const char* name;
  void (*prepare)(CSimMachine&);
  const char* arguments;
  int code;
  DWORD waited;                    // how long the lock took, in simulated milliseconds
  std::vector<std::string> calls;  // the mutex calls in order; empty: not compared
};

void PrintTo(const LockCase& c, std::ostream* out) { *out << c.name; }

class SetupLockTest : public StartupTest, public ::testing::WithParamInterface<LockCase> {};

const char kLockName[] = "Velmoran.Vesk.Setup";
const char kGlobalName[] = "Global\\Velmoran.Vesk.Setup";
const char kTakeSession[] = "CreateMutexA(security, 0, \"Velmoran.Vesk.Setup\")";
const char kTakeGlobal[] = "CreateMutexA(security, 0, \"Global\\Velmoran.Vesk.Setup\")";
const char kBusy[] = "setup: Another setup is running. Try again when it has finished.";
const std::vector<std::string> kBothTakenAndGiven = {
    kTakeSession,          "WaitForSingleObject(16384, 900000)",
    kTakeGlobal,           "WaitForSingleObject(16385, 900000)",
    "ReleaseMutex(16385)", "CloseHandle(16385)",
    "ReleaseMutex(16384)", "CloseHandle(16384)"};

TEST_P(SetupLockTest, HeldForTheWholeRunOrNotAtAll) {
  const LockCase& c = GetParam();
  AddPackage("vesk1");
  c.prepare(machine);
  DWORD start = machine.Now();
  EXPECT_EQ(Run(std::string("setup.exe ") + c.arguments), c.code);
  EXPECT_EQ(machine.Now() - start, c.waited);
  std::vector<std::string> calls;
  size_t lastTake = 0, firstGive = SIZE_MAX, firstChange = SIZE_MAX, lastWork = 0;
  for (size_t i = 0; i < machine.Log().size(); ++i) {
    const std::string& call = machine.Log()[i];
    auto is = [&call](const char* function) { return call.rfind(function, 0) == 0; };
    // The mutexes' handles, not the log file's.
    bool mutexHandle = call.find("(163") != std::string::npos;
    if (is("CreateMutexA") || is("OpenMutexA") || is("WaitForSingleObject") ||
        is("ReleaseMutex") || (is("CloseHandle") && mutexHandle))
      calls.push_back(call);
    if (is("CreateMutexA") || is("OpenMutexA") || is("WaitForSingleObject")) lastTake = i;
    if (is("ReleaseMutex") && firstGive == SIZE_MAX) firstGive = i;
    if (is("CreateDirectoryA") && firstChange == SIZE_MAX) firstChange = i;
    if (is("SetupCopyOEMInfA") || is("MessageBoxA")) lastWork = i;
  }
  if (!c.calls.empty()) {
    EXPECT_EQ(calls, c.calls);
  }
  if (c.code == kAnotherSetupRunning) {
    // Given up: nothing changed, one box unless silent.
    EXPECT_EQ(firstChange, SIZE_MAX);
    EXPECT_TRUE(machine.OemInfCalls().empty());
    EXPECT_EQ(Boxes(), c.arguments[0] ? Boxes_t{} : Boxes_t{kBusy});
    // A box can stay up for hours: nothing of the lock is held meanwhile.
    for (const auto& box : machine.MessageBoxes()) EXPECT_EQ(box.mutexesOwned, 0) << box.text;
  } else {
    // Taken before the first folder is made, given back after the last registration.
    EXPECT_LT(lastTake, firstChange);
    if (firstGive != SIZE_MAX) {
      EXPECT_GT(firstGive, lastWork);
    }
    EXPECT_EQ(machine.OemInfCalls().size(), 1u);
  }
  EXPECT_FALSE(machine.Hung());
  EXPECT_EQ(machine.OpenMutexHandles(), 0u);
  EXPECT_FALSE(machine.OwnsMutex(kLockName));
  EXPECT_FALSE(machine.OwnsMutex(kGlobalName));
}

const DWORD kLimit = kLockWaitLimit;

INSTANTIATE_TEST_SUITE_P(
    Cases, SetupLockTest,
    ::testing::Values(
        // XP's console session is session 0, where both names are one mutex: owned twice.
        LockCase{"free", [](CSimMachine&) {}, "", 0, 0, kBothTakenAndGiven},
        // Another setup holds it for 5 s: this one waits, then runs.
        LockCase{"held by another setup",
                 [](CSimMachine& m) { m.HoldMutex(kLockName, false, 5000); }, "", 0, 5000,
                 {kTakeSession, "WaitForSingleObject(16384, 900000)", kTakeGlobal,
                  "WaitForSingleObject(16385, 895000)", "ReleaseMutex(16385)",
                  "CloseHandle(16385)", "ReleaseMutex(16384)", "CloseHandle(16384)"}},
        // A setup killed while holding it: WAIT_ABANDONED, and the lock is this one's.
        LockCase{"abandoned", [](CSimMachine& m) { m.HoldMutex(kLockName, true); }, "", 0, 0,
                 kBothTakenAndGiven},
        // An older setup of another account made it: opened for SYNCHRONIZE, waited on.
        LockCase{"another account's",
                 [](CSimMachine& m) {
                   m.HoldMutex(kLockName, false, 2000, CSimMachine::kOtherAccount);
                 },
                 "", 0, 2000,
                 {kTakeSession, "OpenMutexA(1048576, 0, \"Velmoran.Vesk.Setup\")",
                  "WaitForSingleObject(16384, 900000)", kTakeGlobal,
                  "OpenMutexA(1048576, 0, \"Global\\Velmoran.Vesk.Setup\")",
                  "WaitForSingleObject(16385, 898000)", "ReleaseMutex(16385)",
                  "CloseHandle(16385)", "ReleaseMutex(16384)", "CloseHandle(16384)"}},
        // Another administrator's session holds the Global name alone for 3 s.
        LockCase{"Global name held from session 0",
                 [](CSimMachine& m) {
                   m.SetSession(1);
                   m.HoldMutex(kGlobalName, false, 3000, CSimMachine::kOtherAccount);
                 },
                 "", 0, 3000, {}},
        // A squatter nobody may open, or an object of another type, never goes away:
        // tried every second up to the limit, then 1618.
        LockCase{"sealed by another account",
                 [](CSimMachine& m) {
                   m.HoldMutex(kLockName, false, INFINITE, CSimMachine::kOtherAccountSealed);
                 },
                 "", kAnotherSetupRunning, kLimit, {}},
        LockCase{"name of another type",
                 [](CSimMachine& m) {
                   m.HoldMutex(kGlobalName, false, INFINITE, CSimMachine::kOtherType);
                 },
                 "-S", kAnotherSetupRunning, kLimit, {}},
        // A first setup that never ends (a box in a disconnected session).
        LockCase{"held for ever",
                 [](CSimMachine& m) { m.HoldMutex(kLockName, false, INFINITE); }, "",
                 kAnotherSetupRunning, kLimit,
                 {kTakeSession, "WaitForSingleObject(16384, 900000)", "CloseHandle(16384)"}},
        // Another session holds the Global name for ever: the plain one, taken
        // meanwhile, is given back before the box.
        LockCase{"Global name held for ever from session 0",
                 [](CSimMachine& m) {
                   m.SetSession(1);
                   m.HoldMutex(kGlobalName, false, INFINITE, CSimMachine::kOtherAccount);
                 },
                 "", kAnotherSetupRunning, kLimit, {}},
        // GetTickCount wraps to 0 during the wait (49.7 days after a start).
        LockCase{"the clock wraps while another setup holds it",
                 [](CSimMachine& m) {
                   m.SetTickCount(0xFFFFFFFFu - 1999);
                   m.HoldMutex(kLockName, false, 5000);
                 },
                 "", 0, 5000,
                 {kTakeSession, "WaitForSingleObject(16384, 900000)", kTakeGlobal,
                  "WaitForSingleObject(16385, 895000)", "ReleaseMutex(16385)",
                  "CloseHandle(16385)", "ReleaseMutex(16384)", "CloseHandle(16384)"}},
        LockCase{"the clock wraps while a squatter stays",
                 [](CSimMachine& m) {
                   m.SetTickCount(0xFFFFFFFFu - 400000);
                   m.HoldMutex(kLockName, false, INFINITE, CSimMachine::kOtherAccountSealed);
                 },
                 "-S", kAnotherSetupRunning, kLimit, {}},
        LockCase{"held for ever, silent",
                 [](CSimMachine& m) { m.HoldMutex(kLockName, false, INFINITE); }, "-S",
                 kAnotherSetupRunning, kLimit, {}},
        // A sealed squatter that goes after a minute: a retry finds the name free.
        LockCase{"sealed for a minute",
                 [](CSimMachine& m) {
                   m.HoldMutex(kLockName, false, 60000, CSimMachine::kOtherAccountSealed);
                 },
                 "", 0, 60000, {}},
        LockCase{"a failed wait is tried again",
                 [](CSimMachine& m) { m.FailWaits(1); }, "", 0, 1000, {}},
        // A Windows that takes the plain name but not the Global one: the plain one alone.
        LockCase{"Global name refused", [](CSimMachine& m) {
                   m.RefuseMutexes(ERROR_PATH_NOT_FOUND, kGlobalName);
                 },
                 "", 0, 0,
                 {kTakeSession, "WaitForSingleObject(16384, 900000)", kTakeGlobal,
                  "ReleaseMutex(16384)", "CloseHandle(16384)"}},
        // Every create refused (a machine without objects for us): no run unguarded.
        LockCase{"uncreatable", [](CSimMachine& m) { m.RefuseMutexes(); }, "-S",
                 kAnotherSetupRunning, kLimit, {}},
        // Windows 98 knows no security and no "Global\" names: the plain one alone.
        LockCase{"Windows 98", [](CSimMachine& m) { m.SetWin98(); }, "", 0, 0,
                 {"CreateMutexA(null, 0, \"Velmoran.Vesk.Setup\")",
                  "WaitForSingleObject(16384, 900000)",
                  "CreateMutexA(null, 0, \"Global\\Velmoran.Vesk.Setup\")",
                  "ReleaseMutex(16384)", "CloseHandle(16384)"}}),
    CaseName());

// The descriptors the lock's mutexes and the company folder are made with,
// read back as Windows reads a self-relative one: a DACL that grants SYSTEM
// and Administrators full access (the folder's inherited by what is made in
// it, and nothing from above), and nothing that would make Windows refuse it.
TEST(AdminDescriptors, AdmitSystemAndAdministrators) {
  struct Row {
    const unsigned char* sd;
    unsigned control;
    uint32_t owner;
    unsigned aceFlags;
    uint32_t rights;
  } rows[] = {
      // SE_SELF_RELATIVE | SE_DACL_PRESENT; no owner: the maker's default
      {g_lockSecurityDescriptor.bytes, 0x8004, 0, 0, 0x001F0001u},  // MUTEX_ALL_ACCESS
      // ... | SE_DACL_PROTECTED; owned by Administrators; OBJECT_ and CONTAINER_INHERIT
      {g_companyFolderSecurity.bytes, 0x9004, 72, 3, 0x001F01FFu},  // FILE_ALL_ACCESS
  };
  auto word = [](const unsigned char* p) { return p[0] | p[1] << 8; };
  auto dword = [](const unsigned char* p) {
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
  };
  auto sidText = [&](const unsigned char* sid) {
    std::string text = "S-1-" + std::to_string(sid[7]);
    for (int k = 0; k < sid[1]; ++k) text += "-" + std::to_string(dword(sid + 8 + 4 * k));
    return text;
  };
  for (const Row& row : rows) {
    const unsigned char* sd = row.sd;
    ASSERT_EQ(sd[0], 1);                 // SECURITY_DESCRIPTOR_REVISION
    ASSERT_EQ(word(sd + 2), row.control);
    ASSERT_EQ(dword(sd + 4), row.owner);
    if (row.owner) {
      EXPECT_EQ(sidText(sd + row.owner), "S-1-5-32-544");
    }
    EXPECT_EQ(dword(sd + 12), 0u);       // no SACL
    uint32_t dacl = dword(sd + 16);
    ASSERT_EQ(dacl, 20u);
    const unsigned char* acl = sd + dacl;
    EXPECT_EQ(acl[0], 2);                // ACL_REVISION
    ASSERT_EQ(dacl + word(acl + 2), 72u);
    ASSERT_EQ(word(acl + 4), 2);
    std::vector<std::string> granted;
    const unsigned char* ace = acl + 8;
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(ace[0], 0);              // ACCESS_ALLOWED_ACE_TYPE
      EXPECT_EQ(ace[1], row.aceFlags);
      EXPECT_EQ(dword(ace + 4), row.rights);
      const unsigned char* sid = ace + 8;
      ASSERT_EQ(sid[0], 1);
      EXPECT_EQ(word(ace + 2), 8u + 8u + 4u * sid[1]);  // the entry's size fits its SID
      granted.push_back(sidText(sid));
      ace += word(ace + 2);
    }
    EXPECT_EQ(ace, sd + 72);
    EXPECT_EQ(granted, (std::vector<std::string>{"S-1-5-18", "S-1-5-32-544"}));
  }
}

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

// The 32-bit file under WOW64 on a 64-bit machine hands the run over to the
// native twin it carries, once it holds the lock, and exits with its exit
// code. The twin runs from a folder of that run's own in the checked company
// folder.
const char kAppData[] = "C:\\WINDOWS\\Application Data";
const char kCompany[] = "C:\\WINDOWS\\Application Data\\Velmoran";
const char kRun[] = "C:\\WINDOWS\\Application Data\\Velmoran\\run-1A4-3E8";
const char kX64Twin[] = "C:\\WINDOWS\\Application Data\\Velmoran\\run-1A4-3E8\\setup64-1A4.exe";
const char kArm64Twin[] =
    "C:\\WINDOWS\\Application Data\\Velmoran\\run-1A4-3E8\\setuparm64-1A4.exe";
const char kSystem32[] = "C:\\WINDOWS\\System32";
// Larger than one read, so that every chunk is compared.
const std::string kX64Image = "MZ x64 " + std::string(5000, 'x');
const std::string kArm64Image = "MZ arm64 " + std::string(3000, 'a');

struct HandOverCase {
  const char* name;
  void (*prepare)(CSimMachine&);
  const char* program;       // the program's full path
  const char* twin;          // the file started; null: no hand-over
  DWORD childExit;
  int code;                  // this process's exit code
  const char* failure;       // why it did its own run
  bool killedWithParent = true;
  void (*check)(CSimMachine&) = nullptr;  // what else must hold afterwards
};

void PrintTo(const HandOverCase& c, std::ostream* out) { *out << c.name; }

class HandOverTest : public StartupTest, public ::testing::WithParamInterface<HandOverCase> {};

void X64Xp(CSimMachine& m) {
  m.SetVersion(VER_PLATFORM_WIN32_NT, 5, 2, 3790);
  m.SetNativeMachine(IMAGE_FILE_MACHINE_AMD64);
}
void X64Win7(CSimMachine& m) {
  m.SetVersion(VER_PLATFORM_WIN32_NT, 6, 1, 7601);
  m.SetNativeMachine(IMAGE_FILE_MACHINE_AMD64);
}
void X64Win11(CSimMachine& m) {
  m.SetVersion(VER_PLATFORM_WIN32_NT, 10, 0, 22631);
  m.SetNativeMachine(IMAGE_FILE_MACHINE_AMD64);
}
void Arm64Win11(CSimMachine& m) {
  m.SetVersion(VER_PLATFORM_WIN32_NT, 10, 0, 22631);
  m.SetNativeMachine(IMAGE_FILE_MACHINE_ARM64);
}
// The company folder as an older setup left it, inheriting from the Windows
// folder (XP's admits Power Users), or as another account made it.
void OlderFolderOnXp(CSimMachine& m) {
  X64Xp(m);
  m.AddFolder(kCompany);
}
void OwnedBy(CSimMachine& m, const std::string& owner) {
  m.AddFolder(kCompany);
  m.SetSecurity(kCompany, owner,
                CSimMachine::Acl({CSimMachine::Ace(0, 3, 0x001F01FF, owner),
                                  CSimMachine::Ace(0, 3, 0x001F01FF, CSimMachine::Sid({32, 544}))}));
}
// A Power User may make it under XP's Windows folder, which passes on to it
// what admits Administrators too: its owner may still change that back.
void FolderOfAPowerUserOnXp(CSimMachine& m) {
  X64Xp(m);
  m.AddFolder(kCompany);
  m.SetSecurity(kCompany, CSimMachine::Sid({21, 1, 2, 3, 1003}),
                CSimMachine::Acl({CSimMachine::Ace(0, 3, 0x001F01FF, CSimMachine::Sid({32, 544})),
                                  CSimMachine::Ace(0, 3, 0x001301BF, CSimMachine::Sid({32, 547}))}));
}
// An older setup's folder on XP x64, where a Power User made a folder named
// like a killed run's, with a file named like one of the system's.
void PowerUsersRunFolder(CSimMachine& m) {
  OlderFolderOnXp(m);
  m.AddFile(std::string(kSystem32) + "\\hal.dll", "the system's");
  std::string run = std::string(kCompany) + "\\run-99-1";
  m.AddFile(run + "\\hal.dll", "a Power User's");
  std::string user = CSimMachine::Sid({21, 1, 2, 3, 1003});
  m.SetSecurity(run, user, CSimMachine::Acl({CSimMachine::Ace(0, 3, 0x001F01FF, user)}));
}
// What was in the way went aside under its own name and the time.
void SetAside(CSimMachine& m, const char* path) {
  std::string aside = std::string(path) + ".set-aside-20261209-102030";
  EXPECT_TRUE(m.Attributes(aside) & FILE_ATTRIBUTE_DIRECTORY) << aside;
  EXPECT_TRUE(m.IsSealed(kCompany));
}
// A folder's entries: a leftover of a run whose process still runs stays.
bool HasRunFolders(CSimMachine& m) {
  for (const std::string& name : m.FilesBelow(kCompany))
    if (name.find("\\run-") != std::string::npos) return true;
  return false;
}

TEST_P(HandOverTest, TwinRunsInsteadOrTheFileDoesItsOwnRun) {
  const HandOverCase& c = GetParam();
  machine.SetProgramPath(c.program);
  std::string folder = std::string(c.program).substr(0, std::string(c.program).rfind('\\'));
  machine.AddFile(folder + "\\vesk1.inf", "[Version]\r\n");
  machine.AddFile(folder + "\\vesk1.sys", "driver");
  // Planted beside the program: never started.
  machine.AddFile(folder + "\\setup64.exe", "MZ planted");
  machine.AddResource(kTwinX64Resource, kX64Image);
  machine.AddResource(kTwinArm64Resource, kArm64Image);
  machine.SetChildExitCode(c.childExit);
  c.prepare(machine);
  int code = Run("\"" + std::string(c.program) + "\"  -S  /x");
  EXPECT_EQ(code, c.code);
  EXPECT_STREQ(g_szHandOverFailure, c.failure);
  if (c.twin) {
    ASSERT_EQ(machine.ProcessesStarted().size(), 1u);
    const auto& child = machine.ProcessesStarted()[0];
    EXPECT_EQ(child.application, c.twin);
    EXPECT_EQ(child.commandLine, "\"" + std::string(c.twin) + "\" -S  /x");
    EXPECT_EQ(child.image, std::string(c.twin) == kX64Twin ? kX64Image : kArm64Image);
    EXPECT_EQ(child.origin, c.program);
    EXPECT_TRUE(child.heldAgainstWrites);
    // Application Data and the company folder, each once.
    EXPECT_EQ(child.foldersHeld, (std::vector<std::string>{kAppData, kCompany}));
    EXPECT_TRUE(child.creationFlags & CREATE_SUSPENDED);
    EXPECT_TRUE(child.resumed);
    EXPECT_EQ(child.killOnParentEnd, c.killedWithParent);
    // Its job stayed open until it had ended (where its end was seen).
    if (static_cast<int>(c.childExit) == c.code) {
      EXPECT_FALSE(child.killedByJob);
    }
    EXPECT_FALSE(child.inheritHandles);
    EXPECT_TRUE(machine.IsSealed(kCompany));
    // The lock, taken first and given back; no box of its own.
    EXPECT_FALSE(machine.LogOf("CreateMutexA").empty());
    EXPECT_FALSE(machine.OwnsMutex("Velmoran.Vesk.Setup"));
    EXPECT_TRUE(machine.MessageBoxes().empty());
  } else {
    // Nothing ran: one that started and could not be resumed was ended.
    EXPECT_LE(machine.ProcessesStarted().size(), 1u);
    for (const auto& child : machine.ProcessesStarted())
      EXPECT_TRUE(child.ended && !child.resumed);
    EXPECT_EQ(machine.OemInfCalls().size(), c.code == 0 ? 1u : 0u);
  }
  if (c.check) c.check(machine);
  EXPECT_FALSE(machine.Hung());
  // No twin nor run folder is left behind but one that could not go yet.
  if (machine.DeletesAtRestart().empty()) {
    EXPECT_FALSE(machine.FileExists(kX64Twin));
    EXPECT_FALSE(machine.FolderExists(kRun));
  }
  EXPECT_EQ(machine.OpenProcessHandles(), 0u);
  EXPECT_EQ(machine.OpenFileHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HandOverTest,
    ::testing::Values(
        HandOverCase{"x64 XP by IsWow64Process", X64Xp, "C:\\setup\\setup.exe", kX64Twin, 0, 0,
                     ""},
        HandOverCase{"x64 11 by IsWow64Process2", X64Win11, "C:\\setup\\setup.exe", kX64Twin, 1,
                     1, ""},
        HandOverCase{"the twin's failure comes through exactly", X64Win11,
                     "C:\\setup\\setup.exe", kX64Twin, 0xFFFFFFFFu, -1, ""},
        HandOverCase{"the twin's 1618 too", X64Win11, "C:\\setup\\setup.exe", kX64Twin, 1618,
                     1618, ""},
        // An end that cannot be seen is no success.
        HandOverCase{"the twin's end unseen",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AtCall("ResumeThread", [](CSimMachine& n) { n.FailWaits(1); });
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, -1, ""},
        HandOverCase{"silence by name goes with the origin", X64Win11, "C:\\cd\\ssetup.exe",
                     kX64Twin, 0, 0, ""},
        HandOverCase{"a renamed download", X64Win11, "C:\\Users\\a\\Downloads\\setup (1).exe",
                     kX64Twin, 0, 0, ""},
        HandOverCase{"from a share", X64Win11, "\\\\server\\share\\setup.exe", kX64Twin, 0, 0,
                     ""},
        HandOverCase{"ARM64 11", Arm64Win11, "C:\\setup\\setup.exe", kArm64Twin, 0, 0, ""},
        HandOverCase{"ARM64 without its twin",
                     [](CSimMachine& m) {
                       Arm64Win11(m);
                       m.AddResource(kTwinArm64Resource, "");
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, 0, "this file carries no setuparm64.exe"},
        HandOverCase{"no twin carried",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AddResource(kTwinX64Resource, "");
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, 0, "this file carries no setup64.exe"},
        // Failing, it says nothing: IsWow64Process and the native system tell.
        HandOverCase{"IsWow64Process2 fails on x64",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.FailIsWow64Process2();
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, ""},
        // ARM64 Windows 10 emulates no x64: GetNativeSystemInfo says x86 then.
        HandOverCase{"IsWow64Process2 fails on ARM64 10",
                     [](CSimMachine& m) {
                       m.SetWin10();
                       m.SetNativeMachine(IMAGE_FILE_MACHINE_ARM64);
                       m.FailIsWow64Process2();
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, 0, ""},
        // Windows 11 emulates x64 too, and tells an x86 process so.
        HandOverCase{"IsWow64Process2 fails on ARM64 11",
                     [](CSimMachine& m) {
                       Arm64Win11(m);
                       m.FailIsWow64Process2();
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, ""},
        // WOW64 on Itanium says IA64: there is no twin for it.
        HandOverCase{"Itanium",
                     [](CSimMachine& m) {
                       m.SetVersion(VER_PLATFORM_WIN32_NT, 5, 2, 3790);
                       m.SetNativeMachine(IMAGE_FILE_MACHINE_IA64);
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, 0, ""},
        HandOverCase{"twin cannot start",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.FailCreateProcess(ERROR_BAD_EXE_FORMAT);
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, 0,
                     "C:\\WINDOWS\\Application Data\\Velmoran\\run-1A4-3E8\\setup64-1A4.exe could "
                     "not be started (error 193)"},
        HandOverCase{"a full disk",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.FailWrites(ERROR_DISK_FULL);
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, 0,
                     "C:\\WINDOWS\\Application Data\\Velmoran\\run-1A4-3E8\\setup64-1A4.exe could "
                     "not be written (error 112)"},
        HandOverCase{"its run folder cannot be made",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.FailCreateDirectory(kRun);
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, 0,
                     "C:\\WINDOWS\\Application Data\\Velmoran\\run-1A4-3E8 could not be made "
                     "(error 5)"},
        HandOverCase{"no company folder",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.FailCreateDirectory(kCompany);
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, -1, "the company folder is not safe to use"},
        // Another account may change what it owns: it goes aside, and a
        // folder of SYSTEM's and Administrators' own is made.
        HandOverCase{"a company folder of another account",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       OwnedBy(m, CSimMachine::Sid({21, 1, 2, 3, 1001}));
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "",
                     true, [](CSimMachine& m) { SetAside(m, kCompany); }},
        HandOverCase{"a company folder of Power Users",
                     [](CSimMachine& m) {
                       X64Xp(m);
                       OwnedBy(m, CSimMachine::Sid({32, 547}));
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) { SetAside(m, kCompany); }},
        HandOverCase{"a company folder a Power User made", FolderOfAPowerUserOnXp,
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) { SetAside(m, kCompany); }},
        // Its owner lets go of it once the check has failed and puts a junction
        // in its place: the log, written there all the same, never follows it.
        HandOverCase{"a Power User's folder swapped for a junction after the check",
                     [](CSimMachine& m) {
                       FolderOfAPowerUserOnXp(m);
                       m.OpenElsewhere(kCompany, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
                       m.AtCall("LoadLibraryExA", [](CSimMachine& n) {
                         n.CloseOtherProcesses();
                         if (n.MoveFileA(kCompany, "C:\\WINDOWS\\Application Data\\moved"))
                           n.AddJunction(kCompany, kSystem32);
                       });
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, kCompanyFolderRefused,
                     "the company folder is not safe to use: C:\\WINDOWS\\Application "
                     "Data\\Velmoran: another account owns it, and it cannot be set aside (error 32)",
                     true, [](CSimMachine& m) {
                       EXPECT_FALSE(m.FileExists(std::string(kSystem32) + "\\setup.log"));
                       EXPECT_TRUE(m.FileExists(std::string(kCompany) + "\\setup.log"));
                     }},
        // A volume whose kind is not known is checked like NTFS.
        HandOverCase{"a Power User's folder on a volume that does not say its kind",
                     [](CSimMachine& m) {
                       FolderOfAPowerUserOnXp(m);
                       m.FailVolumeQuery();
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) { SetAside(m, kCompany); }},
        // One that cannot be set aside (a program holds it, sharing no
        // deleting) is not used at all.
        HandOverCase{"a Power User's folder that cannot be set aside",
                     [](CSimMachine& m) {
                       FolderOfAPowerUserOnXp(m);
                       m.OpenElsewhere(kCompany, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, kCompanyFolderRefused,
                     "the company folder is not safe to use: C:\\WINDOWS\\Application "
                     "Data\\Velmoran: another account owns it, and it cannot be set aside (error 32)",
                     true, [](CSimMachine& m) { EXPECT_TRUE(m.OemInfCalls().empty()); }},
        // SYSTEM and this administrator are as good as Administrators.
        HandOverCase{"a company folder of SYSTEM",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       OwnedBy(m, CSimMachine::Sid({18}));
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) {
                       EXPECT_FALSE(m.FolderExists(std::string(kCompany) +
                                                   ".set-aside-20261209-102030"));
                     }},
        HandOverCase{"a company folder of this administrator",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AddFolder(kCompany);
                       m.SetSecurity(kCompany, CSimMachine::Sid({21, 1, 2, 3, 500}), "", false);
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) {
                       EXPECT_FALSE(m.FolderExists(std::string(kCompany) +
                                                   ".set-aside-20261209-102030"));
                     }},
        // A junction: the hold and the seal would reach its target.
        HandOverCase{"the company folder a junction to system32",
                     [](CSimMachine& m) {
                       X64Xp(m);
                       m.AddFolder(kAppData);
                       m.AddJunction(kCompany, kSystem32);
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) {
                       SetAside(m, kCompany);
                       EXPECT_FALSE(m.IsSealed(kSystem32));
                       EXPECT_FALSE(m.FileExists(std::string(kSystem32) + "\\setup.log"));
                     }},
        // Switched in between the look at its attributes and the open: the
        // held handle is the link's own.
        HandOverCase{"a junction switched in after its attributes were read",
                     [](CSimMachine& m) {
                       OlderFolderOnXp(m);
                       m.AtCall("CreateFileA", [](CSimMachine& n) {
                         n.MoveFileA(kCompany, "C:\\WINDOWS\\Application Data\\moved");
                         n.AddJunction(kCompany, kSystem32);
                       }, 2);
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) {
                       SetAside(m, kCompany);
                       EXPECT_FALSE(m.IsSealed(kSystem32));
                     }},
        // Nothing is written where a link that stays leads, the log neither.
        HandOverCase{"Application Data a junction that cannot be set aside",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AddFolder("C:\\elsewhere\\Velmoran");
                       m.AddJunction(kAppData, "C:\\elsewhere");
                       m.DenyWritesIn("C:\\WINDOWS");
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, kCompanyFolderRefused,
                     "the company folder is not safe to use: C:\\WINDOWS\\Application Data: it is "
                     "a link to another folder, and it cannot be set aside (error 5)",
                     true, [](CSimMachine& m) {
                       EXPECT_EQ(m.FilesBelow("C:\\elsewhere"),
                                 std::vector<std::string>{"C:\\elsewhere\\Velmoran"});
                     }},
        HandOverCase{"Application Data a junction",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AddFolder("C:\\elsewhere\\Velmoran");
                       m.AddJunction(kAppData, "C:\\elsewhere");
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) {
                       SetAside(m, kAppData);
                       EXPECT_TRUE(m.FilesBelow("C:\\elsewhere\\Velmoran").empty());
                     }},
        // Another junction put in the name once the first went aside: the
        // note must not say that a new folder was made.
        HandOverCase{"a junction set aside and another put in its place",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AddFolder(kAppData);
                       m.AddJunction(kCompany, kSystem32);
                       m.AtCall("MoveFileA", [](CSimMachine& n) {
                         n.AtCall("CreateDirectoryA", [](CSimMachine& o) {
                           o.AddJunction(kCompany, kSystem32);
                         });
                       });
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, kCompanyFolderRefused,
                     "the company folder is not safe to use: C:\\WINDOWS\\Application "
                     "Data\\Velmoran was set aside as C:\\WINDOWS\\Application "
                     "Data\\Velmoran.set-aside-20261209-102030: it is a link to another folder; "
                     "what is in its place now will not do either: it is a link to another folder",
                     true, [](CSimMachine& m) {
                       EXPECT_TRUE(m.OemInfCalls().empty());
                       EXPECT_FALSE(m.IsSealed(kSystem32));
                     }},
        // Held sharing no deleting: no rename between the write and the start
        // can put a junction in its place.
        HandOverCase{"a junction switched in before the start",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AddFile("C:\\attacker\\Velmoran\\run-1A4-3E8\\setup64-1A4.exe", "MZ evil");
                       m.AtCall("CreateProcessA", [](CSimMachine& n) {
                         EXPECT_FALSE(n.MoveFileA(kAppData, "C:\\WINDOWS\\gone"));
                         EXPECT_FALSE(n.MoveFileA(kCompany, "C:\\WINDOWS\\gone"));
                       });
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, ""},
        // Ours but held by another program now: left alone, and this run refused,
        // as a later run may find it free.
        HandOverCase{"a company folder held for deleting",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AddFolder(kCompany);
                       m.OpenElsewhere(kCompany, 0, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                                        FILE_SHARE_DELETE);
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, kCompanyFolderRefused,
                     "the company folder is not safe to use: C:\\WINDOWS\\Application "
                     "Data\\Velmoran: it cannot be held (error 32)",
                     true, [](CSimMachine& m) { EXPECT_TRUE(m.FolderExists(kCompany)); }},
        HandOverCase{"the twin does not resume",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.FailResumeThread();
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, 0,
                     "C:\\WINDOWS\\Application Data\\Velmoran\\run-1A4-3E8\\setup64-1A4.exe could "
                     "not be started (error 5)"},
        HandOverCase{"an older setup's folder is sealed first", OlderFolderOnXp,
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, ""},
        HandOverCase{"a folder open to everybody is sealed first",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AddFolder(kCompany);
                       m.SetSecurity(kCompany, CSimMachine::Sid({32, 544}), "", false);
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, ""},
        // What killed runs left goes, once nothing runs from it; names
        // listed only for their 8.3 names are not ours.
        HandOverCase{"a killed run's leftovers are removed",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AddFile(std::string(kCompany) + "\\setup64-99.exe", "MZ old");
                       m.AddFile(std::string(kCompany) + "\\run-99-1\\setup64-99.exe", "MZ old");
                       m.AddFile(std::string(kCompany) + "\\run -1\\notes.txt", "not ours");
                       m.AddFile(std::string(kCompany) + "\\setup-tool.exe2", "not ours");
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) {
                       EXPECT_FALSE(HasRunFolders(m));
                       EXPECT_FALSE(m.FileExists(std::string(kCompany) + "\\setup64-99.exe"));
                       EXPECT_TRUE(m.FileExists(std::string(kCompany) + "\\run -1\\notes.txt"));
                       EXPECT_TRUE(m.FileExists(std::string(kCompany) + "\\setup-tool.exe2"));
                     }},
        // A junction planted among them before the folder was sealed: its
        // target's files are never reached.
        HandOverCase{"a junction named like a leftover",
                     [](CSimMachine& m) {
                       OlderFolderOnXp(m);
                       m.AddFile(std::string(kSystem32) + "\\drivers\\keep.sys", "driver");
                       m.AddJunction(std::string(kCompany) + "\\run-99-1",
                                     std::string(kSystem32) + "\\drivers");
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) {
                       EXPECT_TRUE(m.FileExists(std::string(kSystem32) + "\\drivers\\keep.sys"));
                       EXPECT_FALSE(HasRunFolders(m));
                     }},
        // A Power User made it before the folder was sealed and owns it: he
        // may empty it and make it a junction at any moment, before it is
        // listed or before the restart that deletes what is scheduled in it.
        HandOverCase{"a Power User's run folder made a junction while it is cleaned",
                     [](CSimMachine& m) {
                       PowerUsersRunFolder(m);
                       m.AtCall("FindFirstFileA", [](CSimMachine& n) {
                         n.RemovePath(std::string(kCompany) + "\\run-99-1\\hal.dll");
                         n.RemovePath(std::string(kCompany) + "\\run-99-1");
                         n.AddJunction(std::string(kCompany) + "\\run-99-1", kSystem32);
                       }, 2);
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) {
                       EXPECT_TRUE(m.FileExists(std::string(kSystem32) + "\\hal.dll"));
                     }},
        HandOverCase{"a Power User's run folder made a junction before the restart",
                     [](CSimMachine& m) {
                       PowerUsersRunFolder(m);
                       m.OpenElsewhere(std::string(kCompany) + "\\run-99-1\\hal.dll", GENERIC_READ,
                                       FILE_SHARE_READ);
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) {
                       m.CloseOtherProcesses();
                       m.RemovePath(std::string(kCompany) + "\\run-99-1\\hal.dll");
                       m.RemovePath(std::string(kCompany) + "\\run-99-1");
                       m.AddJunction(std::string(kCompany) + "\\run-99-1", kSystem32);
                       m.Restart();
                       EXPECT_TRUE(m.FileExists(std::string(kSystem32) + "\\hal.dll"));
                     }},
        HandOverCase{"a run folder of a process that still runs stays",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AddFile(std::string(kCompany) + "\\run-99-1\\setup64-99.exe", "MZ old");
                       m.AddRunningProcess(0x99);
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) {
                       EXPECT_TRUE(m.FileExists(std::string(kCompany) +
                                                "\\run-99-1\\setup64-99.exe"));
                     }},
        // A scanner holds the ended twin a moment: it goes all the same.
        HandOverCase{"a scanner holds the twin a moment",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AtCall("GetExitCodeProcess",
                                [](CSimMachine& n) { n.LockFileFor(kX64Twin, 1000); });
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) { EXPECT_TRUE(m.DeletesAtRestart().empty()); }},
        HandOverCase{"a scanner holds the twin for long",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.AtCall("GetExitCodeProcess",
                                [](CSimMachine& n) { n.LockFileFor(kX64Twin, 60000); });
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", true,
                     [](CSimMachine& m) {
                       EXPECT_EQ(m.DeletesAtRestart(),
                                 (std::vector<std::string>{kX64Twin, kRun}));
                     }},
        // Before Windows 8 a process in a job joins no other: the twin runs without.
        HandOverCase{"in an agent's job on 7",
                     [](CSimMachine& m) {
                       X64Win7(m);
                       m.StartInJob();
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", false},
        HandOverCase{"in an agent's job on 11",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.StartInJob();
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, ""},
        HandOverCase{"a job whose limits cannot be set",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.FailJobLimits();
                     },
                     "C:\\setup\\setup.exe", kX64Twin, 0, 0, "", false},
        HandOverCase{"the 64-bit file itself",
                     [](CSimMachine& m) {
                       X64Win11(m);
                       m.Run64BitProcess();
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, 0, ""},
        HandOverCase{"32-bit Windows 10", [](CSimMachine& m) { m.SetWin10(); },
                     "C:\\setup\\setup.exe", nullptr, 0, 0, ""},
        // Windows 2000 has neither function (and no 64-bit edition).
        HandOverCase{"Windows 2000",
                     [](CSimMachine& m) {
                       m.SetWin2000();
                       m.SetNativeMachine(IMAGE_FILE_MACHINE_AMD64);
                     },
                     "C:\\setup\\setup.exe", nullptr, 0, 0, ""}),
    CaseName());

// FAT keeps no owners or DACLs: nothing on it can be checked or sealed, and
// the run is not refused for it.
TEST_F(StartupTest, FatVolumeIsNotChecked) {
  machine.UseFatVolume();
  AddPackage("vesk1");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(machine.OemInfCalls().size(), 1u);
}

// Two 32-bit runs at once: the second waits for the lock before it hands
// over, so it never meets the first one's twin.
TEST_F(StartupTest, SecondRunWaitsBeforeItHandsOver) {
  X64Win11(machine);
  machine.AddResource(kTwinX64Resource, kX64Image);
  AddPackage("vesk1");
  machine.HoldMutex("Velmoran.Vesk.Setup", false, 5000);
  EXPECT_EQ(Run("setup.exe -S"), 0);
  const std::vector<std::string>& log = machine.Log();
  auto first = [&log](const char* function) {
    for (size_t i = 0; i < log.size(); ++i)
      if (log[i].rfind(function, 0) == 0) return i;
    return log.size();
  };
  EXPECT_LT(first("WaitForSingleObject"), first("FindFirstFileA"));
  EXPECT_LT(first("WaitForSingleObject"), first("CreateDirectoryA"));
  ASSERT_EQ(machine.ProcessesStarted().size(), 1u);
}

// The x64 file started by hand on ARM64 Windows 11 runs itself, emulated,
// and says so (IsWow64Process2 does not call that WOW64); on x64 Windows,
// with or without IsWow64Process2, it is native.
TEST_F(StartupTest, X64FileSaysWhetherItRunsEmulated) {
  struct Row {
    void (*prepare)(CSimMachine&);
    const char* says;
  } rows[] = {
      {Arm64Win11, "WOW64: no, x64 emulated on ARM64\r\n"},
      {X64Win11, "WOW64: no\r\n"},
      {X64Win7, "WOW64: no\r\n"},
  };
  for (const Row& row : rows) {
    CSimMachine fresh;
    fresh.Activate();
    row.prepare(fresh);
    fresh.Run64BitProcess();
    fresh.AddFile("C:\\setup\\vesk1.inf", "[Version]\r\n");
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(fresh.ProcessesStarted().empty());
    EXPECT_EQ(fresh.OemInfCalls().size(), 1u);
    std::string log = fresh.FileContent(std::string(kCompany) + "\\setup.log");
    EXPECT_NE(log.find(row.says), std::string::npos) << row.says << log;
  }
  machine.Activate();
}

// The twin runs as the program the user started: its folder, its name's
// silence, its path in the log; an origin that is no full path is no origin.
TEST_F(StartupTest, TwinRunsAsTheProgramItStandsFor) {
  machine.Run64BitProcess();
  machine.SetProgramPath(kX64Twin);
  machine.AddFile("D:\\My-Setup\\vesk1.inf", "[Version]\r\n");
  machine.AddFile("D:\\My-Setup\\vesk1.sys", "driver");
  machine.SetEnvironment("VESK_SETUP_ORIGIN", "D:\\My-Setup\\ssetup.exe");
  EXPECT_EQ(Run(std::string("\"") + kX64Twin + "\""), 0);
  EXPECT_STREQ(g_strModuleDir.c_str(), "D:\\My-Setup");
  EXPECT_EQ(machine.CurrentDir(), "D:\\My-Setup");
  EXPECT_TRUE(g_bSilent);
  EXPECT_EQ(machine.OemInfCalls().size(), 1u);
  std::string log = machine.FileContent(std::string(kCompany) + "\\setup.log");
  EXPECT_NE(log.find(" D:\\My-Setup\\ssetup.exe 1.0.0.0 "), std::string::npos) << log;
  EXPECT_NE(log.find("running as " + std::string(kX64Twin) +
                     " for D:\\My-Setup\\ssetup.exe; ends with it: no"),
            std::string::npos) << log;
  machine.StartInKillOnCloseJob();
  Run(std::string("\"") + kX64Twin + "\"");
  log = machine.FileContent(std::string(kCompany) + "\\setup.log");
  EXPECT_NE(log.find("ssetup.exe; ends with it: yes"), std::string::npos) << log;
  // Before Windows 8 it stays in the agent's job, which may end on close
  // too, but not with the file that started it.
  machine.StartInAgentsKillOnCloseJob();
  Run(std::string("\"") + kX64Twin + "\"");
  log = machine.FileContent(std::string(kCompany) + "\\setup.log");
  EXPECT_NE(log.rfind("ssetup.exe; ends with it: no"), std::string::npos) << log;
  EXPECT_GT(log.rfind("ssetup.exe; ends with it: no"), log.rfind("ends with it: yes"));

  for (const char* notFull : {"ssetup.exe", "D:ssetup.exe", "\\ssetup.exe", ""}) {
    machine.SetEnvironment("VESK_SETUP_ORIGIN", notFull);
    Run(std::string("\"") + kX64Twin + "\"");
    EXPECT_STREQ(g_strModuleDir.c_str(), kRun) << notFull;
    EXPECT_FALSE(g_bSilent) << notFull;
  }
  // From a share: a UNC path is a full path.
  machine.SetEnvironment("VESK_SETUP_ORIGIN", "\\\\server\\share\\ssetup.exe");
  machine.AddFolder("\\\\server\\share");
  Run(std::string("\"") + kX64Twin + "\"");
  EXPECT_STREQ(g_strModuleDir.c_str(), "\\\\server\\share");
  // Its parent holds the lock for it.
  EXPECT_TRUE(machine.LogOf("CreateMutexA").empty());
}

// Anywhere else the origin is ignored, and the log says so: a program that
// runs unelevated may set it in an administrator's own environment.
TEST_F(StartupTest, OnlyTheTwinBelievesTheOrigin) {
  struct Row {
    const char* program;
    bool bits64;
    const char* origin;
    void (*prepare)(CSimMachine&);
    int code;
  } rows[] = {
      {"C:\\setup\\setup64.exe", true, "D:\\Elsewhere\\setup.exe", nullptr, 0},
      {"C:\\setup\\setup64.exe", true, "\\\\attacker\\share\\setup.exe", nullptr, 0},
      // A 32-bit file is no twin, wherever it lies.
      {kX64Twin, false, "D:\\Elsewhere\\setup.exe", nullptr, 0},
      // Nor a native file in a folder named like a run folder elsewhere.
      {"C:\\Temp\\Velmoran\\run-1-2\\setup64-1.exe", true, "D:\\Elsewhere\\setup.exe", nullptr, 0},
      // Nor one whose company folder was a link to another folder, set aside
      // as the run began: the file, and the folder it runs in, lie there.
      {kX64Twin, true, "D:\\Elsewhere\\setup.exe",
       [](CSimMachine& m) { m.AddJunction(kCompany, "C:\\attacker"); }, -1},
  };
  for (const Row& row : rows) {
    CSimMachine fresh;
    fresh.Activate();
    if (row.bits64) fresh.Run64BitProcess();
    if (row.prepare) row.prepare(fresh);
    fresh.SetProgramPath(row.program);
    fresh.AddFile("D:\\Elsewhere\\vesk1.inf", "[Version]\r\n");
    fresh.SetEnvironment("VESK_SETUP_ORIGIN", row.origin);
    EXPECT_EQ(Run(std::string("\"") + row.program + "\""), row.code) << row.program;
    EXPECT_TRUE(fresh.OemInfCalls().empty()) << row.program;
    EXPECT_FALSE(fresh.LogOf("CreateMutexA").empty()) << row.program;
    std::string log = fresh.FileContent(std::string(kCompany) + "\\setup.log");
    EXPECT_NE(log.find("VESK_SETUP_ORIGIN is set and ignored"), std::string::npos) << log;
  }
  machine.Activate();
}

}  // namespace
