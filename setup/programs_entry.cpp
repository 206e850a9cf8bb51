#include "setup/programs_entry.h"

#include <string.h>

#include "infpkg/package_record.h"
#include "res/version.h"
#include "setup/company_folder.h"
#include "setup/installed_file.h"
#include "setup/setup_context.h"
#include "setup/setup_log.h"
#include "setup/text.h"

const char kEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VeskUsbDrivers";
const char kRemoverName[] = "vesk-setup.exe";
char g_szNewestDriverVersion[kVersionSize];

namespace {

// "1.2.3.4" against "1.10.0.0", part by part as numbers.
bool IsNewer(const char* version, const char* than) {
  for (;;) {
    unsigned a = 0, b = 0;
    while (*version >= '0' && *version <= '9') a = a * 10 + static_cast<unsigned>(*version++ - '0');
    while (*than >= '0' && *than <= '9') b = b * 10 + static_cast<unsigned>(*than++ - '0');
    if (a != b) return a > b;
    if (*version != '.' || *than != '.') return *version == '.';
    ++version;
    ++than;
  }
}

// The files the entry stands for, in KiB, rounded up: the copy and the
// packages' copies (the logs are not the drivers').
DWORD FolderKiB(const char* folder) {
  DWORD bytes = 0;
  ForEachInFolder(folder, [](const char*, const WIN32_FIND_DATAA& found, void* sum) {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !MatchesPattern(found.cFileName, "setup.log*"))
      *static_cast<DWORD*>(sum) += found.nFileSizeLow;
  }, &bytes);
  return (bytes + 1023) / 1024;
}

// Every file of the company folder but the logs; the copy that runs cannot
// be deleted, but it can be renamed: it goes at the next restart under
// another name, so that an install before then keeps its new copy. One an
// earlier removal renamed goes now where nothing runs it any more. `aside`
// is the name this run gave its own copy.
void DeleteCompanyFile(const char* path, const WIN32_FIND_DATAA& found, void* context) {
  PlatformLayer& platform = GetPlatform();
  char* aside = static_cast<char*>(context);
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      MatchesPattern(found.cFileName, "setup.log*"))
    return;
  if (MatchesPattern(found.cFileName, "*.removed-*")) {
    if (!SameText(path, aside)) platform.DeleteFileA(path);
    return;
  }
  if (DeleteFresh(path)) return;
  SetAsideName(aside, path, "removed");
  bool later = platform.MoveFileA(path, aside) &&
               platform.MoveFileExA(aside, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  LogResult(later, platform.GetLastError(), "delete %s at the next restart", path);
}

// Each value, until one fails: its error is the entry's.
struct EntryWriter {
  HKEY key;
  LONG error;
  void Set(const char* name, DWORD type, const void* data, DWORD size) {
    if (error == ERROR_SUCCESS)
      error = GetPlatform().RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
  }
  void Text(const char* name, const char* text) {
    Set(name, REG_SZ, text, static_cast<DWORD>(strlen(text) + 1));
  }
  void Number(const char* name, DWORD number) { Set(name, REG_DWORD, &number, sizeof(number)); }
};

