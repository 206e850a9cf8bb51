#!/usr/bin/env bash
# Static analysis: cppcheck over every source (setup.exe's Win32 layer too) and
# clang-tidy (checks in .clang-tidy) over the code the host build compiles.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ -f build/host/compile_commands.json ] || scripts/build.sh host >/dev/null || exit 1
passed=0 failed=0
# A tool that is missing is a failed step, never a clean one.
missing() {
  command -v "$1" >/dev/null && return 1
  echo "  $1: not installed (scripts/deps.sh checks)"; failed=$((failed + 1))
}

# Left out, with the reason: cstyleCast (INVALID_HANDLE_VALUE and the predefined
# registry keys are the platform's own cast macros), useStlAlgorithm (a style
# preference), missingIncludeSystem (system headers are not analysed).
if missing cppcheck; then :
elif cppcheck --enable=warning,style,performance,portability --language=c++ --std=c++20 \
     --error-exitcode=1 --inline-suppr --quiet -I . \
     --suppress=missingIncludeSystem --suppress=cstyleCast --suppress=useStlAlgorithm \
     setup service ntdrivers infpkg devices platform tests/fuzz; then
  echo "  cppcheck: clean"; passed=$((passed + 1))
else
  echo "  cppcheck: findings above"; failed=$((failed + 1))
fi

sources=$(ls setup/*.cpp service/*.cpp ntdrivers/*.cpp infpkg/*.cpp devices/*.cpp platform/sim/*.cpp)
# Into a file first: with pipefail, a grep -q that stops at the first finding
# would break the pipe and turn the findings into a "clean".
tidy=$(mktemp)
if missing clang-tidy; then :
else
  clang-tidy -p build/host --quiet $sources > "$tidy" 2>&1
  status=$?
  grep -v -E '^[0-9]+ warnings? generated\.$' "$tidy" >&2
  if [ "$status" -ne 0 ] || grep -q -E 'warning:|error:' "$tidy"; then
    echo "  clang-tidy: findings above (exit $status)"; failed=$((failed + 1))
  else
    echo "  clang-tidy: clean"; passed=$((passed + 1))
  fi
fi
rm -f "$tidy"
echo "static analysis: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
