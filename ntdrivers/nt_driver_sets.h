// The kernel drivers installed on Windows NT 4.0, and their install and
// remove procedures.
#ifndef NTDRIVERS_NT_DRIVER_SETS_H
#define NTDRIVERS_NT_DRIVER_SETS_H

#include <stddef.h>

struct NtDriverEntry {
  const char* serviceName;
  const char* baseName;  // the driver file is {baseName}.sys
};

struct NtDriverSet {
  const NtDriverEntry* entries;
  size_t count;
};

extern const NtDriverSet g_oneProcessorSet;
extern const NtDriverSet g_severalProcessorSet;

// 1 for success, -1 for failure (shown to the user unless silent).
int InstallNtDriverSet(const NtDriverSet& set);
int RemoveNtDriverSet(const NtDriverSet& set);

#endif  // NTDRIVERS_NT_DRIVER_SETS_H
