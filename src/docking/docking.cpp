#include "docking/docking.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "app/login_rule.h"
#include "app/program_state.h"
#include "docking/docking_pages.h"
#include "docking/run_journal.h"
#include "docking/run_record.h"
#include "supplier/catalog.h"
#include "supplier/supplier_login.h"
#include "web/web_request.h"

namespace korvani {
namespace {

struct Words {
  Text saved = utf8_to_ansi("添加成功");
  Text main_ok = utf8_to_ansi("主目录克隆成功\r\n");
  Text main_failed = utf8_to_ansi("主目录克隆失败\r\n");
  Text returned_id = utf8_to_ansi("返回ID\r\n");
  Text sub_ok = utf8_to_ansi("子目录克隆成功\r\n");
  Text sub_failed = utf8_to_ansi("子目录克隆失败\r\n");
  Text sub_parent_not_cloned = utf8_to_ansi("子目录未克隆：上级目录未克隆\r\n");
  Text sub_parent_id_missing = utf8_to_ansi("子目录未克隆：上级目录ID未找到\r\n");
  Text goods_dir_missing = utf8_to_ansi("商品未对接：批量添加页无此目录\r\n");
  Text refresh_first = utf8_to_ansi("您还没刷新目录");
  Text finished = utf8_to_ansi("目录克隆完成");
  Text notice = utf8_to_ansi("提示");
  Text stopped_at = utf8_to_ansi("对接已停止：停在");
  Text before = utf8_to_ansi("之前\r\n");
  Text id_lookup = utf8_to_ansi("的ID查询");
  Text goods_page = utf8_to_ansi("的商品第");
  Text page_suffix = utf8_to_ansi("页");
  Text page_unread = utf8_to_ansi("页未读到\r\n");
  Text goods_docking = utf8_to_ansi("的商品对接");
  Text session_expired = utf8_to_ansi("后台登录已失效，请在弹出的窗口重新登录\r\n");
  Text main_skipped = utf8_to_ansi("主目录跳过：上次对接已建\r\n");
  Text sub_skipped = utf8_to_ansi("子目录跳过：上次对接已建\r\n");
  Text main_skipped_unchecked = utf8_to_ansi("主目录跳过：上次对接已建，目录页未读到\r\n");
  Text sub_skipped_unchecked = utf8_to_ansi("子目录跳过：上次对接已建，目录页未读到\r\n");
  Text journal_unwritable = utf8_to_ansi("对接记录写入失败：");
  Text run_log_unwritable = utf8_to_ansi("对接日志保存失败：");
};

const Words& words() {
  static const Words w;
  return w;
}

constexpr std::string_view kSaveDirectory = "directory/saveDirectory.html";
constexpr std::string_view kDirectoryPage = "directory/initadd.html";
constexpr std::string_view kGoodsQuery = "platform/platFormDirGoodsDataQuery.html";
constexpr std::string_view kBatchAddPage = "platform/batchAddGoods.html";
constexpr std::string_view kBatchSave = "platform/batchSaveGoodAndDirectory.html";

// The decoded page of a POST, and whether it may have taken effect without
// the whole answer arriving.
struct Posted {
  Text page;
  bool unanswered = false;  // a server was reached, but the answer did not come whole
};

Posted post_answer(const Text& root, std::string_view path, const std::optional<std::string>& body) {
  const std::string url = root + std::string(path);
  WebAnswer answer = body ? web_request_answer(url, 1, *body) : web_request_answer(url, 1);
  return {percent_decode(answer.body), answer.connected && !answer.complete};
}

Text post_page(const Text& root, std::string_view path, std::optional<std::string> body) {
  return post_answer(root, path, body).page;
}

bool page_is_blank(std::string_view page) {
  return page.find_first_not_of(" \t\r\n\f\v") == std::string_view::npos;
}

std::string save_directory_body(const Text& name, const Text& parent_id) {
  // The name travels as UTF-8; only the bytes that would split or change the
  // form are escaped, so "Q币&点卡" stays one title.
  return "titleStyle=&title=" + form_value(ansi_to_utf8(name)) + "&isHot=0&parentId=" + form_value(parent_id) +
         "&state=1&ispub=1&istojoin=1&introduction=";
}

// Two runs at once on one window or one state would each make every
// directory again and write the same docking texts: a second click that
// slips in before the first run has disabled the button gets a worker that
// leaves at once. The window hands each run a copy of the program's texts,
// so the view is what two runs of one window share.
class RunSlot {
 public:
  RunSlot(const CatalogView& view, const ProgramState& state) : keys_{&view, &state} {
    std::lock_guard lock(mutex());
    for (const void* key : keys_)
      if (active().count(key)) return;
    for (const void* key : keys_) active().insert(key);
    taken_ = true;
  }
  ~RunSlot() { release(); }
  RunSlot(const RunSlot&) = delete;
  RunSlot& operator=(const RunSlot&) = delete;

