#include "platform/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>

namespace korvani::platform {

namespace {

struct CompileContextFree {
  void operator()(pcre2_compile_context* p) const { pcre2_compile_context_free(p); }
};
struct CodeFree {
  void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct MatchDataFree {
  void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};
struct MatchContextFree {
  void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};
struct JitStackFree {
  void operator()(pcre2_jit_stack* p) const { pcre2_jit_stack_free(p); }
};

// The JIT's default stack (32 KiB on the machine stack) runs out on long
// lines; its own stack grows on demand up to the maximum.
constexpr std::size_t kJitStackStart = 64 * 1024;
constexpr std::size_t kJitStackMax = 16 * 1024 * 1024;
// The interpreter (used only where the JIT is unavailable) keeps its
// backtracking frames on the heap; bound them well below the engine's default.
constexpr std::uint32_t kHeapLimitKib = 256 * 1024;

constexpr std::uint32_t kCompileOptions =
    PCRE2_UTF | PCRE2_CASELESS | PCRE2_MULTILINE
    // \xHH and \uHHHH as ECMAScript writes them.
    | PCRE2_ALT_BSUX
    // \C could end a match inside a character; the next search would then
    // start there with the UTF check off, which the engine does not allow.
    | PCRE2_NEVER_BACKSLASH_C;

bool is_utf_error(int rc) { return rc <= PCRE2_ERROR_UTF8_ERR1 && rc >= PCRE2_ERROR_UTF8_ERR21; }

// Length of the UTF-8 character that begins with `lead`.
std::size_t utf8_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead >> 5) == 0x6) return 2;
  if ((lead >> 4) == 0xE) return 3;
  if ((lead >> 3) == 0x1E) return 4;
  return 1;
}

}  // namespace

std::size_t RegexMatches::count() const {
  return groups_per_match == 0 ? 0 : offsets.size() / (2 * groups_per_match);
}

std::string_view RegexMatches::group(std::size_t i, std::size_t j) const {
  if (i >= count() || j >= groups_per_match) return {};
  const std::size_t k = 2 * (i * groups_per_match + j);
  const std::ptrdiff_t begin = offsets[k];
  const std::ptrdiff_t end = offsets[k + 1];
  if (begin < 0 || end < begin || static_cast<std::size_t>(end) > subject.size()) return {};
  return std::string_view(subject).substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

bool regex_find_all(std::string_view pattern_utf8, std::string subject_utf8, RegexMatches& out,
                    std::uint32_t match_limit) {
  out.subject.clear();
  out.offsets.clear();
  out.groups_per_match = 0;
  out.stopped_early = false;

  std::unique_ptr<pcre2_compile_context, CompileContextFree> compile_context(pcre2_compile_context_create(nullptr));
  if (!compile_context) return false;
  // Only LF ends a line: the dot matches CR, so CR LF must be spelled out.
  pcre2_set_newline(compile_context.get(), PCRE2_NEWLINE_LF);

  int error_code = 0;
  PCRE2_SIZE error_offset = 0;
  std::unique_ptr<pcre2_code, CodeFree> code(
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_utf8.data()), pattern_utf8.size(), kCompileOptions,
                    &error_code, &error_offset, compile_context.get()));
  if (!code) return false;
  // Without the JIT the interpreter serves, only slower.
  pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE);

  std::uint32_t capture_count = 0;
  pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &capture_count);
  const std::size_t groups = static_cast<std::size_t>(capture_count) + 1;

  std::unique_ptr<pcre2_match_data, MatchDataFree> match_data(
      pcre2_match_data_create_from_pattern(code.get(), nullptr));
  std::unique_ptr<pcre2_match_context, MatchContextFree> match_context(pcre2_match_context_create(nullptr));
  if (!match_data || !match_context) return false;
  std::unique_ptr<pcre2_jit_stack, JitStackFree> jit_stack(
      pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
  if (jit_stack) pcre2_jit_stack_assign(match_context.get(), nullptr, jit_stack.get());
  pcre2_set_heap_limit(match_context.get(), kHeapLimitKib);
  if (match_limit != 0) pcre2_set_match_limit(match_context.get(), match_limit);

  out.subject = std::move(subject_utf8);
  out.groups_per_match = groups;
  const auto* subject = reinterpret_cast<PCRE2_SPTR>(out.subject.data());
  const std::size_t length = out.subject.size();

  std::size_t start = 0;
  std::uint32_t options = 0;  // the first call checks the whole subject's UTF-8 once
  while (start <= length) {
    const int rc = pcre2_match(code.get(), subject, length, start, options, match_data.get(), match_context.get());
    if (rc == PCRE2_ERROR_NOMATCH) break;
    if (rc < 0) {
      if (options == 0 && is_utf_error(rc)) {
        out.subject.clear();
        out.groups_per_match = 0;
        return false;
      }
      // Match, depth, heap or stack limit: keep what was found before it.
      out.stopped_early = true;
      break;
    }
    options = PCRE2_NO_UTF_CHECK;

    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(match_data.get());
    const std::size_t set_pairs = rc == 0 ? groups : static_cast<std::size_t>(rc);
    for (std::size_t j = 0; j < groups; ++j) {
      if (j < set_pairs && ovector[2 * j] != PCRE2_UNSET) {
        out.offsets.push_back(static_cast<std::ptrdiff_t>(ovector[2 * j]));
        out.offsets.push_back(static_cast<std::ptrdiff_t>(ovector[2 * j + 1]));
      } else {
        out.offsets.push_back(-1);
        out.offsets.push_back(-1);
      }
    }

    // After an empty match the next search begins one character further on,
    // so that it neither repeats nor swallows the character after it.
    const std::size_t begin = ovector[0];
    const std::size_t end = ovector[1];
    std::size_t next = end > begin ? end : end + (end < length ? utf8_length(subject[end]) : 1);
    if (next <= start) next = start + (start < length ? utf8_length(subject[start]) : 1);
    start = next;
  }
  return true;
}

}  // namespace korvani::platform
