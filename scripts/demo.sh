#!/usr/bin/env bash
# The main job: builds the setup.exe files, lays a sample package (or the
# packages of --package DIR) beside one in a temporary folder, plugs in a USB
# device the sample fits (or those of --device ID), runs it under Wine and
# reports what it did, what the setup API answered, each device's driver
# before and after, and the setup log.
# As Windows 10 (the default) the machine is 64-bit: the 32-bit file runs
# there under WOW64 and hands over to its x64 twin, where this machine can
# execute 32-bit code; elsewhere the x64 file runs (the output says which and
# why). Other versions run the build's own kind of prefix. --build arm64 runs
# the ARM64 file under ARM64 Wine and qemu (fetched once into build/arm64-wine).
# Usage: demo.sh [--windows VERSION] [--build x86|x64|arm64] [--package DIR] [--device ID]...
#                [-- SETUP-ARGUMENTS...]
#   VERSION: win10 (default), winxp, nt40, win98, win2k...; or WINDOWS_VERSION=...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" target wine
"$root/scripts/build.sh" target target64 target-arm64 >/dev/null
args=(--windows "${WINDOWS_VERSION:-win10}")
exec /usr/bin/python3 "$root/scripts/demo.py" "${args[@]}" "$@"
