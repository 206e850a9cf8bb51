// -REMOVE on the package route: every "vesk*.inf" package beside the program
// leaves the devices that use it and the driver store, the way Microsoft
// documents it for each Windows, and the setup's own copies go after it.
#ifndef DEVICES_PACKAGE_REMOVAL_H
#define DEVICES_PACKAGE_REMOVAL_H

// 0 when every package is out of the store or never was in it; 3010 when
// that holds and Windows asked for a restart; 1603 (ERROR_INSTALL_FAILURE)
// when any package stays in the store, whatever the reason, or may stay (its
// INF beside the program cannot be read).
int RemoveInfPackages();

#endif  // DEVICES_PACKAGE_REMOVAL_H
