#pragma once
// The one blocking HTTP routine. Every page the tool reads and every form it
// posts goes through here (the update download aside). Cookies are left to
// the process-wide jar, which the embedded browser shares.
#include <optional>
#include <string_view>

#include "text/text.h"

namespace korvani {

inline constexpr std::string_view default_user_agent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1; 125LA; .NET CLR 2.0.50727; "
    ".NET CLR 3.0.04506.648; .NET CLR 3.5.21022)";

// method: 0 GET, 1 POST. A POST without body sends an empty body.
// Answers the body as received whatever the status, or empty bytes when no
// connection could be made.
Bytes web_request(std::string_view url, int method = 0, std::optional<std::string_view> body = std::nullopt);

// What became of one request, for callers that log or must tell a cut-off
// page from a whole one. `body` is what web_request answers.
struct WebAnswer {
  Bytes body;
  bool connected = false;   // a server was reached
  bool complete = false;    // the whole answer arrived
  long status = 0;          // of the last answer, after redirects; 0 if none
  std::string error;        // why not, in libcurl's words or ours; empty when complete
};
WebAnswer web_request_answer(std::string_view url, int method = 0,
                             std::optional<std::string_view> body = std::nullopt);

// The header text every request carries, in this order, without a final line end.
std::string web_request_header_text(std::string_view url);

}  // namespace korvani
