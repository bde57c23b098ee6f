// The catalog window against the demo shop, in-process: its layout, the
// creation steps, reading the catalog into the check list, the selection
// rules and the docking button.
#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "app/program_state.h"
#include "demo_shop.h"
#include "platform/qt_text_qt.h"
#include "supplier/catalog.h"
#include "supplier/catalog_list_model_qt.h"
#include "supplier/catalog_view_qt.h"
#include "supplier/catalog_window.h"
#include "supplier/demo_catalog.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

using namespace korvani;
using test::visible_box;

namespace {

QString q(const char* utf8) { return QString::fromUtf8(utf8); }

std::vector<Text> list_items(CatalogWindow* window) {
  std::vector<Text> items;
  for (int i = 0; i < window->list_model()->count(); ++i) items.push_back(window->list_model()->text(i));
  return items;
}

std::string file_text(const std::filesystem::path& path) { return test::read_file(path); }

}  // namespace

class CatalogWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void cleanupTestCase();

  void layout_data();
  void layout();
  void window_frame_and_work_tables();
  void creation_cuts_the_base_and_fetches_the_catalog();
  void base_without_index_page_is_empty();
  void unreachable_supplier_is_logged();
  void supplier_line_fits_its_label_data();
  void supplier_line_fits_its_label();
  void reading_fills_the_list_in_page_order();
  void second_press_rebuilds_the_same_items_unticked();
  void unwritable_files_directory_still_fills_the_list();
  void a_main_directory_carries_its_subs();
  void a_click_on_the_check_ticks_the_item();
  void select_all_ticks_and_unticks_everything();
  void log_pane_appends_at_the_end_and_shows_it();
  void docking_button_rule_data();
  void docking_button_rule();
  void only_dock_goods_makes_no_request();
  void window_stays_usable_during_a_run();
  void closing_during_a_run_stops_the_worker();
  void a_cloning_run_reaches_the_back_end();
  void hundred_thousand_directories_fill_the_list();

 private:
  CatalogWindow* open_window();

  std::unique_ptr<demo_shop::DemoShop> shop_;
  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<ProgramState> state_;
};

void CatalogWindowTest::initTestCase() {
  QApplication::setQuitOnLastWindowClosed(false);
  shop_ = std::make_unique<demo_shop::DemoShop>();
  QVERIFY(shop_->start());
  QVERIFY(test::log_in_backend(*shop_));
  QVERIFY(test::log_in_supplier(*shop_));
}

void CatalogWindowTest::init() {
  dir_ = std::make_unique<test::TempDir>();
  state_ = std::make_unique<ProgramState>();
  state_->shared_regex = std::make_unique<RegexObject>();
  state_->backend_root = shop_->backend_entry_url();
  state_->supplier_host = shop_->supplier_host();
  state_->supplier_id = shop_->platform_id();
  state_->files_dir = dir_->path().string();
  shop_->clear_requests();
  CatalogWindow::set_docking_runs({}, {});
}

void CatalogWindowTest::cleanup() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (!widget->parent()) widget->close();
  }
  // Workers still running use only their own copies; let them finish.
  QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 0, 10000);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  CatalogWindow::set_docking_runs({}, {});
}

void CatalogWindowTest::cleanupTestCase() { shop_.reset(); }

CatalogWindow* CatalogWindowTest::open_window() { return CatalogWindow::open(*state_); }

// ------------------------------------------------------------------ layout

