#include "infpkg/package_record.h"

#include <string.h>

#include "setup/hand_over.h"
#include "setup/setup_log.h"

const char kPackageRecordKey[] = "Software\\Velmoran\\Vesk\\Packages";

REGSAM NativeView(REGSAM access) { return g_bWow64 ? access | KEY_WOW64_64KEY : access; }

// RegDeleteKeyA deletes in the process's own view; every WOW64 Windows has
// RegDeleteKeyExA for the other.
LONG DeleteNativeKey(const char* path) {
  PlatformLayer& platform = GetPlatform();
  return g_bWow64 ? platform.RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY, 0)
                  : platform.RegDeleteKeyA(HKEY_LOCAL_MACHINE, path);
}

void RecordPackage(const char* infFile, const char* published) {
  PlatformLayer& platform = GetPlatform();
  HKEY key;
  LONG error = platform.RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPackageRecordKey, 0, nullptr,
                                        REG_OPTION_NON_VOLATILE, NativeView(KEY_SET_VALUE),
                                        nullptr, &key, nullptr);
  if (error == ERROR_SUCCESS) {
    error = platform.RegSetValueExA(key, infFile, 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(published),
                                    static_cast<DWORD>(strlen(published) + 1));
    platform.RegCloseKey(key);
  }
  LogResult(error == ERROR_SUCCESS, static_cast<DWORD>(error), "record %s as %s", infFile,
            published);
}

bool ReadPackageRecord(const char* infFile, char* published) {
  PlatformLayer& platform = GetPlatform();
  HKEY key;
  published[0] = '\0';
  if (platform.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPackageRecordKey, 0,
                             NativeView(KEY_QUERY_VALUE), &key) != ERROR_SUCCESS)
    return false;
  DWORD type = 0, size = MAX_PATH - 1;
  LONG error = platform.RegQueryValueExA(key, infFile, nullptr, &type,
                                         reinterpret_cast<BYTE*>(published), &size);
  platform.RegCloseKey(key);
  // A value stored without its terminator is ended here.
  published[error == ERROR_SUCCESS && size < MAX_PATH ? size : 0] = '\0';
  return error == ERROR_SUCCESS && type == REG_SZ && published[0];
}

namespace {

// Whether the open record key holds a value.
bool HoldsValue(HKEY key) {
  char name[4];
  DWORD size = sizeof(name);
  return GetPlatform().RegEnumValueA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) !=
         ERROR_NO_MORE_ITEMS;
}

}  // namespace

void ForgetPackage(const char* infFile) {
  PlatformLayer& platform = GetPlatform();
  HKEY key;
  LONG error = platform.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPackageRecordKey, 0,
                                      NativeView(KEY_QUERY_VALUE | KEY_SET_VALUE), &key);
  if (error == ERROR_SUCCESS) {
    error = platform.RegDeleteValueA(key, infFile);
    bool held = HoldsValue(key);
    platform.RegCloseKey(key);
    if (error != ERROR_FILE_NOT_FOUND)
      LogResult(error == ERROR_SUCCESS, static_cast<DWORD>(error), "forget %s", infFile);
    if (held) return;
  } else if (error != ERROR_FILE_NOT_FOUND) {
    return;
  }
  // Our empty keys go too, also where a stopped run took only the first
  // (Software\Velmoran stays for whatever else it holds).
  static const char* const kKeys[] = {kPackageRecordKey, "Software\\Velmoran\\Vesk"};
  for (const char* path : kKeys) {
    error = DeleteNativeKey(path);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return;
  }
}

bool AnyPackageRecorded() {
  HKEY key;
  LONG error = GetPlatform().RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPackageRecordKey, 0,
                                           NativeView(KEY_QUERY_VALUE), &key);
  if (error != ERROR_SUCCESS) return error != ERROR_FILE_NOT_FOUND;
  bool held = HoldsValue(key);
  GetPlatform().RegCloseKey(key);
  return held;
}
