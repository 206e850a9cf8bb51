"""What Windows' loader needs of setup.exe itself: header, imports, resources.

A missing import stops the program from loading, and Wine cannot show it (its
DLLs export everything), so the imports are read from the file.
"""
import re
import subprocess
from pathlib import Path

import pefile
import pytest

from machine import BUILDS, resource

HERE = Path(__file__).parent
WINAPI = HERE.parents[2] / "shared/winapi"  # lists of what Windows 95 and NT 4.0 lack
# Size ceilings of the files' own code as built, less the native files the
# 32-bit one carries (a signature adds its own few KiB); the 64-bit files
# carry unwind tables besides their larger code.
BUDGET = {"x86": 48 * 1024, "x64": 51 * 1024, "arm64": 50 * 1024}
# The RCDATA resources of the 32-bit file: the x64 and the ARM64 file.
TWIN_X64, TWIN_ARM64 = 201, 202

# Per build: machine, optional-header magic, the version it asks for, the marks
# beyond ASLR, DEP and Terminal Server awareness, and its version block's
# description and original name.
EXPECTED = {
    "x86": dict(machine=0x14C, magic=0x10B, version=(4, 0), marks=0, arch="x86",
                names=("Vesk USB driver setup", "setup.exe"),
                toolchain="i686-w64-mingw32"),
    # 64-bit Windows begins at 5.2; a 64-bit program can take high-entropy ASLR.
    "x64": dict(machine=0x8664, magic=0x20B, version=(5, 2), marks=0x20, arch="amd64",
                names=("Vesk USB driver setup (64-bit)", "setup64.exe"),
                toolchain="x86_64-w64-mingw32"),
    # ARM64 Windows begins at 10.0.
    "arm64": dict(machine=0xAA64, magic=0x20B, version=(10, 0), marks=0x20, arch="arm64",
                  names=("Vesk USB driver setup (ARM64)", "setuparm64.exe"),
                  toolchain="aarch64-w64-mingw32"),
}
DYNAMIC_BASE, NX_COMPAT, TERMINAL_SERVER_AWARE = 0x40, 0x100, 0x8000


@pytest.fixture(scope="module", params=["as built", "signed"])
def exe(any_build, signer, request):
    """The file as built, and a signed copy: signing must keep it loadable."""
    return any_build.exe if request.param == "as built" else signer.signed(any_build)


@pytest.fixture(scope="module")
def pe(exe):
    return pefile.PE(str(exe))


def imports(pe):
    """DLL!Function of every import; by ordinal shows as DLL!#N."""
    found = []
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode().upper().removesuffix(".DLL")
        for imp in entry.imports:
            found.append(f"{dll}!{imp.name.decode() if imp.name else '#%d' % imp.ordinal}")
    return sorted(found)


def missing_on_old_windows():
    names = set()
    for f in sorted(WINAPI.glob("*missing*.txt")) + [WINAPI / "advapi32-unverified-win95.txt"]:
        for line in f.read_text().splitlines():
            word = line.split("#")[0].split()
            if word and re.match(r"[A-Za-z_]", word[0]):
                names.add(word[0])
    return names


def test_header(any_build, pe):
    want = EXPECTED[any_build.name]
    header = pe.OPTIONAL_HEADER
    assert pe.FILE_HEADER.Machine == want["machine"]
    assert header.Magic == want["magic"]
    assert header.Subsystem == 2  # GUI
    for version in ((header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion),
                    (header.MajorSubsystemVersion, header.MinorSubsystemVersion)):
        if any_build.bits == 32:
            assert version <= want["version"], "Windows 95 and NT 4.0 load up to 4.0"
        else:
            assert version == want["version"]
    marks = DYNAMIC_BASE | NX_COMPAT | TERMINAL_SERVER_AWARE | want["marks"]
    assert header.DllCharacteristics & marks == marks, hex(header.DllCharacteristics)
    # ASLR can move it only with its relocations.
    assert header.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]].Size > 0
    if any_build.bits == 64:
        # Unwind data for the code, the entry point's included: crash reports
        # and debuggers walk the stack with it (ARM64 Windows any stack).
        functions = (arm64_functions(pe) if any_build.name == "arm64" else
                     [(e.struct.BeginAddress, e.struct.EndAddress)
                      for e in getattr(pe, "DIRECTORY_ENTRY_EXCEPTION", [])])
        assert len(functions) > 50
        assert any(b <= header.AddressOfEntryPoint < e for b, e in functions)


def arm64_functions(pe):
    """(start, end) of every ARM64 .pdata entry, which pefile does not read:
    a start RVA, then packed unwind data (flag 1 or 2; the length in bits 2-12)
    or the RVA of an .xdata record (flag 0; the length in its bits 0-17), in
    units of 4 bytes."""
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXCEPTION"]]
    data = pe.get_data(entry.VirtualAddress, entry.Size)
    functions = []
    for at in range(0, len(data) - 7, 8):
        start, unwind = int.from_bytes(data[at:at + 4], "little"), int.from_bytes(data[at + 4:at + 8], "little")
        if unwind & 3:
            length = (unwind >> 2) & 0x7FF
        else:
            length = pe.get_dword_at_rva(unwind) & 0x3FFFF
        functions.append((start, start + 4 * length))
    return functions


