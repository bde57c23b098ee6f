// The supplier log-in window against the demo shop, in-process.
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "app/program_state.h"
#include "demo_shop.h"
#include "platform/qt_text_qt.h"
#include "supplier/catalog_window.h"
#include "supplier/supplier_login_window.h"
#include "support/qt_test_support.h"

using namespace korvani;

using test::SeenBox;
using test::top_level_windows;

class SupplierLoginWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void layout_data();
  void layout();
  void window_frame();
  void platform_table_view();
  void creation_offers_the_platform_hosts();
  void wrong_password_keeps_the_window_then_right_one_opens_the_catalog();
  void design_time_item_fails();
  void unreachable_platform_fails();
  void password_with_form_characters_arrives_as_typed();
  void unreachable_back_end_offers_nothing();

 private:
  SupplierLoginWindow* open_window();
  void choose_host(SupplierLoginWindow* window, const std::string& host);
  void type_account(SupplierLoginWindow* window, const QString& user, const QString& password);
  std::shared_ptr<SeenBox> press_login_expecting_box(SupplierLoginWindow* window);

  std::unique_ptr<demo_shop::DemoShop> shop_;
  std::unique_ptr<ProgramState> state_;
};

void SupplierLoginWindowTest::initTestCase() {
  QApplication::setQuitOnLastWindowClosed(false);
  shop_ = std::make_unique<demo_shop::DemoShop>();
  QVERIFY(shop_->start());
  // The embedded browser's log-in is not part of this window: open the back
  // end's session directly in the shared jar.
  QVERIFY(test::log_in_backend(*shop_));
}

void SupplierLoginWindowTest::init() {
  state_ = std::make_unique<ProgramState>();
  state_->shared_regex = std::make_unique<RegexObject>();
  state_->backend_url = shop_->backend_root() + "main.html";
  shop_->clear_requests();
}

void SupplierLoginWindowTest::cleanup() {
  // A watch that saw no box must not catch the next test's box.
  for (QTimer* timer : qApp->findChildren<QTimer*>(test::box_answerer_name)) delete timer;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (!widget->parent()) widget->close();
  }
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (!widget->parent() && !widget->testAttribute(Qt::WA_DeleteOnClose)) widget->deleteLater();
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QTRY_VERIFY(top_level_windows<SupplierLoginWindow>().isEmpty());
  QTRY_VERIFY(top_level_windows<CatalogWindow>().isEmpty());
}

SupplierLoginWindow* SupplierLoginWindowTest::open_window() { return SupplierLoginWindow::open(*state_); }

void SupplierLoginWindowTest::choose_host(SupplierLoginWindow* window, const std::string& host) {
  auto* combo = window->findChild<QComboBox*>(QStringLiteral("组合框1"));
  QVERIFY(combo);
  const int index = combo->findText(QString::fromStdString(host));
  QVERIFY2(index > 0, host.c_str());
  combo->setCurrentIndex(index);
}

void SupplierLoginWindowTest::type_account(SupplierLoginWindow* window, const QString& user,
                                           const QString& password) {
  auto* account = window->findChild<QLineEdit*>(QStringLiteral("编辑框_账号"));
  auto* secret = window->findChild<QLineEdit*>(QStringLiteral("编辑框_密码"));
  QVERIFY(account && secret);
  account->clear();
  QTest::keyClicks(account, user);
  secret->clear();
  QTest::keyClicks(secret, password);
}

std::shared_ptr<SeenBox> SupplierLoginWindowTest::press_login_expecting_box(SupplierLoginWindow* window) {
  auto seen = test::answer_next_box();
  auto* button = window->findChild<QPushButton*>(QStringLiteral("按钮1"));
  if (button) QTest::mouseClick(button, Qt::LeftButton);
  return seen;
}

void SupplierLoginWindowTest::layout_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QRect>("geometry");
  QTest::addColumn<QString>("text");

  QTest::newRow("the host choice starts with the design-time item")
      << QStringLiteral("组合框1") << QRect(48, 48, 208, 20) << QStringLiteral("请选择对接的卡盟");
  QTest::newRow("the account label") << QStringLiteral("透明标签1") << QRect(8, 88, 32, 24) << QStringLiteral("账号");
  QTest::newRow("the account field starts empty")
      << QStringLiteral("编辑框_账号") << QRect(48, 88, 208, 24) << QString();
  QTest::newRow("the password label") << QStringLiteral("透明标签2") << QRect(8, 117, 40, 32) << QStringLiteral("密码");
  QTest::newRow("the password field starts empty")
      << QStringLiteral("编辑框_密码") << QRect(48, 120, 208, 24) << QString();
  QTest::newRow("the log-in button") << QStringLiteral("按钮1") << QRect(96, 160, 104, 32) << QStringLiteral("登录");
  QTest::newRow("the platform table lies below the window's edge")
      << QStringLiteral("超级列表框1") << QRect(32, 256, 248, 72) << QString();
}

