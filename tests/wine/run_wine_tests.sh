#!/usr/bin/env bash
# End-to-end tests of the real setup.exe under Wine.
# Usage: run_wine_tests.sh PATH/setup.exe
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$here/../lib/check.sh"
. "$here/wine_env.sh"
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
section=${2:-all}

# run_unprivileged EXE SECTION: runs one section as a user without root's
# rights, from a copy of the tests that the user can read. A root wineserver
# overwrites read-only files, which Windows refuses to do.
run_unprivileged() {
  if [ "$(id -u)" -ne 0 ]; then "$0" "$1" "$2"; return; fi
  local user=vesk-media stage
  id -u "$user" >/dev/null 2>&1 || useradd -m -s /bin/sh "$user" || return 1
  stage=$(mktemp -d /tmp/vesk-stage.XXXXXX)
  cp -r "$root/tests" "$root/tools" "$stage/"
  cp "$1" "$stage/setup.exe"
  chmod -R a+rX "$stage"
  runuser -u "$user" -- env HOME="$(getent passwd "$user" | cut -d: -f6)" \
    "$stage/tests/wine/run_wine_tests.sh" "$stage/setup.exe" "$2"
  local code=$?
  rm -rf "$stage"
  return $code
}

if [ "$section" = all ]; then
  # Each section is a machine of its own: its own prefix, server and service
  # manager. One processor: Wine counts processors from the file below, so that
  # section runs where a "0" is mounted over it.
  echo 0 > /tmp/vesk-one-cpu
  passed=0 failed=0
  for part in package nt4-two nt4-one cp932 media; do
    if [ $part = media ]; then
      out=$(run_unprivileged "$exe" $part 2>&1)
    elif [ $part = cp932 ]; then
      # A Japanese Windows: ANSI code page 932. Wine maps the UTF-8 names of
      # this locale to double-byte names, so folder ソ reaches setup.exe as 0x83 0x5C.
      out=$(LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$0" "$exe" $part 2>&1)
    elif [ $part = nt4-one ]; then
      out=$(unshare -m sh -c 'mount --bind /tmp/vesk-one-cpu /sys/devices/system/cpu/online &&
                              exec "$0" "$1" "$2"' "$0" "$exe" $part 2>&1)
    else
      out=$("$0" "$exe" $part 2>&1)
    fi
    printf '%s\n' "$out" | sed '$d'
    line=$(printf '%s\n' "$out" | tail -n 1)
    printf '  (%s)\n' "$line"
    p=$(sed -n 's/.*: \([0-9]*\) passed, \([0-9]*\) failed$/\1/p' <<<"$line")
    f=$(sed -n 's/.*: \([0-9]*\) passed, \([0-9]*\) failed$/\2/p' <<<"$line")
    [ -n "$p" ] || { p=0; f=$((f + 1)); echo "  section $part did not finish"; }
    passed=$((passed + p)) failed=$((failed + ${f:-1}))
  done
  rm -f /tmp/vesk-one-cpu
  printf 'wine tests: %d passed, %d failed\n' "$passed" "$failed"
  [ "$failed" -eq 0 ]
  exit
fi

trap wine_stop EXIT
wine_start
COMPANY="$WIN/Application Data/Velmoran"
DRIVERS="$WIN/system32/drivers"
SERVICES='HKLM\System\CurrentControlSet\Services'
INIT_FAIL='setup: Setup failed to initialize.\nPlease check OS for compatibility.'

# Every case starts from a machine without our traces.
reset_machine() {
  rm -rf "$WIN/Application Data"
  find "$WIN/inf" -maxdepth 1 \( -iname 'vesk*' -o -iname 'oem*' \) -delete
  rm -f "$DRIVERS"/vesk* "$DRIVERS"/{windrvr,wdusbd,tolv}.sys
  for service in WinDriver Wdusbd TOLV; do wine sc delete "$service" >/dev/null 2>&1; done
}

# new_case NAME [EXE-NAME]: a fresh program folder holding setup.exe.
new_case() {
  begin_case "$1"
  reset_machine
  CASE_DIR="$WINE_TMP/cases/$(echo "$1" | tr -c 'A-Za-z0-9\n' '_')"
  mkdir -p "$CASE_DIR"
  PROGRAM="$CASE_DIR/${2:-setup.exe}"
  cp "$exe" "$PROGRAM"
}

package() { "$root/tools/make_sample_package.sh" "$CASE_DIR" "$@"; }

# The INF was registered: a copy with the same content is in Windows' inf folder.
expect_registered() {
  local f
  for f in "$WIN"/inf/*; do cmp -s "$f" "$1" && { ok; return; }; done
  bad "INF not registered: $1"
}
expect_boxes() { expect_eq "message boxes" "$RUN_BOXES" "$(printf '%s' "$1")"; }
# expect_loads "FUNCTION PATH": the setup library the program asked the loader for.
expect_loads() {
  [ "$RUN_LOADS" == "$1" ] && { ok; return; }
  bad "library asked for: got [$RUN_LOADS], expected [$1]; the trace says:" \
    "$(grep -a -i 'LoadLibrary' "$RUN_LOG" | grep -a -i setupapi | head -n 4)"
}
success_box() { printf 'setup: Driver included in %s has successfully installed.' "$1"; }
reg_value() {  # reg_value KEY VALUE -> "TYPE DATA"
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1==v{print $2, $3}'
}

# ---------------------------------------------------------------- package route
package_section() {

for version in winxp win2k win10; do
  new_case "package route as $version"
  wine_version setup.exe $version
  package vesk1
  wine_run "$PROGRAM"
  expect_eq "exit code" "$RUN_CODE" 0
  expect_dir "$COMPANY"
  expect_same "$COMPANY/vesk1.sys" "$CASE_DIR/vesk1.sys"
  expect_same "$COMPANY/vesk1.inf" "$CASE_DIR/vesk1.inf"
  expect_registered "$CASE_DIR/vesk1.inf"
  expect_no_file "$DRIVERS/vesk1.sys"
  expect_boxes "$(success_box vesk1.inf)"
done

# A setupapi.dll of our own beside the program: loading it leaves a marker
# file, and its SetupCopyOEMInfA answers success and registers nothing.
planted_dll() {
  mkdir -p "$WINE_TMP/planted"
  cat > "$WINE_TMP/planted/planted.cpp" <<'CPP'
#include <windows.h>
extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char marker[MAX_PATH + 16];
  DWORD length = GetModuleFileNameA(self, marker, MAX_PATH);
  while (length && marker[length - 1] != '\\') --length;
  lstrcpyA(marker + length, "planted-ran.txt");
  HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
extern "C" __declspec(dllexport) BOOL WINAPI SetupCopyOEMInfA(LPCSTR, LPCSTR, DWORD, DWORD, LPSTR,
                                                              DWORD, PDWORD, LPSTR*) {
  return TRUE;
}
CPP
  i686-w64-mingw32-g++-win32 -shared -Os -s -static -Wl,--kill-at \
    -o "$WINE_TMP/planted/setupapi.dll" "$WINE_TMP/planted/planted.cpp"
}
planted_dll
for version in winxp win2k; do
  new_case "a setupapi.dll planted beside the program, as $version"
  wine_version setup.exe $version
  package vesk1
  cp "$WINE_TMP/planted/setupapi.dll" "$CASE_DIR/"
  wine_run --native-setupapi "$PROGRAM"
  expect_eq "exit code" "$RUN_CODE" 0
  expect_no_file "$CASE_DIR/planted-ran.txt"
  expect_registered "$CASE_DIR/vesk1.inf"
  expect_boxes "$(success_box vesk1.inf)"
  expect_loads 'LoadLibraryExA C:\windows\system32\setupapi.dll'
done

new_case "Windows 98 also copies into the system folders"
wine_version setup.exe win98
package vesk1
wine_run "$PROGRAM"
expect_eq "exit code" "$RUN_CODE" 0
# There the setup library may be a redistributable beside the program.
expect_loads "LoadLibraryA setupapi.dll"
expect_same "$DRIVERS/vesk1.sys" "$CASE_DIR/vesk1.sys"
expect_same "$WIN/inf/vesk1.inf" "$CASE_DIR/vesk1.inf"
expect_same "$COMPANY/vesk1.inf" "$CASE_DIR/vesk1.inf"
# Wine refuses to register content that the program's own copy already put
# into its inf folder; whatever it answered, the box must say the same.
if grep -a -q 'Ret  setupapi\.SetupCopyOEMInfA() retval=00000001' "$RUN_LOG"; then
  expect_boxes "$(success_box vesk1.inf)"
else
  expect_boxes ""
fi

new_case "two packages"
wine_version setup.exe winxp
package vesk1
package vesk2
wine_run "$PROGRAM"
expect_eq "exit code" "$RUN_CODE" 0
expect_registered "$CASE_DIR/vesk1.inf"
expect_registered "$CASE_DIR/vesk2.inf"
expect_eq "message boxes" "$(sort <<<"$RUN_BOXES")" \
  "$(printf '%s\n%s' "$(success_box vesk1.inf)" "$(success_box vesk2.inf)")"

new_case "an INF without its SYS"
package vesk1 --no-sys
wine_run "$PROGRAM"
expect_eq "exit code" "$RUN_CODE" 0
expect_registered "$CASE_DIR/vesk1.inf"
expect_boxes "setup: Copy file fail: vesk1.sys
$(success_box vesk1.inf)"

new_case "silent by -S"
package vesk1 --no-sys
wine_run "$PROGRAM" -S
expect_eq "exit code" "$RUN_CODE" 0
expect_same "$COMPANY/vesk1.inf" "$CASE_DIR/vesk1.inf"
expect_boxes ""

new_case "silent by a program named ssetup" ssetup.exe
wine_version ssetup.exe winxp
package vesk1 --no-sys
wine_run "$PROGRAM"
expect_eq "exit code" "$RUN_CODE" 0
expect_registered "$CASE_DIR/vesk1.inf"
expect_boxes ""

new_case "remove mode elsewhere does nothing"
package vesk1
wine_run "$PROGRAM" -UNINSTALL
expect_eq "exit code" "$RUN_CODE" 1
expect_dir "$COMPANY"
expect_no_file "$COMPANY/vesk1.inf"
expect_boxes ""

new_case "no packages"
wine_run "$PROGRAM"
expect_eq "exit code" "$RUN_CODE" 0
expect_boxes ""

new_case "a folder named like a package"
mkdir "$CASE_DIR/vesk9.inf"
wine_run "$PROGRAM"
expect_eq "exit code" "$RUN_CODE" 0
expect_boxes "setup: Copy file fail: vesk9.sys
setup: Copy file fail: vesk9.inf"

new_case "a plain file where the company folder should be"
mkdir -p "$WIN/Application Data"
echo "not a folder" > "$COMPANY"
package vesk1
wine_run "$PROGRAM"
expect_eq "exit code" "$RUN_CODE" 0
expect_boxes "setup: Copy file fail: vesk1.sys
setup: Copy file fail: vesk1.inf"
expect_eq "the file in the way" "$(cat "$COMPANY")" "not a folder"

# long_path_case LENGTH: this case's program at a full path of LENGTH characters.
long_path_case() {
  local folder="$WINE_TMP/long$1" fill
  fill=$(( $1 - ${#folder} - 3 - 10 ))  # "Z:" + the "/" before the filler + "\setup.exe"
  CASE_DIR="$folder/$(head -c "$fill" /dev/zero | tr '\0' d)"
  mkdir -p "$CASE_DIR"
  PROGRAM="$CASE_DIR/setup.exe"
  cp "$exe" "$PROGRAM"
}

new_case "a program path of exactly 259 characters"
long_path_case 259
package vesk1
wine_run "$PROGRAM"
expect_eq "exit code" "$RUN_CODE" 0
expect_same "$COMPANY/vesk1.sys" "$CASE_DIR/vesk1.sys"
expect_boxes "$(success_box vesk1.inf)"

new_case "a program path longer than 260 characters"
long_path_case 270
package vesk1
wine_run "$PROGRAM" -S  # the failure comes before the switches are read
expect_eq "exit code" "$RUN_CODE" 255
expect_boxes "$INIT_FAIL"
expect_no_file "$COMPANY/vesk1.sys"

new_case "the setup library missing"
package vesk1
wine_run --no-setupapi "$PROGRAM"
expect_eq "exit code" "$RUN_CODE" 255
expect_boxes "$INIT_FAIL"
expect_no_file "$COMPANY/vesk1.inf"
wine_run --no-setupapi "$PROGRAM" -S
expect_eq "exit code with -S" "$RUN_CODE" 255
expect_boxes ""

}

# ---------------------------------------------------------------- NT 4.0 route

expect_service() {  # expect_service NAME BASE
  local key="$SERVICES\\$1"
  expect_eq "$1 Type" "$(reg_value "$key" Type)" "REG_DWORD 0x1"
  expect_eq "$1 Start" "$(reg_value "$key" Start)" "REG_DWORD 0x2"
  expect_eq "$1 ErrorControl" "$(reg_value "$key" ErrorControl)" "REG_DWORD 0x1"
  expect_eq "$1 ImagePath" "$(reg_value "$key" ImagePath | awk '{print $2}')" \
    "\\SystemRoot\\System32\\drivers\\$2.SYS"
}
expect_no_service() {
  if wine reg query "$SERVICES\\$1" >/dev/null 2>&1; then bad "service $1 still there"; else ok; fi
}
nt_drivers() { for base in "$@"; do printf 'MZ dummy %s\n' "$base" > "$CASE_DIR/$base.sys"; done; }

nt4_one_section() {
  new_case "NT 4.0, one processor: fresh install"
  wine_version setup.exe nt40
  nt_drivers windrvr wdusbd tolv
  wine_run "$PROGRAM"
  expect_eq "exit code" "$RUN_CODE" 1
  expect_same "$DRIVERS/windrvr.sys" "$CASE_DIR/windrvr.sys"
  expect_same "$DRIVERS/wdusbd.sys" "$CASE_DIR/wdusbd.sys"
  expect_no_file "$DRIVERS/tolv.sys"
  expect_service WinDriver windrvr
  expect_service Wdusbd wdusbd
  expect_no_service TOLV
  expect_no_file "$WIN/Application Data"
  expect_boxes ""

  begin_case "NT 4.0, one processor: second install with the services present"
  cp "$DRIVERS/windrvr.sys" "$WINE_TMP/installed.sys"
  echo "newer" > "$CASE_DIR/windrvr.sys"  # an installed service's file is not copied again
  wine_run "$PROGRAM"
  expect_eq "exit code" "$RUN_CODE" 1
  expect_same "$DRIVERS/windrvr.sys" "$WINE_TMP/installed.sys"
  expect_boxes ""

  begin_case "NT 4.0, one processor: remove"
  wine_run "$PROGRAM" -UNINSTALL
  expect_eq "exit code" "$RUN_CODE" 1
  expect_no_service WinDriver
  expect_no_service Wdusbd
  expect_no_file "$DRIVERS/windrvr.sys"
  expect_no_file "$DRIVERS/wdusbd.sys"
  expect_boxes ""

  begin_case "NT 4.0: remove when nothing is installed"
  wine_run "$PROGRAM" -UNINSTALL
  expect_eq "exit code" "$RUN_CODE" 255
  expect_boxes "setup: Setup fail: "

  new_case "NT 4.0: a missing driver file"
  wine_version setup.exe nt40
  nt_drivers wdusbd
  wine_run "$PROGRAM"
  expect_eq "exit code" "$RUN_CODE" 255
  expect_boxes "setup fail: Copy file fail: windrvr.sys"
  expect_no_service WinDriver
  wine_run "$PROGRAM" -S
  expect_eq "silent exit code" "$RUN_CODE" 255
  expect_boxes ""
}

nt4_two_section() {
  new_case "NT 4.0, two processors: install and remove TOLV"
  wine_version setup.exe nt40
  nt_drivers windrvr wdusbd tolv
  wine_run "$PROGRAM" -S
  expect_eq "exit code" "$RUN_CODE" 1
  expect_service TOLV tolv
  expect_same "$DRIVERS/tolv.sys" "$CASE_DIR/tolv.sys"
  expect_no_service WinDriver
  expect_boxes ""
  wine_run "$PROGRAM" -UNINSTALL
  expect_eq "remove exit code" "$RUN_CODE" 1
  expect_no_service TOLV
  expect_no_file "$DRIVERS/tolv.sys"
  expect_boxes ""
}

# in_folder NAME EXE-NAME: moves this case's program into a subfolder.
in_folder() {
  CASE_DIR="$CASE_DIR/$1"
  mkdir -p "$CASE_DIR"
  mv "$PROGRAM" "$CASE_DIR/$2"
  PROGRAM="$CASE_DIR/$2"
}

cp932_section() {
  new_case "code page 932: a program folder and name ending in the byte 0x5C"
  in_folder ソ 設定表.exe  # both names end in the byte 0x5C
  package vesk1
  wine_run "$PROGRAM"
  expect_eq "exit code" "$RUN_CODE" 0
  expect_same "$COMPANY/vesk1.sys" "$CASE_DIR/vesk1.sys"
  expect_registered "$CASE_DIR/vesk1.inf"
  expect_boxes "$(success_box vesk1.inf)"

  new_case "code page 932: a package name with a double-byte character"
  in_folder 能 setup.exe
  package "vesk表"
  wine_run "$PROGRAM" -S
  expect_eq "exit code" "$RUN_CODE" 0
  expect_same "$COMPANY/vesk表.sys" "$CASE_DIR/vesk表.sys"
  expect_same "$COMPANY/vesk表.inf" "$CASE_DIR/vesk表.inf"
  expect_boxes ""

  # (The case name must not hold the silent word: it names the case folder.)
  new_case "code page 932: a folder named ピsetup is not silent"
  in_folder ピsetup x.exe
  package vesk1 --no-sys
  wine_run "$PROGRAM"
  expect_eq "exit code" "$RUN_CODE" 0
  expect_boxes "setup: Copy file fail: vesk1.sys
$(success_box vesk1.inf)"
}

# ---------------------------------------------------------------- real media
# Every file on a driver CD is read-only, and CopyFileA gives each copy its
# source's attributes. Run as root, a wineserver overwrites and replaces
# read-only files anyway (its refusal comes only from Unix permissions), so
# the copy cases here would pass as root only by that luck: this section runs
# as an unprivileged user (run_unprivileged), as Windows users meet it.
read_only() { chmod a-w "$@"; }
# newer_package NAME: the package NAME again with other content, read-only.
newer_package() {
  chmod u+w "$CASE_DIR/$1".*
  package "$1"
  printf '; newer\r\n' >> "$CASE_DIR/$1.inf"
  echo newer >> "$CASE_DIR/$1.sys"
  read_only "$CASE_DIR/$1".*
}
copy_failures() { grep 'Copy file fail' <<<"$RUN_BOXES" || true; }
expect_writable() {
  local f
  for f in "$@"; do if [ -w "$f" ]; then ok; else bad "left read-only: $f"; fi; done
}

media_section() {
  new_case "read-only media: Windows XP, run twice"
  wine_version setup.exe winxp
  package vesk1
  read_only "$CASE_DIR"/vesk1.*
  wine_run "$PROGRAM"
  expect_eq "exit code" "$RUN_CODE" 0
  expect_boxes "$(success_box vesk1.inf)"
  expect_writable "$COMPANY/vesk1.sys" "$COMPANY/vesk1.inf"
  newer_package vesk1
  wine_run "$PROGRAM"
  expect_eq "second exit code" "$RUN_CODE" 0
  expect_boxes "$(success_box vesk1.inf)"
  expect_same "$COMPANY/vesk1.sys" "$CASE_DIR/vesk1.sys"
  expect_same "$COMPANY/vesk1.inf" "$CASE_DIR/vesk1.inf"
  expect_registered "$CASE_DIR/vesk1.inf"

  new_case "read-only media: Windows 98, run twice"
  wine_version setup.exe win98
  package vesk1
  read_only "$CASE_DIR"/vesk1.*
  wine_run "$PROGRAM"
  expect_eq "exit code" "$RUN_CODE" 0
  expect_eq "copy failures" "$(copy_failures)" ""
  expect_writable "$COMPANY/vesk1.sys" "$COMPANY/vesk1.inf" "$DRIVERS/vesk1.sys" "$WIN/inf/vesk1.inf"
  newer_package vesk1
  wine_run "$PROGRAM"
  expect_eq "second exit code" "$RUN_CODE" 0
  expect_eq "second copy failures" "$(copy_failures)" ""
  expect_same "$DRIVERS/vesk1.sys" "$CASE_DIR/vesk1.sys"
  expect_same "$WIN/inf/vesk1.inf" "$CASE_DIR/vesk1.inf"
  expect_same "$COMPANY/vesk1.inf" "$CASE_DIR/vesk1.inf"

  new_case "read-only media: NT 4.0 install, remove, install again"
  wine_version setup.exe nt40
  nt_drivers windrvr wdusbd tolv
  read_only "$CASE_DIR"/*.sys
  local set entry
  if [ "$(nproc --all)" -ge 2 ]; then set="TOLV:tolv"; else set="WinDriver:windrvr Wdusbd:wdusbd"; fi
  wine_run "$PROGRAM"
  expect_eq "install exit code" "$RUN_CODE" 1
  expect_boxes ""
  for entry in $set; do
    expect_service "${entry%:*}" "${entry#*:}"
    expect_writable "$DRIVERS/${entry#*:}.sys"
  done
  wine_run "$PROGRAM" -UNINSTALL
  expect_eq "remove exit code" "$RUN_CODE" 1
  expect_boxes ""
  for entry in $set; do
    expect_no_service "${entry%:*}"
    expect_no_file "$DRIVERS/${entry#*:}.sys"
  done
  wine_run "$PROGRAM"
  expect_eq "second install exit code" "$RUN_CODE" 1
  expect_boxes ""
  for entry in $set; do
    expect_service "${entry%:*}" "${entry#*:}"
    expect_same "$DRIVERS/${entry#*:}.sys" "$CASE_DIR/${entry#*:}.sys"
  done

  # FindFirstFileA matches the 8.3 names too: vesk1.info is VESK~xxx.INF.
  new_case "files that match the package pattern only by their short names"
  wine_version setup.exe winxp
  package vesk2
  printf 'Release notes\r\n' > "$CASE_DIR/vesk1.info"
  cp "$CASE_DIR/vesk2.inf" "$CASE_DIR/vesk2.inf_old"
  read_only "$CASE_DIR"/vesk*
  wine_run "$PROGRAM"
  expect_eq "exit code" "$RUN_CODE" 0
  expect_boxes "$(success_box vesk2.inf)"
  expect_eq "registrations" "$RUN_REGISTRATIONS" 1
  expect_no_file "$COMPANY/vesk1.inf"
}

case $section in
  media) media_section ;;
  package) package_section ;;
  cp932) cp932_section ;;
  nt4-one) nt4_one_section ;;
  nt4-two)
    if [ "$(nproc --all)" -lt 2 ]; then echo "  (this machine has one processor: no two-processor case)"
    else nt4_two_section; fi ;;
  *) echo "unknown section $section" >&2; exit 2 ;;
esac

summary "wine tests ($section)"
