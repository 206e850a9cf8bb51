"""One file to start on every Windows: the 32-bit setup.exe in a 64-bit Wine
prefix (WOW64) writes the x64 file it carries into the company folder, starts
it there and exits with its exit code; and a setup started while another
process holds the lock waits."""
import re
import shutil
import signal
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


MARKER = r"""
#include <windows.h>
// Planted beside the program: leaves a file where it ran, then fakes success.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CloseHandle(CreateFileA("C:\\planted-ran.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
  return 0;
}
"""


def place(machine, name):
    """A program folder with the 32-bit file alone as `name`, and a program of
    ours planted beside it as setup64.exe, which must never run."""
    machine.reset()
    folder = machine.tmp / "cases" / f"{name}-{machine.runs}"
    folder.mkdir(parents=True)
    program = folder / name
    shutil.copy(BUILDS["x86"].exe, program)
    source = machine.tmp / "planted.cpp"
    source.write_text(MARKER)
    subprocess.run([BUILDS["x64"].compiler, "-Os", "-s", "-static", "-mwindows", "-o",
                    str(folder / "setup64.exe"), str(source)], check=True)
    machine.set_version(name, "win10")
    sample_package(folder, "vesk1")
    (machine.prefix / "drive_c/planted-ran.txt").unlink(missing_ok=True)
    return program


def twins_left(machine):
    """What a hand-over left: its run folders, each made for a twin."""
    return sorted(p.name for p in machine.company.glob("run-*")) if machine.company.is_dir() else []


# (program name, arguments, DLL overrides, exit code, boxes)
HAND_OVER_CASES = [
    ("setup.exe", [], None, 0, [success("vesk1.inf")]),
    ("setup.exe", ["-UNINSTALL"], None, 1, []),
    # The twin cannot load the setup library: its -1 comes through.
    ("setup.exe", [], "setupapi=d", 255, [INIT_FAIL]),
    # Silent by the name the user started, which the twin runs for.
    ("ssetup.exe", [], None, 0, []),
]


@pytest.mark.parametrize("name,args,overrides,code,boxes", HAND_OVER_CASES,
                         ids=[f"{c[0]} {' '.join(c[1])} {c[2] or ''}".strip() for c in HAND_OVER_CASES])
def test_the_32_bit_file_hands_over_to_the_twin_it_carries(wow64, name, args, overrides, code,
                                                          boxes):
    program = place(wow64, name)
    run = wow64.run(program, *args, overrides=overrides)
    assert (run.code, run.boxes) == (code, boxes)
    # Every registration was made by the 64-bit process, of the package
    # beside the program the user started.
    assert set(callers(run.log)) <= {64}
    if code == 0:
        assert callers(run.log) == [64] and wow64.registered(program.parent / "vesk1.inf")
        # Programs and Features starts the file that did the work: the twin.
        assert (wow64.company / "vesk-setup.exe").read_bytes() == BUILDS["x64"].exe.read_bytes()
    assert not (wow64.prefix / "drive_c/planted-ran.txt").exists(), "the planted setup64.exe ran"
    assert twins_left(wow64) == []
    if code != 255:
        log = (wow64.company / "setup.log").read_text("latin-1")
        assert f"for {wineish(program)}" in log


def wineish(path):
    """How a Unix path below the prefix's drive Z: reads in Windows."""
    return "Z:" + str(path).replace("/", "\\")


def test_killing_the_32_bit_file_ends_its_twin(wow64):
    """A management agent's time limit kills the file it started: the twin,
    waiting for the lock that another setup holds, goes with it and changes
    nothing."""
    program = place(wow64, "setup.exe")
    holder = build_holder(wow64)
    marker = wow64.elsewhere / "holding.txt"
    marker.unlink(missing_ok=True)
    held = wow64.start(holder, "9")
    wait_for(marker.exists, "the holder never took the lock")
    parent = wow64.start(program)
    wait_for(lambda: twins_left(wow64) != [], "no twin was written")
    time.sleep(1)
    parent[0].send_signal(signal.SIGKILL)
    wow64.finish(parent)
    assert wow64.finish(held).code == 0
    time.sleep(5)  # a twin that lived on would have its lock now, and run
    assert not wow64.registered(program.parent / "vesk1.inf")
    assert not (wow64.company / "setup.log").exists()


def wait_for(condition, failure, seconds=60):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, failure
        time.sleep(0.1)


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


def build_holder(m):
    source = m.tmp / "holder.cpp"
    source.write_text(HOLDER)
    holder = m.tmp / "holder.exe"
    subprocess.run([m.build.compiler, "-Os", "-s", "-static", "-mwindows", "-o", str(holder),
                    str(source)], check=True)
    return holder


def test_a_setup_waits_for_the_lock(case):
    m = case.machine
    holder = build_holder(m)
    case.version("winxp")
    sample_package(case.dir, "vesk1")
    marker = m.elsewhere / "holding.txt"
    marker.unlink(missing_ok=True)
    held = m.start(holder, str(HOLD_SECONDS))
    wait_for(marker.exists, "the holder never took the lock")
    began = time.monotonic()
    run = case.run()
    took = time.monotonic() - began
    assert m.finish(held).code == 0
    assert (run.code, run.boxes) == (0, [success("vesk1.inf")])
    assert took >= HOLD_SECONDS - 2, f"it ran after {took:.1f} s, while the lock was held"
    assert m.registered(case.dir / "vesk1.inf")
