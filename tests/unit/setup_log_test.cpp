// The setup log: what a run leaves for an administrator, appended run after
// run, and never a failure of its own.
#include <ctype.h>

#include <gtest/gtest.h>

#include "setup/company_folder.h"
#include "setup/setup_log.h"
#include "sim_process.h"

namespace {

using Strings = std::vector<std::string>;
const std::string kCompany = "C:\\WINDOWS\\Application Data\\Velmoran";
const std::string kLog = kCompany + "\\setup.log";

Strings Lines(const std::string& text) {
  Strings lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "a line without its CR LF";
  return lines;
}

// What one run writes after its three header lines.
struct RecordCase {
  const char* name;
  void (*prepare)(CSimMachine&);
  const char* commandLine;
  int code;
  Strings events;
};

void PrintTo(const RecordCase& c, std::ostream* out) { *out << c.name; }

class SetupLogRecordTest : public SimProcessTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(SetupLogRecordTest, RunLeavesThisRecord) {
  const RecordCase& c = GetParam();
  c.prepare(machine);
  EXPECT_EQ(Run(std::string("\"C:\\setup\\setup.exe\" ") + c.commandLine), c.code);
  Strings lines = Lines(machine.FileContent(kLog));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::string("==== 2026-12-09 10:20:30 C:\\setup\\setup.exe 1.0.0.0 (") +
                          (sizeof(void*) == 8 ? "64" : "32") + "-bit), command line: \"" +
                          c.commandLine + "\"");
  EXPECT_EQ(Strings(lines.begin() + 3, lines.end()), c.events);
  EXPECT_EQ(machine.OpenFileHandles(), 0u);
  EXPECT_EQ(machine.Flushes(), 1);
}

const std::string kCopy = "copy vesk1.sys -> " + kCompany + "\\vesk1.sys: ok";
const std::string kCopyInf = "copy vesk1.inf -> " + kCompany + "\\vesk1.inf: ok";
const std::string kRegister = "register " + kCompany + "\\vesk1.inf";
const char kNoFile[] = ": error 2 (0x00000002) The system cannot find the file specified.";
const std::string kNt4Drivers = "C:\\WINDOWS\\System32\\Drivers\\";
// What an install that left something on the machine adds at its end.
const std::string kRemover =
    "copy C:\\setup\\setup.exe -> " + kCompany + "\\vesk-setup.exe: ok";
const std::string kEntry = "entry in Programs and Features: "
                           "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VeskUsbDrivers: ok";

