#include "supplier/catalog_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "docking/backend_relogin_window.h"
#include "docking/docking.h"
#include "platform/qt_text_qt.h"
#include "supplier/catalog_list_model_qt.h"
#include "supplier/catalog_view_qt.h"
#include "supplier/supplier_login.h"
#include "web/web_request.h"

namespace korvani {

namespace {

CatalogWindow::DockingRun& clone_run() {
  static CatalogWindow::DockingRun run;
  return run;
}

CatalogWindow::DockingRun& goods_run() {
  static CatalogWindow::DockingRun run;
  return run;
}

std::atomic<int> running_runs{0};

QLabel* transparent_label(QWidget* parent, const QString& name, const QString& text, const QRect& geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setAutoFillBackground(false);
  label->setAttribute(Qt::WA_TranslucentBackground);
  label->setStyleSheet(QStringLiteral("background: transparent;"));
  label->setGeometry(geometry);
  return label;
}

QCheckBox* check_box(QWidget* parent, const QString& name, const QRect& geometry) {
  auto* box = new QCheckBox(QStringLiteral("选择框"), parent);
  box->setObjectName(name);
  box->setGeometry(geometry);
  return box;
}

QGroupBox* group_box(QWidget* parent, const QString& name, const QString& title, const QRect& geometry) {
  auto* box = new QGroupBox(title, parent);
  box->setObjectName(name);
  box->setGeometry(geometry);
  return box;
}

// The worker gets texts of its own, so that it never reads the program-wide
// ones after the program has let them go; the texts a run writes for the next
// run are handed back while the window still exists. The catalog text is no
// business of a run.
std::shared_ptr<ProgramState> worker_state(const ProgramState& state) {
  auto copy = std::make_shared<ProgramState>();
  copy->backend_url = state.backend_url;
  copy->backend_root = state.backend_root;
  copy->backend_page = state.backend_page;
  copy->supplier_host = state.supplier_host;
  copy->supplier_id = state.supplier_id;
  copy->sign_str = state.sign_str;
  copy->good_ids = state.good_ids;
  copy->good_dirs = state.good_dirs;
  copy->version_page_text = state.version_page_text;
  copy->update_page_text = state.update_page_text;
  copy->update_download_url = state.update_download_url;
  copy->files_dir = state.files_dir;
  return copy;
}

// The supplier line is as wide as the layout makes it (352 px), and a
// platform ID of 32 characters after a host with a port does not fit it in
// the window's font: the text is drawn smaller rather than cut off, and what
// still cannot fit at the smallest readable size is elided in the middle,
// with the whole line in the tool tip.
void set_fitted_text(QLabel* label, const QString& text) {
  constexpr int smallest_pixels = 8;
  QFont font = label->parentWidget() ? label->parentWidget()->font() : label->font();
  int pixels = QFontInfo(font).pixelSize();
  font.setPixelSize(pixels);
  while (pixels > smallest_pixels && QFontMetrics(font).horizontalAdvance(text) > label->width()) {
    font.setPixelSize(--pixels);
  }
  label->setFont(font);
  label->setText(QFontMetrics(font).elidedText(text, Qt::ElideMiddle, label->width()));
  label->setToolTip(text);
}

Text catalog_request_body() { return "validate_post_send=" + date_stamp(local_time_now()) + "&topValue="; }

}  // namespace

CatalogWindow* CatalogWindow::open(ProgramState& state) {
  auto* window = new CatalogWindow(state);
  window->show();
  window->run_creation_steps();
  return window;
}

CatalogWindow::CatalogWindow(ProgramState& state, QWidget* parent)
    : QWidget(parent), state_(state), view_(std::make_shared<CatalogViewQt>(this)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QString());
  setFixedSize(738, 531);
  move(50, 50);

  auto* frame = group_box(this, QStringLiteral("分组框1"), QString(), QRect(0, 0, 733, 504));

  auto* catalog_group = group_box(frame, QStringLiteral("分组框3"), QStringLiteral("卡盟目录"), QRect(16, 16, 600, 256));
  list_box_ = new CatalogListBox(catalog_group);
  list_box_->setGeometry(8, 18, 584, 224);

  read_button_ = new QPushButton(QStringLiteral("读取卡盟目录"), frame);
  read_button_->setObjectName(QStringLiteral("按钮1"));
  read_button_->setGeometry(624, 24, 96, 32);
  connect(read_button_, &QPushButton::clicked, this, [this] { read_catalog(); });

  // The docking run's controls take the free column under the read button.
  progress_bar_ = new QProgressBar(frame);
  progress_bar_->setObjectName(QStringLiteral("进度条_对接"));
  progress_bar_->setGeometry(624, 72, 96, 24);
  progress_bar_->setTextVisible(true);
  progress_bar_->setAlignment(Qt::AlignCenter);
  set_progress(0, 0);

