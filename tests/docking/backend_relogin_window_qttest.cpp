// The pause of a docking run whose back-end session expired: the re-login
// window a run opens from the catalog window, and every way the pause ends.
// The run here is a stand-in that only waits for the log-in, against the
// in-process demo shop with its sessions expired.
#include <QApplication>
#include <QCheckBox>
#include <QPointer>
#include <QPushButton>
#include <QWebEngineView>
#include <QtTest>
#include <atomic>
#include <memory>

#include "app/program_state.h"
#include "demo_shop.h"
#include "docking/backend_relogin_window.h"
#include "platform/http.h"
#include "supplier/catalog_view_qt.h"
#include "supplier/catalog_window.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

using namespace korvani;
using test::log_in_backend;
using test::top_level_windows;

namespace {

QString q(const char* utf8) { return QString::fromUtf8(utf8); }

// What the stand-in run's wait answered: -1 while it waits.
struct WaitResult {
  std::atomic<int> answer{-1};
};

void fill_in_log_in_form(QWebEngineView* view, const std::shared_ptr<bool>& submitted) {
  view->page()->runJavaScript(
      test::backend_log_in_script(),
      [submitted](const QVariant& done) { *submitted = *submitted || done.toBool(); });
}

}  // namespace

class BackendReloginWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void cleanupTestCase();

  void the_pause_ends_data();
  void the_pause_ends();
  void a_log_in_inside_the_window_resumes_the_run();
  void two_waiting_runs_share_one_window();
  void a_stopped_run_opens_no_window();

 private:
  // A catalog window whose run waits for the log-in, its answer in the result.
  CatalogWindow* open_waiting_window(const std::shared_ptr<WaitResult>& result, ProgramState& state);
  CatalogWindow* open_waiting_window(const std::shared_ptr<WaitResult>& result) {
    return open_waiting_window(result, *state_);
  }

  std::unique_ptr<demo_shop::DemoShop> shop_;
  std::unique_ptr<test::TempDir> dir_;
  std::unique_ptr<ProgramState> state_;
};

void BackendReloginWindowTest::initTestCase() {
  QApplication::setQuitOnLastWindowClosed(false);
  BackendReloginWindow::set_poll_interval_ms(50);
  shop_ = std::make_unique<demo_shop::DemoShop>();
  QVERIFY(shop_->start());
}

void BackendReloginWindowTest::init() {
  dir_ = std::make_unique<test::TempDir>();
  state_ = std::make_unique<ProgramState>();
  state_->shared_regex = std::make_unique<RegexObject>();
  // What the supplier log-in leaves there: not the entry page.
  state_->backend_url = shop_->backend_root() + "platform/platformserList.html";
  state_->backend_root = shop_->backend_entry_url();
  state_->supplier_host = shop_->supplier_host();
  state_->supplier_id = shop_->platform_id();
  state_->files_dir = dir_->path().string();
  // Logged in once, then the session expired.
  QVERIFY(log_in_backend(*shop_));
  shop_->expire_backend_sessions();
  QVERIFY(!BackendReloginWindow::backend_logged_in_again(shop_->backend_root()));
}

void BackendReloginWindowTest::cleanup() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (!widget->parent()) widget->close();
  QTRY_COMPARE_WITH_TIMEOUT(CatalogWindow::running_docking_runs(), 0, 10000);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QTRY_VERIFY_WITH_TIMEOUT(top_level_windows<BackendReloginWindow>().isEmpty(), 5000);
  CatalogWindow::set_docking_runs({}, {});
}

void BackendReloginWindowTest::cleanupTestCase() { shop_.reset(); }

CatalogWindow* BackendReloginWindowTest::open_waiting_window(const std::shared_ptr<WaitResult>& result,
                                                             ProgramState& state) {
  CatalogWindow::set_docking_runs(
      [result](CatalogView& view, ProgramState&) { result->answer = view.wait_for_backend_login() ? 1 : 0; }, {});
  CatalogWindow* window = CatalogWindow::open(state);
  window->findChild<QCheckBox*>(q("对接目录框"))->setChecked(true);
  QTest::mouseClick(window->findChild<QPushButton*>(q("批量对接")), Qt::LeftButton);
  return window;
}

void BackendReloginWindowTest::the_pause_ends_data() {
  QTest::addColumn<QString>("how");
  QTest::addColumn<int>("answer");
  QTest::newRow("closing the re-login window without a log-in ends the run") << q("close re-login") << 0;
  QTest::newRow("stop ends the paused run and takes the window along") << q("stop") << 0;
  QTest::newRow("closing the catalog window ends the pause at once") << q("close catalog") << 0;
  QTest::newRow("a log-in made elsewhere still counts when the window is closed by hand")
      << q("log in, close re-login") << 1;
}

