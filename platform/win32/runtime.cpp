// setup.exe links no C runtime DLL: Windows 95 retail ships no msvcrt.dll, and
// the few runtime pieces the program needs are smaller written here on top of
// kernel32. This file is the program's entry point and that runtime.
#include <stddef.h>

#include "platform/platform_layer.h"
#include "setup/win_main.h"

void PreparePlatform();  // win32_platform.cpp

extern "C" {

typedef void (*StaticFunction)(void);

// Laid out by the linker: a -1 (or count) word, the entries, a zero word.
extern StaticFunction __CTOR_LIST__[];

// Static destructors, registered by the compiler through atexit.
static StaticFunction s_exitFunctions[32];
static unsigned s_exitCount;

int atexit(StaticFunction function) {
  if (s_exitCount == sizeof(s_exitFunctions) / sizeof(s_exitFunctions[0])) return -1;
  s_exitFunctions[s_exitCount++] = function;
  return 0;
}

// An out-of-memory or a broken invariant ends the process with the failure
// code, never with a result that could read as success.
void abort(void) { ::ExitProcess(static_cast<UINT>(-1)); }

void __cxa_pure_virtual(void) { abort(); }

void* malloc(size_t size) { return ::HeapAlloc(::GetProcessHeap(), 0, size ? size : 1); }

void* realloc(void* block, size_t size) {
  if (!block) return malloc(size);
  return ::HeapReAlloc(::GetProcessHeap(), 0, block, size ? size : 1);
}

void free(void* block) {
  if (block) ::HeapFree(::GetProcessHeap(), 0, block);
}

// The compiler may emit calls to these for copies and clears of structures.
void* memcpy(void* destination, const void* source, size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  while (count--) *d++ = *s++;
  return destination;
}

void* memmove(void* destination, const void* source, size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  if (d < s) {
    while (count--) *d++ = *s++;
  } else {
    while (count--) d[count] = s[count];
  }
  return destination;
}

void* memset(void* destination, int value, size_t count) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  while (count--) *d++ = static_cast<unsigned char>(value);
  return destination;
}

int memcmp(const void* left, const void* right, size_t count) {
  const unsigned char* l = static_cast<const unsigned char*>(left);
  const unsigned char* r = static_cast<const unsigned char*>(right);
  for (; count; --count, ++l, ++r)
    if (*l != *r) return *l < *r ? -1 : 1;
  return 0;
}

size_t strlen(const char* text) {
  const char* end = text;
  while (*end) ++end;
  return static_cast<size_t>(end - text);
}

size_t strnlen(const char* text, size_t limit) {
  size_t length = 0;
  while (length < limit && text[length]) ++length;
  return length;
}

int strncmp(const char* left, const char* right, size_t count) {
  for (; count; --count, ++left, ++right) {
    unsigned char l = static_cast<unsigned char>(*left);
    unsigned char r = static_cast<unsigned char>(*right);
    if (l != r) return l < r ? -1 : 1;
    if (!l) break;
  }
  return 0;
}

char* strstr(const char* text, const char* part) {
  size_t length = strlen(part);
  for (; *text; ++text)
    if (strncmp(text, part, length) == 0) return const_cast<char*>(text);
  return length ? nullptr : const_cast<char*>(text);
}

#if defined(__aarch64__)
// A frame over a page calls this before it moves the stack pointer (x15: the
// frame in units of 16 bytes): it touches each page downwards, so that Windows
// grows the stack one guard page at a time. It may change x16 and x17 only.
// Building with -mno-stack-arg-probe instead would step over the guard page.
__asm__(
    ".section .text$__chkstk,\"xr\"\n"
    ".globl __chkstk\n"
    ".p2align 2\n"
    "__chkstk:\n"
    "  lsl x16, x15, #4\n"
    "  mov x17, sp\n"
    "1:\n"
    "  sub x17, x17, #4096\n"
    "  ldr xzr, [x17]\n"
    "  subs x16, x16, #4096\n"
    "  b.gt 1b\n"
    "  ret\n");
#endif

static void RunStaticConstructors() {
  unsigned count = 0;
  while (__CTOR_LIST__[count + 1]) ++count;
  // Last registered first, as the GNU runtime does.
  for (unsigned i = count; i >= 1; --i) __CTOR_LIST__[i]();
}

static void RunStaticDestructors() {
  while (s_exitCount) s_exitFunctions[--s_exitCount]();
}

void WinMainCRTStartup(void) {
  PreparePlatform();
  RunStaticConstructors();
  LPSTR arguments = SkipProgramName(::GetCommandLineA());
  int exitCode = WinMain(::GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWDEFAULT);
  RunStaticDestructors();
  ::ExitProcess(static_cast<UINT>(exitCode));
}

}  // extern "C"

void operator delete(void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }
