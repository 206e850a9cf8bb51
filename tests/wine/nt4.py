"""Checks of the NT 4.0 route's services, shared by its test modules."""


def expect_service(machine, name, base):
    values = machine.service(name)
    assert values is not None, f"service {name} missing"
    assert values["Type"] == ("REG_DWORD", "0x1")
    assert values["Start"] == ("REG_DWORD", "0x2")
    assert values["ErrorControl"] == ("REG_DWORD", "0x1")
    assert values["ImagePath"][1] == f"\\SystemRoot\\System32\\drivers\\{base}.SYS"


def expect_no_service(machine, name):
    assert machine.service(name) is None, f"service {name} still there"


def same(a, b):
    return a.read_bytes() == b.read_bytes()
