#pragma once
// The regular-expression engine (PCRE2, UTF mode, JIT) behind RegexObject.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvani::platform {

// All matches of one search over a UTF-8 subject, kept as offsets into the
// subject, which the object owns.
class RegexMatches {
 public:
  std::size_t count() const;
  // Whole match (group 0) or group j of match i (both from 0); empty when the
  // group did not take part or does not exist.
  std::string_view group(std::size_t i, std::size_t j) const;

  std::string subject;
  std::size_t groups_per_match = 0;       // group 0 included
  std::vector<std::ptrdiff_t> offsets;     // start,end per group; -1 when unset
  // The search ended before the end of the subject because the engine gave
  // up (match, depth or stack limit); the matches before that point are kept.
  bool stopped_early = false;
};

// Ignores ASCII case, finds every match left to right without overlap, dot
// does not match LF (it does match CR), ^ and $ also at line breaks, \w ASCII
// only. An empty match moves the next search on by one character, as
// ECMAScript engines do. False for an invalid pattern or a subject that is not
// valid UTF-8; then `out` holds no match. A search that hits the engine's
// match or depth limit keeps the matches found so far and sets stopped_early.
// `match_limit` 0 keeps the engine's own limit; tests lower it.
bool regex_find_all(std::string_view pattern_utf8, std::string subject_utf8, RegexMatches& out,
                    std::uint32_t match_limit = 0);

}  // namespace korvani::platform
