// The drivers in Apps and Programs and Features: a copy of the program that
// did the work, kept in the company folder to remove them with, and an entry
// under HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall (the native
// view on 64-bit Windows) that starts it.
#ifndef SETUP_PROGRAMS_ENTRY_H
#define SETUP_PROGRAMS_ENTRY_H

extern const char kEntryKey[];
// The copy's fixed name: without "ssetup", so that it shows its boxes to a
// person who starts it from the list.
extern const char kRemoverName[];

// The newest DriverVer version among the packages staged in this run
// ("1.2.3.4"); empty where none was.
const int kVersionSize = 64;
extern char g_szNewestDriverVersion[kVersionSize];
// Keeps `version` where it is newer than the newest so far.
void NoteDriverVersion(const char* version);

// After an install that left something on the machine: the copy and the
// entry, which starts it with `removeSwitch` ("-REMOVE"; "-UNINSTALL" on NT
// 4.0). Only where the company folder passed its check; failures are logged
// and change nothing else. Windows 2000 and 9x cannot take a package out of
// their store: no entry there.
void RegisterForRemoval(const char* removeSwitch);

// After a removal that left nothing of ours in the store (no package record
// remains): the entry, the copy (at the next restart where it runs) and the
// company folder's other files go; the setup log stays.
void UnregisterAfterRemoval();

#endif  // SETUP_PROGRAMS_ENTRY_H
