#include "update/version_check.h"

#include <cstdlib>
#include <mutex>

#include "web/web_request.h"

namespace korvani {

namespace {

std::mutex url_mutex;
std::optional<std::string> url_override;

}  // namespace

std::string version_page_url() {
  {
    std::lock_guard lock(url_mutex);
    if (url_override) return *url_override;
  }
  if (const char* env = std::getenv("KORVANI_VERSION_PAGE_URL")) return env;
  return KORVANI_VERSION_PAGE_URL;
}

void set_version_page_url(std::optional<std::string> url) {
  std::lock_guard lock(url_mutex);
  url_override = std::move(url);
}

Text fetch_version_page(std::string_view url) {
  if (url.empty()) return {};
  WebAnswer answer = web_request_answer(url);
  // An error page or half a page is no announcement: reading a version out
  // of it would offer an update nobody published.
  if (!answer.complete || answer.status < 200 || answer.status > 299) return {};
  Bytes& body = answer.body;
  const auto zero = body.find('\0');
  if (zero != Bytes::npos) body.resize(zero);
  return percent_decode(body);
}

Text announced_version(const Text& page) {
  return text_between(page, utf8_to_ansi("【"), utf8_to_ansi("】"));
}

bool update_offered(const Text& page) {
  const Text version = announced_version(page);
  return !version.empty() && version != own_version;
}

UpdatePrompt read_update_prompt(const Text& page) {
  UpdatePrompt prompt;
  prompt.release_notes = text_between(page, "<div>", "</DIV>");
  prompt.version = announced_version(prompt.release_notes);
  prompt.download_url = download_address(prompt.release_notes);
  return prompt;
}

Text download_address(const Text& release_notes) { return text_between(release_notes, "|", "|"); }

Text version_label_text(const Text& version) { return utf8_to_ansi("当前版本：") + version; }

}  // namespace korvani
