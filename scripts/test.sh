#!/usr/bin/env bash
# Runs every test: unit tests on the simulated machine (plain and with
# ASan/UBSan), static analysis, the fuzz targets for a bounded time, the checks
# of both setup.exe files and of signed copies, and the end-to-end tests of
# both under Wine. A machine that cannot execute 32-bit code skips the 32-bit
# runs, with the reason; --no-32bit makes any machine act so.
# Installs what it needs when it is missing.
# Usage: test.sh [--no-32bit]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh host target wine checks sign || exit 1
scripts/build.sh host sanitize target target64 target-arm64 || exit 1

passed=0 failed=0 skipped=0
count_ctest() {  # adds the counts of ctest's closing line
  local line p t
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n 1)
  t=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  f=$(sed -E 's/.*, ([0-9]+) tests failed.*/\1/' <<<"$line")
  [ -n "$line" ] || { failed=$((failed + 1)); return; }
  passed=$((passed + t - f)) failed=$((failed + f))
}
count_plain() {  # adds the counts of an "N passed, N failed" line
  local line
  line=$(grep -E '[0-9]+ passed, [0-9]+ failed$' "$1" | tail -n 1)
  [ -n "$line" ] || { failed=$((failed + 1)); return; }
  passed=$((passed + $(sed -E 's/.* ([0-9]+) passed.*/\1/' <<<"$line")))
  failed=$((failed + $(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")))
}
count_pytest() {  # adds the counts of pytest's closing line
  local line
  line=$(grep -E '^=+ .*[0-9]+ (passed|failed|skipped|errors?).* in [0-9.]+s' "$1" | tail -n 1)
  [ -n "$line" ] || { failed=$((failed + 1)); return; }
  of() { grep -o -E "[0-9]+ $1" <<<"$line" | cut -d' ' -f1 || true; }
  passed=$((passed + $(of passed) + 0)) skipped=$((skipped + $(of skipped) + 0))
  failed=$((failed + $(of failed) + $(of 'errors?') + 0))
}
log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT

echo "== Unit tests (simulated machine)"
ctest --test-dir build/host -j2 --output-on-failure 2>&1 | tee "$log/unit" | tail -n 3
count_ctest "$log/unit"
echo "== Unit tests with AddressSanitizer and UndefinedBehaviorSanitizer"
# The fault sweep takes every third call there; the plain run takes them all.
VESK_SWEEP=sampled ctest --test-dir build/sanitize -j2 --output-on-failure 2>&1 |
  tee "$log/asan" | tail -n 3
count_ctest "$log/asan"
echo "== Static analysis"
scripts/analyze.sh 2>&1 | tee "$log/analyze"
count_plain "$log/analyze"
echo "== Fuzzing (${FUZZ_SECONDS:-30} s a target)"
scripts/fuzz.sh 2>&1 | tee "$log/fuzz"
count_plain "$log/fuzz"
echo "== setup.exe files (32-bit, 64-bit, ARM64), signed copies, and each under Wine"
/usr/bin/python3 -m pytest -p no:cacheprovider -rs tests/exe tests/wine "$@" 2>&1 |
  tee "$log/pytest"
count_pytest "$log/pytest"

echo "total: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
