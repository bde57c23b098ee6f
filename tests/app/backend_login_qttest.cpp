// The back-end log-in against the demo shop, with the real embedded browser:
// the user types the address, presses "立即登陆" and logs in inside the
// browser; the poll notices, and the tool's own requests run in that session.
#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QNetworkCookie>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/main_window.h"
#include "app/program_state.h"
#include "demo_shop.h"
#include "platform/http.h"
#include "platform/qt_text_qt.h"
#include "supplier/supplier_login_window.h"
#include "support/qt_test_support.h"

using korvani::MainWindow;
using korvani::ProgramState;
using korvani::SupplierLoginWindow;
using korvani::test::top_level_windows;
using Style = demo_shop::LoggedOutStyle;
Q_DECLARE_METATYPE(demo_shop::LoggedOutStyle)

namespace {

constexpr int poll_ms = 150;

bool from_web_request(const demo_shop::ReceivedRequest& r) {
  // The tool's own requests carry its fixed user agent; the browser's do not.
  return r.header_text.find("125LA") != std::string::npos;
}

// Runs `step` every few milliseconds while the poll holds the test's thread,
// the way the user acts while the handler waits.
class Ticker {
 public:
  explicit Ticker(std::function<void()> step) {
    QObject::connect(&timer_, &QTimer::timeout, std::move(step));
    timer_.start(20);
  }

 private:
  QTimer timer_;
};

}  // namespace

class BackendLoginTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(shop_.start());
    MainWindow::set_poll_interval_ms(poll_ms);
  }

  void init() {
    korvani::platform::cookie_jar_clear();
    shop_.set_logged_out_style(Style::redirect);
    shop_.clear_requests();
    state_ = std::make_unique<ProgramState>();
    window_ = new MainWindow(*state_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    address_ = window_->findChild<QLineEdit*>(QStringLiteral("编辑框_后台地址"));
    button_ = window_->findChild<QPushButton*>(QStringLiteral("按钮1"));
    view_ = window_->findChild<QWebEngineView*>(QStringLiteral("超文本浏览框1"));
    QVERIFY(address_ && button_ && view_);
    address_->clear();
    QTest::keyClicks(address_, QString::fromStdString(shop_.backend_entry_url()));
  }

  void cleanup() {
    // Whatever a test left open goes, so that the next one starts alone.
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (qobject_cast<MainWindow*>(w) || qobject_cast<SupplierLoginWindow*>(w)) w->close();
    }
    QTRY_VERIFY(window_.isNull());
    QTRY_VERIFY(top_level_windows<SupplierLoginWindow>().isEmpty());
  }

  void logging_in_inside_the_browser_ends_the_poll() {
    bool fetched_at_once = true;
    QTimer::singleShot(0, [&] { fetched_at_once = main_page_fetches() > 0; });
    int fetches_before_session = -1;
    connect(view_->page()->profile()->cookieStore(), &QWebEngineCookieStore::cookieAdded, view_,
            [&](const QNetworkCookie& c) {
              if (c.name() == "KSESSIONID" && fetches_before_session < 0) fetches_before_session = main_page_fetches();
            });
    log_in_in_browser_when_the_form_is_there();
    end_the_poll_after(30000);

    QTest::mouseClick(button_, Qt::LeftButton);  // returns when the poll has ended

    QVERIFY2(!fetched_at_once, "the first fetch waits for the poll interval");
    QVERIFY(fetches_before_session >= 0);
    QCOMPARE(main_page_fetches(), fetches_before_session + 1);  // the first poll after the log-in ends it
    QTRY_VERIFY(window_.isNull());
    const QList<SupplierLoginWindow*> next = top_level_windows<SupplierLoginWindow>();
    QCOMPARE(next.size(), 1);
    QVERIFY(next.front()->isVisible());
    for (QWidget* w : QApplication::topLevelWidgets()) {
      QVERIFY2(!w->isVisible() || w == next.front(), w->metaObject()->className());
    }

    QCOMPARE(state_->backend_root, shop_.backend_entry_url());
    QVERIFY(state_->backend_page.find(korvani::to_text(QStringLiteral("欢迎您"))) != std::string::npos);

    // The supplier window's platform list request went out in the session
    // opened by hand in the browser.
    bool saw_session = false;
    for (const auto& r : shop_.requests()) {
      if (r.path == "/admin/platform/platformserList.html" && from_web_request(r))
        saw_session = saw_session || r.header_text.find("KSESSIONID=") != std::string::npos;
    }
    QVERIFY(saw_session);

    // The supplier window is the last one: closing it ends the program.
    QPointer<SupplierLoginWindow> last = next.front();
    const korvani::test::LoopEnd end = korvani::test::close_in_event_loop(last);
    QCOMPARE(end.exit_code, 0);
    QVERIFY(end.closed);
    QTRY_VERIFY(last.isNull());
  }

  void the_poll_goes_on_while_the_back_end_answers_logged_out_data() {
    QTest::addColumn<Style>("style");
    QTest::newRow("main.html redirects to the log-in page") << Style::redirect;
    QTest::newRow("main.html serves the log-in form") << Style::login_form;
    QTest::newRow("main.html only redirects by script") << Style::script_redirect;
  }

  void the_poll_goes_on_while_the_back_end_answers_logged_out() {
    QFETCH(Style, style);
    shop_.set_logged_out_style(style);
    int fetches = 0;
    Ticker closer([&] {
      fetches = main_page_fetches();
      if (fetches >= 3 && window_) window_->close();
    });
    end_the_poll_after(30000);

    QTest::mouseClick(button_, Qt::LeftButton);

    QVERIFY(fetches >= 3);
    QVERIFY(top_level_windows<SupplierLoginWindow>().isEmpty());
    QTRY_VERIFY(window_.isNull());
  }

  void a_second_click_does_not_start_a_second_poll() {
    // Clicked again after the first fetch, when the address has become
    // main.html; the user logs in only after that.
    bool clicked_again = false;
    auto submitted = std::make_shared<bool>(false);
    Ticker user([&] {
      if (!clicked_again && main_page_fetches() >= 1 && button_) {
        clicked_again = true;
        button_->click();  // returns at once when ignored
      } else if (clicked_again && !*submitted && main_page_fetches() >= 2 && view_ &&
                 view_->url().path().endsWith(QStringLiteral("index.html"))) {
        // Tried again on a later tick while the page is still loading.
        *submitted = true;
        submit_login_form(view_, [submitted](bool found) { *submitted = found; });
      }
    });
    end_the_poll_after(30000);

    QTest::mouseClick(button_, Qt::LeftButton);

    QVERIFY(clicked_again);
    QTRY_VERIFY(window_.isNull());
    QCOMPARE(top_level_windows<SupplierLoginWindow>().size(), 1);
    // A second poll would have pointed the browser at main.html (the address
    // had been turned into it), away from the log-in page. The browser asks
    // for main.html once on its own: the shop's answer to the log-in form
    // redirects there.
    int browser_main_pages = 0;
    for (const auto& r : shop_.requests())
      browser_main_pages += (!from_web_request(r) && r.method == "GET" && r.path == "/admin/main.html") ? 1 : 0;
    QCOMPARE(browser_main_pages, 1);
  }

  void a_click_after_correcting_the_address_moves_the_poll_there() {
    // A mistyped address: nothing answers there.
    address_->setText(QString::fromStdString("http://" + shop_.unreachable_host() + "/admin/index.html"));
    int ticks = 0;
    Ticker user([&] {
      if (++ticks != 10 || !address_) return;  // a moment into the poll
      address_->setText(QString::fromStdString(shop_.backend_entry_url()));
      button_->click();
    });
    log_in_in_browser_when_the_form_is_there();
    end_the_poll_after(30000);

    QTest::mouseClick(button_, Qt::LeftButton);

    QVERIFY(ticks >= 10);
    QTRY_VERIFY(window_.isNull());
    QCOMPARE(top_level_windows<SupplierLoginWindow>().size(), 1);
    QCOMPARE(state_->backend_root, shop_.backend_entry_url());
  }

  void closing_the_window_during_the_poll_ends_the_program() {
    QTimer::singleShot(0, button_, [this] { button_->click(); });
    Ticker closer([&] {
      if (main_page_fetches() >= 1 && window_) window_->close();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    watchdog.start(30000);

    QCOMPARE(QCoreApplication::exec(), 0);

    QTRY_VERIFY(window_.isNull());
    QVERIFY(top_level_windows<SupplierLoginWindow>().isEmpty());
    // The loop has been left: no fetch follows.
    const int fetches = main_page_fetches();
    QTest::qWait(poll_ms * 3);
    QCOMPARE(main_page_fetches(), fetches);
  }

 private:
  int main_page_fetches() const {
    int n = 0;
    for (const auto& r : shop_.requests()) n += (r.path == "/admin/main.html" && from_web_request(r)) ? 1 : 0;
    return n;
  }

  // Acts as the user does: once the log-in page is in the browser, fill in
  // the demo account and submit. A page without the form (an error page
  // that happened to finish loading first) does not count as the log-in.
  void log_in_in_browser_when_the_form_is_there() {
    auto submitted = std::make_shared<bool>(false);
    connect(view_, &QWebEngineView::loadFinished, view_, [view = view_, submitted](bool ok) {
      if (!ok || *submitted || !view->url().path().endsWith(QStringLiteral("index.html"))) return;
      *submitted = true;
      submit_login_form(view, [submitted](bool found) { *submitted = found; });
    });
  }

  static void submit_login_form(QWebEngineView* view, std::function<void(bool)> done = {}) {
    view->page()->runJavaScript(
        QStringLiteral("(function () {"
                       "  const form = document.getElementById('loginForm');"
                       "  if (!form) return false;"
                       "  form.querySelector('input[name=username]').value = 'admin';"
                       "  form.querySelector('input[name=password]').value = 'demo123';"
                       "  form.submit();"
                       "  return true;"
                       "})()"),
        [done](const QVariant& result) {
          if (done) done(result.toBool());
        });
  }

  // A bound on a poll that would never end: closing the window leaves it.
  void end_the_poll_after(int ms) {
    QTimer::singleShot(ms, window_, [this, w = window_] {
      qWarning("the poll did not end in time: the browser shows %s after %d fetches of main.html",
               view_ ? qPrintable(view_->url().toString()) : "nothing", main_page_fetches());
      if (w) w->close();
    });
  }

  demo_shop::DemoShop shop_;
  std::unique_ptr<ProgramState> state_;
  QPointer<MainWindow> window_;
  QPointer<QLineEdit> address_;
  QPointer<QPushButton> button_;
  QPointer<QWebEngineView> view_;
};

QTEST_MAIN(BackendLoginTest)
#include "backend_login_qttest.moc"
