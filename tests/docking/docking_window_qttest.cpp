// Docking runs started from the catalog window against the demo shop: the
// button rule with the real runs, the window while a run goes on and while
// its final box is up, closing it mid-run, a whole goods docking run from
// the supplier log-in on, the run's own controls (progress, stop, the skip
// tick box), and a run that meets an expired back-end session.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QWebEngineView>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "app/program_state.h"
#include "demo_shop.h"
#include "docking/backend_relogin_window.h"
#include "platform/http.h"
#include "supplier/catalog_list_model_qt.h"
#include "supplier/catalog_view_qt.h"
#include "supplier/catalog_window.h"
#include "supplier/supplier_login_window.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

using namespace korvani;
using test::log_in_backend;
using test::log_in_supplier;
using test::top_level;
using test::visible_box;

namespace {

QString q(const char* utf8) { return QString::fromUtf8(utf8); }

std::vector<std::string> backend_paths(const demo_shop::DemoShop& shop) {
  std::vector<std::string> paths;
  for (const auto& r : shop.requests())
    if (r.side == "backend") paths.push_back(r.path);
  return paths;
}

bool any_goods_request(const std::vector<std::string>& paths) {
  return std::any_of(paths.begin(), paths.end(),
                     [](const std::string& p) { return p.find("/platform/") != std::string::npos; });
}

std::vector<std::vector<std::string>> data_lines(const std::string& file) {
  std::vector<std::vector<std::string>> lines;
  std::ifstream in(std::filesystem::path(qgetenv("KORVANI_DEMO_SHOP_DATA").toStdString()) / file);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t bar; (bar = line.find('|', from)) != std::string::npos; from = bar + 1)
      fields.push_back(line.substr(from, bar - from));
    fields.push_back(line.substr(from));
    lines.push_back(std::move(fields));
  }
  return lines;
}

// One directory of the supplier's catalog, in list order.
struct SupplierDirectory {
  std::string id;
  std::string name;       // UTF-8, as the supplier means it
  std::string parent_id;  // empty for a main directory
};

std::vector<SupplierDirectory> supplier_catalog(const std::string& file) {
  std::vector<SupplierDirectory> out;
  std::string parent;
  for (const auto& f : data_lines(file)) {
    if (f.size() < 3) continue;
    // The page writes names HTML-escaped and sometimes percent-coded.
    const std::string name = ansi_to_utf8(html_unescape(percent_decode(f[2])));
    if (f[0] == "main") {
      parent = f[1];
      out.push_back({f[1], name, ""});
    } else {
      out.push_back({f[1], name, parent});
    }
  }
  return out;
}

// Clicks the button from inside the call that enables it, before the window
// thread does anything else: the quickest click a user could make.
class ClickWhenEnabled : public QObject {
 public:
  explicit ClickWhenEnabled(QPushButton* button) : QObject(button), button_(button) {
    button->installEventFilter(this);
  }
  bool clicked = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!clicked && watched == button_ && event->type() == QEvent::EnabledChange && button_->isEnabled()) {
      clicked = true;
      button_->click();
    }
    return false;
  }

 private:
  QPushButton* button_;
};

}  // namespace

class DockingWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void cleanupTestCase();

  void button_rule_data();
  void button_rule();
  void window_stays_usable_during_a_run_and_its_final_box();
  void an_empty_list_asks_for_the_catalog_and_leaves_the_window_working();
  void a_second_run_starts_with_the_key_of_the_first_data();
  void a_second_run_starts_with_the_key_of_the_first();
  void two_clicks_before_the_run_starts_make_one_run();
  void closing_mid_run_stops_the_requests();
  void closing_the_window_takes_the_final_box_with_it();
  void supplier_log_in_through_a_whole_goods_docking_run();
  void run_controls_lie_in_the_free_column_data();
  void run_controls_lie_in_the_free_column();
  void stop_and_progress_through_a_run();
  void stop_ends_the_run_within_one_request_data();
  void stop_ends_the_run_within_one_request();
  void skip_tick_box_is_read_at_the_start_of_each_run();
  void a_rerun_over_the_same_ticks_data();
  void a_rerun_over_the_same_ticks();
  void an_expired_session_mid_run_pauses_it_until_the_log_in();

 private:
  CatalogWindow* open_read_window();
  void start(CatalogWindow* window, bool directories, bool goods);

  std::unique_ptr<demo_shop::DemoShop> shop_;
  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<ProgramState> state_;
};

