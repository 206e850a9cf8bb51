// The simulated machine's registry.
#include "platform/sim/sim_internal.h"

#include <string.h>

using sim::Number;
using sim::Text;

// ---------------------------------------------------------------- registry

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
  bool existed = KeyExists(subKey);
  AddKey(subKey);
  uintptr_t handle = m_nNextKeyHandle++;
  m_keyHandles[handle] = Upper(subKey);
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
  if (key != HKEY_LOCAL_MACHINE || !subKey) return ERROR_INVALID_PARAMETER;
  std::string upper = Upper(subKey);
  if (!m_keys.count(upper)) return ERROR_FILE_NOT_FOUND;
  // NT refuses to delete a key that has subkeys.
  for (const auto& entry : m_keys)
    if (entry.first.compare(0, upper.size() + 1, upper + "\\") == 0) return ERROR_ACCESS_DENIED;
  m_keys.erase(upper);
  return ERROR_SUCCESS;
}