  bool taken() const { return taken_; }
  void release() {
    if (!taken_) return;
    std::lock_guard lock(mutex());
    for (const void* key : keys_) active().erase(key);
    taken_ = false;
  }

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static std::set<const void*>& active() {
    static std::set<const void*> s;
    return s;
  }
  const void* keys_[2];
  bool taken_ = false;
};

// Where a run stands in the catalog, for the line that says where it ended.
struct Where {
  Text name;          // of the item under way
  const Text* step;   // what of it comes next; null for the item itself
  int page = 0;       // of its goods, for the goods query
};

class DockingRun {
 public:
  DockingRun(CatalogView& view, ProgramState& state, RunSlot& slot, bool with_goods)
      : view_(view), state_(state), slot_(slot), root_(state.backend_root), with_goods_(with_goods) {}

  void run() {
    const Words& w = words();
    if (gone()) return;
    view_.set_button_enabled(false);
    if (gone()) return;
    view_.set_timer_interval(0);
    if (gone()) return;
    if (view_.item_count() == 0) {
      if (gone()) return;
      view_.show_box(w.refresh_first, w.notice);
      restore();
      return;
    }
    if (gone()) return;
    started_ = local_time_now();
    // Counted once: items added or removed while the run goes on are not
    // walked.
    const int count = view_.item_count();
    int total = 0;
    for (int i = 0; i < count; ++i) {
      if (gone()) return;
      if (view_.item_ticked(i)) ++total;
    }
    if (gone()) return;
    view_.set_progress(0, total);
    if (gone()) return;
    skip_ = view_.skip_docked_directories();
    if (!state_.files_dir.empty())
      journal_.emplace(files_path(state_.files_dir, run_journal_file_name), state_.backend_root, state_.supplier_host);

    int done = 0;
    for (int i = 0; i < count && !ended_; ++i) {
      if (gone()) return keep_record();
      if (!view_.item_ticked(i)) continue;
      if (gone()) return keep_record();
      const Text text = view_.item_text(i);
      const CatalogItem item = parse_catalog_item(text);
      if (stop_asked()) {
        end_at({item.name, nullptr});
        break;
      }
      if (!log(text + "\r\n")) return keep_record();
      if (!(item.is_main ? handle_main(item) : handle_sub(item))) {
        if (gone()) return keep_record();
        break;
      }
      if (gone()) return keep_record();
      ++done;
      view_.set_progress(done, std::max(total, done));
    }
    if (gone()) return keep_record();
    if (!log(run_summary_line(counts_))) return keep_record();
    keep_record();
    if (gone()) return;
    view_.show_box(w.finished, w.notice);
    restore();
  }

 private:
  // Each step asks first: once the window is gone the run ends without
  // touching it again.
  bool gone() {
    if (!closed_ && view_.closed()) closed_ = true;
    return closed_;
  }

  bool stop_asked() { return !gone() && view_.stop_requested(); }

  bool log(const Text& line) {
    if (gone()) return false;
    run_log_.push_back(line);
    view_.append_log(line);
    return true;
  }

  // The run's log goes to its own file; a window that went mid-run still
  // gets its record, without the summary on screen.
  void keep_record() {
    if (state_.files_dir.empty() || run_log_.empty() || record_kept_) return;
    record_kept_ = true;
    if (closed_) run_log_.push_back(run_summary_line(counts_));
    const auto path = write_run_log(state_.files_dir, started_, run_log_);
    if (path.empty()) log(words().run_log_unwritable + utf8_to_ansi(run_log_file_name(started_)) + "\r\n");
  }

  // The button comes back last: a click the moment it does starts a run that
  // finds the texts of this one in place, the slot free, and the timer
  // running, which it stops again in turn.
  void restore() {
    if (gone()) return;
    view_.keep_docking_texts(state_);
    if (gone()) return;
    view_.set_timer_interval(kSelectionTimerMs);
    slot_.release();
    if (gone()) return;
    view_.set_button_enabled(true);
  }

  // The run ends here (stop pressed, or no new log-in): one line says where.
  bool end_at(const Where& where) {
    const Words& w = words();
    Text place = where.name;
    if (where.step) place += *where.step;
    if (where.page > 0) place += std::to_string(where.page) + w.page_suffix;
    log(w.stopped_at + place + w.before);
    ended_ = true;
    return false;
  }

