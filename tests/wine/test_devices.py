"""Devices under Wine: a staged package reaches the devices plugged in that
it fits, and -REMOVE takes it out again, with devices made by a program of
ours (device_helper.cpp) and read back through the setup API.

Wine 8 answers UpdateDriverForPlugAndPlayDevices with TRUE whether or not a
device has the ID, ignores its flags and never asks for a restart, and its
SetupUninstallOEMInf deletes nothing. So a driver that is not better than the
device's, a 32-bit process refused under WOW64, exit 3010 and the store
refusing to let a package go cannot be shown here: the unit tests show them
on the simulated machine.
"""
import re

import pytest

from devices import SAMPLE_ID, Devices
from expect import success
from machine import sample_package

UPDATE_CALL = re.compile(r'Call newdev\.UpdateDriverForPlugAndPlayDevicesA\([0-9a-f]*,[0-9a-f]* '
                         r'"([^"]*)",[0-9a-f]* "([^"]*)",([0-9a-f]*),')
UNINSTALL_CALL = re.compile(r'Call setupapi\.SetupUninstallOEMInfA\([0-9a-f]* "([^"]*)"')
DIF_REMOVE_CALL = "Call setupapi.SetupDiCallClassInstaller(00000005,"


@pytest.fixture(scope="module")
def helper(machine):
    return Devices(machine)


@pytest.fixture
def devices(case, helper):
    """No device of ours, whatever the case before left; the sample beside the program."""
    helper.remove_made()
    sample_package(case.dir, "vesk1")
    return helper


def setup_log(machine):
    """The log's lines, the name the store published vesk1.inf under, and the devices updated."""
    log = (machine.company / "setup.log").read_text("latin-1").splitlines()
    register = re.compile(r"register .*\\vesk1\.inf as (\S+): ok$")
    [published] = [m[1] for m in map(register.match, log) if m]
    return log, published, int(re.search(r"; devices: (\d+) updated", log[-1])[1])


@pytest.mark.parametrize("version,args,flags,boxes", [
    ("winxp", ["-S"], 4, []),  # INSTALLFLAG_NONINTERACTIVE: nobody is there to answer
    pytest.param("win10", [], 0, [success("vesk1.inf")], marks=pytest.mark.arm64),
])
def test_a_plugged_in_device_gets_the_package(case, devices, version, args, flags, boxes):
    m = case.machine
    case.version(version)
    instance = devices.make(SAMPLE_ID)
    run = case.run(*args)
    assert (run.code, run.boxes) == (0, boxes)
    log, published, updated = setup_log(m)
    device = devices.show()[instance]
    assert device.driver != "none" and device.inf == published
    assert (m.drivers / "vesk1.sys").read_bytes() == (case.dir / "vesk1.sys").read_bytes()
    assert [(i, f, int(x, 16)) for i, f, x in UPDATE_CALL.findall(run.log.replace("\\\\", "\\"))] \
        == [(SAMPLE_ID, "C:\\windows\\Application Data\\Velmoran\\vesk1.inf", flags)]
    assert f"device {instance}: no driver before, {published} now" in log and updated == 1


@pytest.mark.arm64
@pytest.mark.parametrize("made,args", [([], []), (["USB\\VID_1D6B&PID_4002"], []),
                                       ([SAMPLE_ID], ["-PREINSTALL"])],
                         ids=["no device", "another ID", "-PREINSTALL"])
def test_devices_left_alone(case, devices, made, args):
    case.version("win10")
    instances = [devices.make(i) for i in made]
    run = case.run("-S", *args)
    assert (run.code, run.boxes) == (0, []) and case.machine.registered(case.dir / "vesk1.inf")
    shown = devices.show()
    assert [(shown[i].driver, shown[i].inf[:4]) for i in instances] == \
        [("none", "none")] * len(made)
    log, published, updated = setup_log(case.machine)
    assert not [line for line in log if line.startswith("device ")] and updated == 0
    # Stage only: no device is asked for. Else a Wine difference: with no
    # device that has the ID, Windows answers ERROR_NO_SUCH_DEVINST, Wine
    # TRUE, and the log must tell what the devices now hold.
    called = "-PREINSTALL" not in args
    assert bool(UPDATE_CALL.search(run.log)) == called
    assert (f"installing vesk1.inf on devices: Windows answered TRUE, but no device uses "
            f"{published}" in log) == called


@pytest.mark.arm64
def test_remove_after_an_install(case, devices):
    m = case.machine
    case.version("win10")
    instance = devices.make(SAMPLE_ID)
    assert case.run("-S").code == 0
    published = setup_log(m)[1]
    run = case.run("-REMOVE")
    assert UNINSTALL_CALL.findall(run.log) == [published]
    # The device that used it goes first (Wine 8.0 removes it as Windows does).
    assert run.log.count(DIF_REMOVE_CALL) == 1 and instance not in devices.show()
    # Wine 8.0's SetupUninstallOEMInfA answers TRUE and deletes nothing: the
    # package stays, and the setup must say so with 1603, of which Wine
    # passes the low 8 bits.
    assert (run.code, run.boxes) == (1603 & 0xFF, ["setup: Remove driver fail: vesk1.inf"])
    assert (m.win / "inf" / published).is_file()
    for f in ("vesk1.inf", "vesk1.sys"):
        assert (m.company / f).read_bytes() == (case.dir / f).read_bytes()
    record = m.wine("reg", "query", "HKLM\\Software\\Velmoran\\Vesk\\Packages", "/v", "vesk1.inf")
    assert record.returncode == 0 and published in record.stdout.decode("latin-1").split()


@pytest.mark.arm64
def test_remove_with_nothing_staged(case, devices):
    case.version("win10")
    case.machine.wine("reg", "delete", "HKLM\\Software\\Velmoran", "/f")  # no record either
    run = case.run("-REMOVE")
    assert (run.code, run.boxes) == (0, [])
    assert not UNINSTALL_CALL.search(run.log) and DIF_REMOVE_CALL not in run.log