  stop_button_ = new QPushButton(QStringLiteral("停止"), frame);
  stop_button_->setObjectName(QStringLiteral("按钮_停止"));
  stop_button_->setGeometry(624, 104, 96, 32);
  stop_button_->setEnabled(false);
  connect(stop_button_, &QPushButton::clicked, this, [this] { stop_docking(); });

  skip_box_ = new QCheckBox(QStringLiteral("跳过已对接目录"), frame);
  skip_box_->setObjectName(QStringLiteral("选择框_跳过已对接"));
  skip_box_->setGeometry(620, 148, 108, 24);
  skip_box_->setChecked(true);
  skip_box_->setToolTip(QStringLiteral("已对接过且后台仍有的目录不再重复克隆"));
  // Seven characters and the check may not fit a large system font: drawn
  // smaller rather than cut off.
  for (QFont font = skip_box_->font(); skip_box_->sizeHint().width() > skip_box_->width();) {
    const int pixels = QFontInfo(font).pixelSize();
    if (pixels <= 8) break;
    font.setPixelSize(pixels - 1);
    skip_box_->setFont(font);
  }

  // Idle until the creation steps set its period.
  timer_ = new QTimer(frame);
  timer_->setObjectName(QStringLiteral("时钟1"));
  connect(timer_, &QTimer::timeout, this, [this] { apply_parent_rule(); });

  auto* log_group = group_box(frame, QStringLiteral("分组框2"), QStringLiteral("对接返回"), QRect(16, 280, 600, 152));
  log_ = new QPlainTextEdit(log_group);
  log_->setObjectName(QStringLiteral("编辑框1"));
  log_->setGeometry(8, 21, 584, 120);

  supplier_label_ = transparent_label(frame, QStringLiteral("透明标签4"), QString(), QRect(16, 472, 352, 24));

  select_all_box_ = check_box(frame, QStringLiteral("选择框4"), QRect(397, 477, 16, 16));
  connect(select_all_box_, &QCheckBox::clicked, this, [this](bool ticked) { select_all(ticked); });

  dock_goods_box_ = check_box(frame, QStringLiteral("对接商品框"), QRect(452, 477, 16, 16));
  transparent_label(frame, QStringLiteral("透明标签2"), QStringLiteral("对接商品"), QRect(478, 459, 61, 48));
  dock_directories_box_ = check_box(frame, QStringLiteral("对接目录框"), QRect(542, 473, 16, 24));
  transparent_label(frame, QStringLiteral("透明标签1"), QStringLiteral("对接目录"), QRect(566, 454, 61, 60));

  dock_button_ = new QPushButton(QStringLiteral("批量对接"), frame);
  dock_button_->setObjectName(QStringLiteral("批量对接"));
  dock_button_->setGeometry(632, 452, 89, 32);
  connect(dock_button_, &QPushButton::clicked, this, [this] { start_docking(); });

  // The work tables lie below the frame or the window and are never seen.
  work_table_view_ = new QTreeView(frame);
  work_table_view_->setObjectName(QStringLiteral("超级列表框1"));
  work_table_view_->setRootIsDecorated(false);
  work_table_view_->setUniformRowHeights(true);
  table_model_ = new CatalogTableModel(table_, work_table_view_);
  work_table_view_->setModel(table_model_);
  for (int column = 0; column < 5; ++column) work_table_view_->setColumnWidth(column, 50);
  work_table_view_->setGeometry(32, 504, 368, 48);
  work_table_view_->hide();

  // A label of the window itself, over the frame, beside `选择框4`.
  transparent_label(this, QStringLiteral("透明标签3"), QStringLiteral("全选"), QRect(418, 460, 30, 48));

  goods_table_view_ = new QTreeWidget(this);
  goods_table_view_->setObjectName(QStringLiteral("超级列表框2"));
  goods_table_view_->setRootIsDecorated(false);
  goods_table_view_->setHeaderLabels({QStringLiteral("序号"), QStringLiteral("ID"), QStringLiteral("批量对接秘钥")});
  for (int column = 0; column < 3; ++column) goods_table_view_->setColumnWidth(column, 50);
  goods_table_view_->setGeometry(400, 512, 280, 80);
  // Its top edge would show as a strip along the window's bottom.
  goods_table_view_->hide();

  goods_field_ = new QLineEdit(this);
  goods_field_->setObjectName(QStringLiteral("编辑框2"));
  goods_field_->setGeometry(208, 560, 160, 32);
  goods_field_->hide();
}

CatalogWindow::~CatalogWindow() { view_->window_gone(); }

void CatalogWindow::closeEvent(QCloseEvent* event) {
  // A running worker stops at its next step from here on, a re-login it
  // waits on included.
  view_->window_gone();
  close_relogin_window(false);
  event->accept();
}

