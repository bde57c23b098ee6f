#include "platform/ui_bridge_qt.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <condition_variable>
#include <mutex>

#if defined(__SANITIZE_THREAD__)
#define KORVANI_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KORVANI_TSAN 1
#endif
#endif
#ifdef KORVANI_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace korvani::platform {

namespace {
// A blocking queued call waits on a semaphore inside Qt, which is not built
// with ThreadSanitizer: told nothing, it takes every word the worker and the
// window thread pass through the call for a race. These say what that
// semaphore already guarantees.
void handed_over(const void* baton) {
#ifdef KORVANI_TSAN
  __tsan_release(const_cast<void*>(baton));
#else
  (void)baton;
#endif
}
void taken_over(const void* baton) {
#ifdef KORVANI_TSAN
  __tsan_acquire(const_cast<void*>(baton));
#else
  (void)baton;
#endif
}

struct CallState {
  QPointer<QObject> guard;
  const std::function<void()>* work = nullptr;
  bool ran = false;
};

// The call object Qt keeps is made and freed by the worker inside Qt's call,
// and read by the window thread in between; so its own address is the baton
// of every step, and its members are read only once the step has taken over.
class UiCall {
 public:
  explicit UiCall(CallState* state) : state_(state) { handed_over(this); }
  UiCall(UiCall&& other) noexcept : state_(other.state_) { handed_over(this); }
  UiCall(const UiCall&) = delete;
  UiCall& operator=(const UiCall&) = delete;
  ~UiCall() { taken_over(this); }

  void operator()() {
    taken_over(this);
    if (state_->guard) {
      (*state_->work)();
      state_->ran = true;
    }
    handed_over(state_);
    handed_over(this);
  }

 private:
  CallState* state_;
};
}  // namespace

bool run_on_ui_thread(QObject* context, const std::function<void()>& work) {
  if (!context) return false;
  if (QThread::currentThread() == context->thread()) {
    work();
    return true;
  }
  // A blocking queued call never runs when the context is destroyed first, and
  // then returns false: the worker learns that the window is gone.
  CallState state;
  state.guard = context;
  state.work = &work;
  bool invoked = QMetaObject::invokeMethod(context, UiCall(&state), Qt::BlockingQueuedConnection);
  taken_over(&state);
  return invoked && state.ran;
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
