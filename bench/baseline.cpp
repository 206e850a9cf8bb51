// The least a package pre-installer must do, for timing setup.exe against:
// the same enumeration, copies and SetupCopyOEMInfA calls, with no other logic.
#include <windows.h>

typedef BOOL(WINAPI* CopyOemInf)(PCSTR, PCSTR, DWORD, DWORD, PSTR, DWORD, PDWORD, PSTR*);

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char company[MAX_PATH], from[MAX_PATH], to[MAX_PATH];
  GetWindowsDirectoryA(company, MAX_PATH);
  lstrcatA(company, "\\Application Data");
  CreateDirectoryA(company, nullptr);
  lstrcatA(company, "\\Velmoran");
  CreateDirectoryA(company, nullptr);
  CopyOemInf copy = reinterpret_cast<CopyOemInf>(
      reinterpret_cast<void (*)()>(GetProcAddress(LoadLibraryA("setupapi.dll"), "SetupCopyOEMInfA")));
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA("vesk*.inf", &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    *(found.cFileName + lstrlenA(found.cFileName) - 4) = '\0';
    wsprintfA(from, "%s.sys", found.cFileName);
    wsprintfA(to, "%s\\%s.sys", company, found.cFileName);
    CopyFileA(from, to, FALSE);
    wsprintfA(from, "%s.inf", found.cFileName);
    wsprintfA(to, "%s\\%s.inf", company, found.cFileName);
    CopyFileA(from, to, FALSE);
    copy(to, nullptr, 1 /* SPOST_PATH */, 8 /* SP_COPY_NOOVERWRITE */, nullptr, 0, nullptr, nullptr);
  } while (FindNextFileA(find, &found));
  FindClose(find);
  return 0;
}
