// The simulated machine's setup library and its OEM INF store.
#include "platform/sim/sim_internal.h"

#include <string.h>

using sim::Number;
using sim::Text;

namespace {

const uintptr_t kSetupApiModule = 0x5e700000;

BOOL WINAPI SetupCopyOEMInfEntryPoint(PCSTR, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR*) {
  // The setup logic reaches the OEM store through PlatformLayer::SetupCopyOEMInfA.
  return FALSE;
}

}  // namespace

PFN_SETUPCOPYOEMINFA CSimMachine::SetupCopyOEMInfEntry() { return &SetupCopyOEMInfEntryPoint; }

// The setup library, by its name or at its place in the system folder.
bool CSimMachine::IsSetupLibrary(const std::string& name) const {
  return !m_missingLibraries.count("SETUPAPI.DLL") &&
         (Upper(name) == "SETUPAPI.DLL" || Upper(name) == Upper(SystemDir() + "\\setupapi.dll"));
}

HMODULE CSimMachine::LoadLibraryA(LPCSTR name) {
  Record("LoadLibraryA(" + Text(name) + ")");
  if (!IsSetupLibrary(name)) return Fail(ERROR_MOD_NOT_FOUND), nullptr;
  return reinterpret_cast<HMODULE>(kSetupApiModule);
}

HMODULE CSimMachine::LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  Record("LoadLibraryExA(" + Text(name) + ", " + (file ? "file" : "null") + ", " + Number(flags) +
         ")");
  if (file) return Fail(ERROR_INVALID_PARAMETER), nullptr;
  if (!IsSetupLibrary(name)) return Fail(ERROR_MOD_NOT_FOUND), nullptr;
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
