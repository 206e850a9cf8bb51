// The simulated machine's setup library and its OEM INF store.
#include "platform/sim/sim_internal.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <vector>

using sim::Number;
using sim::Text;

namespace {

const uintptr_t kSetupApiModule = 0x5e700000;
const uintptr_t kNewdevModule = 0x5e800000;

BOOL WINAPI SetupCopyOEMInfEntryPoint(PCSTR, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR*) {
  // The setup logic reaches the OEM store through PlatformLayer::SetupCopyOEMInfA.
  return FALSE;
}

// An INF as the setup API reads it: sections (names without regard to case,
// a section given twice is one), lines with an optional key and their
// comma-separated fields; blanks around each dropped, comments from an
// unquoted ";", quotes taken off, %name% replaced from [Strings] (left as it
// is where [Strings] has no such name); a file that begins with the UTF-16
// byte-order mark is read as UTF-16 (ASCII here).
struct InfLine {
  bool hasKey = false;
  std::string key;
  std::vector<std::string> fields;  // the values after "=", or the whole line
};
struct InfSection {
  std::string name;  // in capitals
  std::vector<InfLine> lines;
};
using Inf = std::vector<InfSection>;

std::string UpperAscii(std::string word) {
  for (char& c : word) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return word;
}

std::string Trim(const std::string& word) {
  size_t first = word.find_first_not_of(" \t"), last = word.find_last_not_of(" \t");
  return first == std::string::npos ? std::string() : word.substr(first, last - first + 1);
}

// Splits at unquoted commas; each part trimmed, its quotes taken off.
std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> fields;
  std::string part;
  bool quoted = false;
  auto finish = [&]() {
    std::string trimmed = Trim(part), plain;
    for (char c : trimmed)
      if (c != '"') plain += c;
    fields.push_back(plain);
    part.clear();
  };
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      finish();
      continue;
    }
    part += c;
  }
  finish();
  return fields;
}

std::string Substitute(const std::string& text, const std::map<std::string, std::string>& strings) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    size_t open = text.find('%', at);
    size_t close = open == std::string::npos ? open : text.find('%', open + 1);
    if (close == std::string::npos) {
      out += text.substr(at);
      break;
    }
    out += text.substr(at, open - at);
    std::string name = text.substr(open + 1, close - open - 1);
    auto found = strings.find(UpperAscii(name));
    out += found != strings.end() ? found->second : "%" + name + "%";
    at = close + 1;
  }
  return out;
}

Inf ParseInf(std::string text) {
  if (text.compare(0, 2, "\xFF\xFE") == 0) {
    std::string narrow;
    for (size_t i = 2; i + 1 < text.size(); i += 2) narrow += text[i];
    text = narrow;
  }
  Inf inf;
  InfSection* current = nullptr;
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
    kept = Trim(kept);
    if (kept.empty()) continue;
    if (kept[0] == '[' && kept.back() == ']') {
      std::string name = UpperAscii(Trim(kept.substr(1, kept.size() - 2)));
      current = nullptr;
      for (InfSection& section : inf)
        if (section.name == name) current = &section;
      if (!current) {
        inf.push_back({name, {}});
        current = &inf.back();
      }
      continue;
    }
    if (!current) continue;
    InfLine parsed;
    size_t equals = std::string::npos;
    quoted = false;
    for (size_t i = 0; i < kept.size() && equals == std::string::npos; ++i) {
      if (kept[i] == '"') quoted = !quoted;
      if (kept[i] == '=' && !quoted) equals = i;
    }
    if (equals != std::string::npos) {
      parsed.hasKey = true;
      parsed.key = Fields(kept.substr(0, equals))[0];
      parsed.fields = Fields(kept.substr(equals + 1));
    } else {
      parsed.fields = Fields(kept);
    }
    current->lines.push_back(parsed);
  }
  std::map<std::string, std::string> strings;
  for (const InfSection& section : inf)
    if (section.name == "STRINGS")
      for (const InfLine& line : section.lines)
        if (line.hasKey && !line.fields.empty()) strings[UpperAscii(line.key)] = line.fields[0];
  for (InfSection& section : inf) {
    if (section.name == "STRINGS") continue;
    for (InfLine& line : section.lines) {
      line.key = Substitute(line.key, strings);
      for (std::string& field : line.fields) field = Substitute(field, strings);
    }
  }
  return inf;
}

