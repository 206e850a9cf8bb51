"""The package route of the real setup.exe under Wine (Windows 98 to 11)."""
import subprocess

import pefile
import pytest

from expect import INIT_FAIL, copy_fail, success
from machine import sample_package


# ARM64 Windows begins with 10: the ARM64 file runs that one.
@pytest.mark.parametrize("version", ["winxp", "win2k", pytest.param("win10", marks=pytest.mark.arm64)])
def test_package_route(case, version):
    case.version(version)
    sample_package(case.dir, "vesk1")
    run = case.run()
    m = case.machine
    assert (run.code, run.boxes) == (0, [success("vesk1.inf")])
    for f in ("vesk1.sys", "vesk1.inf"):
        assert (m.company / f).read_bytes() == (case.dir / f).read_bytes()
    assert m.registered(case.dir / "vesk1.inf")
    assert not (m.drivers / "vesk1.sys").exists()


def test_windows_98_also_copies_into_the_system_folders(case):
    case.version("win98")
    sample_package(case.dir, "vesk1")
    run = case.run()
    m = case.machine
    assert run.code == 0
    # There the setup library may be a redistributable beside the program.
    assert run.loads == [("LoadLibraryA", "setupapi.dll")]
    assert (m.drivers / "vesk1.sys").read_bytes() == (case.dir / "vesk1.sys").read_bytes()
    for target in (m.win / "inf/vesk1.inf", m.company / "vesk1.inf"):
        assert target.read_bytes() == (case.dir / "vesk1.inf").read_bytes()
    # Wine refuses to register content that the program's own copy already put
    # into its inf folder; whatever it answered, the box must say the same.
    assert run.boxes == ([success("vesk1.inf")] if run.accepted else [])


@pytest.mark.arm64
def test_two_packages(case):
    case.version("winxp")
    sample_package(case.dir, "vesk1")
    sample_package(case.dir, "vesk2")
    run = case.run()
    assert run.code == 0
    assert case.machine.registered(case.dir / "vesk1.inf")
    assert case.machine.registered(case.dir / "vesk2.inf")
    assert sorted(run.boxes) == [success("vesk1.inf"), success("vesk2.inf")]


def no_sys(case):
    sample_package(case.dir, "vesk1", "--no-sys")


def package_folder(case):
    (case.dir / "vesk9.inf").mkdir()


def file_in_place_of_company_folder(case):
    (case.machine.win / "Application Data").mkdir()
    case.machine.company.write_text("not a folder")
    sample_package(case.dir, "vesk1")


def registered(case):
    return case.machine.registered(case.dir / "vesk1.inf")


# (name, prepare, program name, arguments, exit code, boxes, what must hold after)
ONE_RUN_CASES = [
    ("an INF without its SYS", no_sys, "setup.exe", [], 0,
     [copy_fail("vesk1.sys"), success("vesk1.inf")], registered),
    ("silent by -S", no_sys, "setup.exe", ["-S"], 0, [],
     lambda c: (c.machine.company / "vesk1.inf").read_bytes() == (c.dir / "vesk1.inf").read_bytes()),
    ("silent by a program named ssetup", no_sys, "ssetup.exe", [], 0, [], registered),
    ("remove mode elsewhere does nothing", lambda c: sample_package(c.dir, "vesk1"), "setup.exe",
     ["-UNINSTALL"], 1, [],
     lambda c: c.machine.company.is_dir() and not (c.machine.company / "vesk1.inf").exists()),
    ("no packages", lambda c: None, "setup.exe", [], 0, [], lambda c: True),
    ("a folder named like a package", package_folder, "setup.exe", [], 0,
     [copy_fail("vesk9.sys"), copy_fail("vesk9.inf")], lambda c: True),
    ("a plain file where the company folder should be", file_in_place_of_company_folder,
     "setup.exe", [], 0, [copy_fail("vesk1.sys"), copy_fail("vesk1.inf")],
     lambda c: c.machine.company.read_text() == "not a folder"),
]


# Those the ARM64 file runs too: a failed copy, and silence.
ARM64_CASES = {"an INF without its SYS", "silent by -S"}


@pytest.mark.parametrize("name,prepare,exe,args,code,boxes,after", [
    pytest.param(*c, id=c[0], marks=[pytest.mark.arm64] if c[0] in ARM64_CASES else [])
    for c in ONE_RUN_CASES])
def test_one_run(case, name, prepare, exe, args, code, boxes, after):
    if exe != "setup.exe":
        case.program = case.program.rename(case.dir / exe)
    case.version("winxp")
    prepare(case)
    run = case.run(*args)
    assert (run.code, run.boxes) == (code, boxes)
    assert after(case), name


def long_path(case, length):
    """Moves the program to a full path of `length` characters (Z: + the Unix path)."""
    folder = case.machine.tmp / f"long{length}"
    fill = length - len(str(folder)) - 3 - len("\\setup.exe")
    case.move(folder / ("d" * fill), "setup.exe")  # an absolute folder replaces the case's


