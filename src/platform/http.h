#pragma once
// HTTP on libcurl. One easy handle per thread, one share handle for the whole
// process (cookies, DNS, connections), so a cookie set by any answer goes with
// every later matching request from any thread.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace korvani::platform {

struct HttpRequest {
  std::string method;            // "GET" or "POST"
  std::string url;               // scheme://host:port/path, as the caller built it
  // Complete header lines, in order, without line ends. Besides these only
  // Host, User-Agent (when set), Content-Length (POST) and the jar's Cookie
  // line go out: libcurl adds no Accept, Content-Type or Expect of its own.
  // A line holding CR or LF is refused and nothing is sent.
  std::vector<std::string> headers;
  std::string user_agent;
  std::string body;              // sent as is for POST (may be empty)
  bool follow_redirects = true;  // up to 20; POST becomes GET after 301/302/303
  // Called with each piece of the body as it arrives; when set, the body is
  // not gathered in the response. Answer false to cancel the transfer.
  std::function<bool(const char* data, std::size_t size)> on_data;
  // Called once the head has been read (status and Content-Length, -1 if none).
  std::function<void(long status, std::int64_t content_length)> on_head;
  bool decode_content = false;   // let libcurl undo gzip/deflate
  // Asked while the transfer runs, also while no byte arrives (at least once
  // a second); answering true cancels it, so a user who quits does not wait
  // for a silent server's stall time-out.
  std::function<bool()> should_stop;
};

struct HttpResponse {
  bool connected = false;        // false: no connection could be made
  bool complete = false;         // the transfer ended without error (whole body)
  bool cancelled = false;
  bool no_handle = false;        // the HTTP client itself could not be set up
  long status = 0;
  std::int64_t content_length = -1;
  std::string body;
  std::string error;             // libcurl's words, for logs
};

HttpResponse http_perform(const HttpRequest& request);

// No cap on the total time: a big page on a slow line may take as long as
// it needs, as long as bytes keep coming.
struct HttpTimeouts {
  long connect_ms = 15000;       // to set up a connection
  long stall_ms = 60000;         // with no byte arriving (counted in whole seconds)
};
void http_set_timeouts(const HttpTimeouts& timeouts);
HttpTimeouts http_timeouts();

struct Cookie {
  std::string name;
  std::string value;
  std::string domain;            // host, or ".host" for a domain cookie
  std::string path = "/";
  bool secure = false;
  bool http_only = false;
  bool host_only = true;
  std::int64_t expires = 0;      // seconds since the epoch; 0 for a session cookie
};

// The process-wide cookie jar. A cookie whose fields hold a tab or a line
// break, or without name or domain, is refused (false).
bool cookie_jar_put(const Cookie& cookie);
void cookie_jar_remove(const std::string& domain, const std::string& path, const std::string& name);
// The same, only while the cookie still holds `value`: a removal reported for
// a value the jar has replaced since must not take the newer one.
void cookie_jar_remove(const std::string& domain, const std::string& path, const std::string& name,
                       const std::string& value);
std::vector<Cookie> cookie_jar_all();
void cookie_jar_clear();
// Told of every cookie an answer sets or changes (on the thread that made the
// request, after the transfer); a cookie an answer deletes is told with
// expires 1. Returns a handle for removal.
int cookie_jar_watch(std::function<void(const Cookie&)> observer);
void cookie_jar_unwatch(int handle);

}  // namespace korvani::platform
