#include "app/login_rule.h"

#include <string>

namespace korvani {

// The end test of the log-in poll.
//
// The poll fetches main.html with the cookies the browser shares. A back end
// that has not let the user in yet answers that fetch in one of three ways:
// it redirects to its log-in page (the redirect is followed, so the log-in
// form arrives), it serves the log-in form at main.html itself, or it sends a
// page whose only work is to move the browser on by script. So the page is
// taken as the main page of a logged-in back end unless one of these holds:
//
//   1. It is blank: nothing but white space (the server could not be reached
//      or sent an empty answer).
//   2. It holds a password field: an <input> tag whose type is "password",
//      in any case, its value quoted with " or ' or not quoted.
//   3. It moves on at load and has nothing of its own to show: it carries a
//      <meta http-equiv="refresh"> or a <script> that assigns the location
//      (location=, location.href=, location.replace(, location.assign(),
//      and it has no frames and fewer than 100 characters of visible text.
//      Event handlers such as onclick="location.href=..." are the user's to
//      trigger and do not count; a full page that merely has script
//      navigation in it is a real page.
//
// The other test one might think of, relating the page to the system's name
// "Korvani数字产品销售系统", cannot tell the two states apart: the log-in page
// shows that name as well as the main page does, and a main page need not.

namespace {

struct PageFacts {
  bool password_field = false;
  bool meta_refresh = false;
  bool script_redirect = false;
  bool frames = false;
  int visible_chars = 0;
};

constexpr int few_visible_chars = 100;

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == ':';
}
bool is_identifier_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

bool equals_ci(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

bool starts_with_ci(std::string_view text, std::size_t at, std::string_view prefix) {
  return at <= text.size() && text.size() - at >= prefix.size() && equals_ci(text.substr(at, prefix.size()), prefix);
}

std::size_t find_ci(std::string_view text, std::string_view needle, std::size_t from) {
  if (needle.empty()) return from;
  for (std::size_t i = from; i + needle.size() <= text.size(); ++i)
    if (starts_with_ci(text, i, needle)) return i;
  return std::string_view::npos;
}

// Bytes of the code-page character that starts at `at` (GB18030: one, two or
// four bytes). None of the trail bytes is '<', '>' or a quote, so markup can
// be scanned a whole character at a time.
std::size_t char_length(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x81 || lead == 0xFF) return 1;
  if (at + 3 < text.size()) {
    const auto second = static_cast<unsigned char>(text[at + 1]);
    if (second >= 0x30 && second <= 0x39) return 4;
  }
  return at + 1 < text.size() ? 2 : 1;
}

// The end of the tag whose attributes start at `from`: the position of its
// '>' (quoted values skipped), or the end of the text.
std::size_t tag_end(std::string_view text, std::size_t from) {
  char quote = 0;
  for (std::size_t i = from; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    }
  }
  return text.size();
}