void Xp(CSimMachine& m) {
  m.AddFile("C:\\setup\\vesk1.inf", "[Version]\r\n; vesk1\r\n");
  m.AddFile("C:\\setup\\vesk1.sys", "driver vesk1");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetupLogRecordTest,
    ::testing::Values(
        RecordCase{"staged", Xp, "-S", 0,
                   {kCopy, kCopyInf, kRegister + " as oem0.inf: ok",
                    "record vesk1.inf as oem0.inf: ok",
                    "box (silent, not shown) \"setup\": Driver included in vesk1.inf has "
                    "successfully installed.",
                    kRemover, kEntry,
                    "result: exit code 0; packages: 1 found, 1 registered, 0 already present, 0 "
                    "failed; services: 0 installed, 0 removed, 0 failed; devices: 0 updated, 0 failed; removal: 0 removed, 0 kept"}},
        // The package already in the store: the name to remove it by is still given.
        RecordCase{"already present",
                   [](CSimMachine& m) {
                     Xp(m);
                     m.AddFile("C:\\WINDOWS\\Inf\\oem7.inf", "[Version]\r\n; vesk1\r\n");
                   },
                   "", 0,
                   {kCopy, kCopyInf, kRegister + ": already present as oem7.inf",
                    "record vesk1.inf as oem7.inf: ok", kRemover, kEntry,
                    "result: exit code 0; packages: 1 found, 0 registered, 1 already present, 0 "
                    "failed; services: 0 installed, 0 removed, 0 failed; devices: 0 updated, 0 failed; removal: 0 removed, 0 kept"}},
        // A broken package: the reason, in the system's own words.
        RecordCase{"missing SYS, refused INF",
                   [](CSimMachine& m) {
                     Xp(m);
                     m.RemovePath("C:\\setup\\vesk1.sys");
                     m.RefuseOemInf(ERROR_ACCESS_DENIED);
                   },
                   "-S", 0,
                   {"copy vesk1.sys -> " + kCompany + "\\vesk1.sys" + kNoFile,
                    "box (silent, not shown) \"setup\": Copy file fail: vesk1.sys", kCopyInf,
                    kRegister + ": error 5 (0x00000005) Access is denied.",
                    "result: exit code 0; packages: 1 found, 0 registered, 0 already present, 1 "
                    "failed; services: 0 installed, 0 removed, 0 failed; devices: 0 updated, 0 failed; removal: 0 removed, 0 kept"}},
        // An error the system has no text for: the number alone.
        RecordCase{"error without text",
                   [](CSimMachine& m) {
                     Xp(m);
                     m.RefuseOemInf(0xE0000203);
                   },
                   "", 0,
                   {kCopy, kCopyInf, kRegister + ": error 3758096899 (0xE0000203)",
                    "result: exit code 0; packages: 1 found, 0 registered, 0 already present, 1 "
                    "failed; services: 0 installed, 0 removed, 0 failed; devices: 0 updated, 0 failed; removal: 0 removed, 0 kept"}},
        // The start-up failure, where the folder is there.
        RecordCase{"start-up failure",
                   [](CSimMachine& m) { m.RemoveLibrary("setupapi.dll"); }, "", -1,
                   {"box \"setup\": Setup failed to initialize. Please check OS for "
                    "compatibility.",
                    "result: exit code -1 (0xFFFFFFFF); packages: 0 found, 0 registered, 0 "
                    "already present, 0 failed; services: 0 installed, 0 removed, 0 failed; devices: 0 updated, 0 failed; removal: 0 removed, 0 kept"}},
        RecordCase{"remove mode elsewhere", Xp, "-UNINSTALL", 1,
                   {"result: exit code 1; packages: 0 found, 0 registered, 0 already present, 0 "
                    "failed; services: 0 installed, 0 removed, 0 failed; devices: 0 updated, 0 failed; removal: 0 removed, 0 kept"}},
        // NT 4.0: the company folder is made for the log; every service action.
        RecordCase{"NT 4.0 install",
                   [](CSimMachine& m) {
                     m.SetNt4();
                     m.AddFile("C:\\setup\\windrvr.sys", "driver");
                     m.AddService("Wdusbd", SERVICE_STOPPED).startError = ERROR_DLL_INIT_FAILED;
                   },
                   "", 1,
                   {"service WinDriver: open: error 1060 (0x00000424) The specified service does "
                    "not exist as an installed service.",
                    "copy windrvr.sys -> " + kNt4Drivers + "windrvr.sys: ok",
                    "service WinDriver: create: ok", "service WinDriver: start: ok",
                    "service Wdusbd: open: ok", "service Wdusbd: start: error 1114 (0x0000045A)",
                    kRemover, kEntry,
                    "result: exit code 1; packages: 0 found, 0 registered, 0 already present, 0 "
                    "failed; services: 1 installed, 0 removed, 0 failed; devices: 0 updated, 0 failed; removal: 0 removed, 0 kept"}},
        RecordCase{"NT 4.0 remove of a running driver",
                   [](CSimMachine& m) {
                     m.SetNt4();
                     m.AddService("WinDriver", SERVICE_RUNNING);
                     m.AddFile(kNt4Drivers + "windrvr.sys", "driver");
                     m.LockFile(kNt4Drivers + "windrvr.sys");
                     m.AddService("Wdusbd", SERVICE_STOPPED).markedForDelete = true;
                   },
                   "-UNINSTALL", 1,
                   {"service WinDriver: delete: ok",
                    "delete " + kNt4Drivers + "windrvr.sys: error 32 (0x00000020) The process "
                    "cannot access the file because it is being used by another process.",
                    "service Wdusbd: delete: error 1072 (0x00000430) The specified service has "
                    "been marked for deletion.",
                    "delete " + kNt4Drivers + "wdusbd.sys" + kNoFile,
                    "result: exit code 1; packages: 0 found, 0 registered, 0 already present, 0 "
                    "failed; services: 0 installed, 2 removed, 0 failed; devices: 0 updated, 0 failed; removal: 0 removed, 0 kept"}},
        RecordCase{"NT 4.0 install after a removal",
                   [](CSimMachine& m) {
                     m.SetNt4();
                     m.AddService("WinDriver", SERVICE_RUNNING).markedForDelete = true;
                   },
                   "-S", -1,
                   {"service WinDriver: open: ok", "service WinDriver: marked for deletion",
                    "box (silent, not shown) \"setup\": Setup fail: WinDriver is being removed: "
                    "restart Windows, then run setup again",
                    "result: exit code -1 (0xFFFFFFFF); packages: 0 found, 0 registered, 0 "
                    "already present, 0 failed; services: 0 installed, 0 removed, 1 failed; devices: 0 updated, 0 failed; removal: 0 removed, 0 kept"}}),
    CaseName());