void BackendReloginWindowTest::the_pause_ends() {
  QFETCH(QString, how);
  QFETCH(int, answer);
  auto result = std::make_shared<WaitResult>();
  QPointer<CatalogWindow> window = open_waiting_window(result);

  QTRY_VERIFY_WITH_TIMEOUT(BackendReloginWindow::current() != nullptr, 5000);
  QPointer<BackendReloginWindow> relogin = BackendReloginWindow::current();
  QVERIFY(relogin->isWindow() && relogin->isVisible());
  QCOMPARE(relogin->windowTitle(), q("重新登录后台"));
  QCOMPARE(relogin->size(), QSize(640, 480));
  auto* browser = relogin->findChild<QWebEngineView*>();
  QVERIFY(browser);
  QVERIFY(relogin->rect().contains(browser->geometry()));
  // At the back end's entry page, not at the page the program looked at last.
  QCOMPARE(browser->url().toString(), QString::fromStdString(shop_->backend_entry_url()));
  auto* stop = window->findChild<QPushButton*>(q("按钮_停止"));
  QVERIFY(stop->isEnabled());

  // Still logged out: the looks at the back end keep the run waiting.
  QTest::qWait(200);
  QCOMPARE(result->answer.load(), -1);
  QVERIFY(relogin);

  if (how == q("close re-login")) {
    relogin->close();
  } else if (how == q("stop")) {
    QTest::mouseClick(stop, Qt::LeftButton);
  } else if (how == q("close catalog")) {
    window->close();
  } else {
    QVERIFY(log_in_backend(*shop_));
    relogin->close();
  }
  QTRY_VERIFY_WITH_TIMEOUT(result->answer.load() != -1, 3000);
  QCOMPARE(result->answer.load(), answer);
  QTRY_VERIFY_WITH_TIMEOUT(relogin.isNull(), 2000);
  QCOMPARE(BackendReloginWindow::current(), nullptr);
  if (window) QTRY_VERIFY_WITH_TIMEOUT(!stop->isEnabled(), 2000);
}

void BackendReloginWindowTest::a_log_in_inside_the_window_resumes_the_run() {
  auto result = std::make_shared<WaitResult>();
  open_waiting_window(result);
  QTRY_VERIFY_WITH_TIMEOUT(BackendReloginWindow::current() != nullptr, 5000);
  QPointer<BackendReloginWindow> relogin = BackendReloginWindow::current();
  QPointer<QWebEngineView> browser = relogin->findChild<QWebEngineView*>();

  auto submitted = std::make_shared<bool>(false);
  QTimer filler;
  connect(&filler, &QTimer::timeout, this, [browser, submitted] {
    if (browser && !*submitted) fill_in_log_in_form(browser, submitted);
  });
  filler.start(200);
  QTRY_VERIFY_WITH_TIMEOUT(*submitted, 15000);
  // The window goes by itself once the back end answers as logged in.
  QTRY_VERIFY_WITH_TIMEOUT(result->answer.load() != -1, 15000);
  filler.stop();
  QCOMPARE(result->answer.load(), 1);
  QTRY_VERIFY_WITH_TIMEOUT(relogin.isNull(), 2000);
  // The session the browser opened is the one the program's requests carry.
  QVERIFY(BackendReloginWindow::backend_logged_in_again(shop_->backend_root()));
}

void BackendReloginWindowTest::two_waiting_runs_share_one_window() {
  auto first = std::make_shared<WaitResult>();
  auto second = std::make_shared<WaitResult>();
  // Each window settles the base address of its own state.
  ProgramState other;
  other.backend_url = state_->backend_url;
  other.backend_root = state_->backend_root;
  other.supplier_host = state_->supplier_host;
  other.supplier_id = state_->supplier_id;
  other.files_dir = state_->files_dir;
  open_waiting_window(first);
  QTRY_VERIFY_WITH_TIMEOUT(BackendReloginWindow::current() != nullptr, 5000);
  open_waiting_window(second, other);
  QTest::qWait(200);
  QCOMPARE(top_level_windows<BackendReloginWindow>().size(), 1);
  QCOMPARE(first->answer.load(), -1);
  QCOMPARE(second->answer.load(), -1);

  QVERIFY(log_in_backend(*shop_));
  QTRY_VERIFY_WITH_TIMEOUT(first->answer.load() != -1 && second->answer.load() != -1, 5000);
  QCOMPARE(first->answer.load(), 1);
  QCOMPARE(second->answer.load(), 1);
  QTRY_VERIFY_WITH_TIMEOUT(top_level_windows<BackendReloginWindow>().isEmpty(), 2000);
}

void BackendReloginWindowTest::a_stopped_run_opens_no_window() {
  // The run asks for the log-in only after stop was pressed.
  auto result = std::make_shared<WaitResult>();
  auto go = std::make_shared<std::atomic<bool>>(false);
  CatalogWindow::set_docking_runs(
      [result, go](CatalogView& view, ProgramState&) {
        while (!*go && !view.closed()) std::this_thread::yield();
        result->answer = view.wait_for_backend_login() ? 1 : 0;
      },
      {});
  CatalogWindow* window = CatalogWindow::open(*state_);
  window->findChild<QCheckBox*>(q("对接目录框"))->setChecked(true);
  QTest::mouseClick(window->findChild<QPushButton*>(q("批量对接")), Qt::LeftButton);
  QTest::mouseClick(window->findChild<QPushButton*>(q("按钮_停止")), Qt::LeftButton);
  *go = true;
  QTRY_VERIFY_WITH_TIMEOUT(result->answer.load() != -1, 3000);
  QCOMPARE(result->answer.load(), 0);
  QVERIFY(top_level_windows<BackendReloginWindow>().isEmpty());
}

QTEST_MAIN(BackendReloginWindowTest)
#include "backend_relogin_window_qttest.moc"
