// Not a test: the driver behind tools/screenshots.sh. It walks the demo as a
// user would (the back end's log-in page in main_window, the supplier log-in,
// the catalog read and ticked, a docking run, a run
// that meets an expired back-end session, then the update windows) and
// saves a grab of each real window into $KORVANI_SCREENSHOT_DIR. Without that
// variable it skips, so the test suite does not pay for it.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "app/main_window.h"
#include "app/program_state.h"
#include "app/translations_qt.h"
#include "demo_shop.h"
#include "platform/http.h"
#include "supplier/catalog_list_model_qt.h"
#include "supplier/catalog_window.h"
#include "supplier/supplier_login_window.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"
#include "update/update_progress_window.h"
#include "update/update_prompt_window.h"
#include "update/version_check.h"

using namespace korvani;

namespace {

QString q(const char* utf8) { return QString::fromUtf8(utf8); }

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

demo_shop::Options fixed_ports() {
  demo_shop::Options options;
  // The addresses the README tells the reader to type.
  options.backend_port = 18080;
  options.supplier_port = 18081;
  return options;
}

}  // namespace

class Screenshots : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    dir_ = qEnvironmentVariable("KORVANI_SCREENSHOT_DIR");
    if (dir_.isEmpty()) QSKIP("KORVANI_SCREENSHOT_DIR is not set; tools/screenshots.sh sets it");
    QVERIFY(QDir().mkpath(dir_));
    install_qt_translations(*qApp);
    QVERIFY2(shop_.start(), "the demo shop could not take ports 18080/18081; is another one running?");
    platform::cookie_jar_clear();
    set_version_page_url(std::nullopt);
    MainWindow::set_poll_interval_ms(300);
    state_.shared_regex = std::make_unique<RegexObject>();
    state_.files_dir = files_.path().string();
  }

  void cleanupTestCase() { set_version_page_url(std::nullopt); }

  void the_main_line() {
    // ---- main_window showing the back end's own log-in page.
    QPointer<MainWindow> main = new MainWindow(state_);
    QVERIFY(main->carries_on());
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    auto* address = main->findChild<QLineEdit*>(q("编辑框_后台地址"));
    auto* login_button = main->findChild<QPushButton*>(q("按钮1"));
    auto* browser = main->findChild<QWebEngineView*>(q("超文本浏览框1"));
    QVERIFY(address && login_button && browser);
    type_into(address, QString::fromStdString(shop_.backend_entry_url()));

    auto submitted = std::make_shared<bool>(false);
    connect(browser, &QWebEngineView::loadFinished, browser, [this, main, browser, submitted](bool ok) {
      if (!ok || *submitted || !browser->url().path().endsWith(q("index.html"))) return;
      *submitted = true;
      // Let the page paint before the picture, then log in as the user would.
      QTimer::singleShot(1500, browser, [this, main, browser] {
        browser->page()->runJavaScript(
            q("(function () {"
              "  const form = document.getElementById('loginForm');"
              "  form.querySelector('input[name=username]').value = '%1';"
              "  form.querySelector('input[name=password]').value = '%2';"
              "})()")
                .arg(q(demo_shop::DemoShop::backend_user), q(demo_shop::DemoShop::backend_password)));
        QTimer::singleShot(500, browser, [this, main, browser] {
          save(main, "1-main-window");
          browser->page()->runJavaScript(q("document.getElementById('loginForm').submit();"));
        });
      });
    });
    QTimer::singleShot(60000, main, [main] {
      if (main) main->close();
    });
    QTest::mouseClick(login_button, Qt::LeftButton);  // returns once the poll has seen the log-in
    QTRY_VERIFY(main.isNull());

    // ---- supplier_login_window, filled in.
    QList<QWidget*> windows = open_windows();
    QCOMPARE(windows.size(), 1);
    QPointer<SupplierLoginWindow> login = qobject_cast<SupplierLoginWindow*>(windows.front());
    QVERIFY(login);
    auto* hosts = login->findChild<QComboBox*>(q("组合框1"));
    auto* account = login->findChild<QLineEdit*>(q("编辑框_账号"));
    auto* password = login->findChild<QLineEdit*>(q("编辑框_密码"));
    QVERIFY(hosts && account && password);
    hosts->setCurrentIndex(hosts->findText(QString::fromStdString(shop_.supplier_host())));
    type_into(account, q(demo_shop::DemoShop::supplier_user));
    type_into(password, q(demo_shop::DemoShop::supplier_password));
    QTest::qWait(200);
    save(login, "2-supplier-login");
    QTest::mouseClick(login->findChild<QPushButton*>(q("按钮1")), Qt::LeftButton);
    QTRY_VERIFY(login.isNull());

    // ---- catalog_window: the catalog read, two main directories ticked
    // (their sub-directories follow), both docking options on.
    windows = open_windows();
    QCOMPARE(windows.size(), 1);
    QPointer<CatalogWindow> catalog = qobject_cast<CatalogWindow*>(windows.front());
    QVERIFY(catalog);
    QTest::mouseClick(catalog->findChild<QPushButton*>(q("按钮1")), Qt::LeftButton);
    CatalogListModel* list = catalog->list_model();
    QVERIFY(list->count() > 8);
    for (int row : {0, 7}) {
      catalog->list_box()->setCurrentIndex(list->index(row));
      list->set_ticked(row, true);
      QTest::qWait(300);
    }
    catalog->list_box()->scrollToTop();
    catalog->findChild<QCheckBox*>(q("对接商品框"))->setChecked(true);
    catalog->findChild<QCheckBox*>(q("对接目录框"))->setChecked(true);
    QTest::qWait(200);
    save(catalog, "3-catalog");

    // ---- the docking run, up to its closing box.
    auto* dock = catalog->findChild<QPushButton*>(q("批量对接"));
    QTest::mouseClick(dock, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(test::visible_box() != nullptr, 120000);
    QTest::qWait(300);
    QMessageBox* box = test::visible_box();
    save(catalog, "4-docking-run");
    save(box, "4-docking-run-box");
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(dock->isEnabled());

    // ---- a second run, one more directory ticked, whose back-end session
    // expires: the run pauses for a log-in in a window of its own.
    catalog->list_box()->setCurrentIndex(list->index(4));
    list->set_ticked(4, true);
    QTest::qWait(300);
    QTest::mouseClick(dock, Qt::LeftButton);
    shop_.expire_backend_sessions();
    QWidget* relogin = nullptr;
    for (int i = 0; i < 200 && !relogin && !test::visible_box(); ++i) {
      QTest::qWait(100);
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == q("backend_relogin_window")) relogin = w;
    }
    if (relogin) {
      auto* page = relogin->findChild<QWebEngineView*>();
      QVERIFY(page);
      QTest::qWait(2000);  // the back end's log-in page paints
      page->page()->runJavaScript(
          q("(function () {"
            "  const form = document.getElementById('loginForm');"
            "  form.querySelector('input[name=username]').value = '%1';"
            "  form.querySelector('input[name=password]').value = '%2';"
            "})()")
              .arg(q(demo_shop::DemoShop::backend_user), q(demo_shop::DemoShop::backend_password)));
      QTest::qWait(500);
      save(relogin, "5-relogin");
      save(catalog, "5-relogin-paused");
      page->page()->runJavaScript(q("document.getElementById('loginForm').submit();"));
    } else {
      qWarning("no log-in window came up during the second run");
    }
    QTRY_VERIFY_WITH_TIMEOUT(test::visible_box() != nullptr, 120000);
    test::visible_box()->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(dock->isEnabled());

    test::close_in_event_loop(catalog);
    QTRY_VERIFY(catalog.isNull());
  }

  void the_update_windows() {
    // ---- another version announced: the prompt.
    shop_.set_version("1.14");
    set_version_page_url(shop_.version_page_url());
    ProgramState update_state;
    update_state.files_dir = files_.path().string();
    QPointer<UpdatePromptWindow> prompt = new UpdatePromptWindow(update_state);
    prompt->show();
    QVERIFY(QTest::qWaitForWindowExposed(prompt));
    QTest::qWait(200);
    save(prompt, "6-update-prompt");
    prompt->close();
    QTRY_VERIFY(prompt.isNull());

    // ---- the download, held half-way by a stalling server.
    shop_.set_download(std::string(3 << 20, 'x'));
    demo_shop::FaultRule stall;
    stall.path_suffix = "/updates/korvani-dock";
    stall.fault = demo_shop::Fault::stall;
    stall.stall_ms = 6000;
    shop_.add_fault(stall);
    const std::string program = (files_.path() / "korvani-dock").string();
    test::write_file(program, "old");
    UpdateProgressWindow::set_executable_path(program);
    UpdateProgressWindow::set_restart([](const std::string&, const std::vector<std::string>&) { return Text(); });
    update_state.update_download_url = shop_.download_url();
    QPointer<UpdateProgressWindow> progress = new UpdateProgressWindow(update_state);
    progress->show();
    QVERIFY(QTest::qWaitForWindowExposed(progress));
    auto* percent = progress->findChild<QLabel*>(q("标签_已完成百分比"));
    QTRY_VERIFY(percent->text() != q("已完成：0%"));
    QTest::qWait(300);
    save(progress, "7-update-progress");

    // Closing it asks first, with Qt's standard buttons.
    QTimer::singleShot(500, this, [this] {
      QMessageBox* question = test::visible_box();
      if (!question) return;
      save(question, "7-update-progress-question");
      question->button(QMessageBox::Ok)->click();
    });
    progress->close();
    QTRY_VERIFY_WITH_TIMEOUT(progress.isNull(), 15000);
    shop_.clear_faults();
    UpdateProgressWindow::set_executable_path(std::nullopt);
    UpdateProgressWindow::set_restart({});
  }

 private:
  void save(QWidget* window, const char* name) {
    const QString path = dir_ + QStringLiteral("/") + QString::fromUtf8(name) + QStringLiteral(".png");
    if (!window || !window->grab().save(path)) qWarning("could not save %s", qPrintable(path));
  }

  QString dir_;
  demo_shop::DemoShop shop_{fixed_ports()};
  ProgramState state_;
  test::TempDir files_;
};

QTEST_MAIN(Screenshots)
#include "screenshots_qttest.moc"
