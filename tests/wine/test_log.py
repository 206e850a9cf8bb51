"""The setup log of the real setup.exe under Wine: what a run with a failure
leaves, a second run appending, and a log in the way changing nothing."""
import re

import pytest

from expect import copy_fail
from machine import sample_package


def log_of(machine):
    return (machine.company / "setup.log").read_bytes()


def lines(data):
    text = data.decode("latin-1")
    assert text.endswith("\r\n")
    return text[:-2].split("\r\n")


@pytest.mark.arm64
def test_package_route_unattended(case):
    m = case.machine
    case.program = case.program.rename(case.dir / "ssetup.exe")
    case.version("winxp")
    sample_package(case.dir, "vesk1")
    # Broken: the catalog its INF names is not there, and the setup API refuses it.
    sample_package(case.dir, "vesk2", "--missing-catalog", "CatalogFile=vesk2.cat")
    run = case.run("-S")
    assert (run.code, run.boxes) == (0, [])
    first = log_of(m)
    record = lines(first)
    assert record[0].startswith("==== ") and record[0].endswith(
        f'ssetup.exe 1.0.0.0 ({m.build.label}), command line: "-S"'), record[0]
    company = "C:\\windows\\Application Data\\Velmoran\\"
    staged = [l for l in record if l.startswith(f"register {company}vesk1.inf as ")]
    assert len(staged) == 1 and staged[0].endswith(": ok"), record
    published = staged[0][len(f"register {company}vesk1.inf as "):-len(": ok")]
    assert (m.win / "inf" / published).read_bytes() == (case.dir / "vesk1.inf").read_bytes()
    assert [l for l in record if l.startswith(f"register {company}vesk2.inf: error ")], record
    assert record[-1] == ("result: exit code 0; packages: 2 found, 1 registered, 0 already "
                          "present, 1 failed; services: 0 installed, 0 removed, 0 failed; devices: 0 updated, 0 failed; removal: 0 removed, 0 kept")
    # The second run appends and leaves the first run's bytes as they were.
    run = case.run("-S")
    assert run.code == 0
    both = log_of(m)
    assert both.startswith(first) and len(both) > len(first)
    assert lines(both[len(first):])[0].startswith("==== ")
    assert "1 already present" in lines(both)[-1]


def test_nt4_route_failure(case):
    m = case.machine
    case.version("nt40")
    run = case.run()  # no driver file beside it
    assert run.code == 255 and len(run.boxes) == 1 and run.boxes[0].startswith("setup fail: Copy file fail: ")
    record = lines(log_of(m))
    copy = [l for l in record if l.startswith("copy ")]
    assert len(copy) == 1 and re.search(r"\.sys: error 2 \(0x00000002\) \S", copy[0]), record
    assert record[-2].startswith('box "setup fail": Copy file fail: ')
    assert record[-1].startswith("result: exit code -1 (0xFFFFFFFF); ")


def test_a_log_in_the_way_changes_nothing(case):
    m = case.machine
    case.version("winxp")
    sample_package(case.dir, "vesk1", "--no-sys")
    (m.company / "setup.log").mkdir(parents=True)
    run = case.run()
    assert (run.code, run.boxes[:1]) == (0, [copy_fail("vesk1.sys")])
    assert m.registered(case.dir / "vesk1.inf")
    assert (m.company / "setup.log").is_dir()
    assert not list(m.company.glob("setup.log.*"))


def test_a_cut_line_is_ended_and_a_big_log_kept_whole(case):
    m = case.machine
    case.version("winxp")
    m.company.mkdir(parents=True, exist_ok=True)
    # A run that died in the middle of a line, the log past 1 MiB: kept whole
    # as setup.log.old, a new log begins.
    big = b"x" * (1024 * 1024) + b"\r\ncut"
    (m.company / "setup.log").write_bytes(big)
    (m.company / "setup.log.old").write_bytes(b"older\r\n")
    assert case.run("-S").code == 0
    assert (m.company / "setup.log.old").read_bytes() == big
    assert log_of(m).startswith(b"==== ")
    assert sorted(p.name for p in m.company.glob("setup.log*")) == ["setup.log", "setup.log.old"]
    # A small log whose last line was cut: the next header begins a line of its own.
    (m.company / "setup.log").write_bytes(b"cut")
    assert case.run("-S").code == 0
    assert log_of(m).startswith(b"cut\r\n==== ")
