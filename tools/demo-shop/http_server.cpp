#include "http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace demo_shop {
namespace {

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool icontains(std::string_view haystack, std::string_view needle) {
  if (needle.size() > haystack.size()) return false;
  for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
    if (iequals(haystack.substr(i, needle.size()), needle)) return true;
  }
  return false;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool send_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool send_all(int fd, std::string_view bytes) { return send_all(fd, bytes.data(), bytes.size()); }

// Waits up to timeout_ms for bytes and appends what arrives. 0: the peer
// closed, -1: error or time-out, otherwise the count read.
ssize_t read_some(int fd, std::string& into, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    int r = ::poll(&p, 1, timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return -1;
    break;
  }
  char buffer[65536];
  for (;;) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) into.append(buffer, static_cast<std::size_t>(n));
    return n;
  }
}

std::string head_text(int status, const std::string& reason,
                      const std::vector<std::pair<std::string, std::string>>& headers,
                      std::size_t content_length, bool close) {
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " +
                     (reason.empty() ? status_reason(status) : reason) + "\r\n";
  for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
  head += "Content-Length: " + std::to_string(content_length) + "\r\n";
  if (close) head += "Connection: close\r\n";
  head += "\r\n";
  return head;
}

void send_plain_error(int fd, int status) {
  std::string body = std::to_string(status) + " " + status_reason(status) + "\r\n";
  std::string head = head_text(status, "", {{"Content-Type", "text/plain; charset=utf-8"}},
                               body.size(), true);
  send_all(fd, head + body);
}

}  // namespace

std::string HttpRequestIn::header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (iequals(n, name)) return v;
  }
  return {};
}

std::string status_reason(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 416: return "Range Not Satisfiable";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Unknown";
  }
}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::start(int port, Handler handler, HttpLimits limits) {
  if (running_) return false;
  handler_ = std::move(handler);
  limits_ = limits;
  stopping_ = false;

  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 128) != 0) {
    ::close(fd);
    return false;
  }
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);

  if (::pipe2(wake_pipe_, O_CLOEXEC) != 0) {
    ::close(fd);
    return false;
  }
  listen_fd_ = fd;
  running_ = true;
  accept_thread_ = std::thread([this] { accept_loop(); });
  return true;
}

void HttpServer::stop() {
  if (!running_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stopped_cv_.notify_all();
  char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(wake_pipe_[1], &byte, 1);
  if (accept_thread_.joinable()) accept_thread_.join();
  ::close(listen_fd_);
  listen_fd_ = -1;

  std::list<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& c : connections_) {
      if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
    }
    connections.swap(connections_);
  }
  for (auto& c : connections) {
    if (c->thread.joinable()) c->thread.join();
  }
  ::close(wake_pipe_[0]);
  ::close(wake_pipe_[1]);
  wake_pipe_[0] = wake_pipe_[1] = -1;
  running_ = false;
}

bool HttpServer::wait_ms(int ms) {
  ms = std::clamp(ms, 0, limits_.max_wait_ms);
  std::unique_lock<std::mutex> lock(mutex_);
  stopped_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
  return !stopping_;
}

void HttpServer::reap_finished() {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->done) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) c->thread.join();
}

