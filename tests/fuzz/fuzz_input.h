// Splits a fuzzer's bytes into a flags byte and NUL-separated strings.
#ifndef TESTS_FUZZ_FUZZ_INPUT_H
#define TESTS_FUZZ_FUZZ_INPUT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  uint8_t Flags() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  bool More() const { return m_pos < m_size; }
  // The next string, up to a NUL or the end.
  std::string Next() {
    std::string text;
    while (m_pos < m_size && m_data[m_pos] != 0) text += static_cast<char>(m_data[m_pos++]);
    if (m_pos < m_size) ++m_pos;
    return text;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

// A broken property is a finding: say which and stop.
#define FUZZ_CHECK(condition)                                               \
  do {                                                                      \
    if (!(condition)) {                                                     \
      fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, \
              __LINE__);                                                    \
      abort();                                                              \
    }                                                                       \
  } while (0)

#endif  // TESTS_FUZZ_FUZZ_INPUT_H