@pytest.mark.parametrize("length,args,code", [(259, [], 0), (270, ["-S"], 255)])
def test_program_path_length(case, length, args, code):
    case.version("winxp")
    long_path(case, length)
    sample_package(case.dir, "vesk1")
    run = case.run(*args)
    if code == 0:
        assert (run.code, run.boxes) == (0, [success("vesk1.inf")])
        assert (case.machine.company / "vesk1.sys").read_bytes() == (case.dir / "vesk1.sys").read_bytes()
    else:
        # The path does not fit: the failure comes before the switches are read.
        assert (run.code, run.boxes) == (255, [INIT_FAIL])
        assert not (case.machine.company / "vesk1.sys").exists()


def test_setup_library_missing(case):
    case.version("winxp")
    sample_package(case.dir, "vesk1")
    run = case.run(overrides="setupapi=d")
    assert (run.code, run.boxes) == (255, [INIT_FAIL])
    assert not (case.machine.company / "vesk1.inf").exists()
    run = case.run("-S", overrides="setupapi=d")
    assert (run.code, run.boxes) == (255, [])


PLANTED = r"""
#include <windows.h>
extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char marker[MAX_PATH + 16];
  DWORD length = GetModuleFileNameA(self, marker, MAX_PATH);
  while (length && marker[length - 1] != '\\') --length;
  lstrcpyA(marker + length, "planted-ran.txt");
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
extern "C" __declspec(dllexport) BOOL WINAPI SetupCopyOEMInfA(LPCSTR, LPCSTR, DWORD, DWORD, LPSTR,
                                                              DWORD, PDWORD, LPSTR*) {
  return TRUE;
}
"""


@pytest.fixture(scope="module")
def planted_dll(machine):
    """A library of our own: loading it leaves a marker file beside it, and
    its SetupCopyOEMInfA answers success and registers nothing."""
    source = machine.tmp / "planted.cpp"
    source.write_text(PLANTED)
    dll = machine.tmp / "planted.dll"
    kill_at = ["-Wl,--kill-at"] if machine.build.bits == 32 else []
    subprocess.run([machine.build.compiler, "-shared", "-Os", "-s", "-static", *kill_at,
                    "-o", str(dll), str(source)], check=True)
    return dll


def without_default_dll_directories(program):
    """The program as on a Windows whose kernel32 lacks SetDefaultDllDirectories
    (XP, 2000, Vista and 7 without KB2533623): the name it looks up is changed."""
    data = program.read_bytes()
    # Its own name only: the 32-bit file carries the native files, which
    # look it up too.
    code = pefile.PE(data=data).sections[0]
    at = data.find(b"SetDefaultDllDirectories\0")
    assert code.PointerToRawData <= at < code.PointerToRawData + code.SizeOfRawData
    program.write_bytes(data[:at] + b"SetDefaultDllDirectoriez\0" + data[at + 25:])


# (library planted beside the program, Windows version, kernel32 without SetDefaultDllDirectories)
PLANTED_CASES = [
    # Loaded by the program itself: by its full system path on the NT family.
    ("setupapi.dll", "winxp", False),
    ("setupapi.dll", "win2k", False),
    # Loaded by Windows on its own, by name, when the message box makes a window.
    ("uxtheme.dll", "winxp", True),
]


@pytest.mark.parametrize("library,version,old_kernel", PLANTED_CASES,
                         ids=[f"{c[0]} as {c[1]}{' without default directories' if c[2] else ''}"
                              for c in PLANTED_CASES])
def test_planted_library_is_not_loaded(case, planted_dll, library, version, old_kernel):
    case.version(version)
    sample_package(case.dir, "vesk1")
    (case.dir / library).write_bytes(planted_dll.read_bytes())
    if old_kernel:
        without_default_dll_directories(case.program)
    # Native first, as Windows XP and 2000 do for libraries that are not known DLLs.
    run = case.run(overrides=f"{library.removesuffix('.dll')}=n,b")
    assert (run.code, run.boxes) == (0, [success("vesk1.inf")])
    assert not (case.dir / "planted-ran.txt").exists()
    assert case.machine.registered(case.dir / "vesk1.inf")
    assert run.loads == [("LoadLibraryExA", "C:\\windows\\system32\\setupapi.dll")], \
        [line for line in run.log.splitlines() if "LoadLibrary" in line and "setupapi" in line][:4]


@pytest.mark.parametrize("entry", ["CatalogFile", "CatalogFile.NT"])
def test_signed_package_takes_its_catalog_along(case, entry):
    """The setup API takes the catalog from the folder of the INF it is given:
    it must lie in the company folder beside the INF's copy."""
    case.version("win10")
    sample_package(case.dir, "vesk1", "--catalog", f"{entry}=vesk1.cat")
    run = case.run()
    m = case.machine
    assert (run.code, run.boxes) == (0, [success("vesk1.inf")])
    assert (m.company / "vesk1.cat").read_bytes() == (case.dir / "vesk1.cat").read_bytes()
    assert m.registered(case.dir / "vesk1.inf")
    # Missing, it is reported as any missing file. Wine's setup API reads the
    # plain entry alone, and refuses the package only for that one.
    m.reset()
    (case.dir / "vesk1.cat").unlink()
    run = case.run()
    assert run.code == 0 and run.boxes[0] == copy_fail("vesk1.cat")
    if entry == "CatalogFile":
        assert (run.boxes, run.accepted) == ([copy_fail("vesk1.cat")], 0)
