#include "web/web_request.h"

#include "platform/http.h"
#include "web/url.h"

namespace korvani {

namespace {

bool secure_scheme(std::string_view url) {
  if (url.size() < 5) return false;
  static constexpr std::string_view https = "https";
  for (std::size_t i = 0; i < 5; ++i) {
    char c = url[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != https[i]) return false;
  }
  return true;
}

// The host goes into the address libcurl parses again; anything beyond a
// plain name or number could make it read a different host, port or path.
bool plain_host(std::string_view host) {
  if (host.empty()) return false;
  for (char c : host) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
              c == '.' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// libcurl refuses an address with a blank in it, where a browser sends %20
// (a typed address may well end in a blank).
std::string blanks_coded(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == ' ') {
      out += "%20";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string web_request_header_text(std::string_view url) {
  std::string text = "Referer: ";
  text += url;
  text += "\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded";
  return text;
}

WebAnswer web_request_answer(std::string_view url, int method, std::optional<std::string_view> body) {
  WebAnswer answer;
  const bool secure = secure_scheme(url);
  const Text host = url_host(url);
  int port = url_port(url);
  // A colon without digits names no port: the scheme's own, as the
  // platform's client takes a port of 0.
  if (port == 0) port = secure ? 443 : 80;
  if (!plain_host(host)) {
    answer.error = "the address names no usable host";
    return answer;
  }
  if (port > 65535) {
    answer.error = "the address names no usable port";
    return answer;
  }

  platform::HttpRequest request;
  request.method = method == 1 ? "POST" : "GET";
  request.url = (secure ? "https://" : "http://") + host + ":" + std::to_string(port) + blanks_coded(url_path(url));
  request.user_agent = std::string(default_user_agent);
  request.headers = {"Referer: " + std::string(url), "Accept: */*", "Accept-Language: zh-cn",
                     "Content-Type: application/x-www-form-urlencoded"};
  if (method == 1 && body) request.body = std::string(*body);

  platform::HttpResponse response = platform::http_perform(request);
  answer.body = std::move(response.body);
  answer.connected = response.connected;
  answer.complete = response.complete;
  answer.status = response.status;
  answer.error = std::move(response.error);
  return answer;
}

Bytes web_request(std::string_view url, int method, std::optional<std::string_view> body) {
  return web_request_answer(url, method, body).body;
}

}  // namespace korvani
