// The simulated machine's setup library and its OEM INF store.
#include "platform/sim/sim_internal.h"

#include <ctype.h>
#include <string.h>

using sim::Number;
using sim::Text;

namespace {

const uintptr_t kSetupApiModule = 0x5e700000;

BOOL WINAPI SetupCopyOEMInfEntryPoint(PCSTR, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR*) {
  // The setup logic reaches the OEM store through PlatformLayer::SetupCopyOEMInfA.
  return FALSE;
}

// The value of `key` in `section` of an INF's text as the setup API reads it:
// names without regard to case, blanks around them dropped, comments from an
// unquoted ";", quotes taken off, %name% replaced from [Strings]; a file that
// begins with the UTF-16 byte-order mark is read as UTF-16 (ASCII here).
bool InfValue(std::string text, const std::string& section, const std::string& key,
              std::string* value) {
  if (text.compare(0, 2, "\xFF\xFE") == 0) {
    std::string narrow;
    for (size_t i = 2; i + 1 < text.size(); i += 2) narrow += text[i];
    text = narrow;
  }
  auto upper = [](std::string word) {
    for (char& c : word) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return word;
  };
  auto trim = [](const std::string& word) {
    size_t first = word.find_first_not_of(" \t"), last = word.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : word.substr(first, last - first + 1);
  };
  std::map<std::string, std::map<std::string, std::string>> sections;
  std::string current;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    std::string kept;
    bool quoted = false;
    for (char c : line) {
      if (c == '"') quoted = !quoted;
      if ((c == ';' && !quoted) || c == '\r') break;
      kept += c;
    }
    kept = trim(kept);
    if (kept.size() > 1 && kept[0] == '[' && kept.back() == ']') {
      current = upper(kept.substr(1, kept.size() - 2));
      continue;
    }
    size_t equals = kept.find('=');
    if (equals == std::string::npos) continue;
    std::string raw = trim(kept.substr(equals + 1)), plain;
    for (char c : raw)
      if (c != '"') plain += c;
    sections[current].emplace(upper(trim(kept.substr(0, equals))), plain);
  }
  auto found = sections.find(upper(section));
  if (found == sections.end()) return false;
  auto line = found->second.find(upper(key));
  if (line == found->second.end()) return false;
  std::string result = line->second;
  for (size_t open; (open = result.find('%')) != std::string::npos;) {
    size_t close = result.find('%', open + 1);
    if (close == std::string::npos) break;
    const auto& strings = sections[upper("Strings")];
    auto replacement = strings.find(upper(result.substr(open + 1, close - open - 1)));
    result.replace(open, close - open + 1,
                   replacement == strings.end() ? std::string() : replacement->second);
  }
  *value = result;
  return true;
}

}  // namespace

std::string CSimMachine::CatalogFor(const std::string& infText) const {
  std::string decorated = m_nNativeMachine == IMAGE_FILE_MACHINE_AMD64   ? "CatalogFile.NTamd64"
                          : m_nNativeMachine == IMAGE_FILE_MACHINE_ARM64 ? "CatalogFile.NTarm64"
                                                                         : "CatalogFile.NTx86";
  bool nt = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT;
  std::string catalog;
  for (const char* key : {decorated.c_str(), "CatalogFile.NT", "CatalogFile"}) {
    if (!nt && key != std::string("CatalogFile")) continue;
    if (InfValue(infText, "Version", key, &catalog)) return catalog;
  }
  return std::string();
}

HINF CSimMachine::SetupOpenInfFileA(LPCSTR fileName, LPCSTR, DWORD infStyle, UINT*) {
  Record("SetupOpenInfFileA(" + Text(fileName) + ", " + Number(infStyle) + ")");
  if (!m_bSetupLibraryLoaded) return Fail(ERROR_CALL_NOT_IMPLEMENTED), INVALID_HANDLE_VALUE;
  // A name without a path is looked for in the Windows inf folder.
  std::string path = fileName ? fileName : "";
  if (path.find('\\') == std::string::npos) path = m_strWindowsDir + "\\Inf\\" + path;
  const Node* node = NodeAt(path);
  if (!node || node->folder) return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
  uintptr_t handle = m_nNextInf++;
  m_infs[handle] = node->content;
  return reinterpret_cast<HINF>(handle);
}

BOOL CSimMachine::SetupGetLineTextA(void* context, HINF inf, LPCSTR section, LPCSTR key,
                                    LPSTR buffer, DWORD size, LPDWORD requiredSize) {
  Record("SetupGetLineTextA(" + Text(section) + ", " + Text(key) + ")");
  auto it = m_infs.find(reinterpret_cast<uintptr_t>(inf));
  if (context || it == m_infs.end() || !section || !key) return Fail(ERROR_INVALID_PARAMETER);
  std::string value;
  if (!InfValue(it->second, section, key, &value)) return Fail(ERROR_LINE_NOT_FOUND);
  if (requiredSize) *requiredSize = static_cast<DWORD>(value.size() + 1);
  if (!buffer) return TRUE;
  if (size < value.size() + 1) return Fail(ERROR_INSUFFICIENT_BUFFER);
  memcpy(buffer, value.c_str(), value.size() + 1);
  return TRUE;
}

