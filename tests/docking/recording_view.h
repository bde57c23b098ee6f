#pragma once
// A catalog view that records what a docking run does to the window, in
// order, and can pretend the window was closed at a chosen point.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/program_state.h"
#include "docking/catalog_view.h"
#include "text/text.h"

namespace korvani::test {

inline Text cp(std::string_view utf8) { return utf8_to_ansi(utf8); }

// The back end's paths a docking run asks for, as the demo shop records them.
constexpr const char* kSave = "/admin/directory/saveDirectory.html";
constexpr const char* kDirPage = "/admin/directory/initadd.html";
constexpr const char* kGoods = "/admin/platform/platFormDirGoodsDataQuery.html";
constexpr const char* kBatchPage = "/admin/platform/batchAddGoods.html";
constexpr const char* kBatchSave = "/admin/platform/batchSaveGoodAndDirectory.html";

inline Text main_item(std::string_view id, std::string_view name_utf8) {
  return cp("主目录ID:") + Text(id) + cp("----主目录名称:") + cp(name_utf8) + "----";
}
inline Text sub_item(std::string_view id, std::string_view name_utf8, std::string_view parent_id) {
  return cp("子目录ID:") + Text(id) + cp("----子目录名称:") + cp(name_utf8) + cp("上级目录:") + Text(parent_id) +
         "----";
}

class RecordingView : public CatalogView {
 public:
  struct Item {
    Text text;
    bool ticked = true;
  };
  std::vector<Item> items;

  // Every call but the reads, as "button on", "timer 0", "log <utf-8 line>",
  // "box <text>|<title>", "keep texts", "wait 1000".
  std::vector<std::string> calls;
  std::vector<Text> log;  // the lines as appended, code page, "\r\n" included
  // The texts the run handed back for the next one, at the time it did.
  Text kept_sign_str, kept_good_ids, kept_good_dirs;

  // Asked before each call is recorded; answering true closes the window.
  std::function<bool(const std::string& call)> close_when;
  // Runs while a box is up, as the user would act before closing it.
  std::function<void()> on_box;

  // Asked after each call is recorded; answering true presses stop. A test
  // may also set `stop` from another thread.
  std::function<bool(const std::string& call)> stop_when;
  std::atomic<bool> stop{false};
  // The tick box for skipping what earlier runs made.
  bool skip = true;
  // The re-login window: recorded as "login", answers what this answers
  // (no new log-in when unset).
  std::function<bool()> on_login;
  // Every set_progress, as (done, total).
  std::vector<std::pair<int, int>> progress;

  bool is_closed = false;
  int closed_questions = 0;
  int touches_after_close = 0;

  int item_count() override {
    touch();
    return static_cast<int>(items.size());
  }
  bool item_ticked(int index) override {
    touch();
    return index >= 0 && index < static_cast<int>(items.size()) && items[index].ticked;
  }
  Text item_text(int index) override {
    touch();
    return index >= 0 && index < static_cast<int>(items.size()) ? items[index].text : Text();
  }
  void append_log(const Text& line) override {
    log.push_back(line);
    record("log " + ansi_to_utf8(line));
  }
  void set_button_enabled(bool enabled) override { record(enabled ? "button on" : "button off"); }
  void set_timer_interval(int ms) override { record("timer " + std::to_string(ms)); }
  void show_box(const Text& text, const Text& title) override {
    record("box " + ansi_to_utf8(text) + "|" + ansi_to_utf8(title));
    if (on_box) on_box();
  }
  void keep_docking_texts(const ProgramState& run_state) override {
    kept_sign_str = run_state.sign_str;
    kept_good_ids = run_state.good_ids;
    kept_good_dirs = run_state.good_dirs;
    record("keep texts");
  }
  void wait_ms(int ms) override { record("wait " + std::to_string(ms)); }
  void set_progress(int done, int total) override {
    touch();
    progress.emplace_back(done, total);
  }
  bool stop_requested() override { return stop; }
  bool skip_docked_directories() override { return skip; }
  bool wait_for_backend_login() override {
    record("login");
    return on_login ? on_login() : false;
  }
  bool closed() override {
    ++closed_questions;
    return is_closed;
  }

  // The log as UTF-8 lines without their "\r\n" (each line must have one).
  std::vector<std::string> log_lines() const {
    std::vector<std::string> lines;
    for (const Text& l : log) {
      std::string u = ansi_to_utf8(l);
      if (u.size() >= 2 && u.compare(u.size() - 2, 2, "\r\n") == 0)
        u.resize(u.size() - 2);
      else
        u += " <no line end>";
      lines.push_back(u);
    }
    return lines;
  }

 private:
  void touch() {
    if (is_closed) ++touches_after_close;
  }
  void record(std::string call) {
    touch();
    if (!is_closed && close_when && close_when(call)) is_closed = true;
    if (stop_when && stop_when(call)) stop = true;
    calls.push_back(std::move(call));
  }
};

}  // namespace korvani::test
