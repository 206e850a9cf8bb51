#!/usr/bin/env bash
# Writes a small driver package of our own into a folder: NAME.inf, a valid
# INF for a USB device, and NAME.sys, a dummy driver file (not a real driver).
# Usage: make_sample_package.sh FOLDER NAME [--no-sys]
set -euo pipefail
folder=$1 name=$2
mkdir -p "$folder"
# Windows INF files are CRLF text.
sed 's/$/\r/' > "$folder/$name.inf" <<INF
; Sample package $name for the Vesk USB setup tests.
[Version]
Signature="\$Windows NT\$"
Class=USB
ClassGuid={36FC9E60-C465-11CF-8056-444553540000}
Provider=%Company%
DriverVer=01/01/2026,1.0.0.0

[Manufacturer]
%Company%=Models

[Models]
%DeviceName%=Install, USB\\VID_1D6B&PID_4001

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
if [ "${3:-}" != "--no-sys" ]; then
  # A dummy file that starts like a PE image but is not one.
  printf 'MZ dummy driver %s for tests\n' "$name" > "$folder/$name.sys"
fi