// The values Microsoft's "Uninstall Registry Key" names, and the quiet
// uninstall string, icon and the two buttons installers add.
LONG WriteEntry(const char* copy, const char* removeSwitch) {
  PlatformLayer& platform = GetPlatform();
  EntryWriter entry = {nullptr, ERROR_SUCCESS};
  DWORD disposition = 0;
  entry.error = platform.RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEntryKey, 0, nullptr,
                                         REG_OPTION_NON_VOLATILE, NativeView(KEY_SET_VALUE),
                                         nullptr, &entry.key, &disposition);
  if (entry.error != ERROR_SUCCESS) return entry.error;
  char text[kFormatSize];
  SYSTEMTIME now;
  platform.GetLocalTime(&now);
  entry.Text("DisplayVersion",
             *g_szNewestDriverVersion ? g_szNewestDriverVersion : SETUP_VERSION_TEXT);
  entry.Text("Publisher", "Velmoran");
  FormatInto(text, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  entry.Text("InstallDate", text);
  entry.Text("InstallLocation", g_companyFolder.path.c_str());
  entry.Text("DisplayIcon", copy);
  FormatInto(text, "\"%s\" %s", copy, removeSwitch);
  entry.Text("UninstallString", text);
  FormatInto(text, "\"%s\" %s -S", copy, removeSwitch);
  entry.Text("QuietUninstallString", text);
  entry.Number("NoModify", 1);
  entry.Number("NoRepair", 1);
  entry.Number("EstimatedSize", FolderKiB(g_companyFolder.path.c_str()));
  // The list shows a key with a DisplayName: written last, so that a run that
  // fails or is killed before it leaves no name whose button starts nothing.
  entry.Text("DisplayName", "Vesk USB drivers");
  platform.RegCloseKey(entry.key);
  if (entry.error != ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY)
    DeleteNativeKey(kEntryKey);
  return entry.error;
}

}  // namespace

void NoteDriverVersion(const char* version) {
  if (*version && (!*g_szNewestDriverVersion || IsNewer(version, g_szNewestDriverVersion)))
    CopyText(g_szNewestDriverVersion, sizeof(g_szNewestDriverVersion), version);
}

void RegisterForRemoval(const char* removeSwitch) {
  const OSVERSIONINFOA& os = g_osVersion.Info();
  if (os.dwPlatformId != VER_PLATFORM_WIN32_NT ||
      (os.dwMajorVersion == 5 && os.dwMinorVersion == 0))
    return;
  // Removal from the list runs elevated from the company folder: only a
  // folder that none but SYSTEM and Administrators may change will do.
  if (g_companyFolder.state != kFolderSafe) {
    LogLine("no entry in Programs and Features: the company folder did not pass its check");
    return;
  }
  CPathString program;
  char copy[kFormatSize];
  FormatInto(copy, "%s\\%s", g_companyFolder.path.c_str(), kRemoverName);
  // The file that does the work: the native twin under a hand-over. A copy
  // that runs (a removal waiting for the lock) is left as it is, where it is
  // an administrator's file; anything else under that name (nothing, a file
  // another account planted before the folder was sealed and may still
  // change) would be what the entry starts, elevated: the entry goes.
  bool ours = ReadPlatformPath(program, kModuleFile) &&
              (SameText(program.c_str(), copy) || CopyFresh(program.c_str(), copy));
  if (!ours) {
    DWORD attributes = GetPlatform().GetFileAttributesA(copy);
    ours = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           HasTrustedOwner(copy);
    if (ours) LogLine("%s was left as it is", copy);
  }
  if (!ours) {
    LogLine("no entry in Programs and Features: %s is not this program's copy", copy);
    LONG error = DeleteNativeKey(kEntryKey);
    if (error != ERROR_FILE_NOT_FOUND)
      LogResult(error == ERROR_SUCCESS, static_cast<DWORD>(error),
                "remove the entry in Programs and Features");
    return;
  }
  LONG error = WriteEntry(copy, removeSwitch);
  LogResult(error == ERROR_SUCCESS, static_cast<DWORD>(error),
            "entry in Programs and Features: HKLM\\%s", kEntryKey);
}

void UnregisterAfterRemoval() {
  if (g_companyFolder.state != kFolderSafe) return;
  // A package of ours that another disk staged is still in the store: the
  // entry stays to remove it with, and so do the copies Windows reinstalls
  // its devices from.
  if (AnyPackageRecorded()) {
    LogLine("the entry in Programs and Features stays: the record names packages of ours in the store");
    return;
  }
  LONG error = DeleteNativeKey(kEntryKey);
  if (error != ERROR_FILE_NOT_FOUND)
    LogResult(error == ERROR_SUCCESS, static_cast<DWORD>(error),
              "remove the entry in Programs and Features");
  // An entry that stays keeps the copy it starts, to try again with.
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return;
  char aside[kFormatSize] = "";
  ForEachInFolder(g_companyFolder.path.c_str(), DeleteCompanyFile, aside);
}
