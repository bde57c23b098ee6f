#pragma once
// The window in which the user logs into the back end again when its session
// expired in the middle of a docking run. It holds an embedded browser at the
// back end's entry page whose cookies go into the one jar, so that the run's
// own requests carry the new session. The run waits meanwhile; it learns of
// the log-in by the same test as the main window's log-in poll
// (backend_logged_in_again), and of a window closed by hand by finished().
#include <QPointer>
#include <QWidget>

#include "text/text.h"

class QLabel;

namespace korvani {

class BackendReloginWindow : public QWidget {
  Q_OBJECT

 public:
  // Opens the window at `entry_url`, or brings forward the one already open:
  // there is one at a time. `owner` (may be null) takes the window with it
  // when it goes.
  static BackendReloginWindow* open(const QString& entry_url, QWidget* owner);
  // The open one, if any.
  static BackendReloginWindow* current();

  explicit BackendReloginWindow(const QString& entry_url, QWidget* owner = nullptr);
  ~BackendReloginWindow() override;

  // The back end is logged in again: the window closes, telling finished(true).
  void logged_in();
  bool was_logged_in() const { return logged_in_; }

  // Whether the back end under `backend_root` (the base address, ending in
  // "/") answers its main page as logged in, with the jar's cookies. Blocks
  // for one request: a worker's call, never the window thread's.
  static bool backend_logged_in_again(const Text& backend_root);

  // The back end's entry page under `backend_root`; `fallback` when there is
  // no base.
  static QString entry_url(const Text& backend_root, const Text& fallback);

  // The pause between two looks at the back end (1,000 ms); tests shorten it.
  static void set_poll_interval_ms(int ms);
  static int poll_interval_ms();

 signals:
  // Once, when the window goes: true after a log-in, false when it was
  // closed without one.
  void finished(bool logged_in);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void tell_finished();

  QLabel* note_ = nullptr;
  QWidget* browser_ = nullptr;
  bool logged_in_ = false;
  bool told_ = false;
};

}  // namespace korvani
