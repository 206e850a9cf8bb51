// Pre-installation of the "vesk*.inf" driver packages beside the program.
#ifndef INFPKG_INF_PACKAGE_H
#define INFPKG_INF_PACKAGE_H

// Pre-installs every package in the current directory, in the order the
// platform lists them, and installs each on the devices plugged in that it
// fits (unless staging only). 0, or 3010 (ERROR_SUCCESS_REBOOT_REQUIRED)
// when Windows asked for a restart.
int InstallInfPackages();

// Calls `handle` with the name of every "vesk*.inf" package in the current
// directory ("vesk1" for vesk1.inf), in the order the platform lists them;
// false (logged) where the folder could not be listed to its end.
bool ForEachPackage(void (*handle)(const char* name));

// Copies {name}.sys and {name}.inf into place and registers the INF. 1 when
// the setup API accepted it, 0 otherwise.
int InstallInfPackage(const char* name);

#endif  // INFPKG_INF_PACKAGE_H