void CatalogWindowTest::layout_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("parent");
  QTest::addColumn<QRect>("geometry");
  QTest::addColumn<QString>("text");

  auto row = [](const char* note, const char* name, const char* parent, QRect geometry, const char* text) {
    QTest::newRow(note) << q(name) << q(parent) << geometry << q(text);
  };
  row("the frame holds every visible control", "分组框1", "", QRect(0, 0, 733, 504), "");
  row("the catalog group frames the check list", "分组框3", "分组框1", QRect(16, 16, 600, 256), "卡盟目录");
  row("the check list sits in its group", "选择列表框1", "分组框3", QRect(8, 18, 584, 224), "");
  row("the read button is right of the list", "按钮1", "分组框1", QRect(624, 24, 96, 32), "读取卡盟目录");
  row("the log group is below the list", "分组框2", "分组框1", QRect(16, 280, 600, 152), "对接返回");
  row("the log pane fills its group", "编辑框1", "分组框2", QRect(8, 21, 584, 120), "");
  row("the supplier line is bottom left", "透明标签4", "分组框1", QRect(16, 472, 352, 24), "");
  row("select all is a bare check", "选择框4", "分组框1", QRect(397, 477, 16, 16), "选择框");
  row("its label belongs to the window", "透明标签3", "", QRect(418, 460, 30, 48), "全选");
  row("dock goods is a bare check", "对接商品框", "分组框1", QRect(452, 477, 16, 16), "选择框");
  row("its label names it", "透明标签2", "分组框1", QRect(478, 459, 61, 48), "对接商品");
  row("dock directories is a bare check", "对接目录框", "分组框1", QRect(542, 473, 16, 24), "选择框");
  row("its label names it too", "透明标签1", "分组框1", QRect(566, 454, 61, 60), "对接目录");
  row("the docking button is bottom right", "批量对接", "分组框1", QRect(632, 452, 89, 32), "批量对接");
  row("the catalog work table lies below the frame", "超级列表框1", "分组框1", QRect(32, 504, 368, 48), "");
  row("the goods work table lies below the window", "超级列表框2", "", QRect(400, 512, 280, 80), "");
  row("the goods work field lies below the window", "编辑框2", "", QRect(208, 560, 160, 32), "");
}

void CatalogWindowTest::layout() {
  QFETCH(QString, name);
  QFETCH(QString, parent);
  QFETCH(QRect, geometry);
  QFETCH(QString, text);

  CatalogWindow window(*state_);
  auto* widget = window.findChild<QWidget*>(name);
  QVERIFY2(widget, qPrintable(name));
  QCOMPARE(widget->parentWidget()->objectName(), parent.isEmpty() ? window.objectName() : parent);
  if (parent.isEmpty()) QCOMPARE(widget->parentWidget(), &window);
  QCOMPARE(widget->geometry(), geometry);

  if (auto* label = qobject_cast<QLabel*>(widget)) {
    QCOMPARE(label->text(), text);
    QVERIFY(!label->autoFillBackground());
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    QCOMPARE(button->text(), text);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    QCOMPARE(group->title(), text);
  } else if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
    QCOMPARE(edit->toPlainText(), text);
  } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    QCOMPARE(line->text(), text);
  }
}

void CatalogWindowTest::window_frame_and_work_tables() {
  CatalogWindow window(*state_);
  window.show();
  QCOMPARE(window.size(), QSize(738, 531));
  QCOMPARE(window.pos(), QPoint(50, 50));
  QCOMPARE(window.windowTitle(), QString());
  QVERIFY(window.testAttribute(Qt::WA_DeleteOnClose));

  auto* timer = window.findChild<QTimer*>(q("时钟1"));
  QVERIFY(timer);
  QVERIFY2(!timer->isActive(), "idle until the creation steps set its period");

  auto* list = window.findChild<QListView*>(q("选择列表框1"));
  QVERIFY(list);
  QVERIFY(list->uniformItemSizes());

  auto headings = [](QAbstractItemModel* model) {
    QStringList out;
    for (int c = 0; c < model->columnCount(); ++c) out << model->headerData(c, Qt::Horizontal).toString();
    return out;
  };
  auto* work = window.findChild<QTreeView*>(q("超级列表框1"));
  QVERIFY(work);
  QCOMPARE(headings(work->model()), (QStringList{q("序列号"), q("主目录ID"), q("主目录名称"), q("子目录ID"), q("子目录名称")}));
  for (int c = 0; c < 5; ++c) QCOMPARE(work->columnWidth(c), 50);
  auto* goods = window.findChild<QTreeWidget*>(q("超级列表框2"));
  QVERIFY(goods);
  QCOMPARE(headings(goods->model()), (QStringList{q("序号"), q("ID"), q("批量对接秘钥")}));
  for (int c = 0; c < 3; ++c) QCOMPARE(goods->columnWidth(c), 50);
  // None of the work tables shows, not even as a strip at the bottom edge.
  for (const char* name : {"超级列表框1", "超级列表框2", "编辑框2"}) {
    QVERIFY2(!window.findChild<QWidget*>(q(name))->isVisible(), name);
  }
  // The window's own label is drawn over the frame.
  auto* frame = window.findChild<QWidget*>(q("分组框1"));
  auto* label = window.findChild<QWidget*>(q("透明标签3"));
  QVERIFY(window.children().indexOf(label) > window.children().indexOf(frame));
}