void DockingWindowTest::initTestCase() {
  QApplication::setQuitOnLastWindowClosed(false);
  CatalogViewQt::set_wait_override_ms(0);
  BackendReloginWindow::set_poll_interval_ms(50);
  shop_ = std::make_unique<demo_shop::DemoShop>();
  QVERIFY(shop_->start());
  QVERIFY(log_in_backend(*shop_));
  QVERIFY(log_in_supplier(*shop_));
}

void DockingWindowTest::init() {
  dir_ = std::make_unique<test::TempDir>();
  state_ = std::make_unique<ProgramState>();
  state_->shared_regex = std::make_unique<RegexObject>();
  state_->backend_url = shop_->backend_root() + "main.html";
  state_->backend_root = shop_->backend_entry_url();
  state_->supplier_host = shop_->supplier_host();
  state_->supplier_id = shop_->platform_id();
  state_->files_dir = dir_->path().string();
  shop_->clear_faults();
  // A test before may have left the jar with another shop's sessions, or
  // this shop's expired.
  QVERIFY(log_in_backend(*shop_));
  QVERIFY(log_in_supplier(*shop_));
  shop_->clear_requests();
  CatalogWindow::set_docking_runs({}, {});
}

void DockingWindowTest::cleanup() {
  CatalogViewQt::set_wait_override_ms(0);
  shop_->clear_faults();
  if (QMessageBox* box = visible_box()) box->button(QMessageBox::Ok)->click();
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (!widget->parent()) widget->close();
  QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 0, 10000);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void DockingWindowTest::cleanupTestCase() { shop_.reset(); }

// A catalog window with the demo catalog read into its list and the main
// directory "视频会员" (row 10) and its two sub-directories ticked.
CatalogWindow* DockingWindowTest::open_read_window() {
  CatalogWindow* window = CatalogWindow::open(*state_);
  window->findChild<QPushButton*>(q("按钮1"))->click();
  CatalogListModel* model = window->list_model();
  if (model->count() < 13) return window;
  for (int row : {10, 11, 12}) model->set_ticked(row, true);
  shop_->clear_requests();
  return window;
}

void DockingWindowTest::start(CatalogWindow* window, bool directories, bool goods) {
  window->findChild<QCheckBox*>(q("对接目录框"))->setChecked(directories);
  window->findChild<QCheckBox*>(q("对接商品框"))->setChecked(goods);
  QTest::mouseClick(window->findChild<QPushButton*>(q("批量对接")), Qt::LeftButton);
}

void DockingWindowTest::button_rule_data() {
  QTest::addColumn<bool>("directories");
  QTest::addColumn<bool>("goods");
  QTest::addColumn<bool>("runs");
  QTest::addColumn<bool>("docks_goods");
  QTest::newRow("no option ticked does nothing") << false << false << false << false;
  QTest::newRow("dock goods alone does nothing") << false << true << false << false;
  QTest::newRow("dock directories alone clones without goods") << true << false << true << false;
  QTest::newRow("both options clone and dock the goods") << true << true << true << true;
}

void DockingWindowTest::button_rule() {
  QFETCH(bool, directories);
  QFETCH(bool, goods);
  QFETCH(bool, runs);
  QFETCH(bool, docks_goods);

  CatalogWindow* window = open_read_window();
  QCOMPARE(window->list_model()->count(), 14);
  start(window, directories, goods);
  if (!runs) {
    QCOMPARE(CatalogWindow::running_docking_runs(), 0);
    QTest::qWait(200);
    QVERIFY(backend_paths(*shop_).empty());
    QVERIFY(!visible_box());
    QVERIFY(window->findChild<QPushButton*>(q("批量对接"))->isEnabled());
    return;
  }
  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 10000);
  QCOMPARE(visible_box()->text(), q("目录克隆完成"));
  const auto paths = backend_paths(*shop_);
  QCOMPARE(std::count(paths.begin(), paths.end(), "/admin/directory/saveDirectory.html"), 3);
  QCOMPARE(any_goods_request(paths), docks_goods);
  const QString log = window->findChild<QPlainTextEdit*>(q("编辑框1"))->toPlainText();
  QVERIFY2(log.contains(q("腾讯视频VIP子目录克隆成功\n")), qPrintable(log));
  // Only the goods run logs a main directory's id and name on lines of their own.
  QCOMPARE(log.contains(q("----\n1004\n视频会员\n")), docks_goods);
}

