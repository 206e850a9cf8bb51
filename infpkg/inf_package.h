// Pre-installation of the "vesk*.inf" driver packages beside the program.
#ifndef INFPKG_INF_PACKAGE_H
#define INFPKG_INF_PACKAGE_H

// Pre-installs every package in the current directory, in the order the
// platform lists them.
void InstallInfPackages();

// Copies {name}.sys and {name}.inf into place and registers the INF. 1 when
// the setup API accepted it, 0 otherwise.
int InstallInfPackage(const char* name);

#endif  // INFPKG_INF_PACKAGE_H