const InfSection* SectionOf(const Inf& inf, const std::string& name) {
  for (const InfSection& section : inf)
    if (section.name == UpperAscii(name)) return &section;
  return nullptr;
}

// The values of the first line with `key` in `section`, joined as
// SetupGetLineText gives them.
bool InfValue(const std::string& text, const std::string& section, const std::string& key,
              std::string* value) {
  Inf inf = ParseInf(text);
  const InfSection* found = SectionOf(inf, section);
  if (!found) return false;
  for (const InfLine& line : found->lines) {
    if (!line.hasKey || UpperAscii(line.key) != UpperAscii(key)) continue;
    value->clear();
    for (size_t i = 0; i < line.fields.size(); ++i) *value += (i ? "," : "") + line.fields[i];
    return true;
  }
  return false;
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
  if (file || !name) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  if (IsNewdevLibrary(name)) {
    m_bNewdevLoaded = true;
    return reinterpret_cast<HMODULE>(kNewdevModule);
  }
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
  if (!FolderExists(m_strWindowsDir + "\\Inf")) return finish(Fail(ERROR_PATH_NOT_FOUND));
  bool existed = false;
  std::string name = Publish(Resolve(source), &existed);
  if (!give(name)) return finish(FALSE);
  // The same package is already in the store.
  if (existed && (copyStyle & SP_COPY_NOOVERWRITE)) return finish(Fail(ERROR_FILE_EXISTS));
  return finish(TRUE);
}

std::string CSimMachine::StoreCatalog(const std::string& published) const {
  std::string base = published.substr(0, published.rfind('.'));
  return SystemDir() + "\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\" + base + ".cat";
}

// A package goes into the store as oemN.inf with its .pnf, and its catalog
// into the catalog database under the same name; one whose INF and catalog
// are there already keeps its name.
std::string CSimMachine::Publish(const std::string& infPath, bool* existed) {
  const Node* inf = NodeAt(infPath);
  std::string catalog = CatalogFor(inf->content);
  std::string catalogBytes =
      catalog.empty() ? std::string() : FileContent(ParentOf(infPath) + "\\" + catalog);
  std::string store = m_strWindowsDir + "\\Inf";
  for (const std::string& name : FilesBelow(store)) {
    std::string published = NameOf(name);
    std::string upper = Upper(published);
    if (upper.size() < 8 || upper.compare(0, 3, "OEM") != 0 ||
        upper.compare(upper.size() - 4, 4, ".INF") != 0)
      continue;
    bool sameCatalog = catalog.empty() ? !FileExists(StoreCatalog(published))
                                       : FileContent(StoreCatalog(published)) == catalogBytes &&
                                             FileExists(StoreCatalog(published));
    if (FileContent(name) == inf->content && sameCatalog) {
      *existed = true;
      return published;
    }
  }
  std::string name;
  do {
    name = "oem" + Number(m_nPublished++) + ".inf";
  } while (NodeAt(store + "\\" + name));
  std::string content = inf->content;
  MakeNode(store + "\\" + name, false).content = content;
  MakeNode(store + "\\" + name.substr(0, name.size() - 4) + ".pnf", false).content =
      "precompiled " + name;
  if (!catalog.empty()) AddFile(StoreCatalog(name), catalogBytes);
  *existed = false;
  return name;
}

