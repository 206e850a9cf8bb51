#!/usr/bin/env bash
# Reports setup.exe's size and imports, and the package route's wall time under
# Wine for 1, 10, 100 and 1000 packages beside a minimal baseline program.
# Usage: bench/run.sh [SIZES...]   (default: 1 10 100 1000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1 10 100 1000)
"$root/scripts/deps.sh" target wine
"$root/scripts/build.sh" target >/dev/null
exe="$root/build/target/setup.exe"
. "$root/tests/wine/wine_env.sh"
trap wine_stop EXIT
wine_start
export WINEDEBUG=-all

baseline="$WINE_TMP/baseline.exe"
i686-w64-mingw32-g++-win32 -Os -s -static -mwindows "$root/bench/baseline.cpp" -o "$baseline"
objdump=i686-w64-mingw32-objdump
imports() { $objdump -p "$1" | grep -c -E '^\s+[0-9a-f]+\s+[0-9]+\s+[A-Za-z_]'; }
echo "setup.exe: $(stat -c %s "$exe") bytes, $(imports "$exe") imports (no C runtime DLL)"
echo "baseline (mingw CRT, msvcrt.dll): $(stat -c %s "$baseline") bytes, $(imports "$baseline") imports"
runtime=$(i686-w64-mingw32-size -A "$root/build/target/CMakeFiles/setup.dir/platform/win32/runtime.cpp.obj" |
          awk '$1 ~ /^\.(text|data|bss|rdata)/{s+=$2} END{print s}')
echo "setup.exe's own runtime (runtime.cpp): $runtime bytes of code and data"

reset() {
  rm -rf "$WIN/Application Data"
  find "$WIN/inf" -maxdepth 1 \( -iname 'vesk*' -o -iname 'oem*' \) -delete
}
# time_run PROGRAM -> seconds, best of 3
time_run() {
  local best="" t
  for _ in 1 2 3; do
    reset
    # The baseline finds its packages through the current folder.
    t=$( { TIMEFORMAT=%R; time (cd "$(dirname "$1")" && wine "$1" -S >/dev/null 2>&1); } 2>&1 |
         tail -n 1)
    best=$(awk -v a="$t" -v b="${best:-$t}" 'BEGIN{print (a < b ? a : b)}')
  done
  echo "$best"
}

printf '%8s %12s %12s %8s %16s\n' packages setup_s baseline_s ratio setup_ms/package
for n in "${sizes[@]}"; do
  dir="$WINE_TMP/pk$n"
  mkdir -p "$dir"
  for i in $(seq 1 "$n"); do "$root/tools/make_sample_package.sh" "$dir" "vesk$i"; done
  cp "$exe" "$dir/setup.exe"
  cp "$baseline" "$dir/baseline.exe"
  wine_version setup.exe winxp
  wine_version baseline.exe winxp
  s=$(time_run "$dir/setup.exe")
  b=$(time_run "$dir/baseline.exe")
  awk -v n="$n" -v s="$s" -v b="$b" 'BEGIN{printf "%8d %12.2f %12.2f %8.2f %16.2f\n", n, s, b, (b > 0 ? s / b : 0), s * 1000 / n}'
done
