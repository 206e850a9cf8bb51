"""One file to start on every Windows: the 32-bit setup.exe in a 64-bit Wine
prefix (WOW64) hands the run over to setup64.exe beside it and exits with its
exit code; and a setup started while another process holds the lock waits."""
import re
import shutil
import subprocess
import time

import pytest

from expect import INIT_FAIL, success
from machine import BUILDS, Machine, sample_package

# Which process made a call: its return address lies in the calling program,
# which a 64-bit process has above 4 GiB (image base 0x140000000) and a
# 32-bit one below (0x400000). Pointer arguments do not tell: Wine prints a
# 64-bit process's small pointers with 8 digits too.
OEM_CALL = re.compile(r"Call setupapi\.SetupCopyOEMInfA\(.*\) ret=([0-9a-f]+)")


def callers(log):
    """The bits of the process that made each SetupCopyOEMInfA call."""
    return [64 if int(ret, 16) > 0xFFFFFFFF else 32 for ret in OEM_CALL.findall(log)]


@pytest.fixture(scope="module")
def wow64(request, templates):
    """A 64-bit Windows that runs 32-bit programs, as WOW64 does."""
    if request.config.no_32bit_reason:
        pytest.skip(request.config.no_32bit_reason)
    m = Machine(BUILDS["x64"], templates(BUILDS["x64"]))
    yield m
    m.stop()


def place(machine, name, with_twin=True):
    """A program folder with the 32-bit file as `name` and the 64-bit one
    beside it as the name with 64 before the extension."""
    machine.reset()
    folder = machine.tmp / "cases" / f"{name}-{with_twin}-{machine.runs}"
    folder.mkdir(parents=True)
    program = folder / name
    shutil.copy(BUILDS["x86"].exe, program)
    twin = folder / name.replace(".exe", "64.exe")
    if with_twin:
        shutil.copy(BUILDS["x64"].exe, twin)
    for exe in (program.name, twin.name):
        machine.set_version(exe, "win10")
    sample_package(folder, "vesk1")
    return program


# (program name, arguments, DLL overrides, exit code, boxes)
HAND_OVER_CASES = [
    ("setup.exe", [], None, 0, [success("vesk1.inf")]),
    ("setup.exe", ["-UNINSTALL"], None, 1, []),
    # The twin cannot load the setup library: its -1 comes through.
    ("setup.exe", [], "setupapi=d", 255, [INIT_FAIL]),
    # Silence by name carries over to ssetup64.exe.
    ("ssetup.exe", [], None, 0, []),
]


@pytest.mark.parametrize("name,args,overrides,code,boxes", HAND_OVER_CASES,
                         ids=[f"{c[0]} {' '.join(c[1])} {c[2] or ''}".strip() for c in HAND_OVER_CASES])
def test_the_32_bit_file_hands_over(wow64, name, args, overrides, code, boxes):
    program = place(wow64, name)
    run = wow64.run(program, *args, overrides=overrides)
    assert (run.code, run.boxes) == (code, boxes)
    # Every registration was made by the 64-bit process.
    assert set(callers(run.log)) <= {64}
    if code == 0:
        assert callers(run.log) == [64] and wow64.registered(program.parent / "vesk1.inf")


def test_without_the_64_bit_file_the_32_bit_one_stages_itself(wow64):
    program = place(wow64, "setup.exe", with_twin=False)
    run = wow64.run(program)
    assert (run.code, run.boxes) == (0, [success("vesk1.inf")])
    assert callers(run.log) == [32]
    assert wow64.registered(program.parent / "vesk1.inf")


HOLDER = r"""
#include <windows.h>
// Holds the setup lock for the given number of seconds, as a first setup would.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR args, int) {
  HANDLE mutex = CreateMutexA(NULL, TRUE, "Global\\Velmoran.Vesk.Setup");
  HANDLE marker = CreateFileA("holding.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  CloseHandle(marker);
  Sleep(1000 * (DWORD)(args[0] - '0'));
  ReleaseMutex(mutex);
  return 0;
}
"""
HOLD_SECONDS = 6


def test_a_setup_waits_for_the_lock(case):
    m = case.machine
    source = m.tmp / "holder.cpp"
    source.write_text(HOLDER)
    holder = m.tmp / "holder.exe"
    subprocess.run([m.build.compiler, "-Os", "-s", "-static", "-mwindows", "-o", str(holder),
                    str(source)], check=True)
    case.version("winxp")
    sample_package(case.dir, "vesk1")
    marker = m.elsewhere / "holding.txt"
    marker.unlink(missing_ok=True)
    held = m.start(holder, str(HOLD_SECONDS))
    deadline = time.monotonic() + 60
    while not marker.exists():
        assert time.monotonic() < deadline, "the holder never took the lock"
        time.sleep(0.1)
    began = time.monotonic()
    run = case.run()
    took = time.monotonic() - began
    assert m.finish(held).code == 0
    assert (run.code, run.boxes) == (0, [success("vesk1.inf")])
    assert took >= HOLD_SECONDS - 2, f"it ran after {took:.1f} s, while the lock was held"
    assert m.registered(case.dir / "vesk1.inf")
