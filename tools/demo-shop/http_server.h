#pragma once
// A small HTTP/1.1 server on POSIX sockets: a thread per connection,
// keep-alive, Content-Length bodies. It keeps the header text exactly as it
// arrived (order, spelling, spacing), which tests compare byte for byte, and
// it can misbehave on purpose (delay, drop, stall, cut the body short) so that
// clients can be tested against a server that fails.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace demo_shop {

struct HttpRequestIn {
  std::string method;
  std::string target;        // as on the request line
  std::string path;          // target without "?query"
  std::string query;         // after "?", empty when none
  std::string version;       // "HTTP/1.1"
  std::string header_text;   // every header line as received, each with its line end
  std::vector<std::pair<std::string, std::string>> headers;  // in arrival order, values trimmed
  std::string body;
  int port = 0;              // the local port the request came in on

  // The first header of that name (ASCII case ignored), or empty.
  std::string header(std::string_view name) const;
};

struct HttpAnswer {
  enum class Mode {
    normal,
    drop,      // close the connection without a byte of answer
    stall,     // send the head and half the body, go quiet for stall_ms, then close
    truncate,  // a well-formed answer holding only the first half of the body
  };
  int status = 200;
  std::string reason;        // empty: the usual phrase for the status
  std::vector<std::pair<std::string, std::string>> headers;  // Content-Length is added
  std::string body;
  Mode mode = Mode::normal;
  int delay_ms = 0;          // wait this long before answering
  int stall_ms = 0;          // for Mode::stall; 0: until the server stops
  bool close = false;        // close the connection after this answer
};

struct HttpLimits {
  std::size_t max_header_bytes = 64 * 1024;
  std::size_t max_body_bytes = 256 * 1024 * 1024;
  int idle_timeout_ms = 60000;    // keep-alive connection with no new request
  int read_timeout_ms = 30000;    // a request that stops arriving half-way
  int max_wait_ms = 600000;       // upper bound of any delay or stall
  int max_connections = 256;
};

class HttpServer {
 public:
  using Handler = std::function<HttpAnswer(const HttpRequestIn&)>;

  HttpServer() = default;
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on 127.0.0.1:port (0: a free port). False when it cannot bind.
  bool start(int port, Handler handler, HttpLimits limits = {});
  int port() const { return port_; }
  bool running() const { return running_; }
  // Closes the listener and every connection, cuts every wait short and
  // joins every thread. Safe to call twice.
  void stop();

 private:
  struct Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void accept_loop();
  void serve(Connection* connection);
  bool wait_ms(int ms);  // false when the server stopped meanwhile
  void reap_finished();

  Handler handler_;
  HttpLimits limits_;
  int listen_fd_ = -1;
  int wake_pipe_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopping_{false};
  std::thread accept_thread_;
  std::mutex mutex_;
  std::condition_variable stopped_cv_;
  std::list<std::unique_ptr<Connection>> connections_;
};

// "200" -> "OK" and so on.
std::string status_reason(int status);

}  // namespace demo_shop