void DockingWindowTest::window_stays_usable_during_a_run_and_its_final_box() {
  CatalogWindow* window = open_read_window();
  auto* dock = window->findChild<QPushButton*>(q("批量对接"));
  auto* select_all = window->findChild<QCheckBox*>(q("选择框4"));
  CatalogListModel* model = window->list_model();
  // The first save takes a while, so that the run is caught waiting on it.
  shop_->add_fault({.path_suffix = "directory/saveDirectory.html",
                    .fault = demo_shop::Fault::delay,
                    .delay_ms = 600,
                    .times = 1});
  start(window, true, false);
  // The worker disables the button, then stops the timer, each in a call of
  // its own.
  QTRY_VERIFY_WITH_TIMEOUT(!dock->isEnabled() && window->timer_interval() == 0, 2000);
  QTRY_VERIFY_WITH_TIMEOUT(!backend_paths(*shop_).empty(), 2000);
  QCOMPARE(CatalogWindow::running_docking_runs(), 1);

  // While the worker waits for the back end, the window answers at once.
  QVERIFY(!model->ticked(0));
  model->set_ticked(0, true);
  QVERIFY(model->ticked(0));
  model->set_ticked(0, false);
  QVERIFY(!QApplication::activeModalWidget());

  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 10000);
  QMessageBox* box = visible_box();
  QCOMPARE(box->text(), q("目录克隆完成"));
  QCOMPARE(box->windowTitle(), q("提示"));
  QCOMPARE(box->icon(), QMessageBox::NoIcon);
  // The box holds up the worker only.
  QCOMPARE(box->windowModality(), Qt::NonModal);
  QVERIFY(!QApplication::activeModalWidget());
  QVERIFY(!dock->isEnabled());
  QCOMPARE(window->timer_interval(), 0);
  QTest::mouseClick(select_all, Qt::LeftButton);
  QVERIFY(model->ticked(model->count() - 1));
  window->findChild<QPushButton*>(q("按钮1"))->click();
  QCOMPARE(model->count(), 14);
  QVERIFY(!model->ticked(0));
  QVERIFY(!dock->isEnabled());

  box->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(dock->isEnabled() && window->timer_interval() == 100, 2000);
  QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 0, 2000);
}

void DockingWindowTest::an_empty_list_asks_for_the_catalog_and_leaves_the_window_working() {
  CatalogWindow* window = CatalogWindow::open(*state_);
  auto* dock = window->findChild<QPushButton*>(q("批量对接"));
  QCOMPARE(window->list_model()->count(), 0);
  start(window, true, true);
  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 5000);
  QMessageBox* box = visible_box();
  QCOMPARE(box->text(), q("您还没刷新目录"));
  QCOMPARE(box->windowTitle(), q("提示"));
  QVERIFY(!dock->isEnabled());
  QCOMPARE(window->timer_interval(), 0);
  box->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(dock->isEnabled(), 2000);
  QCOMPARE(window->timer_interval(), 100);
  QVERIFY(backend_paths(*shop_).empty());

  // Ticking a main directory ticks its sub-directories again.
  window->findChild<QPushButton*>(q("按钮1"))->click();
  CatalogListModel* model = window->list_model();
  QCOMPARE(model->count(), 14);
  window->list_box()->setCurrentIndex(model->index(10));
  model->setData(model->index(10), Qt::Checked, Qt::CheckStateRole);
  QTRY_VERIFY_WITH_TIMEOUT(model->ticked(11) && model->ticked(12), 1000);
}

void DockingWindowTest::a_second_run_starts_with_the_key_of_the_first_data() {
  QTest::addColumn<bool>("at_once");
  QTest::newRow("a click after the first box was closed") << false;
  QTest::newRow("a click the moment the button comes back") << true;
}

