#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time, starting from
# the seed corpus in tests/fuzz/corpus. A finding (crash, sanitizer report or
# broken property) fails the run; its input is kept in build/fuzz/findings.
# Usage: fuzz.sh [SECONDS-PER-TARGET]   (default 30; or FUZZ_SECONDS)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-30}}
"$root/scripts/build.sh" fuzz >/dev/null || exit 1
findings="$root/build/fuzz/findings"
mkdir -p "$findings"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
for target in fuzz_startup fuzz_packages fuzz_driver_service; do
  mkdir -p "$work/$target"
  # New inputs go to a scratch folder; the seeds in the repository stay as they are.
  if "$root/build/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
       -artifact_prefix="$findings/$target-" "$work/$target" "$root/tests/fuzz/corpus/$target" \
       >"$work/$target.log" 2>&1; then
    echo "  $target: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$work/$target.log")"
    passed=$((passed + 1))
  else
    echo "  $target: FINDING"
    grep -E 'property failed|ERROR:|SUMMARY:|Test unit written' "$work/$target.log" | sed 's/^/    /'
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
