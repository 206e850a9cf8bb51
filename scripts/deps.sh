#!/usr/bin/env bash
# Installs what the builds and tests need, when it is missing (Debian 12).
# Usage: deps.sh [host] [target] [wine] [checks] [sign]   (no argument: all five)
set -euo pipefail
want=("$@")
[ ${#want[@]} -gt 0 ] || want=(host target wine checks sign)

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for part in "${want[@]}"; do
  case $part in
    host) for p in cmake g++ make libgtest-dev python3; do have_pkg "$p" || need+=("$p"); done ;;
    target) for p in cmake make g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 \
                     g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 python3; do
              have_pkg "$p" || need+=("$p"); done ;;
    checks) for p in clang libclang-rt-14-dev cppcheck clang-tidy locales python3-pytest \
                     python3-pefile; do
              have_pkg "$p" || need+=("$p"); done ;;
    sign) for p in osslsigncode openssl; do have_pkg "$p" || need+=("$p"); done ;;
    # wine64 runs the 64-bit file on any x86-64 machine; wine32 the 32-bit
    # one, where the machine can execute 32-bit code.
    wine) for p in wine wine64 locales python3-pytest; do have_pkg "$p" || need+=("$p"); done
          have_pkg wine32:i386 || need+=(wine32:i386) ;;
    *) echo "deps.sh: unknown part '$part'" >&2; exit 2 ;;
  esac
done
# The Wine tests run a Japanese (code page 932) Windows in this locale.
make_locale() {
  for part in "${want[@]}"; do
    [ "$part" = wine ] || continue
    locale -a 2>/dev/null | grep -qi '^ja_JP.utf-\?8$' || localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
  done
}
if [ ${#need[@]} -eq 0 ]; then make_locale; exit 0; fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "Installing: ${need[*]}" >&2
if printf '%s\n' "${need[@]}" | grep -q ':i386$'; then
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
make_locale
