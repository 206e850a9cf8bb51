#include "setup/installed_file.h"

#include "platform/platform_layer.h"

namespace {

// Clears `which` on a file that has any of them; folders and missing files stay as they are.
void ClearAttributes(const char* path, DWORD which) {
  DWORD attributes = GetPlatform().GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !(attributes & which))
    return;
  attributes &= kSettableFileAttributes & ~which;
  GetPlatform().SetFileAttributesA(path, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
}

}  // namespace

bool CopyOverwriting(const char* source, const char* destination) {
  ClearAttributes(destination,
                  FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (!GetPlatform().CopyFileA(source, destination, FALSE)) return false;
  ClearAttributes(destination, FILE_ATTRIBUTE_READONLY);
  return true;
}

bool DeleteInstalledFile(const char* path) {
  ClearAttributes(path, FILE_ATTRIBUTE_READONLY);
  return GetPlatform().DeleteFileA(path) != FALSE;
}
