#!/usr/bin/env bash
# Times setup.exe against a minimal baseline under Wine (see bench/run.py).
# Usage: bench/run.sh [--build x86|x64] [--limit SECONDS] [SIZES...]   (default: 1 10 100 1000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" target wine
"$root/scripts/build.sh" target target64 >/dev/null
exec /usr/bin/python3 "$root/bench/run.py" "$@"
