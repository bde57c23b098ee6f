// percent_decode, utf8_to_ansi and ansi_to_utf8 over arbitrary bytes.
#include <array>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "text/text.h"

namespace {

using namespace korvani;
using korvani_fuzz::up_to_zero;

// Strictly well-formed UTF-8: no overlong forms, no surrogates, nothing
// above U+10FFFF.
bool valid_utf8(std::string_view s, bool& holds_unmapped) {
  holds_unmapped = false;
  for (std::size_t i = 0; i < s.size();) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t need = 0;
    std::uint32_t cp = 0;
    if (b0 < 0x80) {
      ++i;
      continue;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      need = 1;
      cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      need = 2;
      cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      need = 3;
      cp = b0 & 0x07;
    } else {
      return false;
    }
    if (i + need >= s.size()) return false;
    for (std::size_t k = 1; k <= need; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if ((need == 2 && cp < 0x800) || (need == 3 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    // The Private Use Area points that the code page holds elsewhere since
    // its 2005 revision: the converter gives "?" for them.
    if ((cp >= 0xE78D && cp <= 0xE796) || cp == 0xE816 || cp == 0xE817 || cp == 0xE818 || cp == 0xE81E ||
        cp == 0xE826 || cp == 0xE82B || cp == 0xE82C || cp == 0xE831 || cp == 0xE832 || cp == 0xE83B ||
        cp == 0xE843 || cp == 0xE854 || cp == 0xE855 || cp == 0xE864) {
      holds_unmapped = true;
    }
    i += need + 1;
  }
  return true;
}

// The ASCII characters of a code-page text, in order, "?" left out. A byte
// below 0x80 after a lead byte is part of that character.
std::string codepage_ascii(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      if (b != '?') out.push_back(static_cast<char>(b));
      ++i;
    } else if (b >= 0x81 && b <= 0xFE && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '9') {
      i += 4;
    } else {
      i += 2;
    }
  }
  return out;
}

// In UTF-8 every byte below 0x80 is a character of its own.
std::string utf8_ascii(std::string_view s) {
  std::string out;
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x80 && c != '?') out.push_back(c);
  return out;
}

std::array<int, 128> ascii_counts(std::string_view s) {
  std::array<int, 128> n{};
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x80) ++n[static_cast<unsigned char>(c)];
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = korvani_fuzz::bytes_of(data, size);
  const std::string_view text = up_to_zero(input);

  const Text ansi = utf8_to_ansi(input);
  const std::string utf8 = ansi_to_utf8(input);
  const Text decoded = percent_decode(input);
  for (const std::string* out : {&ansi, &utf8, &decoded}) FUZZ_CHECK(out->find('\0') == std::string::npos);

  // Malformed UTF-8 becomes "?", never an ASCII character that was not
  // there, and never swallows one that was.
  FUZZ_CHECK(codepage_ascii(ansi) == utf8_ascii(text));
  // From the code page, ASCII bytes may be the second byte of a character,
  // so only their number bounds what comes out.
  {
    const auto in = ascii_counts(text);
    const auto out = ascii_counts(utf8);
    for (int c = 1; c < 128; ++c)
      if (c != '?') FUZZ_CHECK(out[c] <= in[c]);
  }

  // What the conversion made is a code-page text that survives the way back.
  FUZZ_CHECK(utf8_to_ansi(ansi_to_utf8(ansi)) == ansi);

  bool holds_unmapped = false;
  if (valid_utf8(text, holds_unmapped) && !holds_unmapped) {
    FUZZ_CHECK(ansi_to_utf8(ansi) == text);
  }

  // Percent-coding every byte and decoding it again gives the bytes
  // themselves, converted; a text without "%" is only converted.
  FUZZ_CHECK(percent_decode(url_encode(input)) == ansi);
  if (text.find('%') == std::string_view::npos) FUZZ_CHECK(decoded == ansi);
  FUZZ_CHECK(text_byte_length(input) == static_cast<int>(text.size()));
  return 0;
}
