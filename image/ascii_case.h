// Letter case as file names and list keys compare: ASCII letters without
// case, every other byte (UTF-8 and CP932 included) by value.
#pragma once

#include <string_view>

inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// <0, 0 or >0, the bytes taken as unsigned after lowering the letters.
inline int CompareIgnoringCase(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(AsciiLower(a[i]));
    auto y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

inline bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareIgnoringCase(a, b) == 0;
}

inline bool EndsWithIgnoringCase(std::string_view text,
                                 std::string_view ending) {
  return text.size() >= ending.size() &&
         EqualIgnoringCase(text.substr(text.size() - ending.size()), ending);
}
