"""Devices on a Wine machine, through device_helper.cpp built for the
machine's architecture: made, listed and removed as Windows' own Device
Manager would see them. Used by test_devices.py and the demo."""
import subprocess
from dataclasses import dataclass
from pathlib import Path

SOURCE = Path(__file__).with_name("device_helper.cpp")
SAMPLE_ID = "USB\\VID_1D6B&PID_4001"  # tools/make_sample_package.sh's, without --hwid
FLAGS = ["-Os", "-s", "-ffreestanding", "-fno-exceptions", "-fno-rtti", "-nostdlib", "-mconsole"]
# No MinGW libraries for ARM64 here: its one import library is made from this list.
KERNEL32 = ["ExitProcess", "GetCommandLineA", "GetLastError", "GetProcAddress", "GetStdHandle",
            "LoadLibraryA", "WriteFile", "lstrcmpA", "lstrlenA"]


@dataclass
class Device:
    instance: str
    hardware_ids: list
    driver: str        # SPDRP_DRIVER, or "none"
    inf: str           # the driver key's InfPath, or "none <error>"


def build_helper(build, folder):
    """device_helper.exe for `build`'s architecture, in `folder`."""
    exe = Path(folder) / "device_helper.exe"
    if build.name == "arm64":
        definition = Path(folder) / "kernel32.def"
        definition.write_text("LIBRARY kernel32.dll\nEXPORTS\n" + "\n".join(KERNEL32) + "\n")
        library = Path(folder) / "libkernel32.a"
        subprocess.run(["llvm-dlltool-14", "-m", "arm64", "-d", str(definition), "-l",
                        str(library)], check=True)
        command = ["clang++-14", "--target=aarch64-w64-windows-gnu", "-fuse-ld=lld",
                   "-isystem", "/usr/share/mingw-w64/include", *FLAGS, "-o", str(exe),
                   str(SOURCE), str(library)]
    else:
        command = [build.compiler, *FLAGS, "-o", str(exe), str(SOURCE), "-lkernel32"]
    subprocess.run(command, check=True)
    return exe


class Devices:
    """The devices of one machine."""

    def __init__(self, machine):
        self.machine = machine
        self.helper = build_helper(machine.build, machine.tmp)

    def call(self, *args):
        done = self.machine.wine(self.machine.path_of(self.helper), *args)
        lines = [line.split("\t") for line in done.stdout.decode("latin-1").splitlines()]
        if done.returncode != 0:
            raise RuntimeError(f"device_helper {' '.join(args)}: {lines}")
        return lines

    def make(self, *hardware_ids):
        """Plugs in a device with these hardware IDs; its instance ID."""
        [(_, instance)] = self.call("make", *hardware_ids)
        return instance

    def show(self):
        """Every device, by instance ID."""
        return {f[1]: Device(f[1], f[2].split(";") if f[2] else [], f[3], f[4])
                for f in self.call("show") if f[0] == "device"}

    def remove_made(self):
        """Takes away every device make() made."""
        return [instance for _, instance in self.call("remove")]
