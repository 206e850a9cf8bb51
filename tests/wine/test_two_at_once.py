"""Two setups started at once (a second double-click while nothing shows, a
retry by a management agent): the second waits for the first, so the result
is that of two runs one after the other. A large driver file stretches the
copies, as a slow CD does."""
import os

import pytest

from machine import dummy_drivers, sample_package
from expect import expect_service, success

LARGE = 96 * 1024 * 1024
TRIALS = 3


def stretch(path):
    with open(path, "ab") as f:
        f.truncate(LARGE)


@pytest.mark.parametrize("version", ["nt40", "winxp"])
def test_two_setups_at_once(case, version):
    m = case.machine
    case.version(version)
    several = (os.cpu_count() or 1) >= 2
    if version == "nt40":
        dummy_drivers(case.dir, "windrvr", "wdusbd", "tolv")
        for base in ("windrvr", "wdusbd", "tolv"):
            stretch(case.dir / f"{base}.sys")
    else:
        sample_package(case.dir, "vesk1")
        stretch(case.dir / "vesk1.sys")
    for trial in range(TRIALS):
        m.reset()
        started = [m.start(case.program), m.start(case.program)]
        runs = [m.finish(s) for s in started]
        outcome = (trial, [r.code for r in runs], [b for r in runs for b in r.boxes])
        if version == "nt40":
            # Both exit 1 without a box: the second finds the drivers installed.
            assert outcome == (trial, [1, 1], [])
            expect_service(m, *(("TOLV", "tolv") if several else ("WinDriver", "windrvr")))
        else:
            # One registration; the second run finds the package in the store.
            assert outcome == (trial, [0, 0], [success("vesk1.inf")])
            assert sum(r.accepted for r in runs) == 1
            assert m.registered(case.dir / "vesk1.inf")
