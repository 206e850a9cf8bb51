"""The main job's second half: runs a built setup.exe under Wine on a sample
package in a fresh prefix and reports what it did. scripts/demo.sh builds first.

Usage: demo.py [--windows VERSION] [--build x86|x64] [-- SETUP-ARGUMENTS...]
"""
import argparse
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests/wine"))
from machine import BUILDS, Machine, dummy_drivers, make_template, probe_32bit, sample_package  # noqa: E402


def tree(root):
    return {p.relative_to(root) for p in root.rglob("*")}


def services(machine):
    out = machine.wine("reg", "query", "HKLM\\System\\CurrentControlSet\\Services").stdout
    return {line.rsplit("\\", 1)[1] for line in out.decode("latin-1").replace("\r", "").splitlines()
            if "\\Services\\" in line}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--windows", default="winxp",
                        help="the Windows version Wine reports: winxp, nt40, win98, win2k, win10")
    parser.add_argument("--build", choices=sorted(BUILDS),
                        help="which setup.exe (default: the 32-bit one where it can run)")
    parser.add_argument("arguments", nargs="*", help="arguments for setup.exe, after --")
    options = parser.parse_args()

    why_not_32 = probe_32bit()
    if options.build:
        build = BUILDS[options.build]
        if build.bits == 32 and why_not_32:
            sys.exit(f"demo: the 32-bit setup.exe cannot run here: {why_not_32}")
        print(f"Running the {build.bits}-bit setup.exe, as asked.")
    elif why_not_32:
        build = BUILDS["x64"]
        print(f"Running the 64-bit setup.exe: {why_not_32}.")
    else:
        build = BUILDS["x86"]
        print("Running the 32-bit setup.exe: this machine executes 32-bit code.")

    with tempfile.TemporaryDirectory(prefix="vesk-demo-") as work:
        print("Starting a fresh Wine prefix...")
        machine = Machine(build, make_template(build, work))
        try:
            disk = machine.tmp / "disk"
            disk.mkdir()
            (disk / "setup.exe").write_bytes(build.exe.read_bytes())
            sample_package(disk, "vesk1")
            dummy_drivers(disk, "windrvr", "wdusbd", "tolv")
            machine.set_version("setup.exe", options.windows)
            drive = machine.prefix / "drive_c"
            files_before, services_before = tree(drive), services(machine)
            run = machine.run(disk / "setup.exe", *options.arguments)
            created = sorted(p for p in tree(drive) - files_before
                             if p.suffix.lower() != ".pnf" and p.parts[0] != "users")
            removed = sorted(files_before - tree(drive))
            new_services = sorted(services(machine) - services_before)

            print(f"\n{' '.join(['setup.exe', *options.arguments])} as Windows '{options.windows}', "
                  f"from a folder holding: {' '.join(sorted(p.name for p in disk.iterdir()))}")
            print(f"Exit code: {run.code}{' (-1)' if run.code == 255 else ''}")
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
            print("OEM INF registered:")
            oem = [p for p in created if p.parent == Path("windows/inf") and p.suffix.lower() == ".inf"]
            for p in oem:
                same = (drive / p).read_bytes() == (disk / "vesk1.inf").read_bytes()
                print(f"  {win(p)}{' (the content of vesk1.inf)' if same else ''}")
            if not oem:
                print("  (none)")
            if new_services:
                print("Driver services created:")
                for name in new_services:
                    values = machine.service(name)
                    print(f"  {name}: " + " ".join(f"{k}={values[k][1]}" for k in
                                                   ("Type", "Start", "ImagePath") if k in values))
        finally:
            machine.stop()


if __name__ == "__main__":
    main()