class SetupLogTest : public SimProcessTest {};

// The header tells the true Windows, the WOW64 state and why the 32-bit file
// did its own run, silence and the wait for another setup.
TEST_F(SetupLogTest, HeaderTellsTheMachineAndTheRun) {
  machine.SetVersion(VER_PLATFORM_WIN32_NT, 6, 2, 9200);  // what 8.1 and later tell GetVersionExA
  machine.SetTrueVersion(10, 0, 22631);
  machine.SetNativeMachine(IMAGE_FILE_MACHINE_AMD64);
  machine.SetProcessors(8);
  machine.HoldMutex("Velmoran.Vesk.Setup", false, 2500);
  machine.SetProgramPath("C:\\cd\\ssetup.exe");
  EXPECT_EQ(Run("ssetup.exe /x"), 0);
  Strings lines = Lines(machine.FileContent(kLog));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1],
            "Windows 10.0.22631, platform 2, service pack \"\"; processors: 8; WOW64: yes; not "
            "handed over: this file carries no setup64.exe");
  EXPECT_EQ(lines[2], "silent: yes; waited 2500 ms for another setup");
}

// Two runs: the second appends and leaves the first one's bytes as they were.
TEST_F(SetupLogTest, RunsAppendAndLeaveEarlierRunsAlone) {
  machine.AddFile(kLog, "an earlier run\r\n");
  AddPackage("vesk1");
  Run();
  std::string first = machine.FileContent(kLog);
  Run("setup.exe -S");
  std::string both = machine.FileContent(kLog);
  EXPECT_EQ(first.compare(0, 16, "an earlier run\r\n"), 0);
  EXPECT_EQ(both.compare(0, first.size(), first), 0);
  Strings second = Lines(both.substr(first.size()));
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(second[0].compare(0, 4, "===="), 0);
  // One write a line.
  EXPECT_EQ(machine.LogOf("WriteFile").size(), Lines(both).size() - 1);
}

// A line that a crash or a full disk cut short is ended before the next
// run's header, which then begins a line of its own.
TEST_F(SetupLogTest, CutLineIsEndedBeforeTheNextRun) {
  struct {
    const char* before;
    const char* kept;
  } cases[] = {{"", ""},
               {"whole\r\n", "whole\r\n"},
               {"cut", "cut\r\n"},
               {"cut after CR\r", "cut after CR\r\n"},
               {"a line feed alone\n", "a line feed alone\n\r\n"}};
  for (const auto& c : cases) {
    machine.AddFile(kLog, c.before);
    EXPECT_EQ(Run("setup.exe -S"), 0);
    std::string kept = std::string(c.kept) + "====";
    EXPECT_EQ(machine.FileContent(kLog).compare(0, kept.size(), kept), 0) << c.before;
  }
  EXPECT_EQ(machine.OpenFileHandles(), 0u);
}

