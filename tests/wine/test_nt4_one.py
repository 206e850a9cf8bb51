"""The NT 4.0 route on one processor: WinDriver and Wdusbd."""
from machine import dummy_drivers
from expect import expect_no_service, expect_service, same

# Wine counts processors from /sys/devices/system/cpu/online: a "0" is mounted there.
MACHINE = {"one_cpu": True}


def test_install_again_remove_and_remove_again(case):
    m = case.machine
    case.version("nt40")
    dummy_drivers(case.dir, "windrvr", "wdusbd", "tolv")
    run = case.run()
    assert (run.code, run.boxes) == (1, [])
    assert same(m.drivers / "windrvr.sys", case.dir / "windrvr.sys")
    assert same(m.drivers / "wdusbd.sys", case.dir / "wdusbd.sys")
    assert not (m.drivers / "tolv.sys").exists()
    expect_service(m, "WinDriver", "windrvr")
    expect_service(m, "Wdusbd", "wdusbd")
    expect_no_service(m, "TOLV")
    # NT 4.0 makes the company folder for its log and the copy Programs and Features starts.
    assert sorted(p.name for p in (m.win / "Application Data").rglob("*")) == \
        ["Velmoran", "setup.log", "vesk-setup.exe"]

    # An installed service's file is not copied again.
    installed = (m.drivers / "windrvr.sys").read_bytes()
    (case.dir / "windrvr.sys").write_text("newer")
    run = case.run()
    assert (run.code, run.boxes) == (1, [])
    assert (m.drivers / "windrvr.sys").read_bytes() == installed

    run = case.run("-UNINSTALL")
    assert (run.code, run.boxes) == (1, [])
    for service, base in (("WinDriver", "windrvr"), ("Wdusbd", "wdusbd")):
        expect_no_service(m, service)
        assert not (m.drivers / f"{base}.sys").exists()
    assert not (m.company / "vesk-setup.exe").exists()  # not the one running: deleted at once

    run = case.run("-UNINSTALL")
    assert (run.code, run.boxes) == (255, ["setup: Setup fail: "])


def test_missing_driver_file(case):
    case.version("nt40")
    dummy_drivers(case.dir, "wdusbd")
    run = case.run()
    assert (run.code, run.boxes) == (255, ["setup fail: Copy file fail: windrvr.sys"])
    expect_no_service(case.machine, "WinDriver")
    run = case.run("-S")
    assert (run.code, run.boxes) == (255, [])
