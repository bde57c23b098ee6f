// The main line of windows in one go, as a user walks it against the demo
// shop: the back end's address typed into main_window, "立即登陆", the log-in
// made by hand inside the embedded browser, the poll noticing it; then the
// supplier chosen and logged into with a wrong and then the right password;
// then the catalog read into the check list. Nothing of the road is set up
// behind the windows' backs: the cookie jar starts empty and every session
// comes from what the user did in a window.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkCookie>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "app/main_window.h"
#include "app/program_state.h"
#include "demo_shop.h"
#include "platform/http.h"
#include "platform/qt_text_qt.h"
#include "supplier/catalog_list_model_qt.h"
#include "supplier/catalog_window.h"
#include "supplier/demo_catalog.h"
#include "supplier/supplier_login_window.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"
#include "update/version_check.h"
#include "web/web_request.h"

using namespace korvani;

namespace {

QString q(const char* utf8) { return QString::fromUtf8(utf8); }

bool from_web_request(const demo_shop::ReceivedRequest& r) {
  return r.header_text.find(std::string(default_user_agent)) != std::string::npos;
}

// The visible top-level windows, message boxes aside.
QList<QWidget*> open_windows() {
  QList<QWidget*> found;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && !qobject_cast<QMessageBox*>(w)) found.append(w);
  return found;
}

void type_into(QLineEdit* edit, const QString& text) {
  edit->clear();
  QTest::keyClicks(edit, text);
}

}  // namespace

class MainLineTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(shop_.start());
    platform::cookie_jar_clear();
    // The start-up's version check asks the shop, which names our version.
    set_version_page_url(shop_.version_page_url());
    MainWindow::set_poll_interval_ms(150);
  }

  void cleanupTestCase() { set_version_page_url(std::nullopt); }

  void from_the_back_end_address_to_the_catalog_check_list() {
    ProgramState state;
    state.shared_regex = std::make_unique<RegexObject>();
    test::TempDir files;
    state.files_dir = files.path().string();

    // ---- main_window: the address, "立即登陆", the log-in in the browser.
    QPointer<MainWindow> main = new MainWindow(state);
    QVERIFY(main->carries_on());
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    auto* address = main->findChild<QLineEdit*>(q("编辑框_后台地址"));
    auto* login_button = main->findChild<QPushButton*>(q("按钮1"));
    QPointer<QWebEngineView> browser = main->findChild<QWebEngineView*>(q("超文本浏览框1"));
    QVERIFY(address && login_button && browser);
    QCOMPARE(login_button->text(), q("立即登陆"));
    type_into(address, QString::fromStdString(shop_.backend_entry_url()));

    QByteArray browser_session;
    connect(browser->page()->profile()->cookieStore(), &QWebEngineCookieStore::cookieAdded, browser,
            [&](const QNetworkCookie& c) {
              if (c.name() == "KSESSIONID" && !c.value().isEmpty()) browser_session = c.value();
            });
    // The user fills in the back end's own log-in form once it shows.
    auto submitted = std::make_shared<bool>(false);
    connect(browser, &QWebEngineView::loadFinished, browser, [view = browser.data(), submitted](bool ok) {
      if (!ok || *submitted || !view->url().path().endsWith(q("index.html"))) return;
      *submitted = true;
      view->page()->runJavaScript(
          test::backend_log_in_script(),
          [submitted](const QVariant& found) { *submitted = found.toBool(); });
    });
    // A poll that never ends is left by closing the window; the test then fails below.
    QTimer::singleShot(30000, main, [main] {
      qWarning("the poll did not end in time");
      if (main) main->close();
    });

    QTest::mouseClick(login_button, Qt::LeftButton);  // returns once the poll has ended

    QVERIFY(*submitted);
    QVERIFY(!browser_session.isEmpty());
    QTRY_VERIFY(main.isNull());
    QCOMPARE(state.backend_root, shop_.backend_entry_url());
    QVERIFY(state.backend_url.ends_with("/admin/platform/platformserList.html"));

    // ---- supplier_login_window: its platform list ran in the browser's session.
    QList<QWidget*> windows = open_windows();
    QCOMPARE(windows.size(), 1);
    QPointer<SupplierLoginWindow> login = qobject_cast<SupplierLoginWindow*>(windows.front());
    QVERIFY(login);
    int platform_lists = 0;
    for (const auto& r : shop_.requests()) {
      if (!from_web_request(r)) continue;
      QVERIFY2(r.path != "/admin/login.html", "the tool never logs into the back end itself");
      if (r.path != "/admin/platform/platformserList.html") continue;
      ++platform_lists;
      QCOMPARE(r.method, std::string("POST"));
      QVERIFY2(r.header_text.find("KSESSIONID=" + browser_session.toStdString()) != std::string::npos,
               r.header_text.c_str());
    }
    QCOMPARE(platform_lists, 1);

    auto* hosts = login->findChild<QComboBox*>(q("组合框1"));
    auto* account = login->findChild<QLineEdit*>(q("编辑框_账号"));
    auto* password = login->findChild<QLineEdit*>(q("编辑框_密码"));
    auto* press = login->findChild<QPushButton*>(q("按钮1"));
    QVERIFY(hosts && account && password && press);
    const int host = hosts->findText(QString::fromStdString(shop_.supplier_host()));
    QVERIFY2(host > 0, "the demo supplier is offered");
    hosts->setCurrentIndex(host);
    type_into(account, q(demo_shop::DemoShop::supplier_user));

    type_into(password, q("not-the-password"));
    auto said = test::answer_next_box();
    QTest::mouseClick(press, Qt::LeftButton);
    QCOMPARE(said->text, q("用户名或密码错误!"));
    QVERIFY(login);
    QCOMPARE(open_windows(), QList<QWidget*>{login.data()});

    type_into(password, q(demo_shop::DemoShop::supplier_password));
    said = test::answer_next_box();
    QTest::mouseClick(press, Qt::LeftButton);
    QTRY_VERIFY(login.isNull());
    QVERIFY2(said->text.isEmpty(), qPrintable(said->text));
    QCOMPARE(state.supplier_host, shop_.supplier_host());
    QCOMPARE(state.supplier_id, shop_.platform_id());

    // ---- catalog_window: the catalog read into the check list.
    windows = open_windows();
    QCOMPARE(windows.size(), 1);
    QPointer<CatalogWindow> catalog = qobject_cast<CatalogWindow*>(windows.front());
    QVERIFY(catalog);
    QCOMPARE(state.backend_root, shop_.backend_root());
    QTest::mouseClick(catalog->findChild<QPushButton*>(q("按钮1")), Qt::LeftButton);

    CatalogListModel* list = catalog->list_model();
    std::vector<Text> items;
    for (int i = 0; i < list->count(); ++i) items.push_back(list->text(i));
    const std::vector<Text> expected = test::demo_catalog_items("catalog-default.txt");
    QVERIFY(expected.size() > 10);
    QCOMPARE(items, expected);
    // A few as the user reads them: a name the page escapes, one it
    // percent-codes, one with a character beyond GBK.
    QCOMPARE(to_qstring(items[0]), q("主目录ID:1001----主目录名称:网络游戏----"));
    QCOMPARE(to_qstring(items[3]), q("子目录ID:100103----子目录名称:盛大游戏上级目录:1001----"));
    QCOMPARE(to_qstring(items[6]), q("子目录ID:100202----子目录名称:联通&电信上级目录:1002----"));
    QCOMPARE(to_qstring(items[7]), q("主目录ID:1003----主目录名称:🎮游戏点卡----"));
    QVERIFY(std::filesystem::exists(files.path() / "卡盟对接缓存.txt"));
    QVERIFY(std::filesystem::exists(files.path() / "返回.txt"));

    // ---- closing the last window ends the program.
    const test::LoopEnd end = test::close_in_event_loop(catalog);
    QCOMPARE(end.exit_code, 0);
    QVERIFY(end.closed);
    QTRY_VERIFY(catalog.isNull());
  }

 private:
  demo_shop::DemoShop shop_;
};

QTEST_MAIN(MainLineTest)
#include "main_line_qttest.moc"
