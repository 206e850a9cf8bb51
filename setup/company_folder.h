// The company folder, %windir%\Application Data\Velmoran: the packages'
// copies, the setup log, the runs' twins. The setup runs with an
// administrator's rights and starts code from it, so it must be what its name
// says and only SYSTEM and Administrators may change it: this check is the one
// place that knows it, and everything that writes or runs anything there asks
// it for the folder.
#ifndef SETUP_COMPANY_FOLDER_H
#define SETUP_COMPANY_FOLDER_H

#include "platform/platform_layer.h"
#include "setup/path_string.h"
#include "setup/text.h"

enum CompanyFolderState {
  kFolderUnchecked,
  kFolderSafe,     // ours alone (Windows 9x: nothing can be checked there)
  kFolderUnsafe,   // not ours, and it could not be set aside
  kFolderMissing,  // it could not be made
};

struct CompanyFolder {
  CompanyFolderState state;
  CPathString path;
  // "Application Data" and the folder, held against renaming until the run
  // ends (null where nothing is held).
  HANDLE held[2];
  // No junction on the way: a file there is the file its name says.
  bool linkFree;
  // What the check did (a folder set aside) or why it refused; for the log.
  char note[kFormatSize];
};
extern CompanyFolder g_companyFolder;

// Makes (sealed at creation) or finds the folder below `windowsDir`, checks it
// and holds it, once a process. On the NT family (`nt`) no part of the way may
// be a junction or another kind of reparse point, and each part must be owned
// by Administrators, SYSTEM or the account running the setup; a part that is
// not is set aside (renamed, with the time) and made anew where Windows lets
// it. The folder is then given the protected DACL. True when it is safe.
bool CheckCompanyFolder(const char* windowsDir, bool nt);

// Lets go of the folder; a later check starts over.
void ReleaseCompanyFolder();

// Calls `visit` with the full path and the find data of each entry in
// `folder` (the company folder or a run folder in it), its name cut to
// MAX_PATH; `context` is passed on. False where the folder cannot be listed.
typedef void (*FolderVisit)(const char* path, const WIN32_FIND_DATAA& found, void* context);
bool ForEachInFolder(const char* folder, FolderVisit visit, void* context);

// Whether the file or folder at `path` is owned by Administrators, SYSTEM or
// the account this process runs as (an owner can always change its DACL), by
// another account, or whether that cannot be read now.
enum Owner { kOwnerUnknown, kTrustedOwner, kForeignOwner };
Owner OwnerOf(const char* path);
bool HasTrustedOwner(const char* path);

// The folder at `path` held by its own name, sharing no deleting, where it is
// no link and its owner is trusted; null otherwise. Another account that owns
// a folder may empty it and make it a junction at any moment: nothing below
// it is deleted, now or at the restart.
HANDLE HoldTrustedFolder(const char* path);

// Makes a folder that only SYSTEM and Administrators may change, sealed as it
// is made (on NT): otherwise Windows would merge the parent's inheritable
// entries, Power Users' and CREATOR OWNER's among them, into it first.
bool MakeSealedFolder(const char* path, bool nt);

// "{path}.{what}-YYYYMMDD-hhmmss": where something in the way goes.
void SetAsideName(char* name, const char* path, const char* what = "set-aside");

// The descriptor the folder is made and sealed with: SYSTEM and
// Administrators alone, owned by Administrators, nothing inherited.
extern const struct AdminDescriptor g_companyFolderSecurity;

#endif  // SETUP_COMPANY_FOLDER_H
