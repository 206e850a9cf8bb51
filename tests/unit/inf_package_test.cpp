// Pre-installation of the "vesk*.inf" packages beside the program.
#include <ctype.h>

#include <gtest/gtest.h>

#include "infpkg/inf_package.h"
#include "sim_process.h"

namespace {

using Strings = std::vector<std::string>;
const std::string kCompany = "C:\\WINDOWS\\Application Data\\Velmoran";

class InfPackageTest : public SimProcessTest {};

TEST_F(InfPackageTest, TypicalRunCopiesRegistersAndReports) {
  AddPackage("vesk1");
  EXPECT_EQ(Run(), 0);
  // Under names of their own, then in the place of what was there.
  EXPECT_EQ(Copies(),
            (Strings{"CopyFileA(\"vesk1.sys\", \"" + kCompany + "\\vesk1.sys.new\", 1)",
                     "CopyFileA(\"vesk1.inf\", \"" + kCompany + "\\vesk1.inf.new\", 1)"}));
  EXPECT_EQ(machine.LogOf("MoveFileExA"),
            (Strings{"MoveFileExA(\"" + kCompany + "\\vesk1.sys.new\", \"" + kCompany +
                         "\\vesk1.sys\", 1)",
                     "MoveFileExA(\"" + kCompany + "\\vesk1.inf.new\", \"" + kCompany +
                         "\\vesk1.inf\", 1)",
                     // The program's own copy, to remove the drivers with.
                     "MoveFileExA(\"" + kCompany + "\\vesk-setup.exe.new\", \"" + kCompany +
                         "\\vesk-setup.exe\", 1)"}));
  EXPECT_EQ(machine.FileContent(kCompany + "\\vesk1.sys"), "driver vesk1");
  ASSERT_EQ(machine.OemInfCalls().size(), 1u);
  const CSimMachine::OemInfCall& call = machine.OemInfCalls()[0];
  EXPECT_EQ(call.source, kCompany + "\\vesk1.inf");
  EXPECT_TRUE(call.mediaLocationNull);
  EXPECT_EQ(call.mediaType, 1u);   // SPOST_PATH
  EXPECT_EQ(call.copyStyle, 8u);   // SP_COPY_NOOVERWRITE
  // A buffer for the name Windows publishes it under, for the log.
  EXPECT_FALSE(call.destinationNull);
  EXPECT_EQ(call.destinationSize, 260u);
  EXPECT_TRUE(call.requiredSizeNull);
  EXPECT_FALSE(call.componentNull);
  EXPECT_TRUE(call.result);
  EXPECT_EQ(machine.FileContent("C:\\WINDOWS\\Inf\\" + call.published),
            machine.FileContent("C:\\setup\\vesk1.inf"));
  ASSERT_EQ(machine.MessageBoxes().size(), 1u);
  const CSimMachine::MessageBoxCall& box = machine.MessageBoxes()[0];
  EXPECT_EQ(box.text, "Driver included in vesk1.inf has successfully installed.");
  EXPECT_EQ(box.caption, "setup");
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.type, 0u);
  EXPECT_EQ(machine.OpenFindHandles(), 0u);
}

TEST_F(InfPackageTest, Windows9xAlsoCopiesIntoTheSystemFolders) {
  machine.SetWin98();
  AddPackage("vesk1");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Copies(),
            (Strings{"CopyFileA(\"vesk1.sys\", \"" + kCompany + "\\vesk1.sys\", 0)",
                     "CopyFileA(\"vesk1.sys\", \"C:\\WINDOWS\\System32\\Drivers\\vesk1.sys\", 0)",
                     "CopyFileA(\"vesk1.inf\", \"C:\\WINDOWS\\Inf\\vesk1.inf\", 0)",
                     "CopyFileA(\"vesk1.inf\", \"" + kCompany + "\\vesk1.inf\", 0)"}));
  EXPECT_EQ(machine.OemInfCalls().size(), 1u);
}

