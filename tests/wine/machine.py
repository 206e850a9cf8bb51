"""Runs setup.exe under Wine: one Wine prefix is one Windows machine.

Used by the end-to-end tests, the demo and the benchmark. A machine is a copy
of a prefix made once per build, with its own wineserver; every run goes
through Wine's relay trace, read back as message boxes, library loads and
setup-API calls.
"""
import os
import re
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

import arm64

ROOT = Path(__file__).resolve().parents[2]
WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"


@dataclass(frozen=True)
class Build:
    """One setup.exe and what runs it."""
    name: str          # "x86", "x64" or "arm64"
    exe: Path
    loader: str        # the Wine loader of that architecture
    winearch: str
    compiler: str      # the cross compiler, for test libraries of the same architecture
    bits: int
    label: str         # what the setup log's header calls the file
    server: str = "wineserver"


BUILDS = {
    "x86": Build("x86", ROOT / "build/target/setup.exe", WINE32, "win32",
                 "i686-w64-mingw32-g++-win32", 32, "32-bit"),
    "x64": Build("x64", ROOT / "build/target64/setup.exe", WINE64, "win64",
                 "x86_64-w64-mingw32-g++-win32", 64, "64-bit"),
    # ARM64 Wine under qemu-user-static (tests/wine/arm64.py); no test library
    # is built for it.
    "arm64": Build("arm64", ROOT / "build/target-arm64/setup.exe", str(arm64.LOADER), "win64",
                   None, 64, "ARM64", str(arm64.SERVER)),
}


def resource(pe, kind, ident):
    """The bytes of resource `ident` of type `kind` in a pefile.PE, or None."""
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == kind:
            for named in entry.directory.entries:
                if named.id == ident:
                    data = named.directory.entries[0].data.struct
                    return pe.get_data(data.OffsetToData, data.Size)
    return None


def probe_32bit():
    """None when this machine executes 32-bit code, else why it does not.

    Some hypervisors give the guest no 32-bit mode: every 32-bit ELF fails
    with "Exec format error", and Wine's WoW64 mode cannot help either. The
    32-bit loader prints its version only where 32-bit code runs.
    """
    if os.environ.get("VESK_NO_32BIT"):
        return "32-bit runs turned off (--no-32bit or VESK_NO_32BIT)"
    try:
        out = subprocess.run([WINE32, "--version"], capture_output=True, text=True, timeout=60)
    except FileNotFoundError:
        return f"{WINE32} is not installed"
    except (OSError, subprocess.TimeoutExpired) as error:
        return f"this machine cannot execute 32-bit code ({WINE32} --version: {error})"
    if out.returncode != 0 or not out.stdout.startswith("wine-"):
        said = (out.stderr or out.stdout).strip().splitlines()
        return ("this machine cannot execute 32-bit code "
                f"({WINE32} --version: {said[-1] if said else 'exit ' + str(out.returncode)})")
    return None


# What the relay trace shows: boxes, registrations, the device steps' calls
# (what the program asked of Windows: Wine answers TRUE to most of them
# whatever it did), and library loads (kernel32 forwards to kernelbase).
RELAY = ";".join(["user32.MessageBoxA", "setupapi.SetupCopyOEMInfA",
                  "newdev.UpdateDriverForPlugAndPlayDevicesA", "setupapi.SetupUninstallOEMInfA",
                  "setupapi.SetupDiCallClassInstaller"] +
                 [f"{dll}.{fn}" for dll in ("kernel32", "kernelbase")
                  for fn in ("LoadLibraryA", "LoadLibraryExA")])
# The trace cuts a long string, ending it with "... after its quote.
BOX = re.compile(r'Call user32\.MessageBoxA\([0-9a-f]*,[0-9a-f]* "(.*)"(?:\.\.\.)?,[0-9a-f]* '
                 r'"(.*)"(?:\.\.\.)?,[0-9a-f]*\) ret=')
LOAD = re.compile(r'Call (?:kernel32|kernelbase)\.(LoadLibrary(?:Ex)?A)\([0-9a-f]* "([^"]*)"', re.I)
OEM_RET = re.compile(r"Ret  setupapi\.SetupCopyOEMInfA\(\) retval=0*1 ")


