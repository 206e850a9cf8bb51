"""Fixtures of the file checks and the end-to-end tests of setup.exe.

Every test takes a build, the 32-bit, the 64-bit or the ARM64 setup.exe. A
machine that cannot execute 32-bit code runs the 64-bit cases and reports the
32-bit ones as skipped, with the reason; --no-32bit makes any machine act so.
Under Wine the ARM64 file runs only the cases marked arm64 (ARM64 Wine under
qemu, tests/wine/arm64.py); where that Wine cannot be had they are skipped
with the reason.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent / "wine"))
import arm64  # noqa: E402
from machine import BUILDS, ROOT, Machine, make_template, probe_32bit  # noqa: E402

MEDIA_USER = "vesk-media"


def pytest_addoption(parser):
    parser.addoption("--no-32bit", action="store_true",
                     help="act as if this machine could not execute 32-bit code")


def pytest_configure(config):
    if config.getoption("--no-32bit"):
        os.environ["VESK_NO_32BIT"] = "1"
    config.no_32bit_reason = probe_32bit()
    config.addinivalue_line("markers", "arm64: also run the ARM64 file under ARM64 Wine")
    config.arm64_reason = "not tried yet"


def pytest_collection_modifyitems(config, items):
    """Under Wine the ARM64 file runs only what is marked for it."""
    kept, dropped = [], []
    for item in items:
        params = getattr(item, "callspec", None)
        on_arm64 = params is not None and params.params.get("any_build") == "arm64"
        wine = "tests/wine/" in str(item.path).replace(os.sep, "/")
        (dropped if on_arm64 and wine and not item.get_closest_marker("arm64") else kept).append(item)
    if dropped:
        config.hook.pytest_deselected(items=dropped)
        items[:] = kept


def arm64_wine(config):
    """None once ARM64 Wine is ready, else why not; tried once a session."""
    if config.arm64_reason == "not tried yet":
        started = time.monotonic()
        try:
            arm64.prepare()
            config.arm64_reason = None
        except arm64.Unavailable as error:
            config.arm64_reason = f"ARM64 Wine: {error}"
        arm64.costs["preparing"] = time.monotonic() - started
    return config.arm64_reason


def pytest_terminal_summary(terminalreporter, config):
    if arm64.costs:
        terminalreporter.write_line("ARM64 Wine set-up: " + ", ".join(
            f"{what} {seconds:.1f} s" for what, seconds in sorted(arm64.costs.items())))


def pytest_report_header(config):
    reason = config.no_32bit_reason
    if reason is None:
        return "32-bit code: runs here; both builds run under Wine"
    return f"32-bit code: not run here: {reason}; the 32-bit Wine cases are skipped"


@pytest.fixture(scope="session", params=sorted(BUILDS))
def any_build(request):
    """A build, for checks that read the file and run nothing."""
    build = BUILDS[request.param]
    if not build.exe.is_file():
        pytest.fail(f"{build.exe} is missing: run scripts/build.sh first")
    return build


@pytest.fixture(scope="session")
def templates():
    """Prefixes made once per build, copied by every machine."""
    where = Path(tempfile.mkdtemp(prefix="vesk-templates-"))
    made = {}

    def get(build):
        if build.name not in made:
            made[build.name] = make_template(build, where)
        return made[build.name]
    yield get
    shutil.rmtree(where, ignore_errors=True)


@pytest.fixture(scope="module")
def build(any_build, request):
    """A build that this machine can run under Wine."""
    if any_build.bits == 32 and request.config.no_32bit_reason:
        pytest.skip(request.config.no_32bit_reason)
    if any_build.name == "arm64" and arm64_wine(request.config):
        pytest.skip(request.config.arm64_reason)
    return any_build


def media_user():
    """A user without root's rights, for the cases about read-only files."""
    if os.getuid() != 0:
        return None  # already one
    if subprocess.run(["id", "-u", MEDIA_USER], capture_output=True).returncode != 0:
        subprocess.run(["useradd", "-m", "-s", "/bin/sh", MEDIA_USER], check=True)
    return MEDIA_USER


@pytest.fixture(scope="module")
def machine(build, templates, request):
    """One Windows machine a test module, shaped by the module's MACHINE dict:
    one_cpu, unprivileged, env."""
    options = dict(getattr(request.module, "MACHINE", {}))
    if options.pop("one_cpu", False):
        if os.getuid() != 0:
            pytest.skip("one processor is made with a bind mount, which needs root")
        options["one_cpu"] = True
    if options.pop("unprivileged", False):
        options["user"] = media_user()
    m = Machine(build, templates(build), **options)
    yield m
    m.stop()


class Case:
    """A fresh program folder holding setup.exe, on a machine without our traces."""

    def __init__(self, machine, name):
        self.machine = machine
        self.dir = machine.tmp / "cases" / re.sub(r"[^A-Za-z0-9]", "_", name)
        self.dir.mkdir(parents=True)
        self.program = self.dir / "setup.exe"
        shutil.copy(machine.build.exe, self.program)

    def move(self, folder, exe_name):
        """Moves the program into a subfolder, under another name."""
        target = self.dir / folder
        target.mkdir(parents=True, exist_ok=True)
        self.program = self.program.rename(target / exe_name)
        self.dir = target
        return self

    def run(self, *args, **kwargs):
        return self.machine.run(self.program, *args, **kwargs)

    def version(self, version):
        self.machine.set_version(self.program.name, version)


@pytest.fixture
def case(machine, request):
    machine.reset()
    return Case(machine, request.node.name)


class Signer:
    """A throwaway code-signing certificate, and scripts/sign.sh with it."""
    PASSWORD = "only-for-tests"

    def __init__(self, work):
        self.work = work
        self.key, self.cert, self.pfx = work / "key.pem", work / "cert.pem", work / "test.pfx"
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-nodes",
                        "-days", "2", "-subj", "/CN=Vesk test signing", "-addext",
                        "extendedKeyUsage=codeSigning", "-keyout", str(self.key),
                        "-out", str(self.cert)], capture_output=True, check=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(self.key), "-in",
                        str(self.cert), "-out", str(self.pfx), "-passout",
                        f"pass:{self.PASSWORD}"], capture_output=True, check=True)
        self.copies = {}

    def sign(self, exe, password=PASSWORD):
        env = dict(os.environ, SIGN_PFX=str(self.pfx), SIGN_PASSWORD=password)
        return subprocess.run([str(ROOT / "scripts/sign.sh"), str(exe)], env=env,
                              capture_output=True, text=True)

    def signed(self, build):
        """A signed copy of the build, made once."""
        if build.name not in self.copies:
            copy = self.work / build.name / "setup.exe"
            copy.parent.mkdir()
            shutil.copy(build.exe, copy)
            done = self.sign(copy)
            assert done.returncode == 0, done.stderr
            self.copies[build.name] = copy
        return self.copies[build.name]

    def verify(self, exe):
        return subprocess.run(["osslsigncode", "verify", "-in", str(exe), "-CAfile",
                               str(self.cert)], capture_output=True, text=True)


@pytest.fixture(scope="session")
def signer(tmp_path_factory):
    return Signer(tmp_path_factory.mktemp("signing"))
