#!/usr/bin/env bash
# Checks what old Windows needs of setup.exe itself: the PE header, the
# imports, and the resources. Usage: check_exe.sh PATH/setup.exe
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../lib/check.sh"
exe=$1
objdump=i686-w64-mingw32-objdump
windres=i686-w64-mingw32-windres
header=$($objdump -p "$exe")

begin_case "PE32 i386 GUI program loadable by Windows 95 and NT 4.0"
expect_eq "format" "$($objdump -f "$exe" | sed -n 's/.*file format \(.*\)/\1/p')" "pei-i386"
expect_eq "subsystem" "$(awk '/^Subsystem/{print $2}' <<<"$header")" "00000002"
# version_at_most_4 NAME: MajorNAME.MinorNAME is no higher than 4.0
version_at_most_4() {
  local major minor
  major=$(awk -v f="Major$1" '$1==f{print $2}' <<<"$header")
  minor=$(awk -v f="Minor$1" '$1==f{print $2}' <<<"$header")
  if [ "${major:-99}" -lt 4 ] || { [ "${major:-99}" -eq 4 ] && [ "${minor:-99}" -eq 0 ]; }; then ok
  else bad "$1 version is $major.$minor, above 4.0"; fi
}
version_at_most_4 OSystemVersion
version_at_most_4 SubsystemVersion
# Loaders from Windows Vista on read these; Windows 95 and NT 4.0 ignore them.
characteristics=$((16#$(awk '/^DllCharacteristics/{print $2}' <<<"$header")))
for mark in DYNAMIC_BASE:0x40 NX_COMPAT:0x100 TERMINAL_SERVER_AWARE:0x8000; do
  [ $((characteristics & ${mark#*:})) -ne 0 ] && ok || bad "not marked ${mark%:*}"
done
grep -q '\.reloc' <<<"$($objdump -h "$exe")" && ok || bad "no relocations: ASLR cannot move it"

begin_case "imports only allowed functions of Windows' own DLLs"
imports=$(awk '/DLL Name:/{dll=toupper($3); sub(/\.DLL$/,"",dll)}
               /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/{print dll"!"$3}' <<<"$header" | sort -u)
[ -n "$imports" ] && ok || bad "no imports read"
for dll in $(cut -d! -f1 <<<"$imports" | sort -u); do
  case $dll in KERNEL32|USER32|ADVAPI32|MSVCRT) ok ;; *) bad "imports from $dll" ;; esac
done
allowed=$(grep -v '^#' "$here/allowed_imports.txt")
for name in $imports; do
  grep -qxF "$name" <<<"$allowed" && ok || bad "import not in the allow-list: $name"
done
# Nothing the old systems are known not to export (lists kept beside the project).
winapi="$here/../../../shared/winapi"
if [ -d "$winapi" ]; then
  missing=$(cat "$winapi"/*missing*.txt "$winapi"/advapi32-unverified-win95.txt 2>/dev/null |
            sed 's/#.*//' | awk '{print $1}' | grep -E '^[A-Za-z_]' | sort -u)
  for name in $imports; do
    grep -qxF "${name#*!}" <<<"$missing" && bad "${name#*!} is missing on Windows 95 or NT 4.0" || ok
  done
fi
for name in OpenSCManagerA CreateServiceA DeleteService; do
  grep -q "!$name\$" <<<"$imports" && bad "$name imported statically" || ok
done
grep -qi 'setupapi' <<<"$header" && bad "setupapi.dll is imported" || ok

begin_case "resources: icon group 101, version block, administrator manifest"
rc=$($windres -J coff -i "$exe" -O rc 2>&1)
group=$(awk '/^101 14/{f=1} f&&/Has/{print; f=0}' <<<"$rc")
expect_eq "icon group 101" "$group" '   0, 1, 1,	 /* Has 1 elements.  */'
grep -qF '"\040\040\020\000", 1, 4,' <<<"$rc" && ok || bad "the icon is not one 32x32 16-colour image"
grep -q 'VALUE "ProductName"' <<<"$rc" && ok || bad "no product name in the version block"
grep -q 'VALUE "FileVersion"' <<<"$rc" && ok || bad "no file version"
manifest=$(sed -n '/RT_MANIFEST/,/^END/p' <<<"$rc" | sed -n 's/^ *"\(.*\)"$/\1/p' |
           sed 's/""/"/g; s/\\n$//')
grep -q 'level="requireAdministrator"' <<<"$manifest" && ok ||
  bad "the manifest does not require administrator rights"
trust=$(grep -o '<trustInfo[^>]*>' <<<"$manifest")
expect_eq "trustInfo" "$trust" '<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">'

begin_case "size"
size=$(stat -c %s "$exe")
echo "  setup.exe: $size bytes, $(wc -l <<<"$imports") imports"
[ "$size" -le 24576 ] && ok || bad "setup.exe is $size bytes, above 24 KiB"

summary "file checks"
