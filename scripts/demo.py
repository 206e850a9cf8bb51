"""The main job's second half: runs a built setup.exe under Wine on a sample
package, or on the vesk*.inf packages of a folder of yours, in a fresh prefix
with a USB device plugged in that the package fits, and reports what it did.
scripts/demo.sh builds first.

As Windows 10 the machine is a 64-bit one: the 32-bit setup.exe runs there
under WOW64 and hands over to the x64 file it carries (where this machine
runs no 32-bit code, the x64 file runs alone). Other versions run the build's
own kind of prefix.

Usage: demo.py [--windows VERSION] [--build x86|x64|arm64] [--package DIR] [--device ID]...
               [-- SETUP-ARGUMENTS...]
"""
import argparse
import re
import shutil
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests/wine"))
import arm64  # noqa: E402
from devices import SAMPLE_ID, Devices  # noqa: E402
from machine import BUILDS, Machine, dummy_drivers, make_template, probe_32bit, sample_package  # noqa: E402


# The Windows versions Wine 8 can report to a program that this setup runs on.
WINDOWS = ["win95", "win98", "winme", "nt40", "win2k", "winxp", "winxp64", "win2003", "vista",
           "win2008", "win7", "win2008r2", "win8", "win81", "win10"]


def tree(root):
    return {p.relative_to(root) for p in root.rglob("*")}


def services(machine):
    out = machine.wine("reg", "query", "HKLM\\System\\CurrentControlSet\\Services").stdout
    return {line.rsplit("\\", 1)[1] for line in out.decode("latin-1").replace("\r", "").splitlines()
            if "\\Services\\" in line}


def report_devices(record, plugged):
    """Each device's driver before and after the run, as the run's log says
    (-REMOVE removes the devices that use the package)."""
    said = {}
    for line in record:
        m = re.match(r"device (.+): (.+) before, (.+) now$", line)
        if m:
            said[m.group(1)] = (m.group(2), m.group(3))
        m = re.match(r"removing device (.+), which uses (.+)$", line)
        if m:
            said[m.group(1)] = (m.group(2), "?")
        m = re.match(r"removing device (.+): (.+)$", line)
        if m and m.group(1) in said:
            said[m.group(1)] = (said[m.group(1)][0], "device removed" if m.group(2) == "ok"
                                else f"still there ({m.group(2)})")
    print("Devices:")
    for instance in sorted(set(said) | set(plugged)):
        name = f"{instance} ({plugged[instance]})" if instance in plugged else instance
        if instance in said:
            print(f"  {name}: before: {said[instance][0]}; after: {said[instance][1]}")
        else:
            print(f"  {name}: not named in this run's log (left as it was)")
    if not said and not plugged:
        print("  (none plugged in)")


