#pragma once
// What the fuzz targets share: a check that stops the run with the input
// that broke it, and small facts about texts that the properties lean on.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/text.h"

namespace korvani_fuzz {

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
  std::abort();
}

#define FUZZ_CHECK(cond)                                          \
  do {                                                            \
    if (!(cond)) ::korvani_fuzz::fail(#cond, __FILE__, __LINE__); \
  } while (0)

inline std::string_view bytes_of(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

inline std::string_view up_to_zero(std::string_view s) { return s.substr(0, s.find('\0')); }

inline bool contains(std::string_view haystack, std::string_view part) {
  return haystack.find(part) != std::string_view::npos;
}

// A code-page text that the UTF-8 detour of the regex engine and of the
// converters hands back unchanged: only then can a match be looked for
// byte for byte in the text it came from.
inline bool survives_codepage_round_trip(std::string_view text) {
  return text.find('\0') == std::string_view::npos &&
         korvani::utf8_to_ansi(korvani::ansi_to_utf8(text)) == text;
}

}  // namespace korvani_fuzz
