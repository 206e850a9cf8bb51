#!/usr/bin/env bash
# Builds into build/: "host" (logic + simulated machine + unit tests),
# "sanitize" (the same with ASan/UBSan), "fuzz" (libFuzzer targets, clang),
# "target" (the 32-bit setup.exe, carrying the x64 and ARM64 ones, which it
# builds first), "target64" (the x64 setup.exe), "target-arm64" (the ARM64
# setup.exe, clang and lld), "dist" (build/dist: the folder to ship,
# setup.exe, and setup64.exe and setuparm64.exe for those who start them
# directly, signed when SIGN_PFX is set (see sign.sh), with SHA256SUMS).
# Default: host target target64 target-arm64.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(host target target64 target-arm64)
jobs=$(nproc 2>/dev/null || echo 2)
for part in "${parts[@]}"; do
  case $part in
    host) cmake -S "$root" -B "$root/build/host" -DCMAKE_BUILD_TYPE=Debug >/dev/null ;;
    sanitize) cmake -S "$root" -B "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug \
                -DSETUP_SANITIZE=ON >/dev/null ;;
    fuzz) CXX=clang++ cmake -S "$root" -B "$root/build/fuzz" -DCMAKE_BUILD_TYPE=Debug \
            -DSETUP_FUZZ=ON >/dev/null ;;
    # The 32-bit file carries the x64 and ARM64 ones: those are built first.
    target) "$0" target64 target-arm64
            cmake -S "$root" -B "$root/build/target" -DCMAKE_BUILD_TYPE=MinSizeRel \
              -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
              -DSETUP_TWIN_X64="$root/build/target64/setup.exe" \
              -DSETUP_TWIN_ARM64="$root/build/target-arm64/setup.exe" >/dev/null ;;
    target64) cmake -S "$root" -B "$root/build/target64" -DCMAKE_BUILD_TYPE=MinSizeRel \
                -DCMAKE_TOOLCHAIN_FILE="$root/cmake/x86_64-w64-mingw32.cmake" >/dev/null ;;
    target-arm64) cmake -S "$root" -B "$root/build/target-arm64" -DCMAKE_BUILD_TYPE=MinSizeRel \
                    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-w64-mingw32.cmake" >/dev/null ;;
    dist) "$0" target64 target-arm64
          rm -rf "$root/build/dist"
          mkdir -p "$root/build/dist"
          cp "$root/build/target64/setup.exe" "$root/build/dist/setup64.exe"
          cp "$root/build/target-arm64/setup.exe" "$root/build/dist/setuparm64.exe"
          # Signed before they are carried: Windows checks what a process
          # starts. The 32-bit file is then built with those copies inside,
          # and signed.
          if [ -n "${SIGN_PFX:-}" ]; then
            for exe in setup64.exe setuparm64.exe; do
              "$root/scripts/sign.sh" "$root/build/dist/$exe"; done
            cmake -S "$root" -B "$root/build/target-dist" -DCMAKE_BUILD_TYPE=MinSizeRel \
              -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
              -DSETUP_TWIN_X64="$root/build/dist/setup64.exe" \
              -DSETUP_TWIN_ARM64="$root/build/dist/setuparm64.exe" >/dev/null
            cmake --build "$root/build/target-dist" -j "$jobs" -- --no-print-directory
            cp "$root/build/target-dist/setup.exe" "$root/build/dist/setup.exe"
            "$root/scripts/sign.sh" "$root/build/dist/setup.exe"
          else
            "$0" target
            cp "$root/build/target/setup.exe" "$root/build/dist/setup.exe"
          fi
          (cd "$root/build/dist" && sha256sum setup.exe setup64.exe setuparm64.exe > SHA256SUMS)
          echo "build/dist: $(cd "$root/build/dist" && ls | tr '\n' ' ')"
          continue ;;
    *) echo "build.sh: unknown part '$part'" >&2; exit 2 ;;
  esac
  cmake --build "$root/build/$part" -j "$jobs" -- --no-print-directory
done
