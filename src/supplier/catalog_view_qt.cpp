#include "supplier/catalog_view_qt.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <thread>

#include "docking/backend_relogin_window.h"
#include "platform/qt_text_qt.h"
#include "platform/ui_bridge_qt.h"
#include "supplier/catalog_list_model_qt.h"
#include "supplier/catalog_window.h"

namespace korvani {

namespace {
std::atomic<int> wait_override_ms{-1};
}  // namespace

CatalogViewQt::CatalogViewQt(CatalogWindow* window) : window_(window) {}

void CatalogViewQt::window_gone() { closed_ = true; }

bool CatalogViewQt::closed() { return closed_; }

bool CatalogViewQt::on_window(const std::function<void(CatalogWindow&)>& work) {
  if (closed_) return false;
  // The application object outlives every window, so the call is posted to
  // it and the window is looked up only on its own thread.
  bool done = false;
  platform::run_on_ui_thread(QCoreApplication::instance(), [&] {
    if (window_ && !closed_) {
      work(*window_);
      done = true;
    }
  });
  return done;
}

int CatalogViewQt::item_count() {
  int count = 0;
  on_window([&](CatalogWindow& w) { count = w.list_model()->count(); });
  return count;
}

bool CatalogViewQt::item_ticked(int index) {
  bool ticked = false;
  on_window([&](CatalogWindow& w) { ticked = w.list_model()->ticked(index); });
  return ticked;
}

Text CatalogViewQt::item_text(int index) {
  Text text;
  on_window([&](CatalogWindow& w) { text = w.list_model()->text(index); });
  return text;
}

void CatalogViewQt::append_log(const Text& line) {
  on_window([&](CatalogWindow& w) { w.append_log(line); });
}

void CatalogViewQt::set_button_enabled(bool enabled) {
  on_window([&](CatalogWindow& w) { w.set_docking_button_enabled(enabled); });
}

void CatalogViewQt::set_timer_interval(int ms) {
  on_window([&](CatalogWindow& w) { w.set_timer_interval(ms); });
}

void CatalogViewQt::show_box(const Text& text, const Text& title) {
  if (closed_) return;
  on_window([](CatalogWindow& w) { w.docking_box_shown(); });
  platform::show_message_box(QCoreApplication::instance(), to_qstring(text), to_qstring(title),
                             [this]() -> QObject* { return closed_ ? nullptr : window_.data(); });
}

void CatalogViewQt::keep_docking_texts(const ProgramState& run_state) {
  on_window([&](CatalogWindow& w) { w.keep_docking_texts(run_state); });
}

void CatalogViewQt::wait_ms(int ms) {
  const int override_ms = wait_override_ms.load();
  if (override_ms >= 0) ms = override_ms;
  // Slices, so that a closed window or the stop button ends the wait at once.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!closed_ && !stop_) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) break;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(20)));
  }
}

void CatalogViewQt::set_wait_override_ms(int ms) { wait_override_ms = ms; }

void CatalogViewQt::set_progress(int done, int total) {
  on_window([&](CatalogWindow& w) { w.set_progress(done, total); });
}

bool CatalogViewQt::stop_requested() { return stop_; }

void CatalogViewQt::request_stop() { stop_ = true; }

void CatalogViewQt::clear_stop() { stop_ = false; }

bool CatalogViewQt::skip_docked_directories() {
  // A window that is gone has no tick box; the default of the box stands.
  bool skip = true;
  on_window([&](CatalogWindow& w) { skip = w.skip_docked_directories(); });
  return skip;
}

bool CatalogViewQt::wait_for_backend_login() {
  if (closed_ || stop_) return false;
  // Set on the window thread when the re-login window goes, however.
  auto window_gone = std::make_shared<std::atomic<bool>>(false);
  Text backend_root;
  const bool opened = on_window([&](CatalogWindow& w) {
    backend_root = w.backend_root();
    BackendReloginWindow* relogin = w.open_relogin_window();
    QObject::connect(relogin, &BackendReloginWindow::finished, relogin, [window_gone] { *window_gone = true; });
  });
  if (!opened) return false;

  // The looks at the back end are requests, so they are made here, on the
  // worker, which waits anyway; the window thread stays free for the
  // browser the user logs in with.
  using clock = std::chrono::steady_clock;
  auto next_look = clock::now() + std::chrono::milliseconds(BackendReloginWindow::poll_interval_ms());
  bool logged_in = false;
  while (!closed_ && !stop_) {
    if (*window_gone) {
      // Closed by hand: a log-in the last look had not seen yet still counts.
      logged_in = BackendReloginWindow::backend_logged_in_again(backend_root);
      break;
    }
    if (clock::now() >= next_look) {
      if (BackendReloginWindow::backend_logged_in_again(backend_root)) {
        logged_in = true;
        break;
      }
      next_look = clock::now() + std::chrono::milliseconds(BackendReloginWindow::poll_interval_ms());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (closed_ || stop_) logged_in = false;
  on_window([&](CatalogWindow& w) { w.close_relogin_window(logged_in); });
  return logged_in;
}

}  // namespace korvani
