#pragma once
// The catalog window as a docking worker sees it. Every call is carried out
// on the window's thread and returns when it is done. The worker and the
// window share the adapter; once the window is closed, closed() answers true
// and the other calls do nothing, so a worker never touches a control that
// is gone. The stop button reaches a worker through the same adapter.
#include <QPointer>
#include <atomic>
#include <functional>

#include "docking/catalog_view.h"

namespace korvani {

class CatalogWindow;

class CatalogViewQt final : public CatalogView {
 public:
  explicit CatalogViewQt(CatalogWindow* window);

  // Called on the window's thread when the window closes or is destroyed.
  void window_gone();

  int item_count() override;
  bool item_ticked(int index) override;
  Text item_text(int index) override;
  void append_log(const Text& line) override;
  void set_button_enabled(bool enabled) override;
  void set_timer_interval(int ms) override;
  void show_box(const Text& text, const Text& title) override;
  void keep_docking_texts(const ProgramState& run_state) override;
  void wait_ms(int ms) override;
  bool closed() override;
  void set_progress(int done, int total) override;
  bool stop_requested() override;
  bool skip_docked_directories() override;
  // Opens the re-login window and waits, off the window thread, until a
  // look at the back end finds it logged in again (true), or the window is
  // closed without that, stop is pressed or the catalog window goes (false).
  bool wait_for_backend_login() override;

  // The stop button (window thread): the run ends after the request in
  // flight; a wait in progress ends at once.
  void request_stop();
  // A new run starts with no stop asked.
  void clear_stop();

  // Runs `work` on the window's thread while the window lives; false when
  // it is gone.
  bool on_window(const std::function<void(CatalogWindow&)>& work);

  // Tests shorten the pause between docked directories: a value >= 0 stands
  // for every wait; < 0 waits as asked.
  static void set_wait_override_ms(int ms);

 private:
  QPointer<CatalogWindow> window_;   // read on the window's thread only
  std::atomic<bool> closed_{false};
  std::atomic<bool> stop_{false};
};

}  // namespace korvani
