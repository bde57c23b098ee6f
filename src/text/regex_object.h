#pragma once
// One search at a time: create() compiles a pattern and runs it over a text
// (ASCII case ignored, every match, the dot never matching LF), keeping the
// matches. Numbers of matches and groups count from 1. Texts go in and come
// out in the program's code page; the engine sees UTF-8.
#include <memory>
#include <string_view>

#include "text/text.h"

namespace korvani {

namespace platform { class RegexMatches; }

class RegexObject {
 public:
  RegexObject();
  ~RegexObject();
  RegexObject(const RegexObject&) = delete;
  RegexObject& operator=(const RegexObject&) = delete;

  // True when the search produced a collection of matches (also an empty one).
  bool create(std::string_view pattern, std::string_view text);
  int match_count() const;
  Text match_text(int i) const;
  Text submatch(int i, int j) const;
  // The last search gave up part-way (a pattern that backtracks without
  // bound on a huge page); the matches before that point are kept.
  bool search_stopped_early() const;
  void destroy();

 private:
  std::unique_ptr<platform::RegexMatches> matches_;
};

}  // namespace korvani
