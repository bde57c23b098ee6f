#include "docking/docking.h"

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "app/program_state.h"
#include "docking/docking_pages.h"
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

Text post_page(const Text& root, std::string_view path, std::optional<std::string> body) {
  const std::string url = root + std::string(path);
  if (body) return percent_decode(web_request(url, 1, *body));
  return percent_decode(web_request(url, 1));
}

std::string save_directory_body(const Text& name, const Text& parent_id) {
  // The name travels as UTF-8; only the bytes that would split or change the
  // form are escaped, so "Q币&点卡" stays one title.
  return "titleStyle=&title=" + form_value(ansi_to_utf8(name)) + "&isHot=0&parentId=" + parent_id +
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
    // Counted once: items added or removed while the run goes on are not
    // walked.
    const int count = view_.item_count();
    for (int i = 0; i < count; ++i) {
      if (gone()) return;
      if (!view_.item_ticked(i)) continue;
      if (gone()) return;
      const Text text = view_.item_text(i);
      if (!log(text + "\r\n")) return;
      const CatalogItem item = parse_catalog_item(text);
      if (!(item.is_main ? handle_main(item) : handle_sub(item))) return;
    }
    if (gone()) return;
    view_.show_box(w.finished, w.notice);
    restore();
  }

 private:
  // Each step asks first: once the window is gone the run ends without
  // touching it again.
  bool gone() {
    if (!stopped_ && view_.closed()) stopped_ = true;
    return stopped_;
  }

  bool log(const Text& line) {
    if (gone()) return false;
    view_.append_log(line);
    return true;
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

  // The request, unless the window went before it; false when the run has to
  // end.
  bool post(std::string_view path, std::optional<std::string> body, Text& page) {
    if (gone()) return false;
    page = post_page(root_, path, std::move(body));
    return !gone();
  }

  bool handle_main(const CatalogItem& item) {
    const Words& w = words();
    if (with_goods_) {
      if (!log(item.id + "\r\n")) return false;
      if (!log(item.name + "\r\n")) return false;
    }
    if (!post(kSaveDirectory, save_directory_body(item.name, "0"), page_)) return false;
    if (!log(item.name + (text_find(page_, w.saved) > 0 ? w.main_ok : w.main_failed))) return false;
    // Looked up even after a failed save: a directory of that name that the
    // back end already holds serves as well.
    if (!post(kDirectoryPage, std::nullopt, page_)) return false;
    cloned_[item.id] = find_directory_option_id(page_, item.name);
    return true;
  }

  bool handle_sub(const CatalogItem& item) {
    const Words& w = words();
    // A sub-directory goes under its own main directory, and only when that
    // one was cloned in this run: anything else would file it under a
    // stranger or at the top level.
    auto parent = cloned_.find(item.parent_id);
    if (parent == cloned_.end()) return log(item.name + w.sub_parent_not_cloned);
    if (parent->second.empty()) return log(item.name + w.sub_parent_id_missing);
    const Text& parent_id = parent->second;
    if (!log(parent_id + w.returned_id)) return false;
    if (!post(kSaveDirectory, save_directory_body(item.name, parent_id), page_)) return false;
    if (text_find(page_, w.saved) < 1) return log(item.name + w.sub_failed);
    if (!log(item.name + w.sub_ok)) return false;
    return with_goods_ ? dock_goods(item) : true;
  }

  bool dock_goods(const CatalogItem& sub) {
    if (gone()) return false;
    query_directory_goods(state_, sub.id, state_.supplier_id);
    Text batch_page;
    if (!post(kBatchAddPage, std::nullopt, batch_page)) return false;
    state_.good_dirs = find_batch_directory_id(batch_page, sub.name);
    if (state_.good_dirs.empty()) return log(sub.name + words().goods_dir_missing);
    Text ignored;
    if (!post(kBatchSave, "signStr=" + state_.sign_str + "&goodIds=" + state_.good_ids + "&goodDirs=" +
                              state_.good_dirs,
              ignored))
      return false;
    if (gone()) return false;
    view_.wait_ms(kDockedDirectoryPauseMs);
    return !gone();
  }

  CatalogView& view_;
  ProgramState& state_;
  RunSlot& slot_;
  const Text root_;
  const bool with_goods_;
  bool stopped_ = false;
  Text page_;
  // Supplier id of each main directory handled in this run -> the back-end
  // id found for it (empty when the directory page did not list it).
  std::map<Text, Text> cloned_;
};

void run_docking(CatalogView& view, ProgramState& state, bool with_goods) {
  RunSlot slot(view, state);
  if (!slot.taken()) return;
  DockingRun(view, state, slot, with_goods).run();
}

}  // namespace

void clone_directories(CatalogView& view, ProgramState& state) { run_docking(view, state, false); }

void clone_and_dock_goods(CatalogView& view, ProgramState& state) { run_docking(view, state, true); }

void query_directory_goods(ProgramState& state, const Text& directory_id, const Text& supplier_id) {
  const Text page = post_page(state.backend_root, kGoodsQuery,
                              "keyWord=&keyType=1&goodPlat=0&platFormId=" + supplier_id +
                                  "&directoryId=" + directory_id + "&nowPage=1&everyPage=20");
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
