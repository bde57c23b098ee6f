#pragma once
// The end test of the back-end log-in poll (the rule is written down beside
// its code, in login_rule.cpp).
#include <string_view>

namespace korvani {

// True when `page`, the decoded text of the back end's main page as the poll
// fetched it with the shared cookies, is the page of a logged-in back end.
bool backend_logged_in(std::string_view page);

}  // namespace korvani
