// Which package in the driver store is ours: at staging each package's
// published name is recorded under HKLM\Software\Velmoran\Vesk\Packages (one
// value a package, named like its INF, in the 64-bit view on 64-bit
// Windows), where removal finds it and a deployment tool can detect it.
#ifndef INFPKG_PACKAGE_RECORD_H
#define INFPKG_PACKAGE_RECORD_H

#include "platform/platform_layer.h"

extern const char kPackageRecordKey[];

// Records that `infFile` (vesk1.inf) is in the store as `published`.
void RecordPackage(const char* infFile, const char* published);
// The published name recorded for `infFile` (MAX_PATH bytes); false where none.
bool ReadPackageRecord(const char* infFile, char* published);
// Takes the record away; the key goes with its last value.
void ForgetPackage(const char* infFile);
// Whether a package is recorded (true where the record cannot be read).
bool AnyPackageRecorded();

// The access that reaches the 64-bit view from a 32-bit process under WOW64.
REGSAM NativeView(REGSAM access);
// Deletes a key below HKEY_LOCAL_MACHINE in that view.
LONG DeleteNativeKey(const char* path);

#endif  // INFPKG_PACKAGE_RECORD_H
