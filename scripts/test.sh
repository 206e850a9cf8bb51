#!/usr/bin/env bash
# Runs every test: unit tests on the simulated machine (plain and with
# ASan/UBSan), static analysis, the fuzz targets for a bounded time, the checks
# of setup.exe itself and of a signed copy, and the end-to-end tests of
# setup.exe under Wine.
# Installs what it needs when it is missing.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh host target wine checks sign || exit 1
scripts/build.sh host sanitize target || exit 1

passed=0 failed=0
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
log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT

echo "== Unit tests (simulated machine)"
ctest --test-dir build/host -j2 --output-on-failure 2>&1 | tee "$log/unit" | tail -n 3
count_ctest "$log/unit"
echo "== Unit tests with AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --test-dir build/sanitize -j2 --output-on-failure 2>&1 | tee "$log/asan" | tail -n 3
count_ctest "$log/asan"
echo "== Static analysis"
scripts/analyze.sh 2>&1 | tee "$log/analyze"
count_plain "$log/analyze"
echo "== Fuzzing (${FUZZ_SECONDS:-30} s a target)"
scripts/fuzz.sh 2>&1 | tee "$log/fuzz"
count_plain "$log/fuzz"
echo "== setup.exe file checks"
tests/exe/check_exe.sh build/target/setup.exe 2>&1 | tee "$log/exe"
count_plain "$log/exe"
echo "== Signing setup.exe"
tests/exe/sign_test.sh build/target/setup.exe 2>&1 | tee "$log/sign"
count_plain "$log/sign"
echo "== setup.exe under Wine"
tests/wine/run_wine_tests.sh build/target/setup.exe 2>&1 | tee "$log/wine"
count_plain "$log/wine"

echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
