// The simulated machine's registry.
#include "platform/sim/sim_internal.h"

#include <string.h>

using sim::Number;
using sim::Text;

// ---------------------------------------------------------------- registry

std::vector<std::string> CSimMachine::KeyPaths() const {
  std::vector<std::string> paths;
  for (const auto& key : m_keys) paths.push_back(key.second.path);
  return paths;
}

bool CSimMachine::KeyExists(const std::string& path) const { return m_keys.count(Upper(path)) > 0; }

void CSimMachine::AddKey(const std::string& path) {
  RegKey& key = m_keys[Upper(path)];
  if (key.path.empty()) key.path = path;
}

const std::vector<CSimMachine::RegValue>* CSimMachine::KeyValues(const std::string& path) const {
  auto it = m_keys.find(Upper(path));
  return it == m_keys.end() ? nullptr : &it->second.values;
}

LONG CSimMachine::RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                                  DWORD options, REGSAM desired, SECURITY_ATTRIBUTES* security,
                                  HKEY* result, LPDWORD disposition) {
  Record("RegCreateKeyExA(" + Text(subKey) + ", " + Number(reserved) + ", " + Text(keyClass) +
         ", " + Number(options) + ", " + Number(desired) + ", " + (security ? "security" : "null") +
         ")");
  if (key != HKEY_LOCAL_MACHINE || !subKey || !result) return ERROR_INVALID_PARAMETER;
  if (m_nRegCreateRefusal) return m_nRegCreateRefusal;
  std::string path = ViewOf(subKey, desired);
  bool existed = KeyExists(path);
  // Its parents are made with it.
  for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
    AddKey(path.substr(0, at));
  AddKey(path);
  uintptr_t handle = m_nNextKeyHandle++;
  m_keyHandles[handle] = Upper(path);
  *result = reinterpret_cast<HKEY>(handle);
  if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

LONG CSimMachine::RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                                 const BYTE* data, DWORD size) {
  Record("RegSetValueExA(" + Text(valueName) + ", " + Number(reserved) + ", " + Number(type) +
         ", " + Number(size) + ")");
  auto it = m_keyHandles.find(reinterpret_cast<uintptr_t>(key));
  if (it == m_keyHandles.end()) return ERROR_INVALID_HANDLE;
  std::string name = valueName ? valueName : "";
  auto fault = m_writeFaults.find(name);
  if (fault != m_writeFaults.end()) return fault->second;
  std::vector<RegValue>& values = m_keys[it->second].values;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  for (RegValue& value : values) {
    if (Upper(value.name) == Upper(name)) {
      value.type = type;
      value.data = bytes;
      return ERROR_SUCCESS;
    }
  }
  values.push_back({name, type, bytes});
  return ERROR_SUCCESS;
}

LONG CSimMachine::RegCloseKey(HKEY key) {
  Record("RegCloseKey()");
  return m_keyHandles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS
                                                              : ERROR_INVALID_HANDLE;
}

LONG CSimMachine::RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  Record("RegDeleteKeyA(" + Text(subKey) + ")");
  return RegDeleteKeyExA(key, subKey, 0, 0);
}

// Every 64-bit Windows has it (XP x64 and 2003 SP1 on, Vista on).
LONG CSimMachine::RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM view, DWORD) {
  if (view) {
    Record("RegDeleteKeyExA(" + Text(subKey) + ", " + Number(view) + ")");
    bool exists = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                  (m_version.dwMajorVersion > 5 ||
                   (m_version.dwMajorVersion == 5 && m_version.dwMinorVersion >= 2));
    if (!exists) return ERROR_CALL_NOT_IMPLEMENTED;
  }
  if (key != HKEY_LOCAL_MACHINE || !subKey) return ERROR_INVALID_PARAMETER;
  std::string upper = Upper(ViewOf(subKey, view));
  if (!m_keys.count(upper)) return ERROR_FILE_NOT_FOUND;
  // NT refuses to delete a key that has subkeys.
  for (const auto& entry : m_keys)
    if (entry.first.compare(0, upper.size() + 1, upper + "\\") == 0) return ERROR_ACCESS_DENIED;
  m_keys.erase(upper);
  return ERROR_SUCCESS;
}

