#include "app/window_report_qt.h"

#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace korvani {

namespace {

class WindowWatch : public QObject {
 public:
  WindowWatch(QWidget* window, const QString& name, bool report, int close_after_ms)
      : QObject(window), name_(name.toUtf8()), report_(report), close_after_ms_(close_after_ms) {
    window->installEventFilter(this);
  }
  ~WindowWatch() override { say("closed"); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && !shown_) {
      shown_ = true;
      say("shown");
      if (close_after_ms_ >= 0) {
        QPointer<QWidget> window = static_cast<QWidget*>(watched);
        QTimer::singleShot(close_after_ms_, this, [window] {
          if (window) window->close();
        });
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void say(const char* what) const {
    if (!report_) return;
    std::fprintf(stderr, "%s %s\n", name_.constData(), what);
    std::fflush(stderr);
  }

  QByteArray name_;
  bool report_;
  int close_after_ms_;
  bool shown_ = false;
};

}  // namespace

void watch_window_for_checks(QWidget* window, const QString& name) {
  const bool report = qEnvironmentVariable("KORVANI_REPORT_WINDOWS") == QStringLiteral("1");
  bool number = false;
  const int close_after_ms = qEnvironmentVariableIntValue("KORVANI_CLOSE_AFTER_MS", &number);
  if (!report && !number) return;
  new WindowWatch(window, name, report, number && close_after_ms >= 0 ? close_after_ms : -1);
}

}  // namespace korvani