void DockingWindowTest::a_second_run_starts_with_the_key_of_the_first() {
  QFETCH(bool, at_once);
  CatalogWindow* window = open_read_window();
  auto* dock = window->findChild<QPushButton*>(q("批量对接"));
  const std::size_t before = shop_->batch_saves().size();
  start(window, true, true);
  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 10000);
  const auto first = shop_->batch_saves();
  QCOMPARE(first.size(), before + 2);
  QVERIFY(first[before].key_ok);
  const std::string key = first[before].sign;

  // The second run's goods queries get no page: the only key it can have is
  // the one the first run found.
  shop_->add_fault({.path_suffix = "platform/platFormDirGoodsDataQuery.html", .fault = demo_shop::Fault::drop});
  // The directories are made again, so that their goods are docked again.
  window->findChild<QCheckBox*>(q("选择框_跳过已对接"))->setChecked(false);
  auto* quick = at_once ? new ClickWhenEnabled(dock) : nullptr;
  visible_box()->button(QMessageBox::Ok)->click();
  if (at_once) {
    QTRY_VERIFY_WITH_TIMEOUT(quick->clicked, 2000);
  } else {
    QTRY_VERIFY_WITH_TIMEOUT(dock->isEnabled(), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 0, 2000);
    QCOMPARE(state_->sign_str, key);
    QTest::mouseClick(dock, Qt::LeftButton);
  }
  QTRY_VERIFY_WITH_TIMEOUT(shop_->batch_saves().size() == before + 4 && visible_box() != nullptr, 10000);
  const auto saves = shop_->batch_saves();
  for (std::size_t i = before + 2; i < before + 4; ++i) {
    QCOMPARE(saves[i].sign, key);
    QVERIFY(saves[i].key_ok);
    QVERIFY(saves[i].good_ids.empty());
  }
  // The selection timer stays stopped for the whole second run.
  QCOMPARE(window->timer_interval(), 0);
  QVERIFY(!dock->isEnabled());
  visible_box()->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(dock->isEnabled() && window->timer_interval() == 100, 2000);
  QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 0, 2000);
  QCOMPARE(state_->sign_str, key);
}

void DockingWindowTest::two_clicks_before_the_run_starts_make_one_run() {
  CatalogWindow* window = open_read_window();
  auto* dock = window->findChild<QPushButton*>(q("批量对接"));
  window->findChild<QCheckBox*>(q("对接目录框"))->setChecked(true);
  // Both clicks are handled before either worker can disable the button.
  dock->click();
  dock->click();
  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 10000);
  QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 1, 2000);
  const auto paths = backend_paths(*shop_);
  QCOMPARE(std::count(paths.begin(), paths.end(), "/admin/directory/saveDirectory.html"), 3);
  int boxes = 0;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (qobject_cast<QMessageBox*>(widget) && widget->isVisible()) ++boxes;
  QCOMPARE(boxes, 1);
  visible_box()->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(dock->isEnabled(), 2000);
}

void DockingWindowTest::closing_mid_run_stops_the_requests() {
  CatalogWindow* window = open_read_window();
  shop_->add_fault({.path_suffix = "directory/initadd.html",
                    .fault = demo_shop::Fault::delay,
                    .delay_ms = 500,
                    .times = 1});
  start(window, true, true);
  auto reached_page = [&] {
    const auto paths = backend_paths(*shop_);
    return std::count(paths.begin(), paths.end(), "/admin/directory/initadd.html") > 0;
  };
  QTRY_VERIFY_WITH_TIMEOUT(reached_page(), 5000);

  QPointer<CatalogWindow> guard(window);
  window->close();
  QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 2000);
  QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 0, 5000);
  QTest::qWait(100);
  // The page that was under way was the run's last request.
  const auto paths = backend_paths(*shop_);
  QCOMPARE(paths, (std::vector<std::string>{"/admin/directory/saveDirectory.html", "/admin/directory/initadd.html"}));
  QVERIFY(!visible_box());
}

void DockingWindowTest::closing_the_window_takes_the_final_box_with_it() {
  CatalogWindow* window = open_read_window();
  start(window, true, false);
  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 10000);
  QPointer<QMessageBox> box(visible_box());

  QPointer<CatalogWindow> guard(window);
  window->close();
  QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 2000);
  // Left up, the box would be the last window and keep the program alive.
  QTRY_VERIFY_WITH_TIMEOUT(box.isNull(), 2000);
  QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 0, 2000);
}