// The value of attribute `name` among a tag's attributes; empty when absent.
std::string_view attribute(std::string_view attrs, std::string_view name) {
  std::size_t i = 0;
  while (i < attrs.size()) {
    while (i < attrs.size() && (is_space(attrs[i]) || attrs[i] == '/')) ++i;
    const std::size_t name_start = i;
    while (i < attrs.size() && !is_space(attrs[i]) && attrs[i] != '=' && attrs[i] != '/') ++i;
    const std::string_view attr_name = attrs.substr(name_start, i - name_start);
    while (i < attrs.size() && is_space(attrs[i])) ++i;
    std::string_view value;
    if (i < attrs.size() && attrs[i] == '=') {
      ++i;
      while (i < attrs.size() && is_space(attrs[i])) ++i;
      if (i < attrs.size() && (attrs[i] == '"' || attrs[i] == '\'')) {
        const char quote = attrs[i++];
        const std::size_t end = attrs.find(quote, i);
        const std::size_t stop = end == std::string_view::npos ? attrs.size() : end;
        value = attrs.substr(i, stop - i);
        i = stop == attrs.size() ? stop : stop + 1;
      } else {
        const std::size_t value_start = i;
        while (i < attrs.size() && !is_space(attrs[i])) ++i;
        value = attrs.substr(value_start, i - value_start);
      }
    }
    if (!attr_name.empty() && equals_ci(attr_name, name)) return value;
    if (attr_name.empty() && i == name_start) ++i;  // a stray byte: step over it
  }
  return {};
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

// Whether script code changes the page's location.
bool assigns_location(std::string_view code) {
  std::string squeezed;
  squeezed.reserve(code.size());
  for (char c : code)
    if (!is_space(c)) squeezed.push_back(lower(c));
  const std::string_view s = squeezed;
  for (std::size_t at = s.find("location"); at != std::string_view::npos; at = s.find("location", at + 1)) {
    if (at > 0 && is_identifier_char(s[at - 1])) continue;  // e.g. "mylocation"
    std::string_view rest = s.substr(at + 8);
    if (rest.starts_with(".href")) rest.remove_prefix(5);
    if (rest.starts_with("=") && !rest.starts_with("==")) return true;
    if (rest.starts_with(".replace(") || rest.starts_with(".assign(")) return true;
  }
  return false;
}

PageFacts scan(std::string_view page) {
  PageFacts facts;
  std::size_t i = 0;
  while (i < page.size()) {
    const char c = page[i];
    if (c != '<') {
      if (is_space(c)) {
        ++i;
      } else {
        ++facts.visible_chars;
        i += char_length(page, i);
      }
      continue;
    }
    if (starts_with_ci(page, i, "<!--")) {
      const std::size_t end = page.find("-->", i + 4);
      i = end == std::string_view::npos ? page.size() : end + 3;
      continue;
    }
    std::size_t j = i + 1;
    const bool closing = j < page.size() && page[j] == '/';
    if (closing) ++j;
    const std::size_t name_start = j;
    while (j < page.size() && is_name_char(page[j])) ++j;
    if (j == name_start) {  // a lone '<' is text
      ++facts.visible_chars;
      ++i;
      continue;
    }
    std::string name;
    for (std::size_t k = name_start; k < j; ++k) name.push_back(lower(page[k]));
    const std::size_t end = tag_end(page, j);
    const std::string_view attrs = page.substr(j, end - j);
    i = end == page.size() ? end : end + 1;
    if (closing) continue;

    if (name == "input") {
      if (equals_ci(trimmed(attribute(attrs, "type")), "password")) facts.password_field = true;
    } else if (name == "meta") {
      if (equals_ci(trimmed(attribute(attrs, "http-equiv")), "refresh")) facts.meta_refresh = true;
    } else if (name == "frame" || name == "iframe" || name == "frameset") {
      facts.frames = true;
    } else if (name == "script" || name == "style" || name == "textarea" || name == "title") {
      // Their content is code or not part of the page's body text.
      const std::size_t close = find_ci(page, "</" + name, i);
      const std::size_t content_end = close == std::string_view::npos ? page.size() : close;
      if (name == "script" && assigns_location(page.substr(i, content_end - i))) facts.script_redirect = true;
      if (name == "textarea") {
        for (std::size_t k = i; k < content_end; k += char_length(page, k))
          if (!is_space(page[k])) ++facts.visible_chars;
      }
      i = close == std::string_view::npos ? page.size() : tag_end(page, close) + 1;
    }
  }
  return facts;
}

}  // namespace

bool backend_logged_in(std::string_view page) {
  if (trimmed(page).empty()) return false;
  const PageFacts facts = scan(page);
  if (facts.password_field) return false;
  const bool moves_on = facts.meta_refresh || facts.script_redirect;
  if (moves_on && !facts.frames && facts.visible_chars < few_visible_chars) return false;
  return true;
}

}  // namespace korvani