def who_worked(record, started):
    """The file that did the work: a twin names itself in the log."""
    for line in record:
        m = re.match(r"running as (.+) for (.+); ends with it", line)
        if m:
            return f"{m.group(1)}, the native twin that {m.group(2)} carries and handed the run to"
    return f"{started}, the file started"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--windows", default="win10",
                        help=f"the Windows version Wine reports: {', '.join(WINDOWS)}")
    parser.add_argument("--package", type=Path,
                        help="a folder with your own vesk*.inf packages (their .sys and .cat "
                             "files beside them), instead of the sample")
    parser.add_argument("--device", action="append", metavar="ID",
                        help="plug in a device with this hardware ID (more than once for more); "
                             f"default: the sample's {SAMPLE_ID}, none with --package")
    parser.add_argument("--build", choices=sorted(BUILDS),
                        help="which setup.exe (default: the 32-bit one where it can run)")
    parser.add_argument("arguments", nargs="*", help="arguments for setup.exe, after --")
    options = parser.parse_args()
    if options.windows not in WINDOWS:
        sys.exit(f"demo: unknown Windows version '{options.windows}'; known: {' '.join(WINDOWS)}")
    if options.package and not sorted(options.package.glob("[vV][eE][sS][kK]*.[iI][nN][fF]")):
        sys.exit(f"demo: {options.package} holds no vesk*.inf package")

    why_not_32 = probe_32bit()
    win64 = options.windows == "win10"
    if options.build:
        build = BUILDS[options.build]
        if build.bits == 32 and why_not_32:
            sys.exit(f"demo: the 32-bit setup.exe cannot run here: {why_not_32}")
        if build.name == "arm64":
            print("Preparing ARM64 Wine (the first time: a download of about 100 MB)...")
            try:
                arm64.prepare()
            except arm64.Unavailable as error:
                sys.exit(f"demo: the ARM64 setup.exe cannot run here: {error}")
        print(f"Running the {build.label} setup.exe, as asked.")
    elif why_not_32:
        build = BUILDS["x64"]
        print(f"Running the 64-bit setup.exe"
              f"{', which the 32-bit one would hand over to on Windows 10 x64' if win64 else ''}: "
              f"{why_not_32}.")
    else:
        build = BUILDS["x86"]
        print("Running the 32-bit setup.exe: this machine executes 32-bit code.")
    # The Windows: a 64-bit one for Windows 10, where the 32-bit file runs
    # under WOW64 and hands over; else the build's own kind.
    windows = BUILDS["x64"] if win64 and build.name != "arm64" else build
    if windows is not build:
        print("Windows 10 x64: the 32-bit file runs under WOW64 and hands over to its x64 twin.")

    with tempfile.TemporaryDirectory(prefix="vesk-demo-") as work:
        print("Starting a fresh Wine prefix...")
        machine = Machine(windows, make_template(windows, work))
        try:
            disk = machine.tmp / "disk"
            disk.mkdir()
            (disk / "setup.exe").write_bytes(build.exe.read_bytes())
            if options.package:
                for f in options.package.iterdir():
                    if f.is_file():
                        shutil.copy(f, disk / f.name)
            else:
                sample_package(disk, "vesk1")
                dummy_drivers(disk, "windrvr", "wdusbd", "tolv")
            machine.set_version("setup.exe", options.windows)
            ids = options.device or ([] if options.package else [SAMPLE_ID])
            plugged = {}
            if ids:
                devices = Devices(machine)
                plugged = {devices.make(i): i for i in ids}
                print("Plugged in: " + ", ".join(f"{k} ({v})" for k, v in plugged.items()))
            removing = any(a.upper().find("-UNINSTALL") >= 0 or a.upper() == "-REMOVE"
                           for a in options.arguments)
            if removing:
                # So that there is something to remove.
                print("First installing (setup.exe -S), so that the removal has something to do.")
                machine.run(disk / "setup.exe", "-S")
            log = machine.company / "setup.log"
            log_before = log.read_bytes() if log.is_file() else b""
            drive = machine.prefix / "drive_c"
            files_before, services_before = tree(drive), services(machine)
            run = machine.run(disk / "setup.exe", *options.arguments)
            created = sorted(p for p in tree(drive) - files_before
                             if p.suffix.lower() != ".pnf" and p.parts[0] != "users")
            removed = sorted(files_before - tree(drive))
            services_after = services(machine)
            new_services = sorted(services_after - services_before)
            gone_services = sorted(services_before - services_after)
            record = log.read_bytes()[len(log_before):].decode("latin-1").splitlines() \
                if log.is_file() else []

            print(f"\n{' '.join(['setup.exe', *options.arguments])} as Windows '{options.windows}', "
                  f"from a folder holding: {' '.join(sorted(p.name for p in disk.iterdir()))}")
            # Wine passes on the low 8 bits; the log's last line has the whole code.
            whole = [m[1] for m in map(re.compile(r"result: exit code (-?\d+)").match, record)
                     if m]
            if whole and whole[-1] != str(run.code):
                print(f"Exit code: {run.code} (the low 8 bits; the setup log says {whole[-1]})")
            else:
                print(f"Exit code: {run.code}{' (-1)' if run.code == 255 else ''}")
            started = f"setup.exe ({build.label})"
            print(f"The file that did the work: {who_worked(record, started)}")
            print("Message boxes:")
            for box in run.boxes or ["(none)"]:
                caption, _, text = box.partition(": ")
                print(f"  [{caption}] {text}" if text else f"  {box}")
            win = lambda p: "C:\\" + str(p).replace("/", "\\")  # noqa: E731
            print("Files and folders created under C:\\:")
            for p in created or ["(none)"]:
                print(f"  {win(p) if p != '(none)' else p}")
            if removed:
                print("Removed:")
                for p in removed:
                    print(f"  {win(p)}")
            # What the setup API answered, package by package, from the run's own log.
            answers = [line for line in record if line.startswith("register ")]
            if answers or run.registrations:
                print("What the setup API answered:")
            for line in answers:
                m = re.match(r"register .*\\(\S+\.inf)( as (\S+))?: (.*)", line, re.I)
                if not m:
                    print(f"  {line}")
                elif m.group(4) == "ok":
                    print(f"  {m.group(1)}: accepted, published as {m.group(3)}")
                elif m.group(4).startswith("already present"):
                    print(f"  {m.group(1)}: {m.group(4)} (the store has it already)")
                else:
                    print(f"  {m.group(1)}: refused, {m.group(4)}")
            if run.registrations and not answers:
                print(f"  {run.accepted} of {run.registrations} accepted (no log to say more)")
            if new_services:
                print("Driver services created:")
                for name in new_services:
                    values = machine.service(name)
                    print(f"  {name}: " + " ".join(f"{k}={values[k][1]}" for k in
                                                   ("Type", "Start", "ImagePath") if k in values))
            if gone_services:
                print("Driver services removed: " + " ".join(gone_services))
            report_devices(record, plugged)
            print("The setup log (C:\\windows\\Application Data\\Velmoran\\setup.log), this run:")
            for line in record or ["(none written)"]:
                print(f"  {line}")
        finally:
            machine.stop()


if __name__ == "__main__":
    main()