TEST_F(InfPackageTest, TwoPackagesInEnumerationOrder) {
  AddPackage("vesk2");
  AddPackage("VESK1");
  machine.AddFile("C:\\setup\\other.inf", "not ours");
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(machine.OemInfCalls().size(), 2u);
  EXPECT_EQ(machine.OemInfCalls()[0].source, kCompany + "\\vesk2.inf");
  EXPECT_EQ(machine.OemInfCalls()[1].source, kCompany + "\\VESK1.inf");
  EXPECT_EQ(Copies().size(), 4u);
  EXPECT_EQ(Boxes(),
            (Strings{"setup: Driver included in vesk2.inf has successfully installed.",
                     "setup: Driver included in VESK1.inf has successfully installed."}));
  EXPECT_EQ(machine.LogOf("FindClose").size(), 2u);  // the packages', then the entry's size
}

TEST_F(InfPackageTest, InfWithoutSysIsStillCopiedAndRegistered) {
  AddPackage("vesk1", false);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), (Strings{"setup: Copy file fail: vesk1.sys",
                              "setup: Driver included in vesk1.inf has successfully installed."}));
  machine.SetWin98();
  Run();
  ASSERT_EQ(Boxes().size(), 4u);  // the earlier two, then two copy failures and no success:
  // the same INF content is in the store already, so the setup API refuses it.
  EXPECT_EQ(Boxes()[2], "setup: Copy file fail: vesk1.sys");
  EXPECT_EQ(Boxes()[3], "setup: Copy file fail: vesk1.sys");
  ASSERT_EQ(machine.OemInfCalls().size(), 2u);
  EXPECT_FALSE(machine.OemInfCalls().back().result);
}

TEST_F(InfPackageTest, SilentRunMakesTheSameChangesWithoutBoxes) {
  AddPackage("vesk1");
  AddPackage("vesk2", false);
  EXPECT_EQ(Run("setup.exe -S"), 0);
  EXPECT_TRUE(machine.MessageBoxes().empty());
  EXPECT_EQ(Copies().size(), 4u);
  EXPECT_EQ(machine.OemInfCalls().size(), 2u);
}

TEST_F(InfPackageTest, NoPackagesDoesNothing) {
  machine.AddFile("C:\\setup\\readme.txt");
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(Copies().empty());
  EXPECT_TRUE(machine.MessageBoxes().empty());
  EXPECT_TRUE(machine.LogOf("FindClose").empty());  // nothing was opened
}

TEST_F(InfPackageTest, FolderNamedLikeAPackageIsProcessedAndFailsToCopy) {
  machine.AddFolder("C:\\setup\\vesk9.inf");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), (Strings{"setup: Copy file fail: vesk9.sys",
                              "setup: Copy file fail: vesk9.inf"}));
  ASSERT_EQ(machine.OemInfCalls().size(), 1u);
  EXPECT_FALSE(machine.OemInfCalls()[0].result);
}

TEST_F(InfPackageTest, FailedInfCopyRegistersTheOlderCopyAlreadyThere) {
  AddPackage("vesk1");
  machine.AddFile(kCompany + "\\vesk1.inf", "older");
  machine.FailCopyTo(kCompany + "\\vesk1.inf.new");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), (Strings{"setup: Copy file fail: vesk1.inf",
                              "setup: Driver included in vesk1.inf has successfully installed."}));
  ASSERT_EQ(machine.OemInfCalls().size(), 1u);
  EXPECT_EQ(machine.FileContent("C:\\WINDOWS\\Inf\\" + machine.OemInfCalls()[0].published),
            "older");
}

TEST_F(InfPackageTest, RefusedRegistrationIsSilentAndTheLoopGoesOn) {
  AddPackage("vesk1");
  AddPackage("vesk2");
  machine.RefuseOemInf(ERROR_ACCESS_DENIED);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(machine.OemInfCalls().size(), 2u);
  EXPECT_TRUE(machine.MessageBoxes().empty());
}

