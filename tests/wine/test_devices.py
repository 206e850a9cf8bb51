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

OTHER_ID = "USB\\VID_1D6B&PID_4002"
UPDATE_CALL = re.compile(r'Call newdev\.UpdateDriverForPlugAndPlayDevicesA\([0-9a-f]*,[0-9a-f]* '
                         r'"([^"]*)",[0-9a-f]* "([^"]*)",([0-9a-f]*),')
UNINSTALL_CALL = re.compile(r'Call setupapi\.SetupUninstallOEMInfA\([0-9a-f]* "([^"]*)"')
DIF_REMOVE_CALL = "Call setupapi.SetupDiCallClassInstaller(00000005,"
REMOVE_FAIL = "setup: Remove driver fail: vesk1.inf"
ERROR_INSTALL_FAILURE = 1603


@pytest.fixture(scope="module")
def helper(machine):
    return Devices(machine)


@pytest.fixture
def devices(case, helper):
    """No device of ours, whatever the case before left."""
    helper.remove_made()
    return helper


def setup_log(machine):
    return (machine.company / "setup.log").read_text("latin-1").splitlines()


def published_name(log):
    """The name the store published vesk1.inf under, as the log's register line gives it."""
    [name] = [m.group(1) for m in map(re.compile(r"register .*\\vesk1\.inf as (\S+): ok$").match, log)
              if m]
    return name


def updated(log):
    return int(re.search(r"; devices: (\d+) updated", log[-1]).group(1))


def unescape(text):
    return text.replace("\\\\", "\\")


@pytest.mark.parametrize("version,args,flags,boxes", [
    ("winxp", ["-S"], 4, []),  # INSTALLFLAG_NONINTERACTIVE: nobody is there to answer
    pytest.param("win10", [], 0, [success("vesk1.inf")], marks=pytest.mark.arm64),
])
def test_a_plugged_in_device_gets_the_package(case, devices, version, args, flags, boxes):
    m = case.machine
    case.version(version)
    sample_package(case.dir, "vesk1")
    instance = devices.make(SAMPLE_ID)
    run = case.run(*args)
    assert (run.code, run.boxes) == (0, boxes)
    log = setup_log(m)
    published = published_name(log)
    device = devices.show()[instance]
    assert device.driver != "none" and device.inf == published
    assert (m.drivers / "vesk1.sys").read_bytes() == (case.dir / "vesk1.sys").read_bytes()
    assert [(unescape(i), unescape(f), int(x, 16)) for i, f, x in UPDATE_CALL.findall(run.log)] == \
        [(SAMPLE_ID, "C:\\windows\\Application Data\\Velmoran\\vesk1.inf", flags)]
    assert f"device {instance}: no driver before, {published} now" in log
    assert updated(log) == 1


# (made, arguments, whether UpdateDriverForPlugAndPlayDevicesA is called)
UNTOUCHED_CASES = [
    ("no device", [], [], True),
    ("a device with another ID", [OTHER_ID], [], True),
    ("-PREINSTALL", [SAMPLE_ID], ["-PREINSTALL"], False),
]


@pytest.mark.arm64
@pytest.mark.parametrize("name,made,args,called", UNTOUCHED_CASES,
                         ids=[c[0] for c in UNTOUCHED_CASES])
def test_devices_left_alone(case, devices, name, made, args, called):
    m = case.machine
    case.version("win10")
    sample_package(case.dir, "vesk1")
    instances = [devices.make(i) for i in made]
    run = case.run("-S", *args)
    assert (run.code, run.boxes) == (0, [])
    assert m.registered(case.dir / "vesk1.inf")
    assert bool(UPDATE_CALL.search(run.log)) == called
    shown = devices.show()
    assert [(shown[i].driver, shown[i].inf.split()[0]) for i in instances] == \
        [("none", "none")] * len(instances)
    log = setup_log(m)
    assert not [line for line in log if line.startswith("device ")], log
    assert updated(log) == 0
    if called:
        # A Wine difference: with no device using the package Windows answers
        # ERROR_NO_SUCH_DEVINST, Wine TRUE. The log must say what Windows now holds.
        assert (f"installing vesk1.inf on devices: Windows answered TRUE, but no device "
                f"uses {published_name(log)}") in log


@pytest.mark.arm64
def test_remove_after_an_install(case, devices):
    m = case.machine
    case.version("win10")
    sample_package(case.dir, "vesk1")
    instance = devices.make(SAMPLE_ID)
    assert case.run("-S").code == 0
    published = published_name(setup_log(m))
    run = case.run("-REMOVE")
    assert UNINSTALL_CALL.findall(run.log) == [published]
    # The device that used it went first (Wine 8.0 removes it as Windows does).
    assert run.log.count(DIF_REMOVE_CALL) == 1 and instance not in devices.show()
    # Wine 8.0's SetupUninstallOEMInfA answers TRUE and deletes nothing, so
    # the package stays in the store, and the setup must say so; under Wine
    # only the exit code's low 8 bits arrive.
    assert (run.code, run.boxes) == (ERROR_INSTALL_FAILURE & 0xFF, [REMOVE_FAIL])
    assert (m.win / "inf" / published).is_file()
    for f in ("vesk1.inf", "vesk1.sys"):
        assert (m.company / f).read_bytes() == (case.dir / f).read_bytes()
    record = m.wine("reg", "query", "HKLM\\Software\\Velmoran\\Vesk\\Packages", "/v", "vesk1.inf")
    assert record.returncode == 0 and published in record.stdout.decode("latin-1").split()


@pytest.mark.arm64
def test_remove_with_nothing_staged(case, devices):
    case.version("win10")
    case.machine.wine("reg", "delete", "HKLM\\Software\\Velmoran", "/f")  # no record either
    sample_package(case.dir, "vesk1")
    run = case.run("-REMOVE")
    assert (run.code, run.boxes) == (0, [])
    assert not UNINSTALL_CALL.search(run.log) and DIF_REMOVE_CALL not in run.log
