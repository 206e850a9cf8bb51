"""What is planted on the company folder's way under Wine: a folder of
another account is set aside and made anew, a link in a folder's place is
never written through, and a hard link to a file of the system under the
log's or a package file's name leaves that file as it was."""
import os

import pytest

from machine import sample_package

NOBODY = 65534  # a Unix user not Wine's own: the owner Wine names is then no trusted account
PARTS = ["Application Data", "Application Data/Velmoran"]


def windows_path(machine, path):
    return "C:\\windows\\" + str(path.relative_to(machine.win)).replace("/", "\\")


def set_aside(path):
    """What a run set aside in `path`'s place."""
    return sorted(path.parent.glob(path.name + ".set-aside-*"))


def log_lines(machine):
    return (machine.company / "setup.log").read_bytes().decode("latin-1").split("\r\n")


@pytest.mark.arm64
@pytest.mark.parametrize("part", PARTS)
def test_a_folder_of_another_account_is_set_aside(case, part):
    if os.getuid() != 0:
        pytest.skip("giving a folder to another user needs root")
    m = case.machine
    case.version("win10")
    sample_package(case.dir, "vesk1")
    planted = m.win / part
    planted.mkdir(parents=True)
    (planted / "marker.txt").write_text("theirs\n")
    os.chown(planted, NOBODY, NOBODY)
    run = case.run("-S")
    assert (run.code, run.boxes) == (0, []) and m.registered(case.dir / "vesk1.inf")
    [aside] = set_aside(planted)
    assert os.listdir(aside) == ["marker.txt"] and aside.stat().st_uid == NOBODY
    assert planted.is_dir() and planted.stat().st_uid == 0
    said = f"was set aside as {windows_path(m, aside)}: another account owns it; a new one was made"
    assert log_lines(m)[3] == f"{windows_path(m, planted)} {said}"


@pytest.mark.arm64
@pytest.mark.parametrize("part", PARTS)
def test_a_link_in_a_folders_place_is_never_written_through(case, part):
    m = case.machine
    case.version("win10")
    sample_package(case.dir, "vesk1")
    target = m.prefix / "drive_c/linked"
    target.mkdir(exist_ok=True)
    (target / "marker.txt").write_text("linked\n")
    link = m.win / part
    link.parent.mkdir(parents=True, exist_ok=True)
    os.symlink(target, link)
    run = case.run()
    # Wine 8.0's MoveFileA renames a host symlink's target, not the link, which
    # Windows would rename: the target goes aside and the link stays, dangling.
    # The run must then use nothing there, say so, and stage nothing.
    [aside] = set_aside(link)
    assert os.listdir(aside) == ["marker.txt"]
    where, aside = windows_path(m, link), windows_path(m, aside)
    assert run.code == 1625 & 0xFF and len(run.boxes) == 1
    assert run.boxes[0].replace("\\\\", "\\").startswith(
        f"setup: Setup will not use {where}: {where} was set aside as {aside}: it is a link to "
        "another folder; what is in its place now will not do either: ")
    assert not m.registered(case.dir / "vesk1.inf")


@pytest.mark.arm64
@pytest.mark.parametrize("name", ["setup.log", "vesk1.sys"])
def test_a_hard_link_to_a_system_file_is_not_written_through(case, name):
    m = case.machine
    case.version("win10")
    sample_package(case.dir, "vesk1")
    system_file = m.win / "system32" / f"vesk-marker-{name}"
    system_file.write_bytes(b"MZ a file of the system\r\n")
    m.company.mkdir(parents=True)
    os.link(system_file, m.company / name)
    run = case.run("-S")
    assert (run.code, run.boxes) == (0, []) and m.registered(case.dir / "vesk1.inf")
    assert system_file.read_bytes() == b"MZ a file of the system\r\n"
    assert not (m.company / name).samefile(system_file)
    if name == "vesk1.sys":
        assert (m.company / name).read_bytes() == (case.dir / name).read_bytes()
        return
    [aside] = set_aside(m.company / name)
    assert aside.samefile(system_file)
    log = log_lines(m)
    assert log[0].startswith("==== ") and log[0].endswith('command line: "-S"')
    assert log[3] == (f"{windows_path(m, m.company / name)} was set aside as "
                      f"{windows_path(m, aside)}: it was not this setup's own file")
