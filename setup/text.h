// Text helpers for narrow strings in the ANSI code page. A double-byte
// character (lead byte + trail byte) always counts as one character: a trail
// byte equal to "\" or to a letter is never a separator or a letter.
#ifndef SETUP_TEXT_H
#define SETUP_TEXT_H

#include <stdarg.h>
#include <stddef.h>

#include "setup/path_string.h"

// Bytes taken by the character at `text` (1 or 2; 1 at a lone lead byte).
size_t CharLength(const char* text);

// The last occurrence of the single-byte character `c`, or null.
const char* FindLastChar(const char* text, char c);

// Whether `part` occurs in `text` starting on a character boundary.
bool ContainsText(const char* text, const char* part);

// Whether `name` itself matches `pattern`, where "*" stands for any run of
// characters and letters match without regard to case.
bool MatchesPattern(const char* name, const char* pattern);

// Whether two texts are the same, ASCII letters without regard to case.
bool SameText(const char* left, const char* right);

// Letter case of the ASCII letters only; double-byte characters stay as they are.
void MakeLower(CPathString& text);
void MakeUpper(CPathString& text);

// `format` with its first "%s" replaced by `value`; no other directive exists.
void FormatText(CPathString& out, const char* format, const char* value);

// `format` filled into `buffer` of `size` bytes, cut where it is full and
// always terminated; returns the characters written. Conversions: %s (a
// precision caps its length), %d, %u, %X; a width, padded with blanks or,
// after a 0 flag, with zeros for numbers; %% for a percent sign.
int FormatList(char* buffer, size_t size, const char* format, va_list arguments);

// FormatList into a buffer of kFormatSize bytes.
const size_t kFormatSize = 1024;
int FormatInto(char* buffer, const char* format, ...);

// Bounded copy and append into a fixed field of `size` bytes. The field stays
// NUL-terminated and never splits a double-byte character. They return false
// when the text did not fit whole (the field then holds the part that fits).
bool CopyText(char* field, size_t size, const char* text);
bool AppendText(char* field, size_t size, const char* text);

#endif  // SETUP_TEXT_H
