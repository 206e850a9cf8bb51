"""Programs and Features under Wine: an install leaves an entry that Wine's
own uninstaller lists and a copy of the program that did the work, and the
entry's quiet uninstall command, run as it stands, removes what it can."""
import re

import pytest

from machine import dummy_drivers, sample_package

ENTRY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VeskUsbDrivers"
COMPANY = "C:\\windows\\Application Data\\Velmoran"
COPY = f"{COMPANY}\\vesk-setup.exe"
PENDING = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"


def listed(machine):
    out = machine.wine("uninstaller", "--list").stdout.decode("latin-1")
    return "VeskUsbDrivers|||Vesk USB drivers" in out.splitlines()


def log_lines(machine):
    return (machine.company / "setup.log").read_bytes().decode("latin-1").split("\r\n")[:-1]


# (Windows, remove switch in the entry, the quiet uninstall's exit code)
CASES = [
    # Wine 8.0's SetupUninstallOEMInfA answers TRUE and deletes nothing: the
    # store keeps the packages, so the entry and the copy stay, with 1603
    # (Wine passes its low 8 bits).
    pytest.param("win10", "-REMOVE", 1603 & 0xFF, marks=pytest.mark.arm64),
    # The services go: so do the entry and the copy, which runs and goes at
    # the restart under another name.
    ("nt40", "-UNINSTALL", 1),
    # No entry before XP, but for NT 4.0's own route.
    ("win2k", None, None),
    ("win98", None, None),
]


@pytest.mark.parametrize("version,switch,removal", CASES, ids=["win10", "nt40", "win2k", "win98"])
def test_programs_and_features(case, version, switch, removal):
    m = case.machine
    # What cases before left: an entry, and a record of packages staged, which
    # keeps the entry at a removal.
    m.wine("cmd", "/c", f"reg delete {ENTRY} /f & reg delete HKLM\\Software\\Velmoran /f")
    # Wine sets the version by the program's file name: the copy is another.
    for name in ("setup.exe", "vesk-setup.exe"):
        m.set_version(name, version)
    sample_package(case.dir, "vesk1", "--driver-ver", "1.9.0.0")
    sample_package(case.dir, "vesk2", "--driver-ver", "1.10.0.0")
    dummy_drivers(case.dir, "windrvr", "wdusbd", "tolv")
    assert case.run("-S").code == (1 if version == "nt40" else 0)
    copy = m.company / "vesk-setup.exe"
    values = m.key(ENTRY)
    if switch is None:
        assert (values, listed(m), copy.exists()) == (None, False, False)
        return
    assert listed(m) and copy.read_bytes() == m.build.exe.read_bytes()
    day = re.match(r"==== (\d+)-(\d+)-(\d+) ", log_lines(m)[0])
    files = [f for f in m.company.iterdir() if not f.name.startswith("setup.log")]
    assert values == {
        "DisplayName": ("REG_SZ", "Vesk USB drivers"),
        # The newest package's DriverVer, as numbers; NT 4.0 stages none.
        "DisplayVersion": ("REG_SZ", "1.0.0.0" if version == "nt40" else "1.10.0.0"),
        "Publisher": ("REG_SZ", "Velmoran"),
        "InstallDate": ("REG_SZ", "".join(day.groups())),
        "InstallLocation": ("REG_SZ", COMPANY),
        "DisplayIcon": ("REG_SZ", COPY),
        "UninstallString": ("REG_SZ", f'"{COPY}" {switch}'),
        "QuietUninstallString": ("REG_SZ", f'"{COPY}" {switch} -S'),
        "NoModify": ("REG_DWORD", "0x1"),
        "NoRepair": ("REG_DWORD", "0x1"),
        "EstimatedSize": ("REG_DWORD", hex((sum(f.stat().st_size for f in files) + 1023) // 1024)),
    }
    # As Programs and Features would start it: the quoted program, then its arguments.
    program, arguments = re.fullmatch(r'"([^"]+)" (.*)', values["QuietUninstallString"][1]).groups()
    assert m.wine(program, *arguments.split(), cwd=m.elsewhere).returncode == removal
    kept = removal == 1603 & 0xFF
    assert (m.key(ENTRY) == values, listed(m), copy.exists()) == (kept, kept, kept)
    assert log_lines(m)[-1].startswith(f"result: exit code {1603 if kept else 1};")
    if not kept:
        [aside] = m.company.glob("vesk-setup.exe.removed-*")
        assert aside.read_bytes() == m.build.exe.read_bytes()
        pending = m.wine("reg", "query", PENDING, "/v", "PendingFileRenameOperations")
        assert f"{COMPANY}\\{aside.name}" in pending.stdout.decode("latin-1")
