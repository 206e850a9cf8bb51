#!/usr/bin/env bash
# The main job: builds both setup.exe files, lays a sample package (or the
# packages of --package DIR) beside one in a temporary folder, runs it under
# Wine and reports what it did, what the setup API answered and the setup log.
# The 32-bit file runs where the machine can execute 32-bit code, the 64-bit
# one elsewhere (the output says which and why); --build arm64 runs the ARM64
# one under ARM64 Wine and qemu (fetched once into build/arm64-wine).
# Usage: demo.sh [--windows VERSION] [--build x86|x64|arm64] [--package DIR] [-- SETUP-ARGUMENTS...]
#   VERSION: winxp (default), nt40, win98, win2k, win10...; or WINDOWS_VERSION=...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" target wine
"$root/scripts/build.sh" target target64 target-arm64 >/dev/null
args=(--windows "${WINDOWS_VERSION:-winxp}")
exec /usr/bin/python3 "$root/scripts/demo.py" "${args[@]}" "$@"
