#include "update/update_run.h"

#include <unistd.h>

namespace korvani {

Text UpdateJob::restart_default(const std::string& path, const std::vector<std::string>& arguments) {
  return restart_executable(path, arguments);
}

UpdateEnd run_update(const UpdateJob& job, UpdateProgressView& view) {
  platform::Clock& clock = job.clock ? *job.clock : platform::system_clock();
  auto stopped = [&] { return job.stop && job.stop->stopped(); };
  auto give_up = [&](const Text& message) {
    if (!stopped()) view.show_box(message);
    return stopped() ? UpdateEnd::stopped : UpdateEnd::failed;
  };
  // Without the program's own absolute path the download would land beside
  // whatever the current directory is, and no rename could reach the program.
  if (job.executable_path.empty() || job.executable_path.front() != '/') {
    return give_up(utf8_to_ansi("不能打开本地的文件!"));
  }
  const std::string temp = update_temp_path(job.executable_path);

  const DownloadOutcome download = download_file(
      job.download_url, temp,
      [&](std::int64_t total, std::int64_t received, std::int64_t elapsed, std::int64_t this_run) {
        view.show_progress(download_progress(total, received, elapsed, this_run));
      },
      std::nullopt, job.stop, clock);
  if (download.failure == DownloadFailure::cancelled) return UpdateEnd::stopped;
  if (!download.ok()) return give_up(download.message);

  // Checked before the countdown says "更新完毕": what is not a whole program
  // of ours never takes the executable's place.
  if (Text wrong = check_new_executable(temp); !wrong.empty()) {
    ::unlink(temp.c_str());
    return give_up(wrong);
  }

  view.hide_size_and_speed();
  for (int seconds = 3; seconds >= 1; --seconds) {
    view.set_status_text(countdown_text(seconds));
    bool went_on = true;
    if (job.stop) {
      went_on = job.stop->wait_ms(job.countdown_step_ms);
    } else {
      clock.sleep_ms(job.countdown_step_ms);
    }
    if (!went_on) {
      ::unlink(temp.c_str());
      return UpdateEnd::stopped;
    }
  }

  if (stopped()) {
    ::unlink(temp.c_str());
    return UpdateEnd::stopped;
  }
  if (Text failed = replace_executable(job.executable_path, temp); !failed.empty()) return give_up(failed);
  // The new program is in place now; a user who asked to quit meanwhile
  // gets it at the next start instead.
  if (stopped()) return UpdateEnd::stopped;
  if (Text failed = job.restart(job.executable_path, job.arguments); !failed.empty()) {
    view.show_box(failed);
    return UpdateEnd::failed;
  }
  return UpdateEnd::restarted;
}

}  // namespace korvani
