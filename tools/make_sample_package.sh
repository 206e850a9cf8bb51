#!/usr/bin/env bash
# Writes a small driver package of our own into a folder: NAME.inf, a valid
# INF for a USB device, and NAME.sys, a dummy driver file (not a real driver).
# --no-sys leaves the SYS file out; --catalog ENTRY=FILE names a catalog in
# [Version] (ENTRY: CatalogFile, CatalogFile.NT, CatalogFile.NTamd64...) and
# writes a dummy FILE beside the INF; --missing-catalog ENTRY=FILE names one
# that is not there. Both may be given more than once. --hwid ID gives the
# device another hardware ID than USB\VID_1D6B&PID_4001; --driver-ver V another
# version than 1.0.0.0 in its DriverVer.
# The models are listed undecorated and for x86, x64 and ARM64: from XP on
# Windows takes the section decorated for its own architecture, and 64-bit
# Windows ignores an undecorated one.
# Usage: make_sample_package.sh FOLDER NAME [--no-sys] [--hwid ID] [--driver-ver V]
#        [--catalog ENTRY=FILE]...
set -euo pipefail
folder=$1 name=$2
shift 2
mkdir -p "$folder"
sys=yes catalogs="" hwid='USB\VID_1D6B&PID_4001' version=1.0.0.0
while [ $# -gt 0 ]; do
  case $1 in
    --no-sys) sys=no ;;
    --hwid) hwid=$2; shift ;;
    --driver-ver) version=$2; shift ;;
    --catalog|--missing-catalog)
      entry=${2%%=*} file=${2#*=}
      catalogs+="$entry=$file"$'\n'
      # Not a real signed catalog: enough for a setup that only copies it.
      [ "$1" = --missing-catalog ] || printf 'dummy catalog %s\n' "$file" > "$folder/$file"
      shift ;;
    *) echo "make_sample_package.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
# Windows INF files are CRLF text.
sed 's/$/\r/' > "$folder/$name.inf" <<INF
; Sample package $name for the Vesk USB setup tests.
[Version]
Signature="\$Windows NT\$"
Class=USB
ClassGuid={36FC9E60-C465-11CF-8056-444553540000}
Provider=%Company%
DriverVer=01/01/2026,$version
${catalogs}
[Manufacturer]
%Company%=Models,NTx86,NTamd64,NTarm64

[Models]
%DeviceName%=Install, $hwid

[Models.NTx86]
%DeviceName%=Install, $hwid

[Models.NTamd64]
%DeviceName%=Install, $hwid

[Models.NTarm64]
%DeviceName%=Install, $hwid

[Install]
CopyFiles=DriverCopy

[Install.Services]
AddService=$name,2,ServiceInstall

[ServiceInstall]
ServiceType=1
StartType=3
ErrorControl=1
ServiceBinary=%12%\\$name.sys

[DriverCopy]
$name.sys

[DestinationDirs]
DefaultDestDir=12

[SourceDisksNames]
1=%Disk%

[SourceDisksFiles]
$name.sys=1

[Strings]
Company="Velmoran"
DeviceName="Vesk USB device ($name)"
Disk="Vesk driver disk"
INF
if [ $sys = yes ]; then
  # A dummy file that starts like a PE image but is not one.
  printf 'MZ dummy driver %s for tests\n' "$name" > "$folder/$name.sys"
fi
