"""Reports setup.exe's size and imports, and the package route's wall time
under Wine for 1, 10, 100 and 1000 packages beside a minimal baseline program
of the same architecture. bench/run.sh builds first.

Usage: run.py [--build x86|x64] [SIZES...]
"""
import argparse
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests/wine"))
from machine import BUILDS, Machine, make_template, probe_32bit, sample_package  # noqa: E402


def imports(exe, objdump):
    out = subprocess.run([objdump, "-p", str(exe)], capture_output=True, text=True).stdout
    return sum(1 for line in out.splitlines()
               if line.startswith("\t") and len(line.split()) == 3 and line.split()[1].isdigit())


def best_of_3(machine, program):
    best = None
    for _ in range(3):
        machine.reset(services=())
        started = time.monotonic()
        # The baseline finds its packages through the current folder.
        machine.wine(str(program), "-S", cwd=program.parent)
        took = time.monotonic() - started
        best = took if best is None else min(best, took)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", choices=sorted(BUILDS))
    parser.add_argument("sizes", nargs="*", type=int, default=[1, 10, 100, 1000])
    options = parser.parse_args()
    build = BUILDS[options.build or ("x64" if probe_32bit() else "x86")]
    objdump = build.compiler.replace("g++-win32", "objdump")
    with tempfile.TemporaryDirectory(prefix="vesk-bench-") as work:
        work = Path(work)
        baseline = work / "baseline.exe"
        subprocess.run([build.compiler, "-Os", "-s", "-static", "-mwindows",
                        str(ROOT / "bench/baseline.cpp"), "-o", str(baseline)], check=True)
        print(f"setup.exe ({build.name}): {build.exe.stat().st_size} bytes, "
              f"{imports(build.exe, objdump)} imports (no C runtime DLL)")
        print(f"baseline (mingw CRT, msvcrt.dll): {baseline.stat().st_size} bytes, "
              f"{imports(baseline, objdump)} imports")
        machine = Machine(build, make_template(build, work))
        try:
            print(f"{'packages':>8} {'setup_s':>12} {'baseline_s':>12} {'ratio':>8} "
                  f"{'setup_ms/package':>16}")
            for n in options.sizes:
                folder = machine.tmp / f"pk{n}"
                for i in range(1, n + 1):
                    sample_package(folder, f"vesk{i}")
                for exe in ("setup.exe", "baseline.exe"):
                    shutil.copy(build.exe if exe == "setup.exe" else baseline, folder / exe)
                    machine.set_version(exe, "winxp")
                s = best_of_3(machine, folder / "setup.exe")
                b = best_of_3(machine, folder / "baseline.exe")
                print(f"{n:>8} {s:>12.2f} {b:>12.2f} {s / b if b else 0:>8.2f} {s * 1000 / n:>16.2f}")
        finally:
            machine.stop()


if __name__ == "__main__":
    main()