// ------------------------------------------------------------------ creation

void CatalogWindowTest::creation_cuts_the_base_and_fetches_the_catalog() {
  CatalogWindow* window = open_window();
  QCOMPARE(state_->backend_root, shop_->backend_root());
  QCOMPARE(window->findChild<QLabel*>(q("透明标签4"))->text(),
           QString::fromStdString("http://" + shop_->supplier_host()) + q("卡盟对接ID：") +
               QString::fromStdString(shop_->platform_id()));
  QCOMPARE(window->timer_interval(), 100);
  QVERIFY(state_->catalog_text.find("parentId_1001") != Text::npos);
  QCOMPARE(window->findChild<QPlainTextEdit*>(q("编辑框1"))->toPlainText(), QString());

  const auto requests = shop_->requests();
  QCOMPARE(requests.size(), std::size_t(1));
  QCOMPARE(requests[0].side, std::string("supplier"));
  QCOMPARE(requests[0].method, std::string("POST"));
  QCOMPARE(requests[0].path, std::string("/front/inter/dirList.htm"));
  const std::string& body = requests[0].body;
  QVERIFY2(body.rfind("validate_post_send=Tue+Feb+", 0) == 0, body.c_str());
  const std::string tail = "+GMT%2B0800+(%E4%B8%AD%E5%9B%BD%E6%A0%87%E5%87%86%E6%97%B6%E9%97%B4)&topValue=";
  QVERIFY2(body.size() > tail.size() && body.compare(body.size() - tail.size(), tail.size(), tail) == 0, body.c_str());
  // Nothing is read into the list before the button is pressed.
  QCOMPARE(window->list_model()->count(), 0);
}

void CatalogWindowTest::base_without_index_page_is_empty() {
  state_->backend_root = shop_->backend_root();
  open_window();
  QCOMPARE(state_->backend_root, Text());
}

void CatalogWindowTest::unreachable_supplier_is_logged() {
  state_->supplier_host = "127.0.0.1:1";
  CatalogWindow* window = open_window();
  QCOMPARE(state_->catalog_text, Text());
  QVERIFY(window->findChild<QPlainTextEdit*>(q("编辑框1"))->toPlainText().startsWith(q("卡盟目录请求失败：")));
  QCOMPARE(window->timer_interval(), 100);
}

void CatalogWindowTest::supplier_line_fits_its_label_data() {
  QTest::addColumn<QString>("host");
  QTest::addColumn<QString>("id");
  QTest::addColumn<bool>("whole");
  // Hosts that refuse at once: only the line matters here.
  const QString host = QString::fromStdString(shop_->unreachable_host());
  QTest::newRow("a host with a port and a 32-character ID are shown whole")
      << host << q("ff8080815a3b1c7d015a3b2e9f410017") << true;
  QTest::newRow("a line no font size fits is cut in the middle, whole in the tool tip")
      << host << QString(200, QLatin1Char('f')) << false;
}

void CatalogWindowTest::supplier_line_fits_its_label() {
  QFETCH(QString, host);
  QFETCH(QString, id);
  QFETCH(bool, whole);
  state_->supplier_host = to_text(host);
  state_->supplier_id = to_text(id);
  CatalogWindow* window = open_window();
  auto* label = window->findChild<QLabel*>(q("透明标签4"));
  const QString line = q("http://") + host + q("卡盟对接ID：") + id;
  QCOMPARE(label->geometry(), QRect(16, 472, 352, 24));
  QVERIFY2(QFontMetrics(label->font()).horizontalAdvance(label->text()) <= label->width(), qPrintable(label->text()));
  QVERIFY(QFontInfo(label->font()).pixelSize() >= 8);
  QCOMPARE(label->toolTip(), line);
  if (whole) {
    QCOMPARE(label->text(), line);
  } else {
    QVERIFY(label->text().startsWith(q("http://") + host));
    QVERIFY(label->text().endsWith(q("fff")));
    QVERIFY(label->text().size() < line.size());
  }
}

