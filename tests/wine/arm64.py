"""ARM64 Wine for the ARM64 file, on an x86-64 machine, installing nothing of ARM64.

Debian's arm64 Wine 8 runs under qemu-user-static through a binfmt_misc entry
for AArch64 ELF files. Its packages are fetched with apt-get download through a
private apt configuration (its own lists, status and cache under
build/arm64-wine) and unpacked with dpkg -x, so the machine's own Wine stays as
it is. prepare() answers the folder, or raises Unavailable with the reason the
ARM64 cases are skipped.
"""
import os
import shutil
import subprocess
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
HOME = ROOT / "build/arm64-wine"
TREE = HOME / "root"          # the unpacked packages: QEMU_LD_PREFIX
QEMU = "/usr/bin/qemu-aarch64-static"
BINFMT = Path("/proc/sys/fs/binfmt_misc")
ENTRY = "vesk-aarch64"
# An AArch64 ELF executable or shared object (e_machine 183), as Debian's
# qemu-user package registers it; F: the interpreter is opened now, so it
# also serves inside other mount namespaces.
MAGIC = r"\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00"
MASK = r"\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff"
SOURCES = "deb [arch=arm64] http://deb.debian.org/debian bookworm main\n"
PACKAGES = ("wine64", "libwine")
LOADER = TREE / "usr/lib/wine/wine64"
SERVER = TREE / "usr/lib/wine/wineserver64"
# What preparing cost, for the report at the end of the session.
costs = {}


class Unavailable(Exception):
    pass


def prepare():
    """The folder holding ARM64 Wine, made once; raises Unavailable."""
    if not Path(QEMU).is_file():
        raise Unavailable(f"{QEMU} is missing (Debian's qemu-user-static; scripts/deps.sh wine)")
    started = time.monotonic()
    register_binfmt()
    if not (HOME / "unpacked").is_file():
        download_and_unpack()
        costs["download and unpack"] = time.monotonic() - started
    point_server_wrapper()
    probe()
    return TREE


def probe():
    """The entry may be there and still start nothing (a container whose
    kernel keeps binfmt_misc to the host): the loader must answer."""
    try:
        out = subprocess.run([str(LOADER), "--version"], env=dict(os.environ, **environment()),
                             capture_output=True, text=True, timeout=120)
    except (OSError, subprocess.TimeoutExpired) as error:
        raise Unavailable(f"ARM64 programs do not start here ({error})")
    if out.returncode != 0 or not out.stdout.startswith("wine-"):
        said = (out.stderr or out.stdout).strip().splitlines()
        raise Unavailable("ARM64 programs do not start here "
                          f"({said[-1] if said else 'exit %d' % out.returncode})")


def register_binfmt():
    if not (BINFMT / "register").exists():
        done = subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", str(BINFMT)],
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise Unavailable("binfmt_misc is not mounted and cannot be "
                              f"({done.stderr.strip() or 'mount exit %d' % done.returncode})")
    for entry in BINFMT.iterdir():
        if entry.name in ("register", "status"):
            continue
        text = entry.read_text(errors="replace")
        if text.startswith("enabled") and "magic 7f454c460201010000000000000000000200b700" in text:
            return  # an AArch64 entry is there already (ours, or the system's)
    try:
        (BINFMT / "register").write_text(f":{ENTRY}:M::{MAGIC}:{MASK}:{QEMU}:F")
    except OSError as error:
        raise Unavailable(f"no binfmt_misc entry for AArch64 and none can be made ({error})")


def apt(*args, check=True):
    state = HOME / "apt"
    for folder in ("lists/partial", "cache/archives/partial", "etc/apt.conf.d",
                   "etc/preferences.d", "etc/trusted.gpg.d"):
        (state / folder).mkdir(parents=True, exist_ok=True)
    (state / "status").touch()
    (state / "etc/sources.list").write_text(SOURCES)
    for key in Path("/etc/apt/trusted.gpg.d").glob("*"):
        if not (state / "etc/trusted.gpg.d" / key.name).exists():
            shutil.copy(key, state / "etc/trusted.gpg.d" / key.name)
    options = {"APT::Architecture": "arm64", "APT::Architectures::": "arm64",
               "Dir::State": state, "Dir::State::lists": state / "lists",
               "Dir::State::status": state / "status", "Dir::Cache": state / "cache",
               "Dir::Etc": state / "etc", "Dir::Etc::sourcelist": state / "etc/sources.list",
               "Dir::Etc::sourceparts": "-", "Dir::Etc::Parts": state / "etc/apt.conf.d",
               "Dir::Etc::preferencesparts": state / "etc/preferences.d",
               "Dir::Etc::trustedparts": state / "etc/trusted.gpg.d",
               "Debug::NoLocking": "true"}
    command = ["apt-get" if args[0] != "depends" else "apt-cache"]
    for key, value in options.items():
        command += ["-o", f"{key}={value}"]
    return subprocess.run(command + list(args), capture_output=True, text=True, check=check,
                          cwd=HOME / "debs", timeout=1200)


def download_and_unpack():
    (HOME / "debs").mkdir(parents=True, exist_ok=True)
    try:
        apt("update", "-qq")
        # Everything they need, the C library and loader included: nothing of
        # arm64 is on this machine.
        tree = apt("depends", "--recurse", "--no-recommends", "--no-suggests", "--no-conflicts",
                   "--no-breaks", "--no-replaces", "--no-enhances", *PACKAGES).stdout
        names = sorted({line.strip() for line in tree.splitlines()
                        if line and not line.startswith((" ", "<"))})
        apt("download", *names)
    except (subprocess.CalledProcessError, subprocess.TimeoutExpired) as error:
        said = getattr(error, "stderr", "") or ""
        raise Unavailable(f"ARM64 Wine could not be downloaded ({said.strip()[-300:] or error})")
    shutil.rmtree(TREE, ignore_errors=True)
    TREE.mkdir(parents=True)
    for deb in sorted((HOME / "debs").glob("*.deb")):
        subprocess.run(["dpkg", "-x", str(deb), str(TREE)], check=True)
    if not LOADER.is_file() or not SERVER.is_file():
        raise Unavailable(f"the ARM64 Wine packages hold no {LOADER.name} or {SERVER.name}")
    (HOME / "unpacked").write_text("\n".join(sorted(p.name for p in (HOME / "debs").glob("*.deb"))))


def point_server_wrapper():
    """Debian's wineserver beside the loader, which Wine starts, is a script
    that starts the host's x86-64 server, and that refuses ARM64 clients."""
    wrapper = LOADER.parent / "wineserver"
    if wrapper.is_symlink() and os.readlink(wrapper) == str(SERVER):
        return
    wrapper.unlink(missing_ok=True)
    wrapper.symlink_to(SERVER)


def environment():
    """What every ARM64 Wine process needs besides the prefix."""
    return {"QEMU_LD_PREFIX": str(TREE), "WINELOADER": str(LOADER), "WINESERVER": str(SERVER)}