void HttpServer::accept_loop() {
  pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
  while (!stopping_) {
    int r = ::poll(fds, 2, 1000);
    reap_finished();
    if (r < 0 && errno != EINTR) break;
    if (stopping_ || (fds[1].revents & POLLIN)) break;
    if (r <= 0 || !(fds[0].revents & POLLIN)) continue;
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    // Without it a small keep-alive answer waits for the peer's delayed ACK.
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval send_timeout{limits_.read_timeout_ms / 1000, (limits_.read_timeout_ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);

    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || static_cast<int>(connections_.size()) >= limits_.max_connections) {
      send_plain_error(fd, 503);
      ::close(fd);
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* raw = connection.get();
    connections_.push_back(std::move(connection));
    raw->thread = std::thread([this, raw] { serve(raw); });
  }
}

void HttpServer::serve(Connection* connection) {
  const int fd = connection->fd;
  std::string buffer;  // bytes read but not yet used (a pipelined next request)

  auto finish = [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    ::close(connection->fd);
    connection->fd = -1;
    connection->done = true;
  };

  while (!stopping_) {
    // The head: request line, header lines, an empty line. LF alone is
    // accepted as a line end, as most servers do.
    std::size_t line_start = 0;
    std::size_t request_line_end = std::string::npos;  // index after its LF
    std::size_t header_end = std::string::npos;        // index of the empty line
    std::size_t body_start = 0;
    bool first_wait = true;
    for (;;) {
      std::size_t nl;
      while ((nl = buffer.find('\n', line_start)) != std::string::npos) {
        std::string_view line(buffer.data() + line_start, nl - line_start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (request_line_end == std::string::npos) {
          if (line.empty()) {  // stray line ends before a request are skipped
            buffer.erase(0, nl + 1);
            line_start = 0;
            continue;
          }
          request_line_end = nl + 1;
        } else if (line.empty()) {
          header_end = line_start;
          body_start = nl + 1;
          break;
        }
        line_start = nl + 1;
      }
      if (header_end != std::string::npos) break;
      if (buffer.size() > limits_.max_header_bytes) {
        send_plain_error(fd, 431);
        finish();
        return;
      }
      bool idle = first_wait && buffer.empty();
      ssize_t n = read_some(fd, buffer, idle ? limits_.idle_timeout_ms : limits_.read_timeout_ms);
      first_wait = false;
      if (n <= 0 || stopping_) {
        finish();
        return;
      }
    }
    if (header_end > limits_.max_header_bytes) {
      send_plain_error(fd, 431);
      finish();
      return;
    }

    HttpRequestIn request;
    request.port = port_;
    {
      std::string_view line(buffer.data(), request_line_end - 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      std::size_t sp1 = line.find(' ');
      std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
      if (sp1 == std::string_view::npos || sp2 == std::string_view::npos ||
          line.find(' ', sp2 + 1) != std::string_view::npos) {
        send_plain_error(fd, 400);
        finish();
        return;
      }
      request.method = std::string(line.substr(0, sp1));
      request.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
      request.version = std::string(line.substr(sp2 + 1));
      if (request.target.empty() || request.version.rfind("HTTP/1.", 0) != 0) {
        send_plain_error(fd, 400);
        finish();
        return;
      }
      std::size_t q = request.target.find('?');
      request.path = request.target.substr(0, q);
      if (q != std::string::npos) request.query = request.target.substr(q + 1);
    }
    request.header_text = buffer.substr(request_line_end, header_end - request_line_end);

    bool bad = false;
    long long content_length = 0;
    bool has_length = false;
    std::size_t pos = 0;
    std::string_view headers(request.header_text);
    while (pos < headers.size()) {
      std::size_t nl = headers.find('\n', pos);
      std::string_view line = headers.substr(pos, nl - pos);
      pos = nl + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      std::size_t colon = line.find(':');
      if (colon == 0 || colon == std::string_view::npos || line.front() == ' ' || line.front() == '\t') {
        bad = true;
        break;
      }
      std::string name(line.substr(0, colon));
      std::string value(trim(line.substr(colon + 1)));
      if (iequals(name, "Content-Length")) {
        if (value.empty() || value.size() > 18 ||
            !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
          bad = true;
          break;
        }
        long long n = std::stoll(value);
        if (has_length && n != content_length) {
          bad = true;
          break;
        }
        content_length = n;
        has_length = true;
      }
      request.headers.emplace_back(std::move(name), std::move(value));
    }
    if (bad) {
      send_plain_error(fd, 400);
      finish();
      return;
    }
    if (!request.header("Transfer-Encoding").empty()) {
      send_plain_error(fd, 501);
      finish();
      return;
    }
    if (static_cast<unsigned long long>(content_length) > limits_.max_body_bytes) {
      send_plain_error(fd, 413);
      finish();
      return;
    }

    buffer.erase(0, body_start);
    const std::size_t wanted = static_cast<std::size_t>(content_length);
    if (buffer.size() < wanted && icontains(request.header("Expect"), "100-continue")) {
      send_all(fd, "HTTP/1.1 100 Continue\r\n\r\n");
    }
    while (buffer.size() < wanted) {
      ssize_t n = read_some(fd, buffer, limits_.read_timeout_ms);
      if (n <= 0 || stopping_) {
        finish();
        return;
      }
    }
    request.body = buffer.substr(0, wanted);
    buffer.erase(0, wanted);

    bool keep_alive = request.version == "HTTP/1.1"
                          ? !icontains(request.header("Connection"), "close")
                          : icontains(request.header("Connection"), "keep-alive");

    HttpAnswer answer;
    try {
      answer = handler_(request);
    } catch (...) {
      answer = HttpAnswer{};
      answer.status = 500;
      answer.body = "500 Internal Server Error\r\n";
      answer.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
    }
    if (answer.delay_ms > 0 && !wait_ms(answer.delay_ms)) break;
    if (answer.mode == HttpAnswer::Mode::drop) break;
    if (answer.close) keep_alive = false;

    const bool head_only = request.method == "HEAD";
    if (answer.mode == HttpAnswer::Mode::truncate) answer.body.resize(answer.body.size() / 2);
    if (answer.mode == HttpAnswer::Mode::stall) {
      std::string head = head_text(answer.status, answer.reason, answer.headers, answer.body.size(), true);
      if (send_all(fd, head) && !head_only) {
        send_all(fd, answer.body.data(), answer.body.size() / 2);
      }
      wait_ms(answer.stall_ms > 0 ? answer.stall_ms : limits_.max_wait_ms);
      break;
    }
    std::string head = head_text(answer.status, answer.reason, answer.headers, answer.body.size(), !keep_alive);
    bool sent;
    if (head_only) {
      sent = send_all(fd, head);
    } else if (answer.body.size() <= 64 * 1024) {
      sent = send_all(fd, head + answer.body);  // one segment for a small answer
    } else {
      sent = send_all(fd, head) && send_all(fd, answer.body.data(), answer.body.size());
    }
    if (!sent || !keep_alive) break;
  }
  finish();
}

}  // namespace demo_shop