@dataclass
class Run:
    """What one run of a program did, read from its exit code and relay trace."""
    code: int                  # the low 8 bits: -1 arrives as 255
    boxes: list                # "caption: text" a box, escaped and cut as the trace has them
    loads: list                # (function, name) of every library load asked for setupapi
    registrations: int         # calls of SetupCopyOEMInfA
    accepted: int              # of those, how many answered TRUE
    log: str = field(repr=False)

    @staticmethod
    def parse(code, log):
        boxes = [f"{caption}: {text}" for text, caption in BOX.findall(log)]
        loads = sorted({(fn, name.replace("\\\\", "\\")) for fn, name in LOAD.findall(log)
                        if "setupapi" in name.lower()})
        return Run(code, boxes, loads, log.count("Call setupapi.SetupCopyOEMInfA("),
                   len(OEM_RET.findall(log)), log)


class Machine:
    """A Windows machine in a Wine prefix of its own.

    user: run every Wine process as this user (Windows refuses to overwrite
    read-only files; a root wineserver does not). one_cpu: every process sees
    one processor (a "0" mounted over the CPU list in a private namespace).
    env: extra environment, such as a locale.
    """

    def __init__(self, build, template, user=None, one_cpu=False, env=None):
        self.build = build
        self.tmp = Path(tempfile.mkdtemp(prefix=f"vesk-{build.name}-"))
        self.prefix = self.tmp / "prefix"
        # Debian's Wine notes its server's folder in the prefix: each copy has its own server.
        shutil.copytree(template, self.prefix, symlinks=True,
                        ignore=lambda folder, names: ["wineserver"] if folder == str(template) else [])
        self.user = user
        self.one_cpu = None
        if one_cpu:
            self.one_cpu = self.tmp / "one-cpu"
            self.one_cpu.write_text("0\n")
        self.env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(name, None)  # MessageBoxA then returns at once
        self.env.update(wine_environment(build, self.prefix))
        self.env.update(env or {})
        if user:
            self.env["HOME"] = subprocess.run(["getent", "passwd", user], capture_output=True,
                                              text=True, check=True).stdout.split(":")[5]
            self.tmp.chmod(0o755)
            subprocess.run(["chown", "-R", user, str(self.prefix)], check=True)
        self.runs = 0
        self.win = self.prefix / "drive_c/windows"
        self.company = self.win / "Application Data/Velmoran"
        self.drivers = self.win / "system32/drivers"
        self.elsewhere = self.tmp / "elsewhere"
        self.elsewhere.mkdir()
        self.elsewhere.chmod(0o777)
        self.server("-p")
        if build.name == "arm64":
            # Wine's own background programs start with the first program,
            # untraced: with the relay trace on they spin for minutes under qemu.
            self.wine("cmd", "/c", "exit")

    # -- processes
    def command(self, args, env):
        """The command line that runs `args` on this machine with `env`."""
        if self.user:
            args = ["runuser", "-u", self.user, "--", "env",
                    *[f"{k}={env[k]}" for k in ("HOME", "WINEPREFIX", "WINEARCH", "WINELOADER",
                                                "WINEDEBUG", "WINEDLLOVERRIDES", "WINESERVER",
                                                "QEMU_LD_PREFIX") if k in env],
                    *args]
        if self.one_cpu:
            args = ["unshare", "-m", "sh", "-c", f'mount --bind "{self.one_cpu}" '
                    '/sys/devices/system/cpu/online && exec "$@"', "sh", *args]
        return args

    def wine(self, *args, check=False, cwd=None, timeout=120):
        """Runs a Wine tool (reg, sc, cmd...) or a program; returns the completed process."""
        return call(self.command([self.build.loader, *args], self.env), self.env, check, cwd,
                    timeout)

    def server(self, *args):
        return call(self.command([self.build.server, *args], self.env), self.env)

    def start(self, program, *args, overrides=None):
        """Starts `program` with its relay trace, from a folder other than its
        own; finish() it."""
        self.runs += 1
        log = self.tmp / f"relay.{self.runs}.log"
        env = dict(self.env, WINEDEBUG="+relay")
        if overrides:
            env["WINEDLLOVERRIDES"] = f"{env['WINEDLLOVERRIDES']};{overrides}"
        handle = open(log, "wb")
        process = subprocess.Popen(self.command([self.build.loader, self.path_of(program), *args],
                                                env),
                                   env=env, cwd=self.elsewhere, stdout=subprocess.DEVNULL,
                                   stderr=handle)
        return process, handle, log

    @staticmethod
    def finish(started, timeout=300):
        process, handle, log = started
        try:
            code = process.wait(timeout=timeout)
        finally:
            handle.close()
        return Run.parse(code, log.read_bytes().decode("latin-1"))

    def path_of(self, program):
        """How the program is named to Wine: its Unix path, or for ARM64 Wine
        its path on drive Z:. Under qemu with QEMU_LD_PREFIX, "/" is the ARM64
        tree's root, so Wine finds no drive for a Unix path and the program
        would run from a "\\\\?\\unix" path, which no Windows gives a program."""
        if self.build.name != "arm64":
            return str(program)
        return "Z:" + str(Path(program).resolve()).replace("/", "\\")

    def run(self, program, *args, **kwargs):
        return self.finish(self.start(program, *args, **kwargs))

    def stop(self):
        self.server("-k")
        self.server("-w")
        shutil.rmtree(self.tmp, ignore_errors=True)

    # -- configuration
    def set_version(self, exe_name, version):
        """Windows version Wine reports to the program named exe_name: nt40,
        win98, win2k, winxp, win10."""
        self.wine("reg", "add", f"HKCU\\Software\\Wine\\AppDefaults\\{exe_name}",
                  "/v", "Version", "/d", version, "/f", check=True)

    # -- what is on the machine
    def service(self, name):
        """The values of a service key, {value: (type, data)}, or None without one."""
        return self.key(f"HKLM\\System\\CurrentControlSet\\Services\\{name}")

    def key(self, path):
        """The values of a registry key, {value: (type, data)}, or None without one."""
        out = self.wine("reg", "query", path)
        if out.returncode != 0:
            return None
        values = {}
        for line in out.stdout.decode("latin-1").replace("\r", "").splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = (parts[1], parts[2])
        return values

    def registered(self, inf):
        """Whether Windows' inf folder holds a copy of `inf`."""
        content = Path(inf).read_bytes()
        return any(f.is_file() and f.read_bytes() == content for f in (self.win / "inf").iterdir())

    def reset(self, services=("WinDriver", "Wdusbd", "TOLV")):
        """Takes every trace of our setup off the machine."""
        # Set-aside folders too, and links planted in the company folder's place.
        for f in self.win.glob("Application Data*"):
            f.unlink() if f.is_symlink() else shutil.rmtree(f, ignore_errors=True)
        for f in (self.win / "inf").iterdir():
            if f.name.lower().startswith(("vesk", "oem")):
                f.unlink()
        for f in self.drivers.iterdir():
            if f.name.lower().startswith("vesk") or f.name.lower() in (
                    "windrvr.sys", "wdusbd.sys", "tolv.sys"):
                f.unlink()
        present = [s for s in services if self.service(s) is not None]
        if present:
            self.wine("cmd", "/c", " & ".join(f"sc delete {s}" for s in present))


