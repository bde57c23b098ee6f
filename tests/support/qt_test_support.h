// Helpers shared by the window tests (the *_qttest.cpp executables). Header
// only: the GoogleTest support library carries no Qt.
#pragma once

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "demo_shop.h"
#include "web/web_request.h"

namespace korvani::test {

// What a message box said before the test closed it.
struct SeenBox {
  bool seen = false;
  QString text;
  QString title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// The object name of the timers answer_next_box() starts, so that a test's
// clean-up can remove a watch that saw no box.
inline const QString box_answerer_name = QStringLiteral("box-answerer");

// Watches for the next message box, notes it and presses its OK button. The
// watch gives up after a few seconds so that a box that never comes cannot
// leave a timer running.
inline std::shared_ptr<SeenBox> answer_next_box() {
  auto seen = std::make_shared<SeenBox>();
  auto* timer = new QTimer(qApp);
  timer->setObjectName(box_answerer_name);
  auto ticks = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, seen, ticks] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (!box || !box->isVisible()) continue;
      seen->seen = true;
      seen->text = box->text();
      seen->title = box->windowTitle();
      seen->icon = box->icon();
      timer->stop();
      timer->deleteLater();
      box->button(QMessageBox::Ok)->click();
      return;
    }
    if (++*ticks > 1000) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(5);
  return seen;
}

// The message box on the screen, if any.
inline QMessageBox* visible_box() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box && box->isVisible()) return box;
  }
  return nullptr;
}

// The top-level windows of type T, shown or not.
template <typename T>
QList<T*> top_level_windows() {
  QList<T*> found;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* window = qobject_cast<T*>(widget)) found.append(window);
  }
  return found;
}

// The first top-level window of type T, shown or not.
template <typename T>
T* top_level() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* window = qobject_cast<T*>(widget)) return window;
  return nullptr;
}

// Open the demo shop's sessions directly in the shared cookie jar, as the
// embedded browser and the supplier log-in window would have.
inline bool log_in_backend(const demo_shop::DemoShop& shop) {
  return !web_request(shop.backend_root() + "login.html", 1,
                      std::string("username=") + demo_shop::DemoShop::backend_user +
                          "&password=" + demo_shop::DemoShop::backend_password)
              .empty();
}

// The script a user's hands amount to on the demo back end's log-in page:
// fills in the demo account and submits. Answers true when the form was there.
inline QString backend_log_in_script() {
  return QStringLiteral(
             "(function () {"
             "  const form = document.getElementById('loginForm');"
             "  if (!form) return false;"
             "  form.querySelector('input[name=username]').value = '%1';"
             "  form.querySelector('input[name=password]').value = '%2';"
             "  form.submit();"
             "  return true;"
             "})()")
      .arg(QString::fromUtf8(demo_shop::DemoShop::backend_user), QString::fromUtf8(demo_shop::DemoShop::backend_password));
}

inline bool log_in_supplier(const demo_shop::DemoShop& shop) {
  return !web_request("http://" + shop.supplier_host() + "/frontLogin.htm", 1,
                      std::string("loginTimes=1&userName=") + demo_shop::DemoShop::supplier_user +
                          "&password=" + demo_shop::DemoShop::supplier_password)
              .empty();
}

// How the application's event loop ended after close_in_event_loop().
struct LoopEnd {
  int exit_code = -1;   // what QCoreApplication::exec() returned; 99 from the watchdog
  bool closed = false;  // the window was closed from inside the loop
};

// Runs the application's event loop, closes `window` from inside it and tells
// how the loop ended: exit code 0 with `closed` set when closing the window
// ended the program. A watchdog leaves the loop with 99 after `watchdog_ms`.
inline LoopEnd close_in_event_loop(QWidget* window, int watchdog_ms = 20000) {
  LoopEnd end;
  QPointer<QWidget> target = window;
  QTimer::singleShot(0, window, [&end, target] {
    end.closed = true;
    target->close();
  });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
  watchdog.start(watchdog_ms);
  end.exit_code = QCoreApplication::exec();
  return end;
}

}  // namespace korvani::test