// A line is cut at 1023 characters, never inside a double-byte character,
// and ends in CR LF; an outcome that does not fit is cut like the event.
TEST_F(SetupLogTest, LongLinesAreCutWithoutSplittingACharacter) {
  machine.UseCodePage932();
  EXPECT_EQ(Run("setup.exe -S"), 0);
  size_t before = machine.FileContent(kLog).size();
  const std::string x(1021, 'x');
  const std::string so = "\x83\x5C";  // ソ, its trail byte "\"
  CheckCompanyFolder("C:\\WINDOWS", true);  // as start-up does
  OpenSetupLog("", 0);
  LogLine("%s", (x + "ab").c_str());
  LogLine("%s", (x + "abc").c_str());
  LogLine("%s", (x + "a" + so).c_str());
  LogLine("%s", (x + so + "a").c_str());
  LogResult(false, ERROR_ACCESS_DENIED, "%s", std::string(990, 'y').c_str());
  LogResult(false, ERROR_ACCESS_DENIED, "%s", (std::string(1020, 'y') + so).c_str());
  CloseSetupLog(0);
  ReleaseCompanyFolder();
  Strings lines = Lines(machine.FileContent(kLog).substr(before));
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[3], x + "ab");
  EXPECT_EQ(lines[4], x + "ab");
  EXPECT_EQ(lines[5], x + "a");
  EXPECT_EQ(lines[6], x + so);
  EXPECT_EQ(lines[7], std::string(990, 'y') + ": error 5 (0x00000005) Access is");
  EXPECT_EQ(lines[8], std::string(1020, 'y') + so + ":");
}

// Whatever happens to the log, the run does exactly what it does without one.
struct NoLogCase {
  const char* name;
  void (*prepare)(CSimMachine&);
  const char* logAfter;  // what setup.log holds afterwards; null: no file
};

void PrintTo(const NoLogCase& c, std::ostream* out) { *out << c.name; }

class SetupLogFaultTest : public SimProcessTest, public ::testing::WithParamInterface<NoLogCase> {};