  enum class Answer { page, expired, end };

  // One request, unless the window went or the user stopped before it. An
  // answer the log-in poll would take for a logged-out back end means the
  // session expired; a blank one is a failed request and is the caller's
  // to judge.
  Answer send_once(std::string_view path, const std::optional<std::string>& body, Text& page, const Where& where,
                   bool stoppable) {
    if (gone()) return Answer::end;
    if (stoppable && stop_asked()) {
      end_at(where);
      return Answer::end;
    }
    Posted posted = post_answer(root_, path, body);
    page = std::move(posted.page);
    unanswered_ = posted.unanswered;
    if (gone()) return Answer::end;
    if (!page_is_blank(page) && !backend_logged_in(page)) return Answer::expired;
    return Answer::page;
  }

  // Pauses the run until the user has logged in again; false when the run
  // has to end instead.
  bool log_in_again(const Where& where) {
    if (!log(words().session_expired)) return false;
    if (gone()) return false;
    const bool back = view_.wait_for_backend_login();
    if (gone()) return false;
    if (!back) return end_at(where);
    ++session_;
    return true;
  }

  // The request, sent again after a new log-in as often as the session
  // expires; false when the run has to end. `stoppable` is off only for the
  // page that reads the id of a directory just saved: without that id a
  // rerun could not tell it was made, and would make it again.
  bool send(std::string_view path, const std::optional<std::string>& body, Text& page, const Where& where,
            bool stoppable = true) {
    for (;;) {
      switch (send_once(path, body, page, where, stoppable)) {
        case Answer::page: return true;
        case Answer::end: return false;
        case Answer::expired:
          if (!log_in_again(where)) return false;
      }
    }
  }

  // The directory page, which also serves as the newest picture of what the
  // back end holds: when it lists directories at all. A failed request or an
  // error page says nothing of what the back end holds.
  bool read_directory_page(const Where& where, bool stoppable) {
    if (!send(kDirectoryPage, std::nullopt, page_, where, stoppable)) return false;
    if (text_find(page_, "<option", 1, true) > 0) {
      holdings_ = page_;
      holdings_read_ = true;
    }
    return true;
  }

  // The journal's entry for this supplier directory when skipping is on and
  // the back end still lists its id and name; the directory page is read
  // for that at most once a run (again only when it could not be read).
  // When it cannot be read, the journal is trusted (`unchecked_`): saving
  // again could make a second copy, while a directory that is really gone
  // is made again by the next run that can read the page.
  bool confirmed(const Text& supplier_dir_id, const Where& where, std::optional<JournalEntry>& out) {
    out.reset();
    unchecked_ = false;
    if (!skip_ || !journal_) return true;
    const JournalEntry* entry = journal_->find(supplier_dir_id);
    if (!entry) return true;
    const JournalEntry copy = *entry;
    if (!holdings_read_) {
      const Text kept = page_;
      if (!read_directory_page(where, true)) return false;
      page_ = kept;
    }
    if (!holdings_read_) {
      unchecked_ = true;
      out = copy;
    } else if (copy.backend_id.empty()) {
      // Saved without its id read: the directory of that name stands for it.
      out = copy;
      out->backend_id = find_directory_option_id(holdings_, copy.name);
      if (out->backend_id.empty()) out.reset();
    } else if (directory_option_listed(holdings_, copy.backend_id, copy.name)) {
      out = copy;
    }
    if (out && out->backend_id.empty()) out.reset();
    return true;
  }

  // An empty `backend_id` notes a directory that was saved, or may have
  // been, without its id being read.
  void note(const Text& supplier_dir_id, const Text& backend_id, const Text& name, bool goods) {
    if (!journal_ || (goods && backend_id.empty())) return;
    if (!journal_->add(supplier_dir_id, backend_id, name, goods)) journal_unwritable();
  }

  // Said once a run.
  void journal_unwritable() {
    if (journal_failed_) return;
    journal_failed_ = true;
    log(words().journal_unwritable + utf8_to_ansi(journal_->path().string()) + "\r\n");
  }