// Under WOW64 a 32-bit process's SOFTWARE is SOFTWARE\Wow6432Node unless it
// asks for the 64-bit view.
std::string CSimMachine::ViewOf(const std::string& subKey, REGSAM desired) const {
  std::string upper = Upper(subKey);
  if (!IsWow64() || (desired & KEY_WOW64_64KEY) || upper.compare(0, 9, "SOFTWARE\\") != 0 ||
      upper.compare(0, 21, "SOFTWARE\\WOW6432NODE\\") == 0)
    return subKey;
  return subKey.substr(0, 9) + "Wow6432Node\\" + subKey.substr(9);
}

LONG CSimMachine::RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired,
                                HKEY* result) {
  Record("RegOpenKeyExA(" + Text(subKey) + ", " + Number(desired) + ")");
  if (key != HKEY_LOCAL_MACHINE || !subKey || !result || options) return ERROR_INVALID_PARAMETER;
  std::string path = ViewOf(subKey, desired);
  if (!KeyExists(path)) return ERROR_FILE_NOT_FOUND;
  uintptr_t handle = m_nNextKeyHandle++;
  m_keyHandles[handle] = Upper(path);
  *result = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

// The data as it was written (a string may lack its terminator); a buffer too
// small takes nothing.
LONG CSimMachine::RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                   LPBYTE data, LPDWORD size) {
  Record("RegQueryValueExA(" + Text(valueName) + ")");
  auto it = m_keyHandles.find(reinterpret_cast<uintptr_t>(key));
  if (it == m_keyHandles.end()) return ERROR_INVALID_HANDLE;
  if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
  std::string name = valueName ? valueName : "";
  for (const RegValue& value : m_keys[it->second].values) {
    if (Upper(value.name) != Upper(name)) continue;
    if (type) *type = value.type;
    DWORD room = size ? *size : 0;
    if (size) *size = static_cast<DWORD>(value.data.size());
    if (!data) return ERROR_SUCCESS;
    if (room < value.data.size()) return ERROR_MORE_DATA;
    value.data.copy(reinterpret_cast<char*>(data), value.data.size());
    return ERROR_SUCCESS;
  }
  return ERROR_FILE_NOT_FOUND;
}

LONG CSimMachine::RegDeleteValueA(HKEY key, LPCSTR valueName) {
  Record("RegDeleteValueA(" + Text(valueName) + ")");
  auto it = m_keyHandles.find(reinterpret_cast<uintptr_t>(key));
  if (it == m_keyHandles.end()) return ERROR_INVALID_HANDLE;
  std::vector<RegValue>& values = m_keys[it->second].values;
  for (auto value = values.begin(); value != values.end(); ++value) {
    if (Upper(value->name) == Upper(valueName ? valueName : "")) {
      values.erase(value);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

LONG CSimMachine::RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize,
                                LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  Record("RegEnumValueA(" + Number(index) + ")");
  auto it = m_keyHandles.find(reinterpret_cast<uintptr_t>(key));
  if (it == m_keyHandles.end()) return ERROR_INVALID_HANDLE;
  if (reserved || !name || !nameSize) return ERROR_INVALID_PARAMETER;
  const std::vector<RegValue>& values = m_keys[it->second].values;
  if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
  const RegValue& value = values[index];
  if (*nameSize < value.name.size() + 1) return ERROR_MORE_DATA;
  memcpy(name, value.name.c_str(), value.name.size() + 1);
  *nameSize = static_cast<DWORD>(value.name.size());
  if (type) *type = value.type;
  if (dataSize) {
    DWORD room = *dataSize;
    *dataSize = static_cast<DWORD>(value.data.size());
    if (data && room < value.data.size()) return ERROR_MORE_DATA;
    if (data) value.data.copy(reinterpret_cast<char*>(data), value.data.size());
  }
  return ERROR_SUCCESS;
}