void DockingWindowTest::supplier_log_in_through_a_whole_goods_docking_run() {
  // A shop of its own, whose supplier session only the log-in window opens.
  platform::cookie_jar_clear();
  demo_shop::DemoShop shop;
  QVERIFY(shop.start());
  QVERIFY(log_in_backend(shop));
  state_->backend_url = shop.backend_root() + "main.html";
  state_->backend_root = shop.backend_entry_url();
  state_->supplier_host.clear();
  state_->supplier_id.clear();
  std::set<std::string> before;
  for (const auto& d : shop.directories()) before.insert(d.id);

  QPointer<SupplierLoginWindow> login = SupplierLoginWindow::open(*state_);
  auto* hosts = login->findChild<QComboBox*>(q("组合框1"));
  const int host = hosts->findText(QString::fromStdString(shop.supplier_host()));
  QVERIFY(host > 0);
  hosts->setCurrentIndex(host);
  QTest::keyClicks(login->findChild<QLineEdit*>(q("编辑框_账号")), q(demo_shop::DemoShop::supplier_user));
  QTest::keyClicks(login->findChild<QLineEdit*>(q("编辑框_密码")), q(demo_shop::DemoShop::supplier_password));
  QTest::mouseClick(login->findChild<QPushButton*>(q("按钮1")), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(login.isNull(), 10000);
  CatalogWindow* window = top_level<CatalogWindow>();
  QVERIFY(window);

  // Read the catalog, tick everything but "🎮游戏点卡" and its two
  // sub-directories (rows 7-9), and dock with both options.
  QTest::mouseClick(window->findChild<QPushButton*>(q("按钮1")), Qt::LeftButton);
  CatalogListModel* model = window->list_model();
  const auto catalog = supplier_catalog("catalog-default.txt");
  QCOMPARE(model->count(), int(catalog.size()));
  QTest::mouseClick(window->findChild<QCheckBox*>(q("选择框4")), Qt::LeftButton);
  for (int row : {7, 8, 9}) model->set_ticked(row, false);
  std::vector<SupplierDirectory> ticked;
  for (int row = 0; row < model->count(); ++row)
    if (model->ticked(row)) ticked.push_back(catalog[std::size_t(row)]);
  start(window, true, true);

  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 30000);
  QCOMPARE(visible_box()->text(), q("目录克隆完成"));
  visible_box()->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QPushButton*>(q("批量对接"))->isEnabled(), 2000);

  // The shop's new directories are the ticked part of the catalog, as a tree.
  std::map<std::string, demo_shop::Directory> made;  // by name
  for (const auto& d : shop.directories())
    if (!before.count(d.id)) made[d.name] = d;
  QCOMPARE(made.size(), ticked.size());
  std::map<std::string, std::string> name_of_supplier_id;
  for (const auto& d : catalog) name_of_supplier_id[d.id] = d.name;
  for (const auto& d : ticked) {
    QVERIFY2(made.count(d.name), d.name.c_str());
    const std::string expected_parent = d.parent_id.empty() ? "0" : made[name_of_supplier_id[d.parent_id]].id;
    QCOMPARE(made[d.name].parent_id, expected_parent);
  }

  // Each docked sub-directory holds all the supplier's goods of it, one
  // batch save for each page of 20 (at least one).
  std::map<std::string, std::vector<std::string>> goods;  // supplier sub id -> goods ids
  for (const auto& f : data_lines("goods-default.txt"))
    if (f.size() >= 2) {
      auto& list = goods[f[0]];
      if (!f[1].empty()) list.push_back(f[1]);
    }
  std::size_t pages = 0;
  for (const auto& d : ticked) {
    if (d.parent_id.empty()) {
      QVERIFY(shop.goods_docked(made[d.name].id).empty());
      continue;
    }
    auto docked = shop.goods_docked(made[d.name].id);
    std::sort(docked.begin(), docked.end());
    auto listed = goods.find(d.id);
    if (listed == goods.end()) {
      QCOMPARE(docked.size(), std::size_t(3));  // the shop's generated goods
      ++pages;
      continue;
    }
    std::vector<std::string> all = listed->second;
    std::sort(all.begin(), all.end());
    QCOMPARE(docked, all);
    pages += std::max<std::size_t>(1, (all.size() + 19) / 20);
  }
  const auto saves = shop.batch_saves();
  QCOMPARE(saves.size(), pages);
  for (const auto& s : saves) QVERIFY(s.key_ok);
  const QString log = window->findChild<QPlainTextEdit*>(q("编辑框1"))->toPlainText();
  QVERIFY2(!log.contains(q("克隆失败")) && !log.contains(q("未克隆")) && !log.contains(q("未对接")), qPrintable(log));
  window->close();
}

// ------------------------------------------------- the run's own controls