// A CD's files are read-only and CopyFileA passes that on; a read-only or
// hidden destination refuses to be overwritten.
TEST_F(InfPackageTest, ExistingCopiesAreOverwrittenWhateverTheirAttributes) {
  machine.SetWin98();
  AddPackage("vesk1");
  for (const char* source : {"C:\\setup\\vesk1.sys", "C:\\setup\\vesk1.inf"})
    machine.SetAttributes(source, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  struct Destination {
    std::string path;
    DWORD attributes;
    const char* source;
  } destinations[] = {
      {kCompany + "\\VESK1.SYS", FILE_ATTRIBUTE_READONLY, "C:\\setup\\vesk1.sys"},
      {"C:\\WINDOWS\\System32\\Drivers\\vesk1.sys", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
       "C:\\setup\\vesk1.sys"},
      {"C:\\WINDOWS\\Inf\\vesk1.inf", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
       "C:\\setup\\vesk1.inf"},
      {kCompany + "\\vesk1.inf", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE,
       "C:\\setup\\vesk1.inf"},
  };
  for (const Destination& d : destinations) {
    machine.AddFile(d.path, "old");
    machine.SetAttributes(d.path, d.attributes);
  }
  for (int run = 0; run < 2; ++run) {  // the second run meets the first one's copies
    EXPECT_EQ(Run(), 0);
    for (const Destination& d : destinations) {
      EXPECT_EQ(machine.FileContent(d.path), machine.FileContent(d.source)) << d.path;
      EXPECT_EQ(machine.Attributes(d.path) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                              FILE_ATTRIBUTE_SYSTEM),
                0u)
          << d.path;
    }
  }
  for (const std::string& box : Boxes()) EXPECT_EQ(box.find("Copy file fail"), std::string::npos);
  // A copy that fails (here the source is gone) leaves the destination's attributes as they were.
  machine.RemovePath("C:\\setup\\vesk1.sys");
  for (const Destination& d : destinations) machine.SetAttributes(d.path, d.attributes);
  EXPECT_EQ(Run(), 0);
  for (const Destination& d : destinations)
    EXPECT_EQ(machine.Attributes(d.path),
              d.source == std::string("C:\\setup\\vesk1.sys") ? d.attributes : FILE_ATTRIBUTE_ARCHIVE)
        << d.path;
}

// A run stopped between a copy and its rename leaves {name}.new behind: the
// next run's copy is not refused for it.
TEST_F(InfPackageTest, CopyLeftByAStoppedRunIsReplaced) {
  AddPackage("vesk1");
  machine.KillAt("MoveFileExA");
  EXPECT_EQ(Run("setup.exe -S"), kKilled);
  ASSERT_TRUE(machine.FileExists(kCompany + "\\vesk1.sys.new"));
  machine.AddFile("C:\\setup\\vesk1.sys", "driver 2");
  EXPECT_EQ(Run("setup.exe -S"), 0);
  EXPECT_EQ(machine.FileContent(kCompany + "\\vesk1.sys"), "driver 2");
  EXPECT_FALSE(machine.FileExists(kCompany + "\\vesk1.sys.new"));
}

// FindFirstFileA matches 8.3 names too: vesk1.info is VESK1~1.INF, and
// vesk2.inf_old is VESK2~1.INF.
TEST_F(InfPackageTest, EntriesListedOnlyForTheirShortNamesAreSkipped) {
  AddPackage("vesk2");
  machine.AddFile("C:\\setup\\vesk1.info", "release notes");
  machine.AddFile("C:\\setup\\vesk2.inf_old", "backup");
  ASSERT_EQ(machine.ShortName("C:\\setup\\vesk1.info"), "VESK1~1.INF");
  EXPECT_EQ(Run(), 0);
  // All three were listed (the first find is the packages').
  EXPECT_EQ(machine.LogOf("FindNextFileA")[2], "FindNextFileA()");
  EXPECT_EQ(machine.LogOf("FindFirstFileA")[0], "FindFirstFileA(\"vesk*.inf\")");
  EXPECT_EQ(Boxes(), Strings{"setup: Driver included in vesk2.inf has successfully installed."});
  ASSERT_EQ(machine.OemInfCalls().size(), 1u);
  EXPECT_EQ(machine.OemInfCalls()[0].source, kCompany + "\\vesk2.inf");
}

