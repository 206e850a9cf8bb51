#include "setup/installed_file.h"

#include <string.h>

#include "platform/platform_layer.h"
#include "setup/setup_context.h"
#include "setup/setup_log.h"
#include "setup/text.h"

namespace {

// Clears `which` on a file that has any of them, and gives back the
// attributes to restore should the operation that follows fail; zero when
// nothing was changed (folders and missing files stay as they are).
DWORD ClearAttributes(const char* path, DWORD which) {
  DWORD attributes = GetPlatform().GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !(attributes & which))
    return 0;
  DWORD kept = attributes & kSettableFileAttributes & ~which;
  if (!GetPlatform().SetFileAttributesA(path, kept ? kept : FILE_ATTRIBUTE_NORMAL)) return 0;
  return attributes & kSettableFileAttributes;
}

// A copy or delete that failed leaves the file as it found it.
void RestoreAttributes(const char* path, DWORD saved) {
  if (saved) GetPlatform().SetFileAttributesA(path, saved);
}

}  // namespace

bool CopyOverwriting(const char* source, const char* destination) {
  DWORD saved = ClearAttributes(
      destination, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  bool copied = GetPlatform().CopyFileA(source, destination, FALSE) != FALSE;
  LogResult(copied, GetPlatform().GetLastError(), "copy %s -> %s", source, destination);
  if (!copied) {
    RestoreAttributes(destination, saved);
    return false;
  }
  ClearAttributes(destination, FILE_ATTRIBUTE_READONLY);
  return true;
}

namespace {

// Whether `path` is the one name of its file: its attributes are then its own
// to change.
bool IsSoleName(const char* path) {
  PlatformLayer& platform = GetPlatform();
  HANDLE file = platform.CreateFileA(path, 0x80 /* FILE_READ_ATTRIBUTES */,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                     nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool sole = platform.GetFileInformationByHandle(file, &info) && info.nNumberOfLinks == 1;
  platform.CloseHandle(file);
  return sole;
}

}  // namespace

bool CopyFresh(const char* source, const char* destination) {
  if (!IsNtFamily()) return CopyOverwriting(source, destination);
  PlatformLayer& platform = GetPlatform();
  char fresh[kFormatSize];
  FormatInto(fresh, "%s.new", destination);
  platform.DeleteFileA(fresh);  // a killed run's, or a planted name: the name goes
  bool copied = platform.CopyFileA(source, fresh, TRUE) != FALSE;
  DWORD error = platform.GetLastError();
  if (copied) {
    ClearAttributes(fresh, FILE_ATTRIBUTE_READONLY);
    // An old copy of its own name only may lose what stops a rename onto it.
    if (IsSoleName(destination))
      ClearAttributes(destination, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                       FILE_ATTRIBUTE_SYSTEM);
    copied = platform.MoveFileExA(fresh, destination, MOVEFILE_REPLACE_EXISTING) != FALSE;
    error = platform.GetLastError();
    if (!copied) platform.DeleteFileA(fresh);
  }
  LogResult(copied, error, "copy %s -> %s", source, destination);
  return copied;
}

bool DeleteInstalledFile(const char* path) {
  DWORD saved = ClearAttributes(path, FILE_ATTRIBUTE_READONLY);
  bool deleted = GetPlatform().DeleteFileA(path) != FALSE;
  LogResult(deleted, GetPlatform().GetLastError(), "delete %s", path);
  if (!deleted) RestoreAttributes(path, saved);
  return deleted;
}

bool DeleteFresh(const char* path) {
  if (!IsNtFamily() || IsSoleName(path)) return DeleteInstalledFile(path);
  bool deleted = GetPlatform().DeleteFileA(path) != FALSE;
  LogResult(deleted, GetPlatform().GetLastError(), "delete %s", path);
  return deleted;
}

namespace {

HANDLE OpenForReading(const char* path) {
  return GetPlatform().CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool SameFileBytes(const char* left, const char* right, bool* unread) {
  PlatformLayer& platform = GetPlatform();
  const char* paths[2] = {left, right};
  HANDLE files[2];
  DWORD sizes[2] = {INVALID_FILE_SIZE, INVALID_FILE_SIZE};
  bool missing = false;
  for (int i = 0; i < 2; ++i) {
    files[i] = OpenForReading(paths[i]);
    DWORD error = platform.GetLastError();
    if (files[i] != INVALID_HANDLE_VALUE) sizes[i] = platform.GetFileSize(files[i], nullptr);
    else missing |= error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  bool readable = sizes[0] != INVALID_FILE_SIZE && sizes[1] != INVALID_FILE_SIZE;
  bool same = readable && sizes[0] == sizes[1];
  while (same) {
    char bytes[2][2048];
    DWORD got[2] = {0, 0};
    for (int i = 0; i < 2; ++i)
      readable &= platform.ReadFile(files[i], bytes[i], sizeof(bytes[i]), &got[i], nullptr) != FALSE;
    same = readable && got[0] == got[1] && memcmp(bytes[0], bytes[1], got[0]) == 0;
    if (got[0] == 0) break;
  }
  for (HANDLE file : files)
    if (file != INVALID_HANDLE_VALUE) platform.CloseHandle(file);
  if (unread) *unread |= !readable && !missing;
  return same;
}