// XP on. A package that a device uses, present or not, stays unless forced;
// the INF goes with its .pnf and catalog.
BOOL CSimMachine::SetupUninstallOEMInfA(LPCSTR infFileName, DWORD flags, void*) {
  Record("SetupUninstallOEMInfA(" + Text(infFileName) + ", " + Number(flags) + ")");
  bool exists = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                (m_version.dwMajorVersion > 5 ||
                 (m_version.dwMajorVersion == 5 && m_version.dwMinorVersion >= 1));
  if (!exists || !m_bSetupLibraryLoaded) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  std::string name = infFileName ? infFileName : "";
  if (name.empty() || name.find('\\') != std::string::npos) return Fail(ERROR_INVALID_PARAMETER);
  std::string path = m_strWindowsDir + "\\Inf\\" + name;
  if (!FileExists(path)) return Fail(ERROR_FILE_NOT_FOUND);
  if (m_nUninstallRefusal) return Fail(m_nUninstallRefusal);
  if (!(flags & 1 /* SUOI_FORCEDELETE */))
    for (const Device& device : m_devices)
      if (Upper(device.driver) == Upper(name)) return Fail(ERROR_INF_IN_USE_BY_DEVICES);
  EraseNode(Resolve(path));
  EraseNode(Resolve(path.substr(0, path.size() - 4) + ".pnf"));
  EraseNode(Resolve(StoreCatalog(name)));
  return TRUE;
}

// ---------------------------------------------------------------- INF lines

bool CSimMachine::InfLineAt(const INFCONTEXT* context, std::vector<std::string>* fields,
                            bool* hasKey) const {
  if (!context) return false;
  auto it = m_infs.find(reinterpret_cast<uintptr_t>(context->Inf));
  if (it == m_infs.end()) return false;
  Inf inf = ParseInf(it->second);
  if (context->Section >= inf.size() || context->Line >= inf[context->Section].lines.size())
    return false;
  const InfLine& line = inf[context->Section].lines[context->Line];
  fields->assign(1, line.key);
  fields->insert(fields->end(), line.fields.begin(), line.fields.end());
  *hasKey = line.hasKey;
  return true;
}

// A null key: the section's first line.
BOOL CSimMachine::SetupFindFirstLineA(HINF handle, LPCSTR section, LPCSTR key,
                                      INFCONTEXT* context) {
  Record("SetupFindFirstLineA(" + Text(section) + ", " + Text(key) + ")");
  auto it = m_infs.find(reinterpret_cast<uintptr_t>(handle));
  if (it == m_infs.end() || !section || !context) return Fail(ERROR_INVALID_PARAMETER);
  Inf inf = ParseInf(it->second);
  for (UINT s = 0; s < inf.size(); ++s) {
    if (inf[s].name != UpperAscii(section)) continue;
    for (UINT l = 0; l < inf[s].lines.size(); ++l) {
      const InfLine& line = inf[s].lines[l];
      if (key && (!line.hasKey || UpperAscii(line.key) != UpperAscii(key))) continue;
      *context = INFCONTEXT{handle, handle, s, l};
      return TRUE;
    }
    return Fail(ERROR_LINE_NOT_FOUND);
  }
  return Fail(ERROR_SECTION_NOT_FOUND);
}

BOOL CSimMachine::SetupFindNextLine(INFCONTEXT* context, INFCONTEXT* next) {
  Record("SetupFindNextLine()");
  std::vector<std::string> fields;
  bool hasKey = false;
  if (!context || !next || !InfLineAt(context, &fields, &hasKey))
    return Fail(ERROR_INVALID_PARAMETER);
  INFCONTEXT candidate = *context;
  ++candidate.Line;
  if (!InfLineAt(&candidate, &fields, &hasKey)) return Fail(ERROR_LINE_NOT_FOUND);
  *next = candidate;
  return TRUE;
}

// Field 0 is the key, where the line has one.
BOOL CSimMachine::SetupGetStringFieldA(INFCONTEXT* context, DWORD field, LPSTR buffer, DWORD size,
                                       LPDWORD requiredSize) {
  Record("SetupGetStringFieldA(" + Number(field) + ")");
  std::vector<std::string> fields;
  bool hasKey = false;
  if (!InfLineAt(context, &fields, &hasKey) || field >= fields.size() || (field == 0 && !hasKey))
    return Fail(ERROR_INVALID_PARAMETER);
  const std::string& value = fields[field];
  if (requiredSize) *requiredSize = static_cast<DWORD>(value.size() + 1);
  if (!buffer) return TRUE;
  if (size < value.size() + 1) return Fail(ERROR_INSUFFICIENT_BUFFER);
  memcpy(buffer, value.c_str(), value.size() + 1);
  return TRUE;
}