// ------------------------------------------------------------------ reading

void CatalogWindowTest::reading_fills_the_list_in_page_order() {
  CatalogWindow* window = open_window();
  const Text page = state_->catalog_text;
  window->findChild<QPushButton*>(q("按钮1"))->click();

  const std::vector<Text> expected = test::demo_catalog_items("catalog-default.txt");
  QVERIFY(expected.size() > 10);
  QCOMPARE(list_items(window), expected);
  // "话费&amp;流量" on the page is "话费&流量" in the list.
  QCOMPARE(window->list_model()->text(4), main_item_text("1002", utf8_to_ansi("话费&流量")));
  for (int i = 0; i < window->list_model()->count(); ++i) QVERIFY(!window->list_model()->ticked(i));

  const auto cache = dir_->path() / "卡盟对接缓存.txt";
  QCOMPARE(file_text(cache), state_->catalog_text);
  QVERIFY(state_->catalog_text.rfind("[1]\r\n", 0) == 0);
  QCOMPARE(file_text(dir_->path() / "返回.txt"), page + "\r\n");
  QCOMPARE(window->work_table().size(), expected.size());
  QCOMPARE(window->findChild<QTreeView*>(q("超级列表框1"))->model()->rowCount(), int(expected.size()));
}

void CatalogWindowTest::second_press_rebuilds_the_same_items_unticked() {
  CatalogWindow* window = open_window();
  const Text page = state_->catalog_text;
  auto* button = window->findChild<QPushButton*>(q("按钮1"));
  button->click();
  const std::vector<Text> first = list_items(window);
  const Text cache = state_->catalog_text;
  window->list_model()->set_all(true);

  button->click();
  QCOMPARE(list_items(window), first);
  for (int i = 0; i < window->list_model()->count(); ++i) QVERIFY(!window->list_model()->ticked(i));
  QCOMPARE(window->work_table().size(), first.size());
  QCOMPARE(file_text(dir_->path() / "卡盟对接缓存.txt"), cache);
  QCOMPARE(file_text(dir_->path() / "返回.txt"), page + "\r\n" + cache + "\r\n");
}

void CatalogWindowTest::unwritable_files_directory_still_fills_the_list() {
  test::write_file(dir_->path() / "plain", "x");
  state_->files_dir = (dir_->path() / "plain" / "sub").string();
  CatalogWindow* window = open_window();
  window->findChild<QPushButton*>(q("按钮1"))->click();
  QCOMPARE(list_items(window), test::demo_catalog_items("catalog-default.txt"));
  const QString log = window->findChild<QPlainTextEdit*>(q("编辑框1"))->toPlainText();
  QVERIFY2(log.contains(q("无法写入文件：") + QString::fromStdString(state_->files_dir) + q("/卡盟对接缓存.txt")),
           qPrintable(log));
}

// ------------------------------------------------------------------ selection