TEST_P(SetupLogFaultTest, RunIsTheSameWithoutALog) {
  const NoLogCase& c = GetParam();
  AddPackage("vesk1");
  AddPackage("vesk2", false);
  c.prepare(machine);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), (Strings{"setup: Driver included in vesk1.inf has successfully installed.",
                              "setup: Copy file fail: vesk2.sys",
                              "setup: Driver included in vesk2.inf has successfully installed."}));
  EXPECT_EQ(machine.OemInfCalls().size(), 2u);
  if (c.logAfter) {
    EXPECT_EQ(machine.FileContent(kLog), c.logAfter);
  } else {
    EXPECT_FALSE(machine.FileExists(kLog));
  }
  EXPECT_EQ(machine.OpenFileHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetupLogFaultTest,
    ::testing::Values(
        NoLogCase{"a folder in its place",
                  [](CSimMachine& m) { m.AddFolder(kLog); }, nullptr},
        NoLogCase{"read-only",
                  [](CSimMachine& m) {
                    m.AddFile(kLog, "kept");
                    m.SetAttributes(kLog, FILE_ATTRIBUTE_READONLY);
                  },
                  "kept"},
        NoLogCase{"held by a writer that shares nothing",
                  [](CSimMachine& m) {
                    m.AddFile(kLog, "kept");
                    m.OpenElsewhere(kLog, GENERIC_READ | GENERIC_WRITE, 0);
                  },
                  "kept"},
        NoLogCase{"full disk",
                  [](CSimMachine& m) {
                    m.AddFile(kLog, "kept");
                    m.FailWrites();
                  },
                  "kept"},
        // A name planted before the folder was sealed, a second name of a file
        // of the system, which a reader keeps from being renamed aside: the
        // log is not written through it.
        NoLogCase{"a link to a system file that cannot be set aside",
                  [](CSimMachine& m) {
                    m.AddFile("C:\\WINDOWS\\System32\\config\\SAM", "system");
                    m.AddHardLink("C:\\WINDOWS\\System32\\config\\SAM", kLog);
                    m.OpenElsewhere(kLog, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
                  },
                  "system"}),
    CaseName());

// Past 1 MiB the log is kept whole as setup.log.old and a new one begins;
// where that cannot be done, the run appends (or, where the log cannot be
// opened, writes nothing) and the next one tries again. No failure loses a
// generation: once the other processes have closed their files,
// setup.log.old holds the big log or still what it held, and nothing else is
// left beside the two.
enum Rotation { kRotated, kAppended, kNoLog };

struct RotationCase {
  const char* name;
  void (*prepare)(CSimMachine&);
  Rotation outcome;
};

void PrintTo(const RotationCase& c, std::ostream* out) { *out << c.name; }

class SetupLogRotationTest : public SimProcessTest,
                             public ::testing::WithParamInterface<RotationCase> {};

const std::string kBig = std::string(1024 * 1024, 'x') + "\r\n";
const std::string kOld = kLog + ".old";
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TEST_P(SetupLogRotationTest, NoGenerationIsLost) {
  const RotationCase& c = GetParam();
  machine.AddFile(kLog, kBig);
  machine.AddFile(kOld, "older");
  c.prepare(machine);
  std::string oldBefore = machine.FileContent(kOld);
  bool oldWasFolder = machine.FolderExists(kOld);
  EXPECT_EQ(Run("setup.exe -S"), 0);
  machine.CloseOtherProcesses();
  std::string log = machine.FileContent(kLog);
  if (c.outcome == kRotated) {
    EXPECT_EQ(machine.FileContent(kOld), kBig);
    EXPECT_EQ(log.compare(0, 4, "===="), 0);
  } else {
    EXPECT_EQ(machine.FileContent(kOld), oldBefore);
    EXPECT_EQ(machine.FolderExists(kOld), oldWasFolder);
    EXPECT_EQ(log.compare(0, kBig.size(), kBig), 0);
    EXPECT_EQ(log.size() > kBig.size(), c.outcome == kAppended);
  }
  EXPECT_EQ(machine.FilesBelow(kCompany), (Strings{kLog, kOld}));
  EXPECT_EQ(machine.OpenFileHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetupLogRotationTest,
    ::testing::Values(
        RotationCase{"rotated", [](CSimMachine&) {}, kRotated},
        RotationCase{"no older one", [](CSimMachine& m) { m.RemovePath(kOld); }, kRotated},
        // A log collector that does not share delete: no rename.
        RotationCase{"a reader that shares read and write holds it",
                     [](CSimMachine& m) {
                       m.OpenElsewhere(kLog, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
                     },
                     kAppended},
        RotationCase{"a reader that shares nothing holds it",
                     [](CSimMachine& m) { m.OpenElsewhere(kLog, GENERIC_READ, 0); }, kNoLog},
        RotationCase{"a reader that shares everything holds it",
                     [](CSimMachine& m) { m.OpenElsewhere(kLog, GENERIC_READ, kShareAll); },
                     kRotated},
        RotationCase{"a reader that shares nothing holds the older one",
                     [](CSimMachine& m) { m.OpenElsewhere(kOld, GENERIC_READ, 0); }, kAppended},
        // A file deleted while a reader has it keeps its name until the
        // reader closes it, before Windows 10 1903; from 1903 the name goes at once.
        RotationCase{"a reader that shares everything holds the older one on XP",
                     [](CSimMachine& m) { m.OpenElsewhere(kOld, GENERIC_READ, kShareAll); },
                     kRotated},
        RotationCase{"a reader that shares everything holds the older one on 10 22H2",
                     [](CSimMachine& m) {
                       m.SetWin10();
                       m.OpenElsewhere(kOld, GENERIC_READ, kShareAll);
                     },
                     kRotated},
        RotationCase{"the older one is read-only",
                     [](CSimMachine& m) { m.SetAttributes(kOld, FILE_ATTRIBUTE_READONLY); },
                     kAppended},
        RotationCase{"a folder in the older one's place",
                     [](CSimMachine& m) {
                       m.RemovePath(kOld);
                       m.AddFolder(kOld);
                     },
                     kAppended}),
    CaseName());

// A setup that gives up on the lock writes nothing: the run it waited for is
// the one the log tells.
TEST_F(SetupLogTest, RunThatGivesUpOnTheLockWritesNothing) {
  machine.AddFile(kLog, "kept");
  machine.HoldMutex("Velmoran.Vesk.Setup", false, INFINITE);
  EXPECT_EQ(Run("setup.exe -S"), 1618);
  EXPECT_EQ(machine.FileContent(kLog), "kept");
  EXPECT_TRUE(machine.LogOf("CreateFileA").empty());
}

// A folder an older release made (before the seal), open to Power Users on
// XP (and to Everyone under NT 4.0's Windows folder), may hold names planted
// there: second names of files of the system. Nothing is written through
// them; the log that is not the setup's own is set aside and a new one begun.
TEST_F(SetupLogTest, PlantedLinksAreNeverWrittenThrough) {
  const std::string sam = "C:\\WINDOWS\\System32\\config\\SAM";
  const std::string hal = "C:\\WINDOWS\\System32\\hal.dll";
  for (bool nt4 : {false, true}) {
    CSimMachine fresh;
    fresh.Activate();
    if (nt4) {
      fresh.SetNt4();
      fresh.AddFile("C:\\setup\\windrvr.sys", "driver");
      fresh.AddFile("C:\\setup\\wdusbd.sys", "driver");
    } else {
      fresh.AddFile("C:\\setup\\vesk1.inf", "[Version]\r\n");
      fresh.AddFile("C:\\setup\\vesk1.sys", "driver vesk1");
    }
    fresh.AddFolder(kCompany);  // inherits from the Windows folder: Power Users may change it
    fresh.AddFile(sam, "the accounts");
    fresh.AddFile(hal, "the hardware layer");
    fresh.SetAttributes(hal, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
    fresh.AddHardLink(sam, kLog);
    fresh.AddHardLink(hal, kCompany + "\\vesk1.sys");
    EXPECT_EQ(Run("setup.exe -S"), nt4 ? 1 : 0);
    EXPECT_EQ(fresh.FileContent(sam), "the accounts") << nt4;
    EXPECT_EQ(fresh.FileContent(hal), "the hardware layer") << nt4;
    EXPECT_EQ(fresh.Attributes(hal), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM) << nt4;
    std::string aside = kLog + ".set-aside-20261209-102030";
    EXPECT_EQ(fresh.FileContent(aside), "the accounts") << nt4;
    Strings lines = Lines(fresh.FileContent(kLog));
    ASSERT_GE(lines.size(), 4u) << nt4;
    EXPECT_EQ(lines[3], kLog + " was set aside as " + aside + ": it was not this setup's own file")
        << nt4;
    if (!nt4) {
      // The read-only name stays (no attribute of the file behind it changes),
      // and the package's copy cannot take its place: reported, not written.
      EXPECT_EQ(Boxes(), (Strings{}));
      EXPECT_NE(fresh.FileContent(kLog).find("copy vesk1.sys -> " + kCompany +
                                              "\\vesk1.sys: error 5"),
                std::string::npos)
          << fresh.FileContent(kLog);
    }
    EXPECT_EQ(fresh.OpenFileHandles(), 0u);
  }
  machine.Activate();
}

// A log of another account's (a Power User's, made before the seal) is
// theirs to change: set aside like a link.
TEST_F(SetupLogTest, LogOfAnotherAccountIsSetAside) {
  machine.AddFile(kLog, "planted");
  machine.SetSecurity(kLog, CSimMachine::Sid({32, 547}), "", false);
  EXPECT_EQ(Run("setup.exe -S"), 0);
  EXPECT_EQ(machine.FileContent(kLog + ".set-aside-20261209-102030"), "planted");
  EXPECT_EQ(machine.FileContent(kLog).find("planted"), std::string::npos);
}

}  // namespace
