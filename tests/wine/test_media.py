"""Real media: every file on a driver CD is read-only, and CopyFileA gives
each copy its source's attributes.

A wineserver running as root overwrites and replaces read-only files anyway
(its refusal comes only from Unix permissions), so these cases would pass as
root only by that luck: they run Wine as a user without root's rights, as
Windows users meet it.
"""
import os
import stat

from machine import dummy_drivers, sample_package
from expect import expect_no_service, expect_service, same, success

MACHINE = {"unprivileged": True}


def read_only(*paths):
    for p in paths:
        p.chmod(p.stat().st_mode & ~(stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))


def newer_package(case, name):
    """The package again with other content, read-only."""
    for f in case.dir.glob(f"{name}.*"):
        f.chmod(0o644)
    sample_package(case.dir, name)
    with open(case.dir / f"{name}.inf", "ab") as f:
        f.write(b"; newer\r\n")
    with open(case.dir / f"{name}.sys", "a") as f:
        f.write("newer\n")
    read_only(*case.dir.glob(f"{name}.*"))


def writable(path):
    """Windows' read-only attribute is Wine's missing owner write bit (root may write anyway)."""
    return bool(path.stat().st_mode & stat.S_IWUSR)


def copy_failures(run):
    return [b for b in run.boxes if "Copy file fail" in b]


def test_windows_xp_run_twice(case):
    m = case.machine
    case.version("winxp")
    sample_package(case.dir, "vesk1")
    read_only(*case.dir.glob("vesk1.*"))
    run = case.run()
    assert (run.code, run.boxes) == (0, [success("vesk1.inf")])
    assert writable(m.company / "vesk1.sys") and writable(m.company / "vesk1.inf")
    newer_package(case, "vesk1")
    run = case.run()
    assert (run.code, run.boxes) == (0, [success("vesk1.inf")])
    assert same(m.company / "vesk1.sys", case.dir / "vesk1.sys")
    assert same(m.company / "vesk1.inf", case.dir / "vesk1.inf")
    assert m.registered(case.dir / "vesk1.inf")


def test_windows_98_run_twice(case):
    m = case.machine
    case.version("win98")
    sample_package(case.dir, "vesk1")
    read_only(*case.dir.glob("vesk1.*"))
    run = case.run()
    assert run.code == 0 and copy_failures(run) == []
    installed = [m.company / "vesk1.sys", m.company / "vesk1.inf", m.drivers / "vesk1.sys",
                 m.win / "inf/vesk1.inf"]
    assert [p for p in installed if not writable(p)] == []
    newer_package(case, "vesk1")
    run = case.run()
    assert run.code == 0 and copy_failures(run) == []
    for p in installed:
        assert same(p, case.dir / p.name)


def test_nt4_install_remove_install_again(case):
    m = case.machine
    case.version("nt40")
    dummy_drivers(case.dir, "windrvr", "wdusbd", "tolv")
    read_only(*case.dir.glob("*.sys"))
    several = (os.cpu_count() or 1) >= 2
    entries = [("TOLV", "tolv")] if several else [("WinDriver", "windrvr"), ("Wdusbd", "wdusbd")]
    run = case.run()
    assert (run.code, run.boxes) == (1, [])
    for service, base in entries:
        expect_service(m, service, base)
        assert writable(m.drivers / f"{base}.sys")
    run = case.run("-UNINSTALL")
    assert (run.code, run.boxes) == (1, [])
    for service, base in entries:
        expect_no_service(m, service)
        assert not (m.drivers / f"{base}.sys").exists()
    run = case.run()
    assert (run.code, run.boxes) == (1, [])
    for service, base in entries:
        expect_service(m, service, base)
        assert same(m.drivers / f"{base}.sys", case.dir / f"{base}.sys")


def test_files_that_match_the_pattern_only_by_their_short_names(case):
    # FindFirstFileA matches the 8.3 names too: vesk1.info is VESK~xxx.INF.
    case.version("winxp")
    sample_package(case.dir, "vesk2")
    (case.dir / "vesk1.info").write_bytes(b"Release notes\r\n")
    (case.dir / "vesk2.inf_old").write_bytes((case.dir / "vesk2.inf").read_bytes())
    read_only(*case.dir.glob("vesk*"))
    run = case.run()
    assert (run.code, run.boxes, run.registrations) == (0, [success("vesk2.inf")], 1)
    assert not (case.machine.company / "vesk1.inf").exists()
