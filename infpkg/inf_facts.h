// What the setup reads from a package's INF, in one open with the setup
// API's own INF reader (quotes, comments, %strings%, Unicode INFs): the
// catalogs it names, the hardware IDs of the models sections this Windows
// takes, and its DriverVer version.
#ifndef INFPKG_INF_FACTS_H
#define INFPKG_INF_FACTS_H

#include "platform/platform_layer.h"
#include "setup/path_string.h"

// The catalog entries an INF can have in [Version]; the setup API checks the
// one decorated for the machine's native architecture, else ".NT" on the NT
// family, else the plain one.
extern const char* const kCatalogEntries[];
const int kCatalogEntryCount = 6;

struct InfFacts {
  char catalogs[kCatalogEntryCount][MAX_PATH];  // empty where not named
  bool catalogTooLong[kCatalogEntryCount];      // named, but longer than a path
  // Distinct hardware IDs, each ended by a NUL; read only when asked for.
  CPathString hardwareIds;
  char driverVersion[64];  // DriverVer's second field; empty where none
};

// Fills `facts` from the INF at `infPath`; false when the setup API cannot
// open it (it then refuses the package too).
bool ReadInfFacts(const char* infPath, bool hardwareIds, InfFacts* facts);

// The entry of kCatalogEntries the setup API checks on this machine.
int AppliedCatalogEntry(const InfFacts& facts);

// Whether `name` names a file in a folder, nothing else: no path, no device.
bool IsPlainName(const char* name);

// Whether `name` can be a package's catalog: a plain name ending in ".cat"
// (letter case ignored) of a file beside the INF; no path, no device, and
// nothing else (a library planted as a "catalog" would lie beside a twin).
bool IsCatalogName(const char* name);

// Whether `id` is one of `ids`, letter case ignored.
bool ContainsId(const char* ids, const char* id);

#endif  // INFPKG_INF_FACTS_H
