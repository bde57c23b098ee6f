#include "supplier/catalog_view_qt.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <thread>

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
  platform::show_message_box(QCoreApplication::instance(), to_qstring(text), to_qstring(title),
                             [this]() -> QObject* { return closed_ ? nullptr : window_.data(); });
}

void CatalogViewQt::keep_docking_texts(const ProgramState& run_state) {
  on_window([&](CatalogWindow& w) { w.keep_docking_texts(run_state); });
}

void CatalogViewQt::wait_ms(int ms) {
  const int override_ms = wait_override_ms.load();
  if (override_ms >= 0) ms = override_ms;
  // Slices, so that a closed window ends the wait at once.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!closed_) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) break;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(20)));
  }
}

void CatalogViewQt::set_wait_override_ms(int ms) { wait_override_ms = ms; }

}  // namespace korvani
