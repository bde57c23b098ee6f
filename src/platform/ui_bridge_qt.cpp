#include "platform/ui_bridge_qt.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <mutex>

namespace korvani::platform {

bool run_on_ui_thread(QObject* context, const std::function<void()>& work) {
  if (!context) return false;
  if (QThread::currentThread() == context->thread()) {
    work();
    return true;
  }
  // A blocking queued call never runs when the context is destroyed first, and
  // then returns false: the worker learns that the window is gone.
  QPointer<QObject> guard(context);
  bool ran = false;
  bool invoked = QMetaObject::invokeMethod(
      context,
      [&] {
        if (guard) {
          work();
          ran = true;
        }
      },
      Qt::BlockingQueuedConnection);
  return invoked && ran;
}

bool show_message_box(QObject* context, const QString& text, const QString& title,
                      const std::function<QObject*()>& close_with) {
  const QString caption = title.isEmpty() ? QStringLiteral("信息：") : title;
  if (!context) return false;
  if (QThread::currentThread() == context->thread()) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box.exec();
    return true;
  }
  // From a worker: the box must not hold up the window, so it is shown
  // without modality and the worker alone waits for it to close.
  struct Shared {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool context_gone = false;
  };
  auto shared = std::make_shared<Shared>();
  auto finish = [shared](bool gone) {
    std::lock_guard lock(shared->mutex);
    shared->done = true;
    shared->context_gone = gone;
    shared->cv.notify_all();
  };
  bool posted = run_on_ui_thread(context, [&] {
    auto* box = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    QObject::connect(box, &QMessageBox::finished, box, [finish] { finish(false); });
    auto close_box = [box, finish] {
      finish(true);
      box->deleteLater();
    };
    QObject::connect(context, &QObject::destroyed, box, close_box);
    QObject* owner = close_with ? close_with() : nullptr;
    if (close_with && !owner) {
      close_box();
      return;
    }
    if (owner) QObject::connect(owner, &QObject::destroyed, box, close_box);
    box->show();
  });
  if (!posted) return false;
  std::unique_lock lock(shared->mutex);
  shared->cv.wait(lock, [&] { return shared->done; });
  return !shared->context_gone;
}

bool wait_processing_events(int ms, const std::function<bool()>& alive) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) {
    if (alive && !alive()) return false;
    QEventLoop loop;
    QTimer::singleShot(std::min<qint64>(50, ms - timer.elapsed()), &loop, &QEventLoop::quit);
    loop.exec();
  }
  return !alive || alive();
}

}  // namespace korvani::platform
