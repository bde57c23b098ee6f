#include "supplier/supplier_login.h"

#include <ctime>
#include <string>
#include <unordered_set>

namespace korvani {

namespace {

// One row of the back end's platform list, exactly as the back end indents
// it: seven tabs before each cell, eight before the "newGoods" span whose alt
// attribute carries the platform's ID. Group 1 is the host, group 2 the ID.
constexpr std::string_view platform_row_pattern =
    "\r\n\t\t\t\t\t\t\t<td align=\"center\">.*?</td>"
    "\r\n\t\t\t\t\t\t\t<td align=\"center\">(.*?)</td>"
    "\r\n\t\t\t\t\t\t\t<td align=\"center\">.*?</td>"
    "\r\n\t\t\t\t\t\t\t<td align=\"center\">"
    "\r\n\t\t\t\t\t\t\t.*?"
    "\r\n\t\t\t\t\t\t\t</td>"
    "\r\n\t\t\t\t\t\t\t<td align=\"center\">"
    "\r\n\t\t\t\t\t\t\t\t<span class=\"a_blue_red\" style=\"cursor:hand;cursor:pointer;\" "
    "alt=\"(.*?)\" name=\"newGoods\">.*?</span>";

// Three dot-joined runs of word characters: what a host name looks like when
// nothing better is known of the page.
constexpr std::string_view host_scan_pattern = R"((\w+\.){2}\w+)";

// Texts of that shape that every such page holds and that are no supplier:
// the host the XHTML doctype cites, and the script's own navigation.
constexpr std::string_view w3c_host = "www.w3.org";
constexpr std::string_view script_navigation = "window.location.href";

constexpr std::string_view zone_suffix =
    "+GMT%2B0800+(%E4%B8%AD%E5%9B%BD%E6%A0%87%E5%87%86%E6%97%B6%E9%97%B4)";

const Text& wrong_password_text() {
  static const Text text = utf8_to_ansi("用户名或密码错误!");
  return text;
}

}  // namespace

LocalTime local_time_now() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  LocalTime time;
  time.year = parts.tm_year + 1900;
  time.month = parts.tm_mon + 1;
  time.day = parts.tm_mday;
  time.hour = parts.tm_hour;
  time.minute = parts.tm_min;
  time.second = parts.tm_sec;
  return time;
}

Text date_stamp(const LocalTime& time) {
  const std::string clock = std::to_string(time.hour) + ":" + std::to_string(time.minute) + ":" +
                            std::to_string(time.second);
  Text stamp = "Tue+Feb+";
  stamp += std::to_string(time.day);
  stamp += "+";
  stamp += std::to_string(time.year);
  stamp += "+";
  stamp += url_encode(clock);
  stamp += zone_suffix;
  return stamp;
}

Text date_stamp() { return date_stamp(local_time_now()); }

Text date_stamp_field(const LocalTime& time) { return "validate_post_send=" + date_stamp(time); }

Text platform_list_url(std::string_view backend_url) {
  return text_replace(backend_url, "main.html", "platform/platformserList.html");
}

std::vector<PlatformRow> platform_rows(RegexObject& regex, std::string_view page) {
  std::vector<PlatformRow> rows;
  if (!regex.create(platform_row_pattern, page)) return rows;
  const int count = regex.match_count();
  rows.reserve(count > 0 ? static_cast<std::size_t>(count) : 0);
  for (int j = 1; j <= count; ++j) {
    rows.push_back(PlatformRow{std::to_string(j), regex.submatch(j, 1), regex.submatch(j, 2)});
  }
  return rows;
}

std::vector<Text> offered_hosts(RegexObject& regex, std::string_view page,
                                const std::vector<PlatformRow>& rows) {
  std::vector<Text> hosts;
  if (!rows.empty()) {
    std::unordered_set<std::string_view> seen;
    for (const PlatformRow& row : rows) {
      if (row.host.empty() || !seen.insert(row.host).second) continue;
      hosts.push_back(row.host);
    }
    return hosts;
  }
  if (!regex.create(host_scan_pattern, page)) return hosts;
  const int count = regex.match_count();
  for (int i = 1; i <= count; ++i) {
    Text match = regex.match_text(i);
    if (match == w3c_host || match == script_navigation) continue;
    hosts.push_back(std::move(match));
  }
  return hosts;
}

void look_up_supplier_id(const std::vector<PlatformRow>& rows, std::string_view host,
                         Text& supplier_id) {
  for (const PlatformRow& row : rows) {
    supplier_id = row.id;
    if (row.host == host) return;
  }
}

Text supplier_login_url(std::string_view host) {
  Text url = "http://";
  url += host;
  url += "/frontLogin.htm";
  return url;
}

Text supplier_login_body(std::string_view account, std::string_view password) {
  Text body = "loginTimes=1&userName=";
  body += form_value(account);
  body += "&password=";
  body += form_value(password);
  return body;
}

LoginVerdict judge_login_answer(std::string_view answer) {
  if (text_find(answer, wrong_password_text()) != -1) return LoginVerdict::wrong_password;
  if (text_find(answer, "code") != -1) return LoginVerdict::logged_in;
  return LoginVerdict::failed;
}

}  // namespace korvani
