#pragma once
// The supplier log-in as plain logic: the date field both the back end and
// the supplier front end expect, the platform table taken from the back end's
// list of connected platforms, the hosts offered for choice, and the log-in
// form and the judgement of its answer. The window only wires these together.
#include <string_view>
#include <vector>

#include "text/regex_object.h"
#include "text/text.h"

namespace korvani {

// A local date and time as the wall clock shows it.
struct LocalTime {
  int year = 1970;
  int month = 1;   // 1..12
  int day = 1;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;
  int second = 0;
};

LocalTime local_time_now();

// The browser-style date text of the form field validate_post_send, e.g.
// "Tue+Feb+3+2016+9%3A5%3A7+GMT%2B0800+(%E4%B8%AD...)". Weekday and month stay
// "Tue" and "Feb" whatever the date: the servers only want the field filled.
Text date_stamp(const LocalTime& time);
Text date_stamp();

// "validate_post_send=" followed by the date stamp.
Text date_stamp_field(const LocalTime& time);

// The back end's list of connected platforms, from the address of its main page.
Text platform_list_url(std::string_view backend_url);

// One row of the back end's platform list.
struct PlatformRow {
  Text number;   // 1-based row number as decimal text
  Text host;     // the host shown in the row
  Text id;       // the back end's ID of that platform
};

// The rows of the platform list page, in page order.
std::vector<PlatformRow> platform_rows(RegexObject& regex, std::string_view page);

// The hosts to offer for choice. These are the hosts of the platform table,
// in row order and each once, since those are the hosts the log-in can find
// an ID for. Only when the table is empty does it fall back to a scan of the
// page for three dot-joined word runs, leaving out the W3C host of the
// doctype and "window.location.href".
std::vector<Text> offered_hosts(RegexObject& regex, std::string_view page,
                                const std::vector<PlatformRow>& rows);

// The ID of the row whose host equals `host` exactly. Without such a row the
// last row's ID stands; an empty table leaves `supplier_id` as it was.
void look_up_supplier_id(const std::vector<PlatformRow>& rows, std::string_view host,
                         Text& supplier_id);

Text supplier_login_url(std::string_view host);

// The log-in form. Account and password keep their bytes, except those that
// would change the form's meaning ("%", "&", "=", "+"), which are
// percent-encoded so that the server reads back what was typed.
Text supplier_login_body(std::string_view account, std::string_view password);

enum class LoginVerdict { wrong_password, logged_in, failed };

// The supplier's own words for a wrong account win over everything else;
// then "code" means the log-in went through; anything else (an empty answer
// included) is a failure.
LoginVerdict judge_login_answer(std::string_view answer);

}  // namespace korvani
