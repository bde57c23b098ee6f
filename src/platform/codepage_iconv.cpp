// UTF-8 <-> GB18030 on glibc iconv.
//
// iconv stops at the first byte it cannot convert and has no replacement
// mode of its own (//IGNORE drops input silently and still reports failure),
// so the loop below does the replacing: at each failure it works out how long
// the bad sequence is, writes one "?" for it and carries on after it. A text
// ends at its first zero byte, so the input is cut there before converting.
#include "platform/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace korvani::platform {
namespace {

constexpr char kReplacement = '?';

// One converter per thread and direction: opening one costs more than
// converting a short text, and iconv_t must not be shared between threads.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (!ok()) {
      std::fprintf(stderr, "korvani: iconv cannot convert %s to %s (%s); non-ASCII characters become \"?\"\n",
                   from, to, std::strerror(errno));
    }
  }
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

Converter& to_codepage_converter() {
  thread_local Converter c("GB18030", "UTF-8");
  return c;
}

Converter& to_utf8_converter() {
  thread_local Converter c("UTF-8", "GB18030");
  return c;
}

inline bool in(unsigned char b, unsigned char lo, unsigned char hi) { return b >= lo && b <= hi; }

// Length of the UTF-8 sequence that starts at p: the whole character when it
// is well formed (iconv refused it as unmappable), otherwise its longest
// well-formed beginning, at least one byte. Each such stretch is one "?".
size_t utf8_bad_length(const unsigned char* p, size_t n) {
  const unsigned char b0 = p[0];
  size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 < 0x80) return 1;
  if (in(b0, 0xC2, 0xDF)) {
    need = 2;
  } else if (in(b0, 0xE0, 0xEF)) {
    need = 3;
    if (b0 == 0xE0) lo = 0xA0;        // overlong
    else if (b0 == 0xED) hi = 0x9F;   // surrogates
  } else if (in(b0, 0xF0, 0xF4)) {
    need = 4;
    if (b0 == 0xF0) lo = 0x90;        // overlong
    else if (b0 == 0xF4) hi = 0x8F;   // above U+10FFFF
  } else {
    return 1;
  }
  size_t len = 1;
  if (len < n && in(p[len], lo, hi)) {
    ++len;
    while (len < need && len < n && in(p[len], 0x80, 0xBF)) ++len;
  }
  return len;
}

// The same for GB18030: a lead byte 0x81-0xFE with a trail byte makes a
// two-byte sequence, with 0x30-0x39, 0x81-0xFE, 0x30-0x39 a four-byte one.
// A lead byte whose next byte fits neither shape is bad on its own, and the
// next byte is read again as the start of what follows.
size_t gb_bad_length(const unsigned char* p, size_t n) {
  const unsigned char b0 = p[0];
  if (!in(b0, 0x81, 0xFE) || n < 2) return 1;
  const unsigned char b1 = p[1];
  if (in(b1, 0x40, 0x7E) || in(b1, 0x80, 0xFE)) return 2;
  if (!in(b1, 0x30, 0x39)) return 1;
  if (n == 2) return 2;  // cut off at the end of the text
  if (!in(p[2], 0x81, 0xFE)) return 1;
  if (n == 3) return 3;
  return in(p[3], 0x30, 0x39) ? 4 : 1;
}

bool all_ascii(const unsigned char* p, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w & 0x8080808080808080ULL) return false;
  }
  for (; i < n; ++i) {
    if (p[i] & 0x80) return false;
  }
  return true;
}

using BadLength = size_t (*)(const unsigned char*, size_t);

// Without a converter: ASCII passes, every other character becomes "?".
std::string replace_non_ascii(std::string_view in, BadLength bad_length) {
  std::string out;
  out.reserve(in.size());
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  size_t i = 0;
  while (i < in.size()) {
    if (p[i] < 0x80) {
      out.push_back(static_cast<char>(p[i]));
      ++i;
    } else {
      out.push_back(kReplacement);
      i += bad_length(p + i, in.size() - i);
    }
  }
  return out;
}

