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
                     g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 python3 \
                     clang-14 lld-14 llvm-14 mingw-w64-common; do
              have_pkg "$p" || need+=("$p"); done ;;
    checks) for p in clang libclang-rt-14-dev cppcheck clang-tidy locales python3-pytest \
                     python3-pefile; do
              have_pkg "$p" || need+=("$p"); done ;;
    sign) for p in osslsigncode openssl; do have_pkg "$p" || need+=("$p"); done ;;
    # wine64 runs the 64-bit file on any x86-64 machine; wine32 the 32-bit
    # one, where the machine can execute 32-bit code. qemu-user-static runs
    # ARM64 Wine (downloaded by tests/wine/arm64.py, not installed) for the
    # ARM64 file.
    wine) for p in wine wine64 locales python3-pytest qemu-user-static; do
            have_pkg "$p" || need+=("$p"); done
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
# A mirror in mid-sync fails one index now and then (seen: the security
# suite's i386 list), and apt-get update then exits 100. Multi-arch wants the
# i386 libraries at the amd64 ones' versions, so the security suite cannot
# just be left out for i386: after three tries, update and install from the
# main and updates suites alone, for both architectures.
apt_opts=()
updated=
for try in 1 2 3; do
  if $SUDO apt-get update -qq; then updated=1; break; fi
  echo "deps.sh: apt-get update failed (try $try of 3)" >&2
  sleep $((try * 5))
done
if [ -z "$updated" ]; then
  sources=$(mktemp)
  printf '%s\n' "deb http://deb.debian.org/debian bookworm main" \
                 "deb http://deb.debian.org/debian bookworm-updates main" > "$sources"
  apt_opts=(-o "Dir::Etc::sourcelist=$sources" -o Dir::Etc::sourceparts=-)
  echo "deps.sh: installing from bookworm and bookworm-updates only" >&2
  $SUDO apt-get "${apt_opts[@]}" update -qq || echo "deps.sh: that update failed too" >&2
fi
install() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${apt_opts[@]}" install -y -qq "$@" >/dev/null; }
native=() foreign=()
for p in "${need[@]}"; do
  case $p in *:i386) foreign+=("$p") ;; *) native+=("$p") ;; esac
done
[ ${#native[@]} -eq 0 ] || install "${native[@]}"
# The i386 Wine serves only machines that run 32-bit code: where it cannot be
# had, the 32-bit Wine cases are skipped with the reason. It must never take
# anything away (seen: from the main suite alone, multi-arch version pins made
# apt remove wine64 to fit it).
if [ ${#foreign[@]} -gt 0 ] && ! install --no-remove "${foreign[@]}"; then
  echo "deps.sh: could not install ${foreign[*]}; the 32-bit Wine cases will be skipped" >&2
fi
make_locale