void CSimMachine::SetupCloseInfFile(HINF inf) {
  Record("SetupCloseInfFile()");
  m_infs.erase(reinterpret_cast<uintptr_t>(inf));
}

PFN_SETUPCOPYOEMINFA CSimMachine::SetupCopyOEMInfEntry() { return &SetupCopyOEMInfEntryPoint; }

// The setup library, by its name or at its place in the system folder.
bool CSimMachine::IsSetupLibrary(const std::string& name) const {
  return !m_missingLibraries.count("SETUPAPI.DLL") &&
         (Upper(name) == "SETUPAPI.DLL" || Upper(name) == Upper(SystemDir() + "\\setupapi.dll"));
}

HMODULE CSimMachine::LoadLibraryA(LPCSTR name) {
  Record("LoadLibraryA(" + Text(name) + ")");
  if (!IsSetupLibrary(name)) return Fail(ERROR_MOD_NOT_FOUND), nullptr;
  m_bSetupLibraryLoaded = true;
  return reinterpret_cast<HMODULE>(kSetupApiModule);
}

HMODULE CSimMachine::LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  Record("LoadLibraryExA(" + Text(name) + ", " + (file ? "file" : "null") + ", " + Number(flags) +
         ")");
  if (file) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  if (!IsSetupLibrary(name)) return Fail(ERROR_MOD_NOT_FOUND), nullptr;
  m_bSetupLibraryLoaded = true;
  return reinterpret_cast<HMODULE>(kSetupApiModule);
}

FARPROC CSimMachine::GetProcAddress(HMODULE module, LPCSTR name) {
  Record("GetProcAddress(" + Text(name) + ")");
  if (reinterpret_cast<uintptr_t>(module) != kSetupApiModule) return Fail(ERROR_INVALID_HANDLE), nullptr;
  if (strcmp(name, "SetupCopyOEMInfA") != 0 || m_missingEntries.count(name))
    return Fail(ERROR_PROC_NOT_FOUND), nullptr;
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SetupCopyOEMInfEntryPoint));
}

BOOL CSimMachine::SetupCopyOEMInfA(PFN_SETUPCOPYOEMINFA entry, PCSTR source, PCSTR mediaLocation,
                                   DWORD mediaType, DWORD copyStyle, PSTR destination,
                                   DWORD destinationSize, PDWORD requiredSize,
                                   PSTR* component) {
  Record("SetupCopyOEMInfA(" + Text(source) + ", " + Text(mediaLocation) + ", " +
         Number(mediaType) + ", " + Number(copyStyle) + ")");
  OemInfCall call{source ? source : "", mediaLocation == nullptr, mediaType, copyStyle,
                  destination == nullptr, destinationSize, requiredSize == nullptr,
                  component == nullptr, FALSE, ""};
  auto finish = [&](BOOL result) {
    call.result = result;
    m_oemInfCalls.push_back(call);
    return result;
  };
  // The name in the store, given back for a new copy and for the one already
  // there alike; a buffer too small takes nothing and fails the call.
  auto give = [&](const std::string& name) {
    call.published = name;
    std::string path = m_strWindowsDir + "\\Inf\\" + name;
    if (requiredSize) *requiredSize = static_cast<DWORD>(path.size() + 1);
    if (!destination) return true;
    if (destinationSize < path.size() + 1) return Fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(destination, path.c_str(), path.size() + 1);
    if (component) *component = destination + path.size() - name.size();
    return true;
  };
  if (entry != &SetupCopyOEMInfEntryPoint) return finish(Fail(ERROR_INVALID_FUNCTION));
  if (m_nOemInfRefusal) return finish(Fail(m_nOemInfRefusal));
  if (!source || !sim::IsAbsolute(source)) return finish(Fail(ERROR_FILE_NOT_FOUND));
  if (TooLong(source)) return finish(Fail(ERROR_FILENAME_EXCED_RANGE));
  const Node* inf = NodeAt(source);
  if (!inf || inf->folder) return finish(Fail(ERROR_FILE_NOT_FOUND));
  // The catalog the INF names for this machine must lie beside it.
  std::string catalog = CatalogFor(inf->content);
  if (!catalog.empty() && !FileExists(ParentOf(Resolve(source)) + "\\" + catalog))
    return finish(Fail(ERROR_FILE_NOT_FOUND));
  std::string store = m_strWindowsDir + "\\Inf";
  if (!FolderExists(store)) return finish(Fail(ERROR_PATH_NOT_FOUND));
  for (const std::string& name : FilesBelow(store)) {
    if (Upper(NameOf(name)).compare(0, 3, "OEM") == 0 && FileContent(name) == inf->content) {
      if (!give(NameOf(name))) return finish(FALSE);
      // The same package is already in the store.
      if (copyStyle & SP_COPY_NOOVERWRITE) return finish(Fail(ERROR_FILE_EXISTS));
      return finish(TRUE);
    }
  }
  std::string name;
  do {
    name = "oem" + Number(m_nPublished++) + ".inf";
  } while (NodeAt(store + "\\" + name));
  if (!give(name)) return finish(FALSE);
  std::string content = inf->content;
  MakeNode(store + "\\" + name, false).content = content;
  return finish(TRUE);
}
