#pragma once
// The update worker's whole road: download beside the executable, check
// what came, count down, put it in place and start it. The window supplies
// the view; a test or a small program of its own may supply another.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "text/text.h"
#include "update/download.h"
#include "update/progress.h"
#include "update/replace.h"

namespace korvani {

// What the worker shows. Every call may come from the worker thread.
class UpdateProgressView {
 public:
  virtual ~UpdateProgressView() = default;
  virtual void show_progress(const ProgressDisplay& display) = 0;
  virtual void hide_size_and_speed() = 0;
  virtual void set_status_text(const Text& text) = 0;   // the percentage label
  // A message box (caption "信息：", OK); returns once it is closed or the
  // run is stopped.
  virtual void show_box(const Text& text) = 0;
};

struct UpdateJob {
  Text download_url;
  std::string executable_path;             // absolute, read before anything is replaced
  std::vector<std::string> arguments;      // for the restarted program
  int countdown_step_ms = 1000;
  // Starts the new program in place of this one; returns only on failure,
  // with the message. Tests put in one that records and returns empty.
  std::function<Text(const std::string&, const std::vector<std::string>&)> restart = restart_default;
  StopSignal* stop = nullptr;
  platform::Clock* clock = nullptr;        // nullptr: the system's

  static Text restart_default(const std::string& path, const std::vector<std::string>& arguments);
};

enum class UpdateEnd {
  restarted,   // only seen when `restart` returned without starting anything
  failed,      // told to the user; before the rename the old program is untouched
  stopped,     // the user asked to quit; nothing replaced, nothing left
};

UpdateEnd run_update(const UpdateJob& job, UpdateProgressView& view);

}  // namespace korvani