void DockingWindowTest::run_controls_lie_in_the_free_column_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QRect>("geometry");
  QTest::addColumn<QString>("text");
  QTest::newRow("the progress bar sits under the read button, at nought")
      << q("进度条_对接") << QRect(624, 72, 96, 24) << q("0/0");
  QTest::newRow("the stop button follows it") << q("按钮_停止") << QRect(624, 104, 96, 32) << q("停止");
  QTest::newRow("the skip tick box comes last")
      << q("选择框_跳过已对接") << QRect(620, 148, 108, 24) << q("跳过已对接目录");
}

void DockingWindowTest::run_controls_lie_in_the_free_column() {
  QFETCH(QString, name);
  QFETCH(QRect, geometry);
  QFETCH(QString, text);

  CatalogWindow window(*state_);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  auto* frame = window.findChild<QGroupBox*>(q("分组框1"));
  auto* control = window.findChild<QWidget*>(name);
  QVERIFY2(control, qPrintable(name));
  QCOMPARE(control->parentWidget(), frame);
  QCOMPARE(control->geometry(), geometry);
  QVERIFY(control->isVisible());
  QVERIFY(frame->rect().contains(control->geometry()));

  const auto in_window = [&](QWidget* w) { return QRect(w->mapTo(&window, QPoint(0, 0)), w->size()); };
  const QRect mine = in_window(control);
  for (const char* other_name : {"分组框3", "选择列表框1", "按钮1", "分组框2", "编辑框1", "透明标签4", "选择框4",
                                 "透明标签3", "对接商品框", "透明标签2", "对接目录框", "透明标签1", "批量对接",
                                 "进度条_对接", "按钮_停止", "选择框_跳过已对接"}) {
    if (q(other_name) == name) continue;
    auto* other = window.findChild<QWidget*>(q(other_name));
    QVERIFY2(other, other_name);
    QVERIFY2(!mine.intersects(in_window(other)), other_name);
  }

  if (auto* bar = qobject_cast<QProgressBar*>(control)) {
    QCOMPARE(bar->text(), text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    QCOMPARE(button->text(), text);
    // The whole text shows.
    QVERIFY2(button->sizeHint().width() <= button->width(), qPrintable(name));
    QCOMPARE(button->isEnabled(), !qobject_cast<QPushButton*>(control));  // stop idles, the tick box works
    if (auto* box = qobject_cast<QCheckBox*>(control)) QVERIFY(box->isChecked());
  }
}

void DockingWindowTest::stop_and_progress_through_a_run() {
  CatalogWindow* window = open_read_window();
  auto* stop = window->findChild<QPushButton*>(q("按钮_停止"));
  auto* dock = window->findChild<QPushButton*>(q("批量对接"));
  auto* bar = window->findChild<QProgressBar*>(q("进度条_对接"));
  QVERIFY(!stop->isEnabled());
  // The first save is slow, so that the run is caught going on.
  shop_->add_fault({.path_suffix = "directory/saveDirectory.html",
                    .fault = demo_shop::Fault::delay,
                    .delay_ms = 600,
                    .times = 1});
  start(window, true, false);
  QVERIFY(stop->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(!backend_paths(*shop_).empty(), 2000);
  QVERIFY(stop->isEnabled());
  QCOMPARE(bar->text(), q("0/3"));

  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 10000);
  QCOMPARE(visible_box()->text(), q("目录克隆完成"));
  // Nothing is left to stop once the final box is up.
  QVERIFY(!stop->isEnabled());
  QCOMPARE(bar->text(), q("3/3"));
  QCOMPARE(bar->value(), bar->maximum());
  visible_box()->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(dock->isEnabled() && window->timer_interval() == 100, 2000);
  QTRY_VERIFY_WITH_TIMEOUT(!stop->isEnabled(), 2000);
  // The final figures stay up until the next run.
  QCOMPARE(bar->text(), q("3/3"));
}

void DockingWindowTest::stop_ends_the_run_within_one_request_data() {
  QTest::addColumn<bool>("in_the_pause");
  QTest::newRow("stop during the pause after a docked sub-directory") << true;
  QTest::newRow("stop while the back end is slow to answer a save") << false;
}

void DockingWindowTest::stop_ends_the_run_within_one_request() {
  QFETCH(bool, in_the_pause);
  const std::string save = "/admin/directory/saveDirectory.html";
  const std::string batch_save = "/admin/platform/batchSaveGoodAndDirectory.html";
  CatalogWindow* window = open_read_window();
  auto* stop = window->findChild<QPushButton*>(q("按钮_停止"));
  auto* dock = window->findChild<QPushButton*>(q("批量对接"));
  const auto count = [&](const std::string& path) {
    const auto paths = backend_paths(*shop_);
    return std::count(paths.begin(), paths.end(), path);
  };
  if (in_the_pause) {
    // Left alone, the pause after the first docked sub-directory would hold
    // the run for a minute.
    CatalogViewQt::set_wait_override_ms(60000);
    start(window, true, true);
    QTRY_VERIFY_WITH_TIMEOUT(count(batch_save) == 1, 10000);
  } else {
    shop_->add_fault({.path_suffix = "directory/saveDirectory.html",
                      .fault = demo_shop::Fault::delay,
                      .delay_ms = 1500,
                      .times = 1});
    start(window, true, false);
    QTRY_VERIFY_WITH_TIMEOUT(count(save) == 1, 5000);
  }
  const std::size_t requests_at_stop = backend_paths(*shop_).size();
  QTest::mouseClick(stop, Qt::LeftButton);
  QVERIFY(!stop->isEnabled());

  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 10000);
  QCOMPARE(visible_box()->text(), q("目录克隆完成"));
  const auto paths = backend_paths(*shop_);
  if (in_the_pause) {
    // Nothing after the batch save the pause followed.
    QCOMPARE(paths.size(), requests_at_stop);
    QCOMPARE(paths.back(), batch_save);
  } else {
    // The save under way ends, and at most the look-up that completes it.
    QCOMPARE(count(save), 1);
    QVERIFY2(paths.size() <= requests_at_stop + 1, paths.back().c_str());
  }
  QCOMPARE(count(save), in_the_pause ? 2 : 1);
  visible_box()->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(dock->isEnabled() && window->timer_interval() == 100, 2000);
  QTRY_VERIFY_WITH_TIMEOUT(!stop->isEnabled(), 2000);
  QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 0, 2000);
  QCOMPARE(backend_paths(*shop_).size(), paths.size());

  // The next run is not stopped by the press that ended this one.
  shop_->clear_requests();
  CatalogViewQt::set_wait_override_ms(0);
  start(window, true, false);
  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 10000);
  QVERIFY(count(save) + count("/admin/directory/initadd.html") > 0);
  visible_box()->button(QMessageBox::Ok)->click();
}