  bool handle_main(const CatalogItem& item) {
    const Words& w = words();
    const Where here{item.name, nullptr};
    if (with_goods_) {
      if (!log(item.id + "\r\n")) return false;
      if (!log(item.name + "\r\n")) return false;
    }
    std::optional<JournalEntry> earlier;
    if (!confirmed(item.id, here, earlier)) return false;
    if (earlier) {
      cloned_[item.id] = {earlier->backend_id, true};
      ++counts_.skipped;
      return log(item.name + (unchecked_ ? w.main_skipped_unchecked : w.main_skipped));
    }
    if (!send(kSaveDirectory, save_directory_body(item.name, "0"), page_, here)) return false;
    const bool saved = text_find(page_, w.saved) > 0;
    // An answer that did not come whole may still have made the directory.
    const bool maybe_saved = !saved && unanswered_;
    saved ? ++counts_.created : ++counts_.failed;
    if (!log(item.name + (saved ? w.main_ok : w.main_failed))) return false;
    // Looked up even after a failed save: a directory of that name that the
    // back end already holds serves as well.
    if (!read_directory_page({item.name, &w.id_lookup}, !saved)) return false;
    const Text id = find_directory_option_id(page_, item.name);
    cloned_[item.id] = {id, false};
    if (saved || maybe_saved) note(item.id, id, item.name, false);
    return true;
  }

  bool handle_sub(const CatalogItem& item) {
    const Words& w = words();
    const Where here{item.name, nullptr};
    // A sub-directory goes under its own main directory: one handled in
    // this run, or one an earlier run made that the back end still holds.
    // Anything else would file it under a stranger or at the top level.
    auto parent = cloned_.find(item.parent_id);
    if (parent == cloned_.end()) {
      std::optional<JournalEntry> earlier;
      if (!item.parent_id.empty() && !confirmed(item.parent_id, here, earlier)) return false;
      if (earlier) parent = cloned_.emplace(item.parent_id, Parent{earlier->backend_id, true}).first;
    }
    if (parent == cloned_.end()) {
      ++counts_.failed;
      return log(item.name + w.sub_parent_not_cloned);
    }
    if (parent->second.id.empty()) {
      ++counts_.failed;
      return log(item.name + w.sub_parent_id_missing);
    }
    const Text parent_id = parent->second.id;
    if (!log(parent_id + w.returned_id)) return false;
    // Under a main directory made in this run there is nothing to skip.
    if (parent->second.earlier) {
      std::optional<JournalEntry> earlier;
      if (!confirmed(item.id, here, earlier)) return false;
      if (earlier) {
        ++counts_.skipped;
        if (!log(item.name + (unchecked_ ? w.sub_skipped_unchecked : w.sub_skipped))) return false;
        // Its goods too, unless the earlier run ended before they were all
        // docked.
        if (!with_goods_ || journal_->goods_docked(item.id, earlier->backend_id)) return true;
        return dock_goods(item, earlier->backend_id, journal_->goods_pages(item.id, earlier->backend_id));
      }
    }
    if (!send(kSaveDirectory, save_directory_body(item.name, parent_id), page_, here)) return false;
    if (text_find(page_, w.saved) < 1) {
      if (unanswered_) note(item.id, Text(), item.name, false);
      ++counts_.failed;
      return log(item.name + w.sub_failed);
    }
    ++counts_.created;
    if (!log(item.name + w.sub_ok)) return false;
    Text id;
    if (journal_) {
      if (!read_directory_page({item.name, &w.id_lookup}, false)) return false;
      id = find_directory_option_id(page_, item.name);
      note(item.id, id, item.name, false);
    }
    return with_goods_ ? dock_goods(item, id) : true;
  }

