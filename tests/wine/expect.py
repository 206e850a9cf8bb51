"""What the end-to-end tests expect: message box texts, service keys, files."""

INIT_FAIL = "setup: Setup failed to initialize.\\nPlease check OS for compatibility."


def success(name):
    return f"setup: Driver included in {name} has successfully installed."


def copy_fail(name):
    return f"setup: Copy file fail: {name}"


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