TEST_F(InfPackageTest, PackageNameIsEverythingBeforeTheLastDot) {
  AddPackage("vesk.a");
  AddPackage("vesk");
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(machine.FileExists(kCompany + "\\vesk.a.sys"));
  EXPECT_TRUE(machine.FileExists(kCompany + "\\vesk.sys"));
  EXPECT_EQ(machine.OemInfCalls().size(), 2u);
}

// The ANSI calls refuse paths of 260 characters or more: a name that long
// beside the program cannot be copied or registered, and that is shown.
TEST_F(InfPackageTest, DoubleByteNamesArePassedWholeAndOverlongPathsFailAsOnWindows) {
  machine.UseCodePage932();
  AddPackage("vesk\x83\x5C");  // ソ: trail byte "\"
  std::string longName = "vesk" + std::string(246, 'x');  // 250 characters
  AddPackage(longName);
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(machine.FileExists(kCompany + "\\vesk\x83\x5C.sys"));
  EXPECT_EQ(Boxes(), (Strings{"setup: Driver included in vesk\x83\x5C.inf has successfully installed.",
                              "setup: Copy file fail: " + longName + ".sys",
                              "setup: Copy file fail: " + longName + ".inf"}));
  ASSERT_EQ(machine.OemInfCalls().size(), 2u);
  EXPECT_FALSE(machine.OemInfCalls()[1].result);
}

TEST_F(InfPackageTest, ThousandsOfPackagesAreEachHandledOnce) {
  for (int i = 0; i < 2000; ++i) AddPackage("vesk" + std::to_string(i));
  EXPECT_EQ(Run("setup.exe -S"), 0);
  ASSERT_EQ(machine.OemInfCalls().size(), 2000u);
  EXPECT_EQ(machine.OemInfCalls()[1999].source, kCompany + "\\vesk1999.inf");
  EXPECT_EQ(machine.OpenFindHandles(), 0u);
}

// A signed package's catalog travels with its INF into the company folder,
// where the setup API looks for it. Which one applies depends on the machine.
struct CatalogCase {
  const char* name;
  void (*prepare)(CSimMachine&);
  const char* version;      // lines of the INF's [Version] section
  Strings beside;           // the catalogs beside the program
  Strings boxes;
  Strings copied;           // the catalogs in the company folder afterwards
  bool registered;
};

void PrintTo(const CatalogCase& c, std::ostream* out) { *out << c.name; }

class CatalogTest : public InfPackageTest, public ::testing::WithParamInterface<CatalogCase> {};

TEST_P(CatalogTest, CatalogTravelsWithTheInf) {
  const CatalogCase& c = GetParam();
  c.prepare(machine);
  machine.AddFile("C:\\setup\\vesk1.inf", std::string("[Version]\r\n") + c.version +
                                              "\r\n[Strings]\r\ncat = \"vesk1.cat\"\r\n");
  machine.AddFile("C:\\setup\\vesk1.sys", "driver");
  for (const std::string& file : c.beside) machine.AddFile("C:\\setup\\" + file, "catalog");
  EXPECT_EQ(Run(), 0);
  Strings boxes = c.boxes;
  if (c.registered) boxes.push_back("setup: Driver included in vesk1.inf has successfully installed.");
  EXPECT_EQ(Boxes(), boxes);
  Strings copied;
  for (const std::string& file : machine.FilesBelow(kCompany))
    if (file.size() > 4 && file.compare(file.size() - 4, 4, ".cat") == 0)
      copied.push_back(file.substr(kCompany.size() + 1));
  EXPECT_EQ(copied, c.copied);
  // Nothing but what a package needs, and the log.
  for (const std::string& file : machine.FilesBelow(kCompany)) {
    std::string type = file.substr(file.rfind('.') + 1);
    EXPECT_TRUE(type == "inf" || type == "sys" || type == "cat" || type == "log" ||
                file == kCompany + "\\vesk-setup.exe")
        << file;
  }
  ASSERT_EQ(machine.OemInfCalls().size(), 1u);
  EXPECT_EQ(machine.OemInfCalls()[0].result != FALSE, c.registered);
  EXPECT_EQ(machine.OpenInfHandles(), 0u);
  EXPECT_FALSE(machine.Hung());
}