void CatalogWindowTest::a_main_directory_carries_its_subs() {
  CatalogWindow* window = open_window();
  window->findChild<QPushButton*>(q("按钮1"))->click();
  CatalogListModel* model = window->list_model();
  CatalogListBox* list = window->list_box();
  // Rows: 0 main 1001, 1-3 its subs, 4 main 1002, 5-6 its subs.
  list->setCurrentIndex(model->index(0));
  model->setData(model->index(0), Qt::Checked, Qt::CheckStateRole);
  QTRY_VERIFY_WITH_TIMEOUT(model->ticked(1) && model->ticked(2) && model->ticked(3), 1000);
  QVERIFY(!model->ticked(4) && !model->ticked(5));

  // Unticking one sub while it is the current item lasts.
  list->setCurrentIndex(model->index(2));
  model->setData(model->index(2), Qt::Unchecked, Qt::CheckStateRole);
  QTest::qWait(250);
  QVERIFY(!model->ticked(2));
  QVERIFY(model->ticked(1) && model->ticked(3));

  // Selecting the main directory again brings it back.
  list->setCurrentIndex(model->index(0));
  QTRY_VERIFY_WITH_TIMEOUT(model->ticked(2), 1000);

  // Unticking the main directory unticks its subs.
  model->setData(model->index(0), Qt::Unchecked, Qt::CheckStateRole);
  QTRY_VERIFY_WITH_TIMEOUT(!model->ticked(1) && !model->ticked(2) && !model->ticked(3), 1000);

  // Without a selected item the rule leaves everything alone.
  model->setData(model->index(1), Qt::Checked, Qt::CheckStateRole);
  list->clearSelection();
  QTest::qWait(250);
  QVERIFY(model->ticked(1));
}

void CatalogWindowTest::a_click_on_the_check_ticks_the_item() {
  CatalogWindow* window = open_window();
  window->findChild<QPushButton*>(q("按钮1"))->click();
  QVERIFY(QTest::qWaitForWindowExposed(window));
  CatalogListBox* list = window->list_box();
  const QRect rect = list->visualRect(list->model()->index(0, 0));
  // The check indicator sits at the row's left end.
  QStyleOptionViewItem option;
  option.initFrom(list);
  option.rect = rect;
  option.features |= QStyleOptionViewItem::HasCheckIndicator;
  const QRect check = list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, check.center());
  QVERIFY(window->list_model()->ticked(0));
  QCOMPARE(list->current_row(), 0);
  QTRY_VERIFY_WITH_TIMEOUT(window->list_model()->ticked(1), 1000);
}

void CatalogWindowTest::select_all_ticks_and_unticks_everything() {
  CatalogWindow* window = open_window();
  auto* all = window->findChild<QCheckBox*>(q("选择框4"));
  all->click();  // an empty list: nothing to do
  QCOMPARE(window->list_model()->count(), 0);
  all->click();

  window->findChild<QPushButton*>(q("按钮1"))->click();
  const int count = window->list_model()->count();
  all->click();
  for (int i = 0; i < count; ++i) QVERIFY(window->list_model()->ticked(i));
  all->click();
  for (int i = 0; i < count; ++i) QVERIFY(!window->list_model()->ticked(i));
  // The box keeps its own state over a read, which brings every item back unticked.
  all->click();
  window->findChild<QPushButton*>(q("按钮1"))->click();
  QVERIFY(all->isChecked());
  QVERIFY(!window->list_model()->ticked(0));
}

void CatalogWindowTest::log_pane_appends_at_the_end_and_shows_it() {
  CatalogWindow window(*state_);
  window.show();
  auto* pane = window.findChild<QPlainTextEdit*>(q("编辑框1"));
  pane->setPlainText(q("typed"));
  pane->moveCursor(QTextCursor::Start);
  window.append_log(utf8_to_ansi("主目录ID:1----主目录名称:A----\r\n"));
  window.append_log(utf8_to_ansi("A主目录克隆成功\r\n"));
  QCOMPARE(pane->toPlainText(), q("typed主目录ID:1----主目录名称:A----\nA主目录克隆成功\n"));
  for (int i = 0; i < 50; ++i) window.append_log("line " + std::to_string(i) + "\r\n");
  QCoreApplication::processEvents();
  QVERIFY(pane->verticalScrollBar()->maximum() > 0);
  QVERIFY(pane->textCursor().atEnd());
  QVERIFY2(pane->viewport()->rect().contains(pane->cursorRect()), "the end is in view");
}

// ------------------------------------------------------------------ docking button

void CatalogWindowTest::docking_button_rule_data() {
  QTest::addColumn<bool>("directories");
  QTest::addColumn<bool>("goods");
  QTest::addColumn<QString>("started");
  QTest::newRow("nothing ticked starts nothing") << false << false << QString();
  QTest::newRow("dock goods alone starts nothing") << false << true << QString();
  QTest::newRow("dock directories alone clones") << true << false << q("clone");
  QTest::newRow("both dock the goods") << true << true << q("goods");
}

