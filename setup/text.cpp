#include "setup/text.h"

#include <stdarg.h>
#include <string.h>

#include "platform/platform_layer.h"

size_t CharLength(const char* text) {
  if (text[0] != '\0' && text[1] != '\0' &&
      GetPlatform().IsDBCSLeadByte(static_cast<unsigned char>(text[0])))
    return 2;
  return 1;
}

const char* FindLastChar(const char* text, char c) {
  const char* found = nullptr;
  for (const char* p = text; *p; p += CharLength(p))
    if (*p == c) found = p;
  return found;
}

bool ContainsText(const char* text, const char* part) {
  size_t partLength = strlen(part);
  for (const char* p = text;; p += CharLength(p)) {
    if (strncmp(p, part, partLength) == 0) return true;
    if (*p == '\0') return false;
  }
}

static char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c ^ 0x20) : c; }

bool MatchesPattern(const char* name, const char* pattern) {
  if (*pattern == '*') {
    for (const char* rest = name;; rest += CharLength(rest)) {
      if (MatchesPattern(rest, pattern + 1)) return true;
      if (*rest == '\0') return false;
    }
  }
  if (*pattern == '\0' || *name == '\0') return *pattern == *name;
  size_t length = CharLength(name);
  if (length == 2)  // a double-byte character matches only itself
    return name[0] == pattern[0] && name[1] == pattern[1] && MatchesPattern(name + 2, pattern + 2);
  return UpperAscii(*name) == UpperAscii(*pattern) && MatchesPattern(name + 1, pattern + 1);
}

bool SameText(const char* left, const char* right) {
  for (;;) {
    size_t length = CharLength(left);
    if (length == 2) {  // a double-byte character is the same only as itself
      if (left[0] != right[0] || left[1] != right[1]) return false;
    } else if (UpperAscii(*left) != UpperAscii(*right)) {
      return false;
    }
    if (!*left) return true;
    left += length;
    right += length;
  }
}

static void ChangeCase(CPathString& text, char from, char to) {
  char* data = text.Data();
  if (!data) return;
  for (char* p = data; *p; p += CharLength(p))
    if (*p >= from && *p <= to) *p = static_cast<char>(*p ^ 0x20);
}

void MakeLower(CPathString& text) { ChangeCase(text, 'A', 'Z'); }
void MakeUpper(CPathString& text) { ChangeCase(text, 'a', 'z'); }

void FormatText(CPathString& out, const char* format, const char* value) {
  const char* directive = strstr(format, "%s");
  if (!directive) {
    out.Assign(format);
    return;
  }
  out.Assign("");
  out.Append(format, static_cast<size_t>(directive - format));
  out.Append(value);
  out.Append(directive + 2);
}

namespace {

// Where FormatList writes: never past `last`, which is kept for the terminator.
struct Output {
  char* next;
  char* last;
  void Put(char c) {
    if (next < last) *next++ = c;
  }
  void Put(const char* text, size_t length, unsigned width, char pad) {
    for (; width > length; --width) Put(pad);
    for (size_t i = 0; i < length; ++i) Put(text[i]);
  }
};

unsigned ReadNumber(const char*& p) {
  unsigned value = 0;
  while (*p >= '0' && *p <= '9') value = value * 10 + static_cast<unsigned>(*p++ - '0');
  return value;
}

// The digits of `value` for %d, %u or %X, written backwards before `end`; a
// minus sign is the caller's, which may put it before padding zeros.
char* NumberText(char* end, unsigned value, char type, bool* negative) {
  *negative = type == 'd' && static_cast<int>(value) < 0;
  if (*negative) value = 0u - value;
  unsigned base = type == 'X' ? 16 : 10;
  do {
    *--end = "0123456789ABCDEF"[value % base];
    value /= base;
  } while (value);
  return end;
}

}  // namespace

// Ours, not user32's wvsprintfA: that one stops at 1,023 characters whatever
// the buffer, and every build formats alike this way.
int FormatList(char* buffer, size_t size, const char* format, va_list arguments) {
  if (size == 0) return 0;
  Output out = {buffer, buffer + size - 1};
  while (*format) {
    if (*format != '%') {
      out.Put(*format++);
      continue;
    }
    bool zeros = *++format == '0';
    unsigned width = ReadNumber(format);
    size_t precision = static_cast<size_t>(-1);
    if (*format == '.') precision = ReadNumber(++format);
    char type = *format;
    if (!type) break;
    ++format;
    char digits[12];
    char* text = digits + sizeof(digits);
    bool negative = false;
    // The caller started the list; clang 14's analyzer loses that when it
    // follows the list from FormatInto into this function.
    if (type == 's') {
      // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
      const char* argument = va_arg(arguments, const char*);
      text = const_cast<char*>(argument ? argument : "(null)");
      zeros = false;
    } else if (type == 'd' || type == 'u' || type == 'X') {
      // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
      text = NumberText(text, va_arg(arguments, unsigned), type, &negative);
      precision = static_cast<size_t>(digits + sizeof(digits) - text);
    } else {
      out.Put(type);  // "%%", or a conversion this program never uses
      continue;
    }
    if (negative && zeros && width) {
      out.Put('-');
      --width;
    } else if (negative) {
      *--text = '-';
      ++precision;
    }
    out.Put(text, strnlen(text, precision), width, zeros ? '0' : ' ');
  }
  *out.next = '\0';
  return static_cast<int>(out.next - buffer);
}

int FormatInto(char* buffer, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int length = FormatList(buffer, kFormatSize, format, arguments);
  va_end(arguments);
  return length;
}

// How many bytes of `text`, at most `room`, end on a character boundary.
static size_t FittingPrefix(const char* text, size_t room, bool* whole) {
  size_t used = 0;
  while (text[used]) {
    size_t step = CharLength(text + used);
    if (used + step > room) {
      *whole = false;
      return used;
    }
    used += step;
  }
  *whole = true;
  return used;
}

bool CopyText(char* field, size_t size, const char* text) {
  if (size == 0) return false;
  field[0] = '\0';
  return AppendText(field, size, text);
}

bool AppendText(char* field, size_t size, const char* text) {
  if (size == 0) return false;
  size_t length = strnlen(field, size - 1);
  bool whole = true;
  size_t count = text ? FittingPrefix(text, size - 1 - length, &whole) : 0;
  if (count) memcpy(field + length, text, count);
  field[length + count] = '\0';
  return whole;
}