// A name longer than the buffer it is read into.
const std::string kLongName = std::string(300, 'x') + ".cat";
const std::string kLongApplies = "CatalogFile=" + kLongName;
const std::string kLongElsewhere =
    "CatalogFile.NTx86=x86.cat\r\nCatalogFile.NTamd64=" + kLongName;

void X64Wow64(CSimMachine& m) {
  m.SetWin10();
  m.SetNativeMachine(IMAGE_FILE_MACHINE_AMD64);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CatalogTest,
    ::testing::Values(
        CatalogCase{"beside", [](CSimMachine&) {}, "CatalogFile=vesk1.cat", {"vesk1.cat"}, {},
                    {"vesk1.cat"}, true},
        CatalogCase{"missing", [](CSimMachine&) {}, "CatalogFile=vesk1.cat", {},
                    {"setup: Copy file fail: vesk1.cat"}, {}, false},
        CatalogCase{"none named", [](CSimMachine&) {}, "Class=USB", {"vesk1.cat"}, {}, {}, true},
        // Quotes, a comment and a string from [Strings], as the setup API reads them.
        CatalogCase{"written as the setup API reads it", [](CSimMachine&) {},
                    "  catalogfile = \"%cat%\" ; signed", {"vesk1.cat"}, {}, {"vesk1.cat"}, true},
        // A 32-bit run on 64-bit Windows: the native machine's entry applies.
        CatalogCase{"amd64 under WOW64", X64Wow64,
                    "CatalogFile.NTx86=x86.cat\r\nCatalogFile.NTamd64=amd64.cat", {"amd64.cat"},
                    {}, {"amd64.cat"}, true},
        CatalogCase{"amd64 missing under WOW64", X64Wow64,
                    "CatalogFile.NTx86=x86.cat\r\nCatalogFile.NTamd64=amd64.cat", {"x86.cat"},
                    {"setup: Copy file fail: amd64.cat"}, {"x86.cat"}, false},
        // Another platform's catalog that is not there is passed over without a word.
        CatalogCase{"x86", [](CSimMachine&) {},
                    "CatalogFile.NTx86=x86.cat\r\nCatalogFile.NTamd64=amd64.cat", {"x86.cat"}, {},
                    {"x86.cat"}, true},
        CatalogCase{"the 64-bit file", [](CSimMachine& m) {
                      X64Wow64(m);
                      m.Run64BitProcess();
                    },
                    "CatalogFile.NTamd64=amd64.cat\r\nCatalogFile.NTarm64=arm64.cat",
                    {"amd64.cat"}, {}, {"amd64.cat"}, true},
        CatalogCase{".NT before the plain one", [](CSimMachine&) {},
                    "CatalogFile=plain.cat\r\nCatalogFile.NT=nt.cat", {"nt.cat"}, {}, {"nt.cat"},
                    true},
        // Windows 98 checks the plain one; the NT one beside it goes along too.
        CatalogCase{"Windows 98", [](CSimMachine& m) { m.SetWin98(); },
                    "CatalogFile=plain.cat\r\nCatalogFile.NT=nt.cat", {"nt.cat"},
                    {"setup: Copy file fail: plain.cat"}, {"nt.cat"}, false},
        CatalogCase{"one file named twice", [](CSimMachine&) {},
                    "CatalogFile=vesk1.cat\r\nCatalogFile.NT=vesk1.cat", {"vesk1.cat"}, {},
                    {"vesk1.cat"}, true},
        // Only a file beside the INF is a package's catalog.
        CatalogCase{"a path", [](CSimMachine& m) { m.AddFile("C:\\x.cat", "elsewhere"); },
                    "CatalogFile=..\\x.cat\r\nCatalogFile.NTamd64=C:\\x.cat",
                    {}, {"setup: Copy file fail: ..\\x.cat", "setup: Copy file fail: C:\\x.cat"},
                    {}, false},
        // A drive's current folder is a path too, and a stream of a file.
        CatalogCase{"a drive's current folder", [](CSimMachine&) {},
                    "CatalogFile=C:vesk1.cat", {"vesk1.cat"},
                    {"setup: Copy file fail: C:vesk1.cat"}, {}, false},
        // A copy that fails (the company copy is in use) is reported like any other.
        CatalogCase{"copy refused", [](CSimMachine& m) {
                      m.AddFile(kCompany + "\\vesk1.cat", "old");
                      m.LockFile(kCompany + "\\vesk1.cat");
                    },
                    "CatalogFile=vesk1.cat", {"vesk1.cat"}, {"setup: Copy file fail: vesk1.cat"},
                    {"vesk1.cat"}, true},
        // A name that does not fit is reported by its entry, not taken for none.
        CatalogCase{"a name too long", [](CSimMachine&) {}, kLongApplies.c_str(), {},
                    {"setup: Copy file fail: CatalogFile"}, {}, false},
        CatalogCase{"another platform's name too long", [](CSimMachine&) {},
                    kLongElsewhere.c_str(), {"x86.cat"},
                    {"setup: Copy file fail: CatalogFile.NTamd64"}, {"x86.cat"}, true},
        // Device names, in any case and with any extension, are refused like
        // paths: reading COM1 can wait for ever while the lock is held.
        CatalogCase{"device names",
                    [](CSimMachine&) {},
                    "CatalogFile=COM1.cat\r\nCatalogFile.NT=nul\r\nCatalogFile.NTx86=Lpt\xB9.cat"
                    "\r\nCatalogFile.NTamd64=conout$\r\nCatalogFile.NTarm64=AUX .x.cat\r\n"
                    "CatalogFile.NTia64=lpt0",
                    {},
                    {"setup: Copy file fail: COM1.cat", "setup: Copy file fail: nul",
                     "setup: Copy file fail: Lpt\xB9.cat", "setup: Copy file fail: conout$",
                     "setup: Copy file fail: AUX .x.cat", "setup: Copy file fail: lpt0"},
                    {}, false},
        // A library named as a catalog would lie in the company folder.
        CatalogCase{"not a catalog", [](CSimMachine&) {},
                    "CatalogFile=version.dll\r\nCatalogFile.NT=vesk1.cat.exe\r\n"
                    "CatalogFile.NTamd64=.cat",
                    {"version.dll", "vesk1.cat.exe", ".cat"},
                    {"setup: Copy file fail: version.dll", "setup: Copy file fail: vesk1.cat.exe",
                     "setup: Copy file fail: .cat"},
                    {}, false},
        CatalogCase{"names like device names",
                    [](CSimMachine&) {},
                    "CatalogFile=com10.cat\r\nCatalogFile.NT=console.cat\r\n"
                    "CatalogFile.NTx86=lpt.cat\r\nCatalogFile.NTamd64=nul1.cat",
                    {"com10.cat", "console.cat", "lpt.cat", "nul1.cat"}, {},
                    {"com10.cat", "console.cat", "lpt.cat", "nul1.cat"}, true}),
    CaseName());

}  // namespace