void CatalogWindowTest::docking_button_rule() {
  QFETCH(bool, directories);
  QFETCH(bool, goods);
  QFETCH(QString, started);

  auto runs = std::make_shared<std::vector<std::string>>();
  auto mutex = std::make_shared<std::mutex>();
  auto record = [runs, mutex](const char* what) {
    return [runs, mutex, what](CatalogView& view, ProgramState& state) {
      view.append_log(std::string(what) + "\r\n");
      state.sign_str = what;  // handed back to the program once the run ends
      std::lock_guard lock(*mutex);
      runs->push_back(what);
    };
  };
  CatalogWindow::set_docking_runs(record("clone"), record("goods"));

  CatalogWindow* window = open_window();
  window->findChild<QCheckBox*>(q("对接目录框"))->setChecked(directories);
  window->findChild<QCheckBox*>(q("对接商品框"))->setChecked(goods);
  window->findChild<QPushButton*>(q("批量对接"))->click();
  QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 0, 5000);
  QCoreApplication::processEvents();

  std::lock_guard lock(*mutex);
  if (started.isEmpty()) {
    QVERIFY(runs->empty());
  } else {
    QCOMPARE(*runs, std::vector<std::string>{started.toStdString()});
    QCOMPARE(window->findChild<QPlainTextEdit*>(q("编辑框1"))->toPlainText(), started + q("\n"));
    QCOMPARE(state_->sign_str, started.toStdString());
  }
}

void CatalogWindowTest::only_dock_goods_makes_no_request() {
  CatalogWindow* window = open_window();
  window->findChild<QPushButton*>(q("按钮1"))->click();
  window->list_model()->set_all(true);
  shop_->clear_requests();
  window->findChild<QCheckBox*>(q("对接商品框"))->setChecked(true);
  window->findChild<QPushButton*>(q("批量对接"))->click();
  QCOMPARE(CatalogWindow::running_docking_runs(), 0);
  QTest::qWait(100);
  QVERIFY(shop_->requests().empty());
  QVERIFY(window->findChild<QPushButton*>(q("批量对接"))->isEnabled());
}