void SupplierLoginWindowTest::layout() {
  QFETCH(QString, name);
  QFETCH(QRect, geometry);
  QFETCH(QString, text);
  auto* window = open_window();
  auto* control = window->findChild<QWidget*>(name);
  QVERIFY2(control, qPrintable(name));
  QCOMPARE(control->parentWidget(), window);
  QCOMPARE(control->geometry(), geometry);
  if (auto* combo = qobject_cast<QComboBox*>(control)) {
    QCOMPARE(combo->itemText(0), text);
    QCOMPARE(combo->currentText(), text);
  } else if (auto* label = qobject_cast<QLabel*>(control)) {
    QCOMPARE(label->text(), text);
    QVERIFY(!label->autoFillBackground());
  } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    QCOMPARE(edit->text(), text);
  } else if (auto* button = qobject_cast<QPushButton*>(control)) {
    QCOMPARE(button->text(), text);
  } else {
    QVERIFY2(qobject_cast<QTreeWidget*>(control), qPrintable(name));
  }
}

void SupplierLoginWindowTest::window_frame() {
  auto* window = open_window();
  QCOMPARE(window->windowTitle(), QStringLiteral("对接卡盟前台账号"));
  QCOMPARE(window->size(), QSize(319, 233));
  QCOMPARE(window->pos(), QPoint(50, 50));
  QVERIFY(window->isVisible());
  QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
  QCOMPARE(window->findChild<QLineEdit*>(QStringLiteral("编辑框_密码"))->echoMode(), QLineEdit::Password);
  // The table is a child of the window yet entirely out of sight.
  auto* table = window->findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
  QVERIFY(!window->rect().intersects(table->geometry()));
}

void SupplierLoginWindowTest::platform_table_view() {
  auto* window = open_window();
  auto* table = window->findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
  QCOMPARE(table->columnCount(), 3);
  const QStringList headings = {QStringLiteral("序号"), QStringLiteral("网址"), QStringLiteral("ID")};
  for (int column = 0; column < 3; ++column) {
    QCOMPARE(table->headerItem()->text(column), headings[column]);
    QCOMPARE(table->columnWidth(column), 50);
  }
  QCOMPARE(table->topLevelItemCount(), static_cast<int>(window->platform_table().size()));
  for (int row = 0; row < table->topLevelItemCount(); ++row) {
    const auto& expected = window->platform_table()[row];
    QCOMPARE(table->topLevelItem(row)->text(0), QString::number(row + 1));
    QCOMPARE(table->topLevelItem(row)->text(1), to_qstring(expected.host));
    QCOMPARE(table->topLevelItem(row)->text(2), to_qstring(expected.id));
  }
}

void SupplierLoginWindowTest::creation_offers_the_platform_hosts() {
  auto* window = open_window();
  QVERIFY(state_->backend_url.ends_with("/admin/platform/platformserList.html"));

  // The request went to the back end's list with the date field.
  bool asked = false;
  for (const auto& request : shop_->requests()) {
    if (request.path.ends_with("platform/platformserList.html")) {
      asked = true;
      QCOMPARE(request.method, std::string("POST"));
      QVERIFY2(request.body.starts_with("validate_post_send=Tue+Feb+"), request.body.c_str());
    }
  }
  QVERIFY(asked);

  // Only the platforms' hosts are offered: neither the doctype's host nor
  // script names nor the script's navigation.
  auto* combo = window->findChild<QComboBox*>(QStringLiteral("组合框1"));
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  const QStringList expected = {QStringLiteral("请选择对接的卡盟"), QString::fromStdString(shop_->supplier_host()),
                                QString::fromStdString(shop_->unreachable_host())};
  QCOMPARE(items, expected);
  QCOMPARE(combo->currentIndex(), 0);

  const auto& table = window->platform_table();
  QCOMPARE(table.size(), std::size_t(2));
  QCOMPARE(table[0].number, std::string("1"));
  QCOMPARE(table[0].host, shop_->supplier_host());
  QCOMPARE(table[0].id, shop_->platform_id());
  QCOMPARE(table[1].number, std::string("2"));
  QCOMPARE(table[1].host, shop_->unreachable_host());
  QCOMPARE(table[1].id, shop_->unreachable_platform_id());
}

