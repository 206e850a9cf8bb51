// A narrow (ANSI code page) string of variable length that frees itself.
#ifndef SETUP_PATH_STRING_H
#define SETUP_PATH_STRING_H

#include <stddef.h>

class CPathString {
 public:
  CPathString() = default;
  explicit CPathString(const char* text) { Assign(text); }
  CPathString(const CPathString& other) { Assign(other.c_str()); }
  CPathString& operator=(const CPathString& other);
  ~CPathString();

  const char* c_str() const { return m_pszText ? m_pszText : ""; }
  size_t Length() const { return m_nLength; }
  bool IsEmpty() const { return m_nLength == 0; }

  CPathString& Assign(const char* text);
  CPathString& Append(const char* text);
  CPathString& Append(const char* text, size_t count);
  CPathString& Append(const CPathString& other) { return Append(other.c_str(), other.Length()); }
  // Keeps the first `length` bytes.
  void Truncate(size_t length);
  // Writable bytes for in-place changes that keep the length.
  char* Data() { return m_pszText; }

 private:
  void Reserve(size_t capacity);

  char* m_pszText = nullptr;
  size_t m_nLength = 0;
  size_t m_nCapacity = 0;
};

#endif  // SETUP_PATH_STRING_H
