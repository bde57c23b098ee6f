#pragma once
// The download of a new executable: the request exactly as the update
// channel has always sent it, the body stored piece by piece as it arrives,
// and every way it can go wrong told in the user's words.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "text/text.h"

namespace korvani {

inline constexpr std::size_t kDownloadPieceBytes = 10240;
// Nothing that big is a program of ours; a server that keeps sending must
// not fill the disk beside the executable.
inline constexpr std::int64_t kMaxDownloadBytes = 1024LL * 1024 * 1024;

// Lets the window stop a worker: the transfer is cancelled at its next piece
// and waits end at once. Nothing is ever killed.
class StopSignal {
 public:
  void stop();
  bool stopped() const { return stopped_.load(); }
  // Sleeps up to `ms`; false when stopped before or during the wait.
  bool wait_ms(int ms);
  // Waits until `done()` holds (after a `wake()`) or the signal is stopped;
  // answers done().
  bool wait_until(const std::function<bool()>& done);
  void wake();

 private:
  std::atomic<bool> stopped_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
};

// "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: gzip, deflate\r\n
// User-Agent: Mozilla/4.0(compatible; ...)" and, with an offset,
// "\r\nRange:bytes=N-". No line end after the last line.
std::string download_header_text(std::optional<std::int64_t> resume_offset = std::nullopt);
// "Agent" and the milliseconds since the system started.
std::string download_agent_name(std::int64_t uptime_ms);

enum class DownloadFailure {
  none,
  internet,         // no HTTP client to be had
  open_url,         // no answer from that address (an empty address too)
  open_local_file,  // the file beside the executable cannot be written
  read,             // the transfer broke off
  refused,          // an answer that must not become the executable
  cancelled,        // stopped by the user; no message
};

struct DownloadOutcome {
  DownloadFailure failure = DownloadFailure::none;
  Text message;                 // what the user is told; empty when none
  long status = 0;
  std::int64_t total = 0;       // as announced, 0 when none
  std::int64_t received = 0;    // bytes stored, a resume offset included
  bool ok() const { return failure == DownloadFailure::none; }
};

// total, received, elapsed ms (never 0), received in this run.
using DownloadProgress = std::function<void(std::int64_t, std::int64_t, std::int64_t, std::int64_t)>;

// Fetches `url` into `local_path` (a file-system path, UTF-8), calling
// `progress` after every piece of at most kDownloadPieceBytes written. The
// request announces gzip and deflate, so an encoded body is stored decoded.
// Refused: an answer other than 2xx, an empty body, one beyond
// kMaxDownloadBytes. On every failure the file is removed, so nothing half
// written is ever taken for the new program. With a resume offset the file
// is extended from its end; a server that ignores the range starts it over.
DownloadOutcome download_file(std::string_view url, const std::string& local_path,
                              const DownloadProgress& progress,
                              std::optional<std::int64_t> resume_offset = std::nullopt,
                              StopSignal* stop = nullptr, platform::Clock& clock = platform::system_clock());

}  // namespace korvani