void DockingWindowTest::skip_tick_box_is_read_at_the_start_of_each_run() {
  auto seen = std::make_shared<std::vector<bool>>();
  CatalogWindow::set_docking_runs(
      [seen](CatalogView& view, ProgramState&) {
        const bool skip = view.skip_docked_directories();
        view.set_button_enabled(false);  // a mark that the read is done
        view.set_button_enabled(true);
        seen->push_back(skip);
      },
      {});
  CatalogWindow* window = CatalogWindow::open(*state_);
  auto* skip = window->findChild<QCheckBox*>(q("选择框_跳过已对接"));
  for (bool ticked : {true, false, true}) {
    const std::size_t before = seen->size();
    skip->setChecked(ticked);
    start(window, true, false);
    QTRY_COMPARE_WITH_TIMEOUT(seen->size(), before + 1, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 0, 2000);
    QCOMPARE(seen->back(), ticked);
  }
}

void DockingWindowTest::a_rerun_over_the_same_ticks_data() {
  QTest::addColumn<bool>("skip");
  QTest::addColumn<int>("saves");
  QTest::newRow("with the tick box on saves nothing a second time") << true << 0;
  QTest::newRow("with the tick box off saves every directory again") << false << 3;
}

void DockingWindowTest::a_rerun_over_the_same_ticks() {
  QFETCH(bool, skip);
  QFETCH(int, saves);
  CatalogWindow* window = open_read_window();
  auto* dock = window->findChild<QPushButton*>(q("批量对接"));
  const auto count_saves = [&] {
    const auto paths = backend_paths(*shop_);
    return int(std::count(paths.begin(), paths.end(), "/admin/directory/saveDirectory.html"));
  };
  start(window, true, false);
  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 10000);
  QCOMPARE(count_saves(), 3);
  visible_box()->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(dock->isEnabled(), 2000);
  QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 0, 2000);

  shop_->clear_requests();
  window->findChild<QCheckBox*>(q("选择框_跳过已对接"))->setChecked(skip);
  start(window, true, false);
  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 10000);
  QCOMPARE(count_saves(), saves);
  QCOMPARE(window->findChild<QProgressBar*>(q("进度条_对接"))->text(), q("3/3"));
  visible_box()->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(dock->isEnabled(), 2000);
}

