#include "update/download.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/http.h"

namespace korvani {

void StopSignal::stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_.store(true);
  }
  cv_.notify_all();
}

bool StopSignal::wait_ms(int ms) {
  std::unique_lock lock(mutex_);
  cv_.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms), [&] { return stopped_.load(); });
  return !stopped_.load();
}

bool StopSignal::wait_until(const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [&] { return stopped_.load() || done(); });
  return done();
}

void StopSignal::wake() {
  { std::lock_guard lock(mutex_); }
  cv_.notify_all();
}

namespace {

constexpr std::string_view kHeaderText =
    "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";

std::vector<std::string> header_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (true) {
    const auto end = text.find("\r\n", from);
    lines.push_back(text.substr(from, end == std::string::npos ? std::string::npos : end - from));
    if (end == std::string::npos) return lines;
    from = end + 2;
  }
}

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

Text message_of(std::string_view utf8) { return utf8_to_ansi(utf8); }

}  // namespace

std::string download_header_text(std::optional<std::int64_t> resume_offset) {
  std::string text(kHeaderText);
  if (resume_offset) text += "\r\nRange:bytes=" + std::to_string(*resume_offset) + "-";
  return text;
}

std::string download_agent_name(std::int64_t uptime_ms) { return "Agent" + std::to_string(uptime_ms); }

DownloadOutcome download_file(std::string_view url, const std::string& local_path, const DownloadProgress& progress,
                              std::optional<std::int64_t> resume_offset, StopSignal* stop, platform::Clock& clock) {
  DownloadOutcome outcome;
  std::int64_t offset = resume_offset && *resume_offset > 0 ? *resume_offset : 0;

  platform::HttpRequest request;
  request.method = "GET";
  request.url = ansi_to_utf8(url);
  request.headers = header_lines(download_header_text(resume_offset));
  // The User-Agent line of the header text wins over this one, as it does
  // with the platform's own client; the name still marks the session.
  request.user_agent = download_agent_name(clock.now_ms());
  request.decode_content = true;
  request.follow_redirects = true;
  request.should_stop = [stop] { return stop && stop->stopped(); };

  int fd = -1;
  bool head_seen = false;
  bool head_refused = false;
  bool local_failed = false;
  bool write_failed = false;
  bool too_large = false;
  bool stopped = false;
  std::int64_t start_ms = 0;

  // The local file is opened once the address has answered, so that an
  // unreachable address is told as such even where nothing could be written.
  request.on_head = [&](long status, std::int64_t content_length) {
    head_seen = true;
    outcome.status = status;
    if (status < 200 || status > 299) {
      head_refused = true;
      return;
    }
    if (offset > 0 && status != 206) offset = 0;  // the whole body comes again
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if (offset == 0) flags |= O_TRUNC;
    fd = ::open(local_path.c_str(), flags, 0644);
    if (fd < 0 || (offset > 0 && ::lseek(fd, 0, SEEK_END) < 0)) {
      local_failed = true;
      return;
    }
    outcome.total = content_length > 0 ? content_length : 0;
    outcome.received = offset;
    start_ms = clock.now_ms();
  };

  request.on_data = [&](const char* data, std::size_t size) {
    if (head_refused || local_failed || fd < 0) return false;
    while (size > 0) {
      if (stop && stop->stopped()) {
        stopped = true;
        return false;
      }
      const std::size_t piece = size < kDownloadPieceBytes ? size : kDownloadPieceBytes;
      if (outcome.received - offset + static_cast<std::int64_t>(piece) > kMaxDownloadBytes) {
        too_large = true;
        return false;
      }
      if (!write_all(fd, data, piece)) {
        write_failed = true;
        return false;
      }
      outcome.received += static_cast<std::int64_t>(piece);
      data += piece;
      size -= piece;
      std::int64_t elapsed = clock.now_ms() - start_ms;
      if (elapsed == 0) elapsed = 10;
      if (progress) progress(outcome.total, outcome.received, elapsed, outcome.received - offset);
    }
    return true;
  };

  const platform::HttpResponse response = platform::http_perform(request);
  if (fd >= 0 && ::close(fd) != 0) write_failed = true;

  auto fail = [&](DownloadFailure failure, Text message) {
    outcome.failure = failure;
    outcome.message = std::move(message);
    // Whatever stands at that path once the address answered, half written
    // now or left from an earlier try, must never be taken for the program.
    if (head_seen && outcome.status != 0 && !local_failed) ::unlink(local_path.c_str());
    return outcome;
  };

  if (stopped || (stop && stop->stopped())) return fail(DownloadFailure::cancelled, {});
  if (response.no_handle) {
    return fail(DownloadFailure::internet, message_of("Internet连接错误!"));
  }
  if (!head_seen || response.status == 0) return fail(DownloadFailure::open_url, message_of("不能打开该URL!"));
  if (head_refused) {
    return fail(DownloadFailure::refused, message_of("服务器没有给出新版本的程序（HTTP " +
                                                     std::to_string(outcome.status) + "），程序未更新。"));
  }
  if (local_failed) return fail(DownloadFailure::open_local_file, message_of("不能打开本地的文件!"));
  if (too_large) {
    return fail(DownloadFailure::refused,
                message_of("下载的文件超过" + std::to_string(kMaxDownloadBytes / 1048576) + "MB，不是本程序，程序未更新。"));
  }
  if (write_failed) return fail(DownloadFailure::open_local_file, message_of("写入临时文件出错，程序未更新。"));
  // libcurl holds the wire bytes to the announced length: a body cut short of
  // it, a broken encoding or a stalled line all end here.
  if (!response.complete) return fail(DownloadFailure::read, message_of("读文件出错!"));
  if (outcome.received - offset == 0) {
    return fail(DownloadFailure::refused, message_of("下载到的新版本是空的，程序未更新。"));
  }
  return outcome;
}

}  // namespace korvani
