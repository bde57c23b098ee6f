#pragma once
// What a docking worker may do with the catalog window. The window's
// implementation carries each call out on the window's thread and returns
// when it is done; tests use a recording implementation.
#include <string>

#include "text/text.h"

namespace korvani {

struct ProgramState;

class CatalogView {
 public:
  virtual ~CatalogView() = default;

  virtual int item_count() = 0;
  virtual bool item_ticked(int index) = 0;      // index from 0
  virtual Text item_text(int index) = 0;
  virtual void append_log(const Text& line) = 0;  // line as given, its "\r\n" included
  virtual void set_button_enabled(bool enabled) = 0;
  virtual void set_timer_interval(int ms) = 0;
  // Shows a box titled `title` and returns once the user has closed it. Only
  // the worker waits; the window stays usable.
  virtual void show_box(const Text& text, const Text& title) = 0;
  // The run is over: `run_state` holds the texts it leaves for the next run
  // (sign_str, good_ids, good_dirs). Called before the button comes back, so
  // that the click that starts the next run finds them in place.
  virtual void keep_docking_texts(const ProgramState& run_state) = 0;
  // Waits `ms` milliseconds between docked sub-directories.
  virtual void wait_ms(int ms) = 0;
  // True once the window is gone (or going): the worker stops at its next step.
  virtual bool closed() = 0;

  // What a run reports and asks beyond that. The defaults are those of a view
  // without progress bar, stop button, tick box or re-login window.

  // Items done of items ticked; (0, total) at the start of a run.
  virtual void set_progress(int /*done*/, int /*total*/) {}
  // True once the user asked the run to stop: it ends after the request in
  // flight (a wait_ms in progress returns early).
  virtual bool stop_requested() { return false; }
  // The tick box: directories that an earlier run created, and that the back
  // end still holds, are not saved again.
  virtual bool skip_docked_directories() { return true; }
  // The back end answered a request of the run as logged out. Lets the user
  // log in again and returns true once the back end is logged in, false
  // when the run has to end instead (stop pressed, window closed).
  virtual bool wait_for_backend_login() { return false; }
};

}  // namespace korvani