def test_imports_only_what_old_windows_exports(pe):
    found = imports(pe)
    assert found
    assert {name.split("!")[0] for name in found} <= {"KERNEL32", "USER32", "ADVAPI32"}
    allowed = {line for line in (HERE / "allowed_imports.txt").read_text().splitlines()
               if line and not line.startswith("#")}
    assert [name for name in found if name not in allowed] == []
    if WINAPI.is_dir():
        assert [n for n in found if n.split("!")[1] in missing_on_old_windows()] == []
    # Bound at run time: Windows 95 may lack the service manager, and setupapi.dll is optional.
    assert [n for n in found if n.split("!")[1] in ("OpenSCManagerA", "CreateServiceA",
                                                    "DeleteService")] == []
    assert not any(b"setupapi" in e.dll.lower() for e in pe.DIRECTORY_ENTRY_IMPORT)


def test_resources(any_build, pe):
    group = resource(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"], 101)
    assert group is not None, "no icon group 101"
    count = int.from_bytes(group[4:6], "little")
    width, height, colours = group[6], group[7], group[8]
    assert (count, width, height, colours) == (1, 32, 32, 16)
    strings = {k.decode(): v.decode() for info in pe.FileInfo[0] if hasattr(info, "StringTable")
               for table in info.StringTable for k, v in table.entries.items()}
    assert strings.get("ProductName") and strings.get("FileVersion")
    # The files can be told apart in Explorer's properties and by deployment tools.
    assert (strings.get("FileDescription"), strings.get("OriginalFilename")) == (
        EXPECTED[any_build.name]["names"])
    # The version the setup log writes is the version block's.
    version = re.search(r'SETUP_VERSION_TEXT "([0-9.]+)"',
                        (HERE.parents[1] / "res/version.h").read_text()).group(1)
    assert strings["FileVersion"] == version
    manifest = resource(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"], 1).decode()
    assert 'level="requireAdministrator"' in manifest
    # XP SP2 and unpatched XP are touchy about more than one namespace there.
    assert re.findall(r"<trustInfo[^>]*>", manifest) == [
        '<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">']
    assert f'processorArchitecture="{EXPECTED[any_build.name]["arch"]}"' in manifest


def test_32bit_file_carries_the_native_ones():
    """What the 32-bit file starts on x64 and ARM64 Windows is the file of the
    same build for that machine, byte for byte."""
    pe = pefile.PE(str(BUILDS["x86"].exe))
    for ident, build, machine in ((TWIN_X64, "x64", 0x8664), (TWIN_ARM64, "arm64", 0xAA64)):
        carried = resource(pe, pefile.RESOURCE_TYPE["RT_RCDATA"], ident)
        assert carried == BUILDS[build].exe.read_bytes(), build
        assert pefile.PE(data=carried).FILE_HEADER.Machine == machine


def test_two_builds_are_the_same_bytes(any_build, tmp_path):
    """A second build of the same sources, in another folder, gives the same
    file: a vendor can check that the file they ship is the one the sources make."""
    toolchain = EXPECTED[any_build.name]["toolchain"]
    root = HERE.parents[1]
    twin = [f"-DSETUP_TWIN_X64={BUILDS['x64'].exe}",
            f"-DSETUP_TWIN_ARM64={BUILDS['arm64'].exe}"] if any_build.name == "x86" else []
    subprocess.run(["cmake", "-S", str(root), "-B", str(tmp_path), "-DCMAKE_BUILD_TYPE=MinSizeRel",
                    f"-DCMAKE_TOOLCHAIN_FILE={root}/cmake/{toolchain}.cmake"] + twin,
                   capture_output=True, check=True)
    subprocess.run(["cmake", "--build", str(tmp_path), "-j2"], capture_output=True, check=True)
    assert (tmp_path / "setup.exe").read_bytes() == any_build.exe.read_bytes()


def test_size(any_build):
    size = any_build.exe.stat().st_size
    pe = pefile.PE(str(any_build.exe))
    carried = sum(len(resource(pe, pefile.RESOURCE_TYPE["RT_RCDATA"], ident) or b"")
                  for ident in (TWIN_X64, TWIN_ARM64))
    print(f"{any_build.exe}: {size} bytes, {size - carried} of its own")
    assert (carried > 0) == (any_build.name == "x86")
    assert size - carried <= BUDGET[any_build.name]


# Instructions the i486 lacks: Pentium (cmpxchg8b, rdtsc, cpuid on most 486s),
# P6 (cmov, fcmov, fcomi), MMX and SSE registers.
NOT_I486 = re.compile(r"\t(cmov|fcmov|f[u]?comip?|cmpxchg8b|rdtsc|cpuid|sysenter)|%x?mm[0-9]")


def i486_violations(exe):
    listing = subprocess.run(["i686-w64-mingw32-objdump", "-d", "--no-show-raw-insn", str(exe)],
                             capture_output=True, text=True, check=True).stdout
    return [line.strip() for line in listing.splitlines() if NOT_I486.search(line)]


def test_32bit_file_runs_on_an_i486():
    assert i486_violations(BUILDS["x86"].exe) == []
