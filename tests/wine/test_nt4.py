"""The NT 4.0 route of the real setup.exe under Wine, on this machine's processors."""
import os

import pytest

from machine import dummy_drivers
from expect import expect_no_service, expect_service, same


def test_two_processors_install_and_remove_tolv(case):
    if len(os.sched_getaffinity(0)) < 2 and (os.cpu_count() or 1) < 2:
        pytest.skip("this machine has one processor: no two-processor case")
    m = case.machine
    case.version("nt40")
    dummy_drivers(case.dir, "windrvr", "wdusbd", "tolv")
    run = case.run("-S")
    assert (run.code, run.boxes) == (1, [])
    expect_service(m, "TOLV", "tolv")
    assert same(m.drivers / "tolv.sys", case.dir / "tolv.sys")
    expect_no_service(m, "WinDriver")
    run = case.run("-UNINSTALL")
    assert (run.code, run.boxes) == (1, [])
    expect_no_service(m, "TOLV")
    assert not (m.drivers / "tolv.sys").exists()