void SupplierLoginWindowTest::wrong_password_keeps_the_window_then_right_one_opens_the_catalog() {
  QPointer<SupplierLoginWindow> window = open_window();
  choose_host(window, shop_->supplier_host());
  type_account(window, QString::fromUtf8(demo_shop::DemoShop::supplier_user), QStringLiteral("wrong"));

  auto seen = press_login_expecting_box(window);
  QTRY_VERIFY(seen->seen);
  QCOMPARE(seen->text, QStringLiteral("用户名或密码错误!"));
  QCOMPARE(seen->title, QStringLiteral("信息："));
  QCOMPARE(seen->icon, QMessageBox::NoIcon);
  QVERIFY(window);
  QVERIFY(window->isVisible());
  QCOMPARE(state_->supplier_host, shop_->supplier_host());
  QCOMPARE(state_->supplier_id, shop_->platform_id());
  QVERIFY(top_level_windows<CatalogWindow>().isEmpty());

  // Another try with the right password hands over to the catalog window.
  type_account(window, QString::fromUtf8(demo_shop::DemoShop::supplier_user),
               QString::fromUtf8(demo_shop::DemoShop::supplier_password));
  auto none = press_login_expecting_box(window);
  QTRY_VERIFY(window.isNull());
  QCOMPARE(top_level_windows<CatalogWindow>().size(), 1);
  QVERIFY(top_level_windows<CatalogWindow>().first()->isVisible());
  QVERIFY(top_level_windows<SupplierLoginWindow>().isEmpty());
  QVERIFY(!none->seen);
  QCOMPARE(state_->supplier_host, shop_->supplier_host());
  QCOMPARE(state_->supplier_id, shop_->platform_id());
}

void SupplierLoginWindowTest::design_time_item_fails() {
  auto* window = open_window();
  state_->supplier_id = "before";
  type_account(window, QString::fromUtf8(demo_shop::DemoShop::supplier_user),
               QString::fromUtf8(demo_shop::DemoShop::supplier_password));
  auto seen = press_login_expecting_box(window);
  QTRY_VERIFY(seen->seen);
  QCOMPARE(seen->text, QStringLiteral("失败"));
  QCOMPARE(seen->title, QStringLiteral("信息："));
  QCOMPARE(to_qstring(state_->supplier_host), QStringLiteral("请选择对接的卡盟"));
  // No platform carries that host, so the last row's ID stands.
  QCOMPARE(state_->supplier_id, shop_->unreachable_platform_id());
  QVERIFY(window->isVisible());
}

void SupplierLoginWindowTest::unreachable_platform_fails() {
  auto* window = open_window();
  choose_host(window, shop_->unreachable_host());
  type_account(window, QString::fromUtf8(demo_shop::DemoShop::supplier_user),
               QString::fromUtf8(demo_shop::DemoShop::supplier_password));
  auto seen = press_login_expecting_box(window);
  QTRY_VERIFY(seen->seen);
  QCOMPARE(seen->text, QStringLiteral("失败"));
  QCOMPARE(state_->supplier_id, shop_->unreachable_platform_id());
  QVERIFY(window->isVisible());
  QVERIFY(top_level_windows<CatalogWindow>().isEmpty());
}

void SupplierLoginWindowTest::password_with_form_characters_arrives_as_typed() {
  shop_->set_supplier_account("demo&co", "a&b=c 100%+x");
  QPointer<SupplierLoginWindow> window = open_window();
  choose_host(window, shop_->supplier_host());
  type_account(window, QStringLiteral("demo&co"), QStringLiteral("a&b=c 100%+x"));
  shop_->clear_requests();
  auto none = press_login_expecting_box(window);
  QTRY_VERIFY(window.isNull());
  QVERIFY(!none->seen);
  QCOMPARE(top_level_windows<CatalogWindow>().size(), 1);

  bool posted = false;
  for (const auto& request : shop_->requests()) {
    if (request.path == "/frontLogin.htm") {
      posted = true;
      QCOMPARE(request.body, std::string("loginTimes=1&userName=demo%26co&password=a%26b%3Dc 100%25%2Bx"));
    }
  }
  QVERIFY(posted);
}

void SupplierLoginWindowTest::unreachable_back_end_offers_nothing() {
  // A back end that cannot be reached gives an empty page: only the
  // design-time item, an empty table, and a press keeps the previous ID.
  state_->backend_url = "http://" + shop_->unreachable_host() + "/admin/main.html";
  auto* window = open_window();
  auto* combo = window->findChild<QComboBox*>(QStringLiteral("组合框1"));
  QCOMPARE(combo->count(), 1);
  QVERIFY(window->platform_table().empty());
  QCOMPARE(window->findChild<QTreeWidget*>(QStringLiteral("超级列表框1"))->topLevelItemCount(), 0);

  state_->supplier_id = "kept";
  auto seen = press_login_expecting_box(window);
  QTRY_VERIFY(seen->seen);
  QCOMPARE(seen->text, QStringLiteral("失败"));
  QCOMPARE(state_->supplier_id, std::string("kept"));
}

QTEST_MAIN(SupplierLoginWindowTest)
#include "supplier_login_window_qttest.moc"