void CatalogWindowTest::window_stays_usable_during_a_run() {
  auto release = std::make_shared<std::atomic<bool>>(false);
  CatalogWindow::set_docking_runs(
      [release](CatalogView& view, ProgramState&) {
        view.set_button_enabled(false);
        view.set_timer_interval(0);
        while (!*release && !view.closed()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        view.set_button_enabled(true);
        view.set_timer_interval(100);
      },
      {});
  CatalogWindow* window = open_window();
  auto* dock = window->findChild<QPushButton*>(q("批量对接"));
  window->findChild<QCheckBox*>(q("对接目录框"))->setChecked(true);
  dock->click();
  // The run disables the button and stops the timer in two calls of its own.
  QTRY_VERIFY_WITH_TIMEOUT(!dock->isEnabled() && window->timer_interval() == 0, 2000);

  // Reading and ticking go on while the worker waits.
  window->findChild<QPushButton*>(q("按钮1"))->click();
  QVERIFY(window->list_model()->count() > 0);
  window->findChild<QCheckBox*>(q("选择框4"))->click();
  QVERIFY(window->list_model()->ticked(0));

  *release = true;
  QTRY_VERIFY_WITH_TIMEOUT(dock->isEnabled(), 2000);
  QCOMPARE(window->timer_interval(), 100);
}

void CatalogWindowTest::closing_during_a_run_stops_the_worker() {
  auto steps_after_close = std::make_shared<std::atomic<int>>(0);
  auto ended = std::make_shared<std::atomic<bool>>(false);
  CatalogWindow::set_docking_runs(
      [steps_after_close, ended](CatalogView& view, ProgramState& state) {
        view.set_button_enabled(false);
        while (!view.closed()) {
          view.item_count();
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // Every call after the close does nothing and answers empty.
        if (view.item_count() == 0 && view.item_text(0).empty() && !view.item_ticked(0)) ++*steps_after_close;
        view.append_log("late\r\n");
        view.set_button_enabled(true);
        view.set_timer_interval(100);
        view.show_box("late", "late");
        view.wait_ms(10000);
        state.sign_str = "from the run";
        *ended = true;
      },
      {});
  CatalogWindow* window = open_window();
  window->findChild<QPushButton*>(q("按钮1"))->click();
  window->findChild<QCheckBox*>(q("对接目录框"))->setChecked(true);
  window->findChild<QPushButton*>(q("批量对接"))->click();
  QTRY_VERIFY_WITH_TIMEOUT(!window->findChild<QPushButton*>(q("批量对接"))->isEnabled(), 2000);

  QPointer<CatalogWindow> guard(window);
  window->close();
  QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 2000);
  QTRY_VERIFY_WITH_TIMEOUT(ended->load(), 2000);
  QCOMPARE(steps_after_close->load(), 1);
  QVERIFY(!visible_box());
  QCOMPARE(CatalogWindow::running_docking_runs(), 0);
  // The window was gone: what the run wrote stays with the run.
  QCOMPARE(state_->sign_str, Text());
}

void CatalogWindowTest::a_cloning_run_reaches_the_back_end() {
  CatalogWindow* window = open_window();
  window->findChild<QPushButton*>(q("按钮1"))->click();
  CatalogListModel* model = window->list_model();
  // Main directory 1001 "网络游戏" and its three subs.
  for (int row : {0, 1, 2, 3}) model->set_ticked(row, true);
  const auto before = shop_->directories().size();
  window->findChild<QCheckBox*>(q("对接目录框"))->setChecked(true);
  window->findChild<QPushButton*>(q("批量对接"))->click();

  QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 10000);
  QMessageBox* box = visible_box();
  QCOMPARE(box->text(), q("目录克隆完成"));
  QCOMPARE(box->windowTitle(), q("提示"));
  QVERIFY(!window->findChild<QPushButton*>(q("批量对接"))->isEnabled());
  box->button(QMessageBox::Ok)->click();
  QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QPushButton*>(q("批量对接"))->isEnabled(), 2000);
  QCOMPARE(window->timer_interval(), 100);

  const auto directories = shop_->directories();
  QCOMPARE(directories.size(), before + 4);
  QCOMPARE(directories[before].name, std::string("网络游戏"));
  QCOMPARE(directories[before].parent_id, std::string("0"));
  for (std::size_t i = 1; i < 4; ++i) QCOMPARE(directories[before + i].parent_id, directories[before].id);
  QCOMPARE(directories[before + 3].name, std::string("盛大游戏"));
  const QString log = window->findChild<QPlainTextEdit*>(q("编辑框1"))->toPlainText();
  QVERIFY2(log.contains(q("网络游戏主目录克隆成功\n")), qPrintable(log));
  QVERIFY2(log.contains(q("盛大游戏子目录克隆成功\n")), qPrintable(log));
}

// ------------------------------------------------------------------ a big catalog

void CatalogWindowTest::hundred_thousand_directories_fill_the_list() {
  demo_shop::Options options;
  options.generated_directories = 100000;
  demo_shop::DemoShop big(options);
  QVERIFY(big.start());
  QVERIFY(test::log_in_backend(big));
  QVERIFY(test::log_in_supplier(big));
  state_->backend_root = big.backend_entry_url();
  state_->supplier_host = big.supplier_host();
  CatalogWindow* window = open_window();
  window->findChild<QPushButton*>(q("按钮1"))->click();

  CatalogListModel* model = window->list_model();
  QVERIFY(model->count() >= 100000);
  QCOMPARE(std::size_t(model->count()), window->work_table().size());
  QVERIFY(item_main_id(model->text(0)).size() > 0);
  QCOMPARE(window->list_box()->model()->rowCount(), model->count());
  // The list shows and ticks at that size.
  QVERIFY(QTest::qWaitForWindowExposed(window));
  window->findChild<QCheckBox*>(q("选择框4"))->click();
  QVERIFY(model->ticked(model->count() - 1));
  window->close();
}

QTEST_MAIN(CatalogWindowTest)
#include "catalog_window_qttest.moc"
