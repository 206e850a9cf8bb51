# Tiny assertion helpers for the shell test suites; source it.
CHECK_PASSED=0
CHECK_FAILED=0
CHECK_CASE=""

# pass/fail one assertion of the current case.
ok() { CHECK_PASSED=$((CHECK_PASSED + 1)); }
bad() {
  CHECK_FAILED=$((CHECK_FAILED + 1))
  printf '  FAIL [%s] %s\n' "$CHECK_CASE" "$*"
}
# expect_eq WHAT ACTUAL EXPECTED
expect_eq() {
  if [ "$2" == "$3" ]; then ok; else bad "$1: got [$2], expected [$3]"; fi
}
# expect_file PATH / expect_no_file PATH
expect_file() { if [ -f "$1" ]; then ok; else bad "missing file: $1"; fi; }
expect_no_file() { if [ ! -e "$1" ]; then ok; else bad "should not exist: $1"; fi; }
expect_dir() { if [ -d "$1" ]; then ok; else bad "missing folder: $1"; fi; }
expect_same() { if cmp -s "$1" "$2"; then ok; else bad "content differs: $1 vs $2"; fi; }

begin_case() { CHECK_CASE=$1; printf '%s\n' "- $1"; }

# The closing line test runners are read by.
summary() {
  printf '%s: %d passed, %d failed\n' "$1" "$CHECK_PASSED" "$CHECK_FAILED"
  [ "$CHECK_FAILED" -eq 0 ]
}
