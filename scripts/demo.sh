#!/usr/bin/env bash
# The main job: builds setup.exe, lays a sample package beside it in a
# temporary folder, runs it under Wine and reports what it did.
# Usage: demo.sh [--windows VERSION] [-- SETUP-ARGUMENTS...]
#   VERSION: winxp (default), nt40, win98, win2k, win10; or WINDOWS_VERSION=...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=${WINDOWS_VERSION:-winxp}
while [ $# -gt 0 ]; do
  case $1 in
    --windows) version=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "usage: demo.sh [--windows VERSION] [-- SETUP-ARGUMENTS...]" >&2; exit 2 ;;
  esac
done

"$root/scripts/deps.sh" target wine
"$root/scripts/build.sh" target >/dev/null
. "$root/tests/wine/wine_env.sh"
trap wine_stop EXIT
echo "Starting a fresh Wine prefix..."
wine_start

program_dir="$WINE_TMP/disk"
mkdir -p "$program_dir"
cp "$root/build/target/setup.exe" "$program_dir/"
"$root/tools/make_sample_package.sh" "$program_dir" vesk1
for base in windrvr wdusbd tolv; do printf 'MZ dummy %s\n' "$base" > "$program_dir/$base.sys"; done
wine_version setup.exe "$version"

snapshot() { (cd "$WINEPREFIX/drive_c" && find . -mindepth 1 | sort) > "$1"; }
services() { wine reg query 'HKLM\System\CurrentControlSet\Services' 2>/dev/null | tr -d '\r' |
             sed -n 's/.*\\Services\\//p' | sort; }
snapshot "$WINE_TMP/before"; services > "$WINE_TMP/services-before"
wine_run "$program_dir/setup.exe" "$@"
snapshot "$WINE_TMP/after"; services > "$WINE_TMP/services-after"

echo
echo "setup.exe $* as Windows '$version', from a folder holding: $(cd "$program_dir" && ls | tr '\n' ' ')"
echo "Exit code: $RUN_CODE$( [ "$RUN_CODE" = 255 ] && echo ' (-1)')"
echo "Message boxes:"
if [ -n "$RUN_BOXES" ]; then sed 's/^/  [/; s/: /] /' <<<"$RUN_BOXES"; else echo "  (none)"; fi
echo "Files and folders created under C:\\:"
created=$(comm -13 "$WINE_TMP/before" "$WINE_TMP/after" | grep -v -i -E '\.pnf$|^\./users/' || true)
if [ -n "$created" ]; then sed 's|^\./|  C:\\|; s|/|\\|g' <<<"$created"; else echo "  (none)"; fi
removed=$(comm -23 "$WINE_TMP/before" "$WINE_TMP/after" || true)
[ -z "$removed" ] || { echo "Removed:"; sed 's|^\./|  C:\\|; s|/|\\|g' <<<"$removed"; }
echo "OEM INF registered:"
oem=$(grep -i -E '^\./windows/inf/[^/]*\.inf$' <<<"$created" || true)
if [ -n "$oem" ]; then
  while read -r f; do
    name=$(basename "$f")
    cmp -s "$WINEPREFIX/drive_c/${f#./}" "$program_dir/vesk1.inf" &&
      echo "  C:\\windows\\inf\\$name (the content of vesk1.inf)" || echo "  C:\\windows\\inf\\$name"
  done <<<"$oem"
else echo "  (none)"; fi
new_services=$(comm -13 "$WINE_TMP/services-before" "$WINE_TMP/services-after")
if [ -n "$new_services" ]; then
  echo "Driver services created:"
  for s in $new_services; do
    echo "  $s: $(wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$s" 2>/dev/null |
                  tr -d '\r' | awk '$1=="Start"||$1=="Type"||$1=="ImagePath"{printf "%s=%s ", $1, $3}')"
  done
fi
