#include "text/regex_object.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/regex.h"

namespace korvani {

namespace {

// ASCII reads the same in the code page and in UTF-8; most of a page is
// ASCII, and most captured ids and keys are, so they skip the converter.
bool plain_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c != '\0' && static_cast<unsigned char>(c) < 0x80; });
}

std::string to_engine(std::string_view text) {
  if (plain_ascii(text)) return std::string(text);
  return platform::codepage_to_utf8(text);
}

Text from_engine(std::string_view utf8) {
  if (plain_ascii(utf8)) return Text(utf8);
  return platform::utf8_to_codepage(utf8);
}

}  // namespace

RegexObject::RegexObject() = default;
RegexObject::~RegexObject() = default;

bool RegexObject::create(std::string_view pattern, std::string_view text) {
  // The previous collection goes first, whatever the outcome of this search.
  matches_.reset();
  auto matches = std::make_unique<platform::RegexMatches>();
  if (!platform::regex_find_all(to_engine(pattern), to_engine(text), *matches)) return false;
  matches_ = std::move(matches);
  return true;
}

int RegexObject::match_count() const {
  if (!matches_) return 0;
  return static_cast<int>(matches_->count());
}

Text RegexObject::match_text(int i) const {
  if (!matches_ || i < 1) return {};
  return from_engine(matches_->group(static_cast<std::size_t>(i - 1), 0));
}

Text RegexObject::submatch(int i, int j) const {
  if (!matches_ || i < 1 || j < 1) return {};
  return from_engine(matches_->group(static_cast<std::size_t>(i - 1), static_cast<std::size_t>(j)));
}

bool RegexObject::search_stopped_early() const { return matches_ && matches_->stopped_early; }

void RegexObject::destroy() { matches_.reset(); }

}  // namespace korvani
