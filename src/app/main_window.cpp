#include "app/main_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

#include "app/login_rule.h"
#include "platform/browser_cookie_bridge_qt.h"
#include "platform/qt_text_qt.h"
#include "platform/ui_bridge_qt.h"
#include "supplier/supplier_login_window.h"
#include "text/text.h"
#include "update/update_prompt_window.h"
#include "web/web_request.h"

// The banner lives in a resource of the static GUI library, which the linker
// would leave out unless something asks for it.
static void init_app_resources() { Q_INIT_RESOURCE(resources); }

namespace korvani {

namespace {

int poll_interval = 5000;

}  // namespace

void MainWindow::set_poll_interval_ms(int ms) { poll_interval = ms < 0 ? 0 : ms; }
int MainWindow::poll_interval_ms() { return poll_interval; }

QString MainWindow::caption() {
  return QStringLiteral("korvani-dock 卡盟对接助手 V") + QStringLiteral(KORVANI_OWN_VERSION);
}

MainWindow::MainWindow(ProgramState& state, QWidget* parent) : QWidget(parent), state_(state) {
  init_app_resources();
  setObjectName(QStringLiteral("main_window"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(caption());
  setFixedSize(793, 604);
  move(50, 50);

  address_label_ = new QLabel(QStringLiteral("后台地址（加上http://）："), this);
  address_label_->setObjectName(QStringLiteral("透明标签1"));
  address_label_->setGeometry(17, 11, 152, 32);
  address_label_->setAutoFillBackground(false);
  address_label_->setStyleSheet(QStringLiteral("background: transparent;"));

  address_edit_ = new QLineEdit(QStringLiteral("卡盟后台地址 加上http://"), this);
  address_edit_->setObjectName(QStringLiteral("编辑框_后台地址"));
  address_edit_->setGeometry(176, 16, 456, 24);

  login_button_ = new QPushButton(QStringLiteral("立即登陆"), this);
  login_button_->setObjectName(QStringLiteral("按钮1"));
  login_button_->setGeometry(656, 16, 80, 24);
  connect(login_button_, &QPushButton::clicked, this, &MainWindow::log_in);

  sponsor_group_ = new QGroupBox(QStringLiteral("软件广告赞助商："), this);
  sponsor_group_->setObjectName(QStringLiteral("分组框1"));
  sponsor_group_->setGeometry(8, 48, 776, 80);

  banner_ = new QLabel(sponsor_group_);
  banner_->setObjectName(QStringLiteral("广告一"));
  banner_->setGeometry(16, 24, 120, 48);
  banner_->setPixmap(QPixmap(QStringLiteral(":/resources/banner.png")));
  banner_->setScaledContents(true);
  banner_->setCursor(Qt::PointingHandCursor);
  banner_->setToolTip(QStringLiteral(KORVANI_PROJECT_URL));
  banner_->installEventFilter(this);

  browser_ = platform::create_bridged_browser(this);
  browser_->setObjectName(QStringLiteral("超文本浏览框1"));
  browser_->setGeometry(0, 136, 784, 440);

  carries_on_ = check_version(state_, this);
}

MainWindow::~MainWindow() { *closing_ = true; }

void MainWindow::closeEvent(QCloseEvent* event) {
  // A running poll sees this at its next step and leaves at once; the window
  // is the last one, so the program ends.
  *closing_ = true;
  QWidget::closeEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == banner_ && event->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    QDesktopServices::openUrl(QUrl(QStringLiteral(KORVANI_PROJECT_URL)));
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::log_in() {
  // The poll runs inside this handler and keeps the window's events going, so
  // a second click arrives while it runs. It must not start a poll of its own:
  // nested, that one would point the browser at main.html, away from the
  // log-in. A click with the same address changes nothing; a click after the
  // user corrected the address moves the running poll to the new one, which
  // would otherwise go on with the mistyped address until the program ends.
  if (polling_) {
    if (to_text(address_edit_->text()) != state_.backend_root) restart_ = true;
    return;
  }
  polling_ = true;

  // The window may be destroyed during a wait; from then on nothing of it may
  // be touched, so the poll holds its own references.
  ProgramState& state = state_;
  const std::shared_ptr<bool> closing = closing_;
  const QPointer<MainWindow> self(this);
  const auto window_alive = [closing, self] { return !*closing && !self.isNull(); };

  const auto start = [this, &state] {
    state.backend_url = to_text(address_edit_->text());
    platform::browser_set_url(browser_, to_qstring(state.backend_url));
    state.backend_root = state.backend_url;
  };
  start();

  // A corrected address cuts the wait short: the browser goes there at once.
  const auto keep_waiting = [window_alive, self] { return window_alive() && !self->restart_; };
  for (;;) {
    platform::wait_processing_events(poll_interval, keep_waiting);
    if (!window_alive()) return;
    if (restart_) {
      restart_ = false;
      start();
      continue;
    }
    state.backend_url = text_replace(state.backend_url, "index.html", "main.html");
    const Bytes body = web_request(state.backend_url, 0);
    if (!window_alive()) return;
    state.backend_page = percent_decode(body);
    if (backend_logged_in(state.backend_page)) break;
  }

  SupplierLoginWindow::open(state);
  if (self) self->close();
}

}  // namespace korvani
