"""A Japanese Windows (ANSI code page 932) under Wine.

Wine maps the UTF-8 names of this locale to double-byte names: folder ソ
reaches setup.exe as 0x83 0x5C, 設定表.exe ends in 0x95 0x5C, ピ is 0x83 0x73.
"""
import pytest

from machine import sample_package
from expect import copy_fail, success

MACHINE = {"env": {"LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8"}}


def same(case, name):
    return (case.machine.company / name).read_bytes() == (case.dir / name).read_bytes()


# (folder, program, package, arguments, boxes, what must hold after)
CASES = [
    # Folder and program names whose last byte is 0x5C, the separator's value.
    ("ソ", "設定表.exe", ["vesk1"], [], [success("vesk1.inf")],
     lambda c: same(c, "vesk1.sys") and c.machine.registered(c.dir / "vesk1.inf")),
    # A package named with a double-byte character.
    ("能", "setup.exe", ["vesk表"], ["-S"], [],
     lambda c: same(c, "vesk表.sys") and same(c, "vesk表.inf")),
    # ピsetup holds the bytes of "ssetup" only if a trail byte were taken for a character.
    ("ピsetup", "x.exe", ["vesk1", "--no-sys"], [], [copy_fail("vesk1.sys"), success("vesk1.inf")],
     lambda c: True),
]


@pytest.mark.parametrize("folder,exe,package,args,boxes,after", CASES,
                         ids=["0x5C-ending names", "double-byte package", "not silent"])
def test_code_page_932(case, folder, exe, package, args, boxes, after):
    case.move(folder, exe)
    sample_package(case.dir, *package)
    run = case.run(*args)
    assert (run.code, run.boxes) == (0, boxes)
    assert after(case)
