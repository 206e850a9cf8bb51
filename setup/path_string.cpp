#include "setup/path_string.h"

#include <stdlib.h>
#include <string.h>

CPathString& CPathString::operator=(const CPathString& other) {
  if (this != &other) Assign(other.c_str());
  return *this;
}

CPathString::~CPathString() { free(m_pszText); }

void CPathString::Reserve(size_t capacity) {
  if (m_pszText && capacity <= m_nCapacity) return;
  size_t grown = m_nCapacity ? m_nCapacity * 2 : 64;
  if (grown < capacity) grown = capacity;
  char* text = static_cast<char*>(realloc(m_pszText, grown));
  // A path that cannot be held must not turn into a shorter, different path.
  if (!text) abort();
  m_pszText = text;
  m_nCapacity = grown;
}

CPathString& CPathString::Assign(const char* text) {
  if (text && m_pszText && text >= m_pszText && text <= m_pszText + m_nLength) {
    // A part of this string itself: clearing first would lose it.
    size_t count = strlen(text);
    memmove(m_pszText, text, count + 1);
    m_nLength = count;
    return *this;
  }
  m_nLength = 0;
  if (m_pszText) m_pszText[0] = '\0';
  return Append(text);
}

CPathString& CPathString::Append(const char* text) { return Append(text, text ? strlen(text) : 0); }

CPathString& CPathString::Append(const char* text, size_t count) {
  if (count > ((size_t)-1) / 2 - m_nLength) abort();
  // The source may lie in this string's own buffer, which Reserve can move.
  bool inside = m_pszText && text >= m_pszText && text < m_pszText + m_nCapacity;
  size_t offset = inside ? (size_t)(text - m_pszText) : 0;
  Reserve(m_nLength + count + 1);
  if (inside) text = m_pszText + offset;
  if (count) memmove(m_pszText + m_nLength, text, count);
  m_nLength += count;
  m_pszText[m_nLength] = '\0';
  return *this;
}

void CPathString::Truncate(size_t length) {
  if (length >= m_nLength) return;
  m_nLength = length;
  m_pszText[length] = '\0';
}
