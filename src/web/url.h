#pragma once
#include <string_view>

#include "text/text.h"

namespace korvani {

Text url_host(std::string_view url, bool keep_port = false);
int url_port(std::string_view url);
Text url_path(std::string_view url);

}  // namespace korvani