  // Every page of the sub-directory's goods, one batch save a page, until a
  // page brings no goods or only goods an earlier page brought. The first
  // `docked_pages` were docked by an earlier run: they are only read, so
  // that their goods are not taken for new ones on the pages after them.
  bool dock_goods(const CatalogItem& sub, const Text& journal_id, int docked_pages = 0) {
    const Words& w = words();
    const Where docking{sub.name, &w.goods_docking};
    std::set<Text> seen;
    bool directory_found = false;
    // A page that could not be read is no page without goods: the goods are
    // not taken as all docked, so that a rerun asks for them again.
    bool all_read = true;
    for (int number = 1; number <= kMaxGoodsPages; ++number) {
      const Where asking{sub.name, &w.goods_page, number};
      const std::string query = goods_query_body(state_.supplier_id, sub.id, number);
      Text page;
      if (!send(kGoodsQuery, query, page, asking)) return false;
      int key_session = session_;
      if (page_is_blank(page)) {
        all_read = false;
        if (!log(sub.name + w.goods_page + std::to_string(number) + w.page_unread)) return false;
      }
      const GoodsPage found = read_goods_page(page);
      if (found.has_key) state_.sign_str = found.key;
      std::vector<Text> fresh;
      for (const Text& id : found.good_ids)
        if (seen.insert(id).second) fresh.push_back(id);
      // The first page is saved even without goods, as the back end has
      // always been sent one batch save per docked sub-directory.
      if (number > 1 && fresh.empty()) break;
      if (number <= docked_pages) {
        if (found.good_ids.empty()) break;
        continue;
      }
      state_.good_ids = join(fresh);

      if (!directory_found) {
        Text batch_page;
        if (!send(kBatchAddPage, std::nullopt, batch_page, docking)) return false;
        state_.good_dirs = find_batch_directory_id(batch_page, sub.name);
        if (state_.good_dirs.empty()) return log(sub.name + w.goods_dir_missing);
        directory_found = true;
      }
      // The key belongs to the session that served the page: after a new
      // log-in the page is asked again for the new session's key.
      for (;;) {
        if (key_session != session_) {
          if (!send(kGoodsQuery, query, page, asking)) return false;
          key_session = session_;
          const GoodsPage again = read_goods_page(page);
          if (again.has_key) state_.sign_str = again.key;
          continue;
        }
        Text ignored;
        const std::string body =
            "signStr=" + form_value(state_.sign_str) + "&goodIds=" + form_value(state_.good_ids) +
            "&goodDirs=" + form_value(state_.good_dirs);
        const Answer answer = send_once(kBatchSave, body, ignored, docking, true);
        if (answer == Answer::end) return false;
        if (answer == Answer::page) break;
        if (!log_in_again(docking)) return false;
      }
      counts_.goods += static_cast<int>(fresh.size());
      if (journal_ && !journal_id.empty() && !journal_->add_goods_pages(sub.id, journal_id, sub.name, number))
        journal_unwritable();
      if (gone()) return false;
      view_.wait_ms(kDockedDirectoryPauseMs);
      if (gone()) return false;
      if (found.good_ids.empty()) break;
      if (number < kMaxGoodsPages && stop_asked()) return end_at({sub.name, &w.goods_page, number + 1});
    }
    if (all_read) note(sub.id, journal_id, sub.name, true);
    return true;
  }

  static Text join(const std::vector<Text>& ids) {
    Text out;
    for (const Text& id : ids) {
      if (!out.empty()) out += ',';
      out += id;
    }
    return out;
  }

  struct Parent {
    Text id;               // back-end id; empty when the directory page did not list it
    bool earlier = false;  // made by an earlier run, not this one
  };

  CatalogView& view_;
  ProgramState& state_;
  RunSlot& slot_;
  const Text root_;
  const bool with_goods_;
  bool closed_ = false;
  bool ended_ = false;
  bool skip_ = true;
  Text page_;
  // Supplier id of each main directory handled in this run (or found in
  // the journal for a sub-directory) -> where its sub-directories go.
  std::map<Text, Parent> cloned_;
  std::optional<RunJournal> journal_;
  bool journal_failed_ = false;
  Text holdings_;
  bool holdings_read_ = false;
  bool unchecked_ = false;  // the last confirmation trusted the journal alone
  bool unanswered_ = false;  // the last request's answer did not come whole
  int session_ = 0;  // new log-ins in this run
  RunCounts counts_;
  LocalTime started_;
  std::vector<Text> run_log_;
  bool record_kept_ = false;
};

void run_docking(CatalogView& view, ProgramState& state, bool with_goods) {
  RunSlot slot(view, state);
  if (!slot.taken()) return;
  DockingRun(view, state, slot, with_goods).run();
}

}  // namespace

void clone_directories(CatalogView& view, ProgramState& state) { run_docking(view, state, false); }

void clone_and_dock_goods(CatalogView& view, ProgramState& state) { run_docking(view, state, true); }

std::string goods_query_body(const Text& supplier_id, const Text& directory_id, int now_page) {
  // Ids are read out of pages; one holding "&" or "=" must not add a field.
  return "keyWord=&keyType=1&goodPlat=0&platFormId=" + form_value(supplier_id) +
         "&directoryId=" + form_value(directory_id) +
         "&nowPage=" + std::to_string(now_page) + "&everyPage=20";
}

void query_directory_goods(ProgramState& state, const Text& directory_id, const Text& supplier_id, int now_page) {
  const Text page = post_page(state.backend_root, kGoodsQuery, goods_query_body(supplier_id, directory_id, now_page));
  const GoodsPage found = read_goods_page(page);
  Text ids;
  for (const Text& id : found.good_ids) {
    if (!ids.empty()) ids += ',';
    ids += id;
  }
  state.good_ids = std::move(ids);
  if (found.has_key) state.sign_str = found.key;
}

}  // namespace korvani