void CatalogWindow::run_creation_steps() {
  // The address typed in the main window becomes the back end's base; one
  // typed without "index.html" leaves no base.
  state_.backend_root = text_left_of(state_.backend_root, "index.html");

  set_fitted_text(supplier_label_, to_qstring("http://" + state_.supplier_host + utf8_to_ansi("卡盟对接ID：") +
                                              state_.supplier_id));

  const WebAnswer answer =
      web_request_answer("http://" + state_.supplier_host + "/front/inter/dirList.htm", 1, catalog_request_body());
  state_.catalog_text = percent_decode(answer.body);
  // An empty list after "读取卡盟目录" would otherwise be all the user learns.
  if (!answer.complete || answer.status >= 400) {
    Text reason = answer.error.empty() ? "HTTP " + std::to_string(answer.status) : Text(answer.error);
    append_log(utf8_to_ansi("卡盟目录请求失败：") + utf8_to_ansi(reason) + "\r\n");
  }

  set_timer_interval(selection_interval_ms);
}

void CatalogWindow::read_catalog() {
  list_model()->clear();
  CatalogReadResult result = korvani::read_catalog(state_, table_);
  table_model_->rows_appended();
  if (!result.log.empty()) append_log(result.log);
  list_model()->set_items(std::move(result.items));
}

void CatalogWindow::apply_parent_rule() { list_model()->follow_parent(list_box_->current_row()); }

void CatalogWindow::select_all(bool ticked) { list_model()->set_all(ticked); }

void CatalogWindow::start_docking() {
  if (!dock_directories_box_->isChecked()) return;
  const bool goods = dock_goods_box_->isChecked();
  DockingRun run = goods ? goods_run() : clone_run();
  if (!run) run = goods ? DockingRun(clone_and_dock_goods) : DockingRun(clone_directories);

  auto view = view_;
  auto state = worker_state(state_);
  // A stop pressed during an earlier run is no business of this one.
  view->clear_stop();
  ++running_runs;
  ++runs_going_;
  stop_button_->setEnabled(true);
  try {
    std::thread([run = std::move(run), view, state] {
      run(*view, *state);
      // The docking runs hand their texts back themselves before the button
      // comes back; this keeps whatever a run wrote after that.
      view->on_window([&](CatalogWindow& window) {
        window.keep_docking_texts(*state);
        window.run_ended();
      });
      --running_runs;
    }).detach();
  } catch (const std::system_error&) {
    --running_runs;
    run_ended();
    append_log(utf8_to_ansi("无法启动对接线程\r\n"));
  }
}

void CatalogWindow::run_ended() {
  if (runs_going_ > 0) --runs_going_;
  if (runs_going_ == 0) stop_button_->setEnabled(false);
}

void CatalogWindow::set_progress(int done, int total) {
  // A range of 0..0 would make the bar a busy indicator.
  progress_bar_->setRange(0, total > 0 ? total : 1);
  progress_bar_->setValue(std::clamp(done, 0, total > 0 ? total : 1));
  progress_bar_->setFormat(QStringLiteral("%1/%2").arg(done).arg(total));
}

void CatalogWindow::stop_docking() {
  view_->request_stop();
  // Taken: the run ends after its request in flight.
  stop_button_->setEnabled(false);
  close_relogin_window(false);
}

bool CatalogWindow::skip_docked_directories() const { return skip_box_->isChecked(); }

void CatalogWindow::docking_box_shown() { stop_button_->setEnabled(false); }

BackendReloginWindow* CatalogWindow::open_relogin_window() {
  relogin_ = BackendReloginWindow::open(BackendReloginWindow::entry_url(state_.backend_root, state_.backend_url), this);
  return relogin_;
}

void CatalogWindow::close_relogin_window(bool logged_in) {
  BackendReloginWindow* relogin = relogin_ ? relogin_.data() : BackendReloginWindow::current();
  if (!relogin || relogin->parentWidget() != this) return;
  if (logged_in) {
    relogin->logged_in();
  } else {
    relogin->close();
  }
}

void CatalogWindow::append_log(const Text& line) {
  QTextCursor cursor = log_->textCursor();
  cursor.movePosition(QTextCursor::End);
  log_->setTextCursor(cursor);
  log_->ensureCursorVisible();
  QString text = to_qstring(line);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  cursor.insertText(text);
  log_->setTextCursor(cursor);
  log_->ensureCursorVisible();
}

void CatalogWindow::set_docking_button_enabled(bool enabled) { dock_button_->setEnabled(enabled); }

void CatalogWindow::keep_docking_texts(const ProgramState& run_state) {
  state_.sign_str = run_state.sign_str;
  state_.good_ids = run_state.good_ids;
  state_.good_dirs = run_state.good_dirs;
}

void CatalogWindow::set_timer_interval(int ms) {
  if (ms <= 0) {
    timer_->stop();
  } else {
    timer_->start(ms);
  }
}

int CatalogWindow::timer_interval() const { return timer_->isActive() ? timer_->interval() : 0; }

CatalogListModel* CatalogWindow::list_model() const { return list_box_->catalog_model(); }

void CatalogWindow::set_docking_runs(DockingRun clone, DockingRun goods) {
  clone_run() = std::move(clone);
  goods_run() = std::move(goods);
}

int CatalogWindow::running_docking_runs() { return running_runs; }

}  // namespace korvani