def call(args, env, check=False, cwd=None, timeout=120):
    """Runs a command to its end. Its output goes to a file, not a pipe: the
    server and the service manager that a Wine tool starts live on and would
    hold a pipe open."""
    with tempfile.TemporaryFile() as out:
        done = subprocess.run(args, env=env, cwd=cwd, stdout=out, stderr=subprocess.DEVNULL,
                              stdin=subprocess.DEVNULL, check=check, timeout=timeout)
        out.seek(0)
        done.stdout = out.read()
    return done


def wine_environment(build, prefix):
    env = {"WINEPREFIX": str(prefix), "WINEARCH": build.winearch, "WINELOADER": build.loader,
           "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}  # no Mono/Gecko prompts
    if build.name == "arm64":
        env.update(arm64.environment())
        # It would outlive the prefix's set-up under qemu, and the server with it.
        env["WINEDLLOVERRIDES"] += ";winemenubuilder.exe=d"
    return env


def make_template(build, where):
    """A fresh prefix for `build` with the relay trace set up; the machines copy it."""
    started = time.monotonic()
    prefix = Path(where) / f"template-{build.name}"
    env = dict(os.environ, **wine_environment(build, prefix))
    env.pop("DISPLAY", None)
    # Its exit code is not the measure: a 64-bit prefix also sets up 32-bit
    # parts, which a machine without 32-bit code cannot run.
    booted = call([build.loader, "wineboot", "-i"], env)
    call([build.loader, "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude",
          "/d", RELAY, "/f"], env, check=True)
    # Written back to the registry files only when the server ends.
    call([build.server, "-k"], env)
    call([build.server, "-w"], env)
    if not (prefix / "system.reg").is_file():
        raise RuntimeError(f"wineboot made no prefix for the {build.name} build "
                           f"(exit {booted.returncode})")
    if build.name == "arm64":
        arm64.costs["prefix"] = time.monotonic() - started
    return prefix


def sample_package(folder, name, *options):
    subprocess.run([str(ROOT / "tools/make_sample_package.sh"), str(folder), name, *options],
                   check=True)


def dummy_drivers(folder, *bases):
    for base in bases:
        (Path(folder) / f"{base}.sys").write_text(f"MZ dummy {base}\n")
