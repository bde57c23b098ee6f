#pragma once
// The start-up look at the version page: which version is announced, and
// what the update prompt shows of it. The page is an announcement written by
// hand, so the markers are looked for exactly as they are published.
#include <optional>
#include <string>
#include <string_view>

#include "text/text.h"

namespace korvani {

inline constexpr std::string_view own_version = KORVANI_OWN_VERSION;

// The address of the version page: the build setting, unless the
// environment names one in KORVANI_VERSION_PAGE_URL or a setter did.
// Empty: this build has no update channel and the check is skipped.
std::string version_page_url();
// nullopt goes back to the build setting (and the environment).
void set_version_page_url(std::optional<std::string> url);

// The page as the prompt and the check read it: the bytes up to the first
// zero byte, percent-decoded into the code page. A page that could not be
// fetched whole with a 2xx answer gives the empty text.
Text fetch_version_page(std::string_view url);

// The version the page names: the first text between "【" and "】".
Text announced_version(const Text& page);

// True only when the page names a version and it differs from ours in any
// byte. A page that names none (or could not be fetched) leaves the tool
// usable: nobody could get out of a prompt that offers no download.
bool update_offered(const Text& page);

// What the prompt shows: the release notes between "<div>" and "</DIV>",
// the version named inside them, and the download address between the
// first two vertical bars inside them.
struct UpdatePrompt {
  Text release_notes;
  Text version;
  Text download_url;
};
UpdatePrompt read_update_prompt(const Text& page);
// The download address inside the release notes.
Text download_address(const Text& release_notes);

// The label under the notes: "当前版本：" and the version.
Text version_label_text(const Text& version);

}  // namespace korvani