// ------------------------------------------------ an expired session mid-run

void DockingWindowTest::an_expired_session_mid_run_pauses_it_until_the_log_in() {
  CatalogWindow* window = open_read_window();
  const auto catalog = supplier_catalog("catalog-default.txt");
  std::set<std::string> before;
  for (const auto& d : shop_->directories()) before.insert(d.id);
  const std::size_t batch_saves_before = shop_->batch_saves().size();
  const std::string save = "/admin/directory/saveDirectory.html";
  const auto saves = [&] {
    const auto paths = backend_paths(*shop_);
    return std::count(paths.begin(), paths.end(), save);
  };
  // The session ends while the first save is answered: the save took effect,
  // the request after it meets a logged-out back end.
  shop_->add_fault({.path_suffix = "directory/saveDirectory.html",
                    .fault = demo_shop::Fault::delay,
                    .delay_ms = 800,
                    .times = 1});
  start(window, true, true);
  QTRY_VERIFY_WITH_TIMEOUT(saves() == 1, 5000);
  shop_->expire_backend_sessions();

  QTRY_VERIFY_WITH_TIMEOUT(BackendReloginWindow::current() != nullptr, 10000);
  QPointer<BackendReloginWindow> relogin = BackendReloginWindow::current();
  QCOMPARE(relogin->windowTitle(), q("重新登录后台"));
  QVERIFY(relogin->isWindow());
  // The stop button stays in sight.
  auto* stop = window->findChild<QPushButton*>(q("按钮_停止"));
  QVERIFY(stop->isEnabled());
  QVERIFY(!relogin->frameGeometry().intersects(QRect(stop->mapToGlobal(QPoint(0, 0)), stop->size())));
  QVERIFY(!visible_box());
  const std::size_t paused_at = backend_paths(*shop_).size();
  auto* browser = relogin->findChild<QWebEngineView*>();
  QVERIFY(browser);
  QTRY_VERIFY_WITH_TIMEOUT(browser->url().path().endsWith(q("index.html")), 10000);

  // The user fills in the back end's own form, as often as it takes the page
  // to be there.
  auto submitted = std::make_shared<bool>(false);
  QTimer filler;
  connect(&filler, &QTimer::timeout, browser, [view = QPointer<QWebEngineView>(browser), submitted] {
    if (!view || *submitted) return;
    view->page()->runJavaScript(
        test::backend_log_in_script(),
        [submitted](const QVariant& done) { *submitted = *submitted || done.toBool(); });
  });
  filler.start(200);
  // Paused: the run sends nothing of its own while the user logs in.
  QTRY_VERIFY_WITH_TIMEOUT(*submitted, 15000);
  QTRY_VERIFY_WITH_TIMEOUT(relogin.isNull(), 15000);
  filler.stop();
  QVERIFY(backend_paths(*shop_).size() > paused_at);

  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 20000);
  QCOMPARE(visible_box()->text(), q("目录克隆完成"));
  const QString log = window->findChild<QPlainTextEdit*>(q("编辑框1"))->toPlainText();
  QVERIFY2(!log.contains(q("克隆失败")) && !log.contains(q("未克隆")) && !log.contains(q("未对接")), qPrintable(log));

  // Every ticked directory exactly once, the sub-directories under theirs.
  QCOMPARE(saves(), 3);
  std::map<std::string, std::vector<demo_shop::Directory>> made;  // by name
  for (const auto& d : shop_->directories())
    if (!before.count(d.id)) made[d.name].push_back(d);
  QCOMPARE(made.size(), std::size_t(3));
  const SupplierDirectory& main_dir = catalog[10];
  QVERIFY(main_dir.parent_id.empty());
  QCOMPARE(made[main_dir.name].size(), std::size_t(1));
  const std::string main_id = made[main_dir.name].front().id;
  for (std::size_t row : {11, 12}) {
    const auto& copies = made[catalog[row].name];
    QCOMPARE(copies.size(), std::size_t(1));
    QCOMPARE(copies.front().parent_id, main_id);
  }
  QCOMPARE(shop_->batch_saves().size(), batch_saves_before + 2);
  visible_box()->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QPushButton*>(q("批量对接"))->isEnabled(), 2000);
}

QTEST_MAIN(DockingWindowTest)
#include "docking_window_qttest.moc"
