"""Reports setup.exe's size and imports, and the package route's wall time
under Wine for 1, 10, 100 and 1000 packages beside a minimal baseline program
of the same architecture. bench/run.sh builds first.

Usage: run.py [--build x86|x64] [--limit SECONDS] [SIZES...]
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


def best_of_3(machine, programs, limit):
    """The best of three runs of each program in seconds, or None for one whose
    run took over `limit`. The programs run in turns, so that a busy spell of
    the machine (other work on it, Wine's own services settling) falls on
    each of them alike rather than on one program's three runs."""
    best = {program: None for program in programs}
    over = set()
    for _ in range(3):
        for program in programs:
            if program in over:
                continue
            machine.reset(services=())
            started = time.monotonic()
            try:
                # The baseline finds its packages through the current folder.
                machine.wine(str(program), "-S", cwd=program.parent, timeout=limit)
            except subprocess.TimeoutExpired:
                machine.server("-k")  # the run and whatever it started
                machine.server("-w")
                machine.server("-p")
                over.add(program)
                best[program] = None
                continue
            took = time.monotonic() - started
            best[program] = took if best[program] is None else min(best[program], took)
    return [best[program] for program in programs]


def seconds(value):
    return f"{value:.2f}" if value is not None else "over"


def main():
    parser = argparse.ArgumentParser()
    # The baseline program is built per architecture with mingw: not for ARM64.
    parser.add_argument("--build", choices=sorted(n for n, b in BUILDS.items() if b.compiler))
    parser.add_argument("--limit", type=float, default=120,
                        help="seconds one run may take before it is reported as not timed")
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
            # The last column is what each package added since the size before:
            # the setup API's own cost grows with its store.
            print(f"{'packages':>8} {'setup_s':>12} {'baseline_s':>12} {'ratio':>8} "
                  f"{'setup_ms/package':>16} {'ms/added package':>16}")
            before = (0, 0.0)
            untimed = []
            for n in options.sizes:
                folder = machine.tmp / f"pk{n}"
                for i in range(1, n + 1):
                    sample_package(folder, f"vesk{i}")
                for exe in ("setup.exe", "baseline.exe"):
                    shutil.copy(build.exe if exe == "setup.exe" else baseline, folder / exe)
                    machine.set_version(exe, "winxp")
                s, b = best_of_3(machine, [folder / "setup.exe", folder / "baseline.exe"],
                                 options.limit)
                if s is None or b is None:
                    untimed.append(n)
                ratio = f"{s / b:.2f}" if s is not None and b else "-"
                each = f"{s * 1000 / n:.2f}" if s is not None else "-"
                added = (f"{(s - before[1]) * 1000 / (n - before[0]):.2f}"
                         if s is not None and n > before[0] else "-")
                print(f"{n:>8} {seconds(s):>12} {seconds(b):>12} {ratio:>8} {each:>16} "
                      f"{added:>16}", flush=True)
                if s is not None:
                    before = (n, s)
            if untimed:
                print(f"not timed: {', '.join(map(str, untimed))} packages (a run took over "
                      f"{options.limit:.0f} s; --limit sets it)")
        finally:
            machine.stop()


if __name__ == "__main__":
    main()
