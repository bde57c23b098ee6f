#include "docking/backend_relogin_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <algorithm>
#include <atomic>

#include "app/login_rule.h"
#include "platform/browser_cookie_bridge_qt.h"
#include "web/web_request.h"

namespace korvani {

namespace {

std::atomic<int> poll_interval{1000};

QPointer<BackendReloginWindow>& open_window() {
  static QPointer<BackendReloginWindow> window;
  return window;
}

}  // namespace

void BackendReloginWindow::set_poll_interval_ms(int ms) { poll_interval = ms < 0 ? 0 : ms; }
int BackendReloginWindow::poll_interval_ms() { return poll_interval; }

BackendReloginWindow* BackendReloginWindow::open(const QString& entry_url, QWidget* owner) {
  BackendReloginWindow* window = open_window();
  if (!window) {
    window = new BackendReloginWindow(entry_url, owner);
    open_window() = window;
  }
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

BackendReloginWindow* BackendReloginWindow::current() { return open_window(); }

BackendReloginWindow::BackendReloginWindow(const QString& entry_url, QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName(QStringLiteral("backend_relogin_window"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("重新登录后台"));
  setFixedSize(640, 480);
  // Below the top of the catalog window, so that its progress bar and stop
  // button stay in sight; on the screen as a whole.
  QPoint at = owner ? owner->pos() + QPoint(40, 200) : QPoint(90, 250);
  if (QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - width())));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - height())));
  }
  move(at);

  note_ = new QLabel(QStringLiteral("后台登录已失效，请在下方重新登录，登录后对接继续"), this);
  note_->setObjectName(QStringLiteral("透明标签_重新登录"));
  note_->setGeometry(8, 8, 624, 24);
  note_->setAutoFillBackground(false);
  note_->setStyleSheet(QStringLiteral("background: transparent;"));

  browser_ = platform::create_bridged_browser(this);
  browser_->setObjectName(QStringLiteral("超文本浏览框_重新登录"));
  browser_->setGeometry(0, 40, 640, 440);
  platform::browser_set_url(browser_, entry_url);
}

BackendReloginWindow::~BackendReloginWindow() { tell_finished(); }

void BackendReloginWindow::logged_in() {
  logged_in_ = true;
  close();
}

void BackendReloginWindow::closeEvent(QCloseEvent* event) {
  tell_finished();
  QWidget::closeEvent(event);
}

void BackendReloginWindow::tell_finished() {
  if (told_) return;
  told_ = true;
  // A window on its way out is not the one to bring forward again.
  if (open_window() == this) open_window() = nullptr;
  emit finished(logged_in_);
}

bool BackendReloginWindow::backend_logged_in_again(const Text& backend_root) {
  if (backend_root.empty()) return false;
  return backend_logged_in(percent_decode(web_request(backend_root + "main.html", 0)));
}

QString BackendReloginWindow::entry_url(const Text& backend_root, const Text& fallback) {
  const Text url = backend_root.empty() ? fallback : backend_root + "index.html";
  return QString::fromUtf8(ansi_to_utf8(url));
}

}  // namespace korvani
