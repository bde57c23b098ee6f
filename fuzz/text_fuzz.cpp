// The search routines with random markers: the input gives a left marker,
// a right marker (each ended by "\" and one more byte, see
// FuzzedDataProvider), a start position and a case switch from its last
// bytes, and the rest is the text. The searches are checked against a plain
// character-by-character walk; the escapes and form values, the log-in form
// with the markers as account and password, against their reading back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "supplier/supplier_login.h"
#include "text/text.h"

namespace {

using namespace korvani;
using sv = std::string_view;

// Bytes of the character at i: one below 0x80, four for a lead byte with a
// digit after it, otherwise two; cut off by the end of the text.
std::size_t char_len(sv s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n = 1;
  if (b >= 0x80)
    n = (b >= 0x81 && b <= 0xFE && i + 1 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '9') ? 4 : 2;
  return std::min(n, s.size() - i);
}

unsigned char fold(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 'A' && b <= 'Z' ? static_cast<unsigned char>(b + 32) : b;
}

bool same_at(sv text, std::size_t at, sv needle, bool ignore_case) {
  if (at + needle.size() > text.size()) return false;
  for (std::size_t k = 0; k < needle.size(); ++k) {
    const char a = text[at + k], b = needle[k];
    if (ignore_case ? fold(a) != fold(b) : a != b) return false;
  }
  return true;
}

// The first match at a character start, walking from `from` as one.
int walk_find(sv text, sv needle, int start, bool ignore_case) {
  const std::size_t from = start <= 1 ? 0 : static_cast<std::size_t>(start) - 1;
  if (from >= text.size()) return -1;
  if (needle.empty()) return 1;
  for (std::size_t i = from; i < text.size(); i += char_len(text, i))
    if (same_at(text, i, needle, ignore_case)) return static_cast<int>(i) + 1;
  return -1;
}

int walk_find_last(sv text, sv needle) {
  if (text.empty()) return -1;
  if (needle.empty()) return 1;
  int last = -1;
  for (std::size_t i = 0; i < text.size(); i += char_len(text, i))
    if (same_at(text, i, needle, false)) last = static_cast<int>(i) + 1;
  return last;
}

std::string walk_replace(sv text, sv old_text, sv new_text) {
  if (old_text.empty() || text.empty()) return std::string(text);
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (same_at(text, i, old_text, true)) {
      out.append(new_text);
      i += old_text.size();
    } else {
      const std::size_t n = char_len(text, i);
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

// A form value read back by a server: only the four codes form_value
// writes may stand after a "%".
std::string form_decoded(sv value) {
  std::string back;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') {
      back.push_back(value[i]);
      continue;
    }
    const sv code = value.substr(i, 3);
    FUZZ_CHECK(code == "%25" || code == "%26" || code == "%3D" || code == "%2B");
    back.push_back(code == "%25" ? '%' : code == "%26" ? '&' : code == "%3D" ? '=' : '+');
    i += 2;
  }
  return back;
}

void check_find(sv text, sv needle, int start, bool ignore_case) {
  const int at = text_find(text, needle, start, ignore_case);
  FUZZ_CHECK(at == walk_find(text, needle, start, ignore_case));
  if (at != -1) {
    // Inside the text, at or after the start (an empty needle answers 1
    // wherever the start is), and a real occurrence.
    FUZZ_CHECK(at >= 1 && static_cast<std::size_t>(at) + needle.size() <= text.size() + 1);
    FUZZ_CHECK(needle.empty() || at >= start);
    FUZZ_CHECK(same_at(text, static_cast<std::size_t>(at) - 1, needle, ignore_case));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string left = in.ConsumeRandomLengthString(24);
  const std::string right = in.ConsumeRandomLengthString(24);
  const int start = in.ConsumeIntegralInRange<int>(-2, 1 << 12);
  const bool ignore_case = in.ConsumeBool();
  const std::string text = in.ConsumeRemainingBytesAsString();

  check_find(text, left, start, ignore_case);
  check_find(text, right, start, !ignore_case);
  {
    const int last = text_find_last(text, left);
    FUZZ_CHECK(last == walk_find_last(text, left));
    if (last != -1) FUZZ_CHECK(static_cast<std::size_t>(last) + left.size() <= text.size() + 1);
  }

  // text_between: the bytes right after the first left marker, up to the
  // first right marker after it; never a marker's byte.
  {
    const Text between = text_between(text, left, right);
    const int l = walk_find(text, left, 1, false);
    if (!between.empty()) {
      FUZZ_CHECK(l != -1);
      const std::size_t inner = static_cast<std::size_t>(l) - 1 + left.size();
      FUZZ_CHECK(sv(text).substr(inner, between.size()) == between);
      const std::size_t end = inner + between.size();
      FUZZ_CHECK(walk_find(text, right, static_cast<int>(inner) + 1, false) == static_cast<int>(end) + 1);
    } else if (l != -1 && !right.empty()) {
      // Empty only when the right marker is missing after the left one or
      // follows it directly.
      const std::size_t inner = static_cast<std::size_t>(l) - 1 + left.size();
      const int r = inner < text.size() ? walk_find(text, right, static_cast<int>(inner) + 1, false) : -1;
      FUZZ_CHECK(r == -1 || static_cast<std::size_t>(r) - 1 == inner);
    }
  }

  // text_left_of: a beginning of the text that the marker follows.
  {
    const Text left_of = text_left_of(text, right, start);
    const int r = walk_find(text, right, start <= 0 ? 1 : start, false);
    if (r == -1) {
      FUZZ_CHECK(left_of.empty());
    } else {
      FUZZ_CHECK(left_of == sv(text).substr(0, static_cast<std::size_t>(r) - 1));
    }
  }

  // text_replace: the walk's result, made of the text's own bytes and the
  // replacement's only.
  {
    const Text replaced = text_replace(text, left, right);
    FUZZ_CHECK(replaced == walk_replace(text, left, right));
    bool seen[256] = {};
    for (char c : text) seen[static_cast<unsigned char>(c)] = true;
    for (char c : right) seen[static_cast<unsigned char>(c)] = true;
    for (char c : replaced) FUZZ_CHECK(seen[static_cast<unsigned char>(c)]);
    if (walk_find(text, left, 1, true) == -1) FUZZ_CHECK(replaced == text);
  }

  // Escaping for a page and back, and a form value that keeps its meaning.
  FUZZ_CHECK(html_unescape(html_escape(text)) == text);
  {
    const std::string value = form_value(text);
    FUZZ_CHECK(value.find_first_of("&=+") == std::string::npos);
    FUZZ_CHECK(form_decoded(value) == text);
    // The supplier's log-in form holds its three fields whatever is typed.
    const Text body = supplier_login_body(left, right);
    const std::size_t user = body.find("&userName=");
    const std::size_t password = body.find("&password=");
    FUZZ_CHECK(body.rfind("loginTimes=1", 0) == 0 && user == 12 && password != Text::npos);
    FUZZ_CHECK(body.find('&', user + 1) == password && body.find('&', password + 1) == Text::npos);
    FUZZ_CHECK(form_decoded(sv(body).substr(user + 10, password - user - 10)) == left);
    FUZZ_CHECK(form_decoded(sv(body).substr(password + 10)) == right);
    const Text encoded = url_encode(text);
    for (char c : encoded)
      FUZZ_CHECK(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '%');
  }
  return 0;
}