// The models section Windows takes from a [Manufacturer] line: the
// decoration (fields 2 and on) that applies to this Windows with the highest
// version, then the most parts given; where none applies, the undecorated
// section, which x86 Windows alone takes; Windows 2000 knows no decorations.
std::string CSimMachine::ActualModelsSection(const std::vector<std::string>& fields) const {
  if (fields.size() < 2 || fields[1].empty()) return std::string();
  bool nt = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT;
  bool decorations = nt && (m_version.dwMajorVersion > 5 ||
                            (m_version.dwMajorVersion == 5 && m_version.dwMinorVersion >= 1));
  std::string native = m_nNativeMachine == IMAGE_FILE_MACHINE_AMD64   ? "AMD64"
                       : m_nNativeMachine == IMAGE_FILE_MACHINE_ARM64 ? "ARM64"
                       : m_nNativeMachine == IMAGE_FILE_MACHINE_IA64  ? "IA64"
                                                                      : "X86";
  std::string best;
  std::vector<uint64_t> bestScore;
  for (size_t i = 2; decorations && i < fields.size(); ++i) {
    std::string upper = UpperAscii(fields[i]);
    if (upper.compare(0, 2, "NT") != 0) continue;
    std::vector<std::string> parts;
    for (size_t at = 2;;) {
      size_t dot = upper.find('.', at);
      parts.push_back(upper.substr(at, dot == std::string::npos ? dot : dot - at));
      if (dot == std::string::npos) break;
      at = dot + 1;
    }
    if (!parts[0].empty() && parts[0] != native) continue;
    uint64_t number[5] = {0, 0, 0, 0, 0};
    bool given[5] = {false, false, false, false, false};
    for (size_t p = 1; p < parts.size() && p <= 5; ++p) {
      if (parts[p].empty()) continue;
      given[p - 1] = true;
      number[p - 1] = strtoull(parts[p].c_str(), nullptr, 0);
    }
    uint64_t version = (number[0] << 32) | number[1];
    uint64_t own = (static_cast<uint64_t>(m_version.dwMajorVersion) << 32) | m_version.dwMinorVersion;
    if ((given[0] || given[1]) && version > own) continue;
    if (given[2] && number[2] != m_nProductType) continue;
    if (given[3] && (number[3] & ~static_cast<uint64_t>(m_nSuiteMask))) continue;
    // A build counts only within the decoration's own version.
    if (given[4] && version == own && number[4] > m_version.dwBuildNumber) continue;
    std::vector<uint64_t> score = {version, given[4] && version == own ? number[4] : 0,
                                   static_cast<uint64_t>(given[2] + given[3]),
                                   static_cast<uint64_t>(!parts[0].empty())};
    if (best.empty() || score > bestScore) {
      best = fields[1] + "." + fields[i];
      bestScore = score;
    }
  }
  if (!best.empty()) return best;
  return native == "X86" || !decorations ? fields[1] : std::string();
}

BOOL CSimMachine::SetupDiGetActualModelsSectionA(INFCONTEXT* context, void* alternatePlatform,
                                                 LPSTR buffer, DWORD size, LPDWORD requiredSize,
                                                 void* reserved) {
  Record("SetupDiGetActualModelsSectionA()");
  // Server 2003 SP1 on: XP x64 and 2003 (5.2), Vista and later.
  bool exists = m_version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                (m_version.dwMajorVersion > 5 ||
                 (m_version.dwMajorVersion == 5 && m_version.dwMinorVersion >= 2));
  if (!exists || !m_bSetupLibraryLoaded || m_missingEntries.count("SetupDiGetActualModelsSectionA"))
    return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  std::vector<std::string> fields;
  bool hasKey = false;
  if (alternatePlatform || reserved || !InfLineAt(context, &fields, &hasKey))
    return Fail(ERROR_INVALID_PARAMETER);
  std::string section = ActualModelsSection(fields);
  if (section.empty()) return Fail(ERROR_NOT_FOUND);
  if (requiredSize) *requiredSize = static_cast<DWORD>(section.size() + 1);
  if (!buffer) return TRUE;
  if (size < section.size() + 1) return Fail(ERROR_INSUFFICIENT_BUFFER);
  memcpy(buffer, section.c_str(), section.size() + 1);
  return TRUE;
}
