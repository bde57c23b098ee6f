#include "text/text.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/codepage.h"

namespace korvani {
namespace {

constexpr size_t npos = std::string_view::npos;

inline unsigned char byte_at(std::string_view s, size_t i) { return static_cast<unsigned char>(s[i]); }

inline bool is_digit(unsigned char b) { return b >= '0' && b <= '9'; }

inline unsigned char fold(unsigned char b) { return (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + 32) : b; }

inline int hex_value(unsigned char b) {
  if (b >= '0' && b <= '9') return b - '0';
  b = fold(b);
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  return -1;
}

// Bytes of the character that starts at i: one below 0x80, otherwise two,
// or four when a lead byte is followed by a digit byte (the GB18030 shape
// that lets the code page hold characters GBK does not). A character cut
// off by the end of the text ends with it.
inline size_t char_length(std::string_view s, size_t i) {
  const unsigned char b = byte_at(s, i);
  if (b < 0x80) return 1;
  size_t len = 2;
  if (b >= 0x81 && b <= 0xFE && i + 1 < s.size() && is_digit(byte_at(s, i + 1))) len = 4;
  return std::min(len, s.size() - i);
}

// Moves `pos`, a character start, over whole characters until it is no
// longer before `target`. Runs of ASCII go eight bytes at a time: pages are
// mostly markup.
inline size_t advance_to(std::string_view s, size_t pos, size_t target) {
  while (pos < target) {
    if (pos + 8 <= target) {
      std::uint64_t w;
      std::memcpy(&w, s.data() + pos, 8);
      if ((w & 0x8080808080808080ULL) == 0) {
        pos += 8;
        continue;
      }
    }
    pos += char_length(s, pos);
  }
  return pos;
}

// First occurrence of a non-empty needle at a character start at or after
// `from` (itself taken as a character start), byte for byte.
size_t find_exact(std::string_view text, std::string_view needle, size_t from) {
  size_t aligned = from;
  size_t candidate = from;
  while (true) {
    candidate = text.find(needle, candidate);
    if (candidate == npos) return npos;
    aligned = advance_to(text, aligned, candidate);
    if (aligned == candidate) return candidate;
    // The candidate starts inside a character; no character start lies
    // between it and `aligned`.
    candidate = aligned;
  }
}

bool has_ascii_letter(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const unsigned char b = fold(static_cast<unsigned char>(c));
    return b >= 'a' && b <= 'z';
  });
}

