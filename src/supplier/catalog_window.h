#pragma once
// The third window, where the user works from then on: read the supplier's
// catalog into the check list, tick what is wanted (a main directory carries
// its sub-directories along, "全选" ticks everything), and start batch docking
// on a worker thread, which reports in the log pane.
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/program_state.h"
#include "docking/catalog_view.h"
#include "supplier/catalog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeView;
class QTreeWidget;

namespace korvani {

class BackendReloginWindow;
class CatalogListBox;
class CatalogListModel;
class CatalogTableModel;
class CatalogViewQt;

class CatalogWindow : public QWidget {
  Q_OBJECT

 public:
  // Creates and shows the window, then runs its creation steps: the back
  // end's base address, the supplier line, the catalog request, the timer.
  static CatalogWindow* open(ProgramState& state);

  explicit CatalogWindow(ProgramState& state, QWidget* parent = nullptr);
  ~CatalogWindow() override;

  void run_creation_steps();

  // "读取卡盟目录".
  void read_catalog();
  // One event of `时钟1`: the parent-follows rule on the current item.
  void apply_parent_rule();
  // `选择框4` clicked.
  void select_all(bool ticked);
  // `批量对接` clicked: `对接目录框` alone starts a cloning run, with
  // `对接商品框` a goods docking run; without `对接目录框` nothing happens.
  void start_docking();

  // The log pane `编辑框1`: the line goes to the end, and the end is shown.
  void append_log(const Text& line);
  void set_docking_button_enabled(bool enabled);
  // What a docking run leaves for the next one (sign_str, good_ids,
  // good_dirs) goes back into the program's texts.
  void keep_docking_texts(const ProgramState& run_state);
  // 0 stops `时钟1`.
  void set_timer_interval(int ms);
  int timer_interval() const;

  // The progress bar: items done of items ticked.
  void set_progress(int done, int total);
  // "停止" clicked: the running run ends after its request in flight, and a
  // re-login it waits on is given up.
  void stop_docking();
  // "跳过已对接目录", asked at the start of each run.
  bool skip_docked_directories() const;
  // A run's box is its last word: from then on there is nothing to stop.
  void docking_box_shown();

  // The re-login window of a run that met an expired back-end session.
  BackendReloginWindow* open_relogin_window();
  // Closes it; `logged_in` says why.
  void close_relogin_window(bool logged_in);
  Text backend_root() const { return state_.backend_root; }

  CatalogListModel* list_model() const;
  CatalogListBox* list_box() const { return list_box_; }
  const CatalogTable& work_table() const { return table_; }

  // The worker bodies a click starts. Tests put stand-ins here; empty
  // functions restore clone_directories and clone_and_dock_goods.
  using DockingRun = std::function<void(CatalogView&, ProgramState&)>;
  static void set_docking_runs(DockingRun clone, DockingRun goods);
  // Docking runs started and not yet ended, in this process.
  static int running_docking_runs();

  // The selection rule's period.
  static constexpr int selection_interval_ms = 100;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void run_ended();

  ProgramState& state_;
  CatalogTable table_;
  std::shared_ptr<CatalogViewQt> view_;

  CatalogListBox* list_box_ = nullptr;
  CatalogTableModel* table_model_ = nullptr;
  QPushButton* read_button_ = nullptr;
  QTimer* timer_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  QLabel* supplier_label_ = nullptr;
  QCheckBox* select_all_box_ = nullptr;
  QCheckBox* dock_goods_box_ = nullptr;
  QCheckBox* dock_directories_box_ = nullptr;
  QPushButton* dock_button_ = nullptr;
  QTreeView* work_table_view_ = nullptr;
  QTreeWidget* goods_table_view_ = nullptr;
  QLineEdit* goods_field_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QPushButton* stop_button_ = nullptr;
  QCheckBox* skip_box_ = nullptr;
  QPointer<BackendReloginWindow> relogin_;
  // Runs this window started whose worker has not ended yet.
  int runs_going_ = 0;
};

}  // namespace korvani