inline bool ascii_word(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return (w & 0x8080808080808080ULL) == 0;
}

// End of the run of ASCII bytes that starts at i.
size_t ascii_run_end(const unsigned char* p, size_t i, size_t n) {
  while (i + 8 <= n && ascii_word(p + i)) i += 8;
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

// Where the stretch that needs the converter, starting at i, gives way to
// ASCII worth copying directly: the first of two all-ASCII words in a row,
// or n. A shorter run stays inside the stretch, since each iconv call costs
// more than converting a few bytes.
size_t next_long_ascii(const unsigned char* p, size_t i, size_t n) {
  for (; i + 16 <= n; i += 8) {
    if (ascii_word(p + i) && ascii_word(p + i + 8)) return i;
  }
  return n;
}

// `expected_size` is the first guess at the output's size; the buffer grows
// when a text needs more.
//
// ASCII is the same in both encodings and pages are mostly markup, so long
// ASCII runs are copied and only the stretches between them go through
// iconv. In UTF-8 an ASCII byte is always a character of its own. In GB18030
// the first byte of a run may be the trail byte of the character before it,
// but the second one never is (no multi-byte character holds two ASCII bytes
// in a row), so that stretch ends one byte into the run. A bad sequence is
// measured against the whole rest of the text, so splitting never changes
// where a "?" goes.
std::string convert(std::string_view in, Converter& converter, BadLength bad_length, size_t expected_size,
                    size_t trail_overlap) {
  if (const void* zero = std::memchr(in.data(), 0, in.size())) {
    in = in.substr(0, static_cast<const char*>(zero) - in.data());
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  if (n == 0 || all_ascii(bytes, n)) return std::string(in);
  if (!converter.ok()) return replace_non_ascii(in, bad_length);

  iconv_t cd = converter.get();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);

  std::string out;
  out.resize(expected_size + 16);
  size_t used = 0;
  auto room = [&](size_t want) {
    if (out.size() - used < want) out.resize(std::max(out.size() * 2, used + want));
  };

  size_t i = 0;
  while (i < n) {
    const size_t run_end = ascii_run_end(bytes, i, n);
    if (run_end > i) {
      room(run_end - i);
      std::memcpy(out.data() + used, bytes + i, run_end - i);
      used += run_end - i;
      i = run_end;
      if (i == n) break;
    }
    const size_t stretch_end = std::min(n, next_long_ascii(bytes, i, n) + trail_overlap);

    char* src = const_cast<char*>(in.data()) + i;
    size_t src_left = stretch_end - i;
    while (src_left > 0) {
      char* dst = out.data() + used;
      size_t dst_left = out.size() - used;
      const size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
      used = dst - out.data();
      if (rc != static_cast<size_t>(-1)) break;
      const int err = errno;
      if (err == E2BIG) {
        room(out.size());
        continue;
      }
      if (err != EILSEQ && err != EINVAL) {
        // Nothing else is expected from a valid descriptor; keep the rest
        // rather than lose it.
        const size_t at = src - in.data();
        out.resize(used);
        return out + replace_non_ascii(in.substr(at), bad_length);
      }
      room(1);
      out[used++] = kReplacement;
      const size_t at = src - in.data();
      const size_t skip = std::min(bad_length(bytes + at, n - at), src_left);
      src += skip;
      src_left -= skip;
    }
    i = stretch_end;
  }
  out.resize(used);
  return out;
}

}  // namespace

std::string utf8_to_codepage(std::string_view utf8) {
  // Two- and three-byte UTF-8 characters mostly become two bytes; only a few
  // grow (U+0080.. into four), which the loop absorbs by growing.
  return convert(utf8, to_codepage_converter(), utf8_bad_length, utf8.size(), 0);
}

std::string codepage_to_utf8(std::string_view text) {
  // Two code-page bytes become three UTF-8 bytes at most.
  return convert(text, to_utf8_converter(), gb_bad_length, text.size() + text.size() / 2, 1);
}

}  // namespace korvani::platform