bool equal_folded(const char* a, std::string_view b) {
  for (size_t i = 0; i < b.size(); ++i) {
    if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// As find_exact, ASCII letters compared without case.
size_t find_folded(std::string_view text, std::string_view needle, size_t from) {
  if (!has_ascii_letter(needle)) return find_exact(text, needle, from);
  const size_t m = needle.size();
  const unsigned char first = fold(static_cast<unsigned char>(needle[0]));
  for (size_t i = from; i + m <= text.size(); i += char_length(text, i)) {
    if (fold(byte_at(text, i)) == first && equal_folded(text.data() + i, needle)) return i;
  }
  return npos;
}

inline int position_of(size_t index) {
  return index == npos || index >= static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(index) + 1;
}

// A text ends at its first zero byte.
std::string_view up_to_zero(std::string_view s) {
  if (const void* zero = std::memchr(s.data(), 0, s.size())) {
    return s.substr(0, static_cast<const char*>(zero) - s.data());
  }
  return s;
}

// The code-page bytes of one character given by its code point, or empty
// when no text can hold it.
std::string codepoint_bytes(std::uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {};
  if (cp < 0x80) return std::string(1, static_cast<char>(cp));
  std::string utf8;
  if (cp < 0x800) {
    utf8 += static_cast<char>(0xC0 | (cp >> 6));
  } else if (cp < 0x10000) {
    utf8 += static_cast<char>(0xE0 | (cp >> 12));
    utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  } else {
    utf8 += static_cast<char>(0xF0 | (cp >> 18));
    utf8 += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  utf8 += static_cast<char>(0x80 | (cp & 0x3F));
  return platform::utf8_to_codepage(utf8);
}

// Length of the numeric reference "&#...;" at the start of s and its code
// point, or 0 when s does not start with a well-formed one.
size_t numeric_reference(std::string_view s, std::uint32_t& cp) {
  if (s.size() < 4 || s[0] != '&' || s[1] != '#') return 0;
  size_t i = 2;
  const bool hex = s[i] == 'x' || s[i] == 'X';
  if (hex) ++i;
  const size_t digits_start = i;
  std::uint32_t value = 0;
  for (; i < s.size(); ++i) {
    const int d = hex ? hex_value(byte_at(s, i)) : (is_digit(byte_at(s, i)) ? s[i] - '0' : -1);
    if (d < 0) break;
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
    if (value > 0x10FFFF) return 0;
  }
  if (i == digits_start || i >= s.size() || s[i] != ';') return 0;
  cp = value;
  return i + 1;
}

}  // namespace

int text_find(std::string_view text, std::string_view needle, int start, bool ignore_case) {
  const size_t from = start <= 1 ? 0 : static_cast<size_t>(start) - 1;
  if (from >= text.size()) return -1;
  if (needle.empty()) return 1;
  return position_of(ignore_case ? find_folded(text, needle, from) : find_exact(text, needle, from));
}

int text_find_last(std::string_view text, std::string_view needle) {
  if (text.empty()) return -1;
  if (needle.empty()) return 1;
  size_t last = npos;
  for (size_t at = find_exact(text, needle, 0); at != npos;
       at = find_exact(text, needle, at + char_length(text, at))) {
    last = at;
  }
  return position_of(last);
}

Text text_between(std::string_view text, std::string_view left, std::string_view right) {
  const int left_at = text_find(text, left);
  if (left_at < 0) return {};
  const size_t inner = static_cast<size_t>(left_at) - 1 + left.size();
  if (inner >= text.size()) return {};
  const int right_at = text_find(text, right, static_cast<int>(inner) + 1);
  // An empty right marker is "found" at position 1, before the inner start.
  if (right_at < 0 || static_cast<size_t>(right_at) - 1 <= inner) return {};
  return Text(text.substr(inner, static_cast<size_t>(right_at) - 1 - inner));
}

Text text_left_of(std::string_view text, std::string_view marker, int start) {
  const int at = text_find(text, marker, start <= 0 ? 1 : start);
  if (at < 0) return {};
  return Text(text.substr(0, static_cast<size_t>(at) - 1));
}

Text text_replace(std::string_view text, std::string_view old_text, std::string_view new_text) {
  if (old_text.empty() || text.empty()) return Text(text);
  Text out;
  out.reserve(text.size());
  size_t from = 0;
  while (true) {
    const size_t at = find_folded(text, old_text, from);
    if (at == npos) break;
    out.append(text.substr(from, at - from));
    out.append(new_text);
    from = at + old_text.size();
  }
  out.append(text.substr(from));
  return out;
}

Text percent_decode(std::string_view text) {
  text = up_to_zero(text);
  const size_t n = text.size();
  if (std::memchr(text.data(), '%', n) == nullptr) return platform::utf8_to_codepage(text);
  std::string bytes;
  bytes.reserve(n);
  size_t i = 0;
  while (i < n) {
    const void* found = std::memchr(text.data() + i, '%', n - i);
    if (found == nullptr) {
      bytes.append(text.substr(i));
      break;
    }
    const size_t at = static_cast<const char*>(found) - text.data();
    bytes.append(text.substr(i, at - i));
    const int hi = at + 2 < n ? hex_value(byte_at(text, at + 1)) : -1;
    const int lo = hi >= 0 ? hex_value(byte_at(text, at + 2)) : -1;
    if (lo >= 0) {
      // %00 would end the text; it is dropped instead.
      if (hi != 0 || lo != 0) bytes.push_back(static_cast<char>(hi * 16 + lo));
      i = at + 3;
    } else {
      // A percentage such as "100%" before Chinese text: taking the next
      // two bytes as digits would cut a character in half.
      bytes.push_back('%');
      i = at + 1;
    }
  }
  return platform::utf8_to_codepage(bytes);
}

Text utf8_to_ansi(std::string_view utf8) { return platform::utf8_to_codepage(utf8); }

std::string ansi_to_utf8(std::string_view text) { return platform::codepage_to_utf8(text); }

Text url_encode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  text = up_to_zero(text);
  Text out;
  out.reserve(text.size() * 3);
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    const unsigned char f = fold(b);
    if ((f >= 'a' && f <= 'z') || is_digit(b) || b == '-' || b == '.') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0x0F]);
    }
  }
  return out;
}

int text_byte_length(std::string_view text) {
  return static_cast<int>(std::min<size_t>(up_to_zero(text).size(), INT_MAX));
}

std::string form_value(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    switch (c) {
      case '%': out += "%25"; break;
      case '&': out += "%26"; break;
      case '=': out += "%3D"; break;
      case '+': out += "%2B"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

Text html_unescape(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}};
  Text out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const void* found = std::memchr(text.data() + i, '&', text.size() - i);
    if (found == nullptr) {
      out.append(text.substr(i));
      break;
    }
    const size_t at = static_cast<const char*>(found) - text.data();
    out.append(text.substr(i, at - i));
    const std::string_view rest = text.substr(at);
    size_t used = 0;
    for (const auto& [name, c] : kNamed) {
      if (rest.substr(0, name.size()) == name) {
        out.push_back(c);
        used = name.size();
        break;
      }
    }
    std::uint32_t cp = 0;
    if (used == 0 && (used = numeric_reference(rest, cp)) != 0) {
      const std::string bytes = codepoint_bytes(cp);
      if (bytes.empty()) {
        used = 0;  // no text can hold it: the reference stays as it is
      } else {
        out.append(bytes);
      }
    }
    if (used == 0) {
      out.push_back('&');
      used = 1;
    }
    i = at + used;
  }
  return out;
}

Text html_escape(std::string_view text) {
  Text out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

}  // namespace korvani
