#pragma once
// The window that downloads the update on a worker thread, shows how far it
// got, counts down and hands over to the new program. It never leads back
// to normal work: once it is gone the program ends.
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/program_state.h"
#include "text/text.h"

class QLabel;
class QMessageBox;
class QProgressBar;

namespace korvani {

class UpdateProgressWindow : public QWidget {
  Q_OBJECT
 public:
  // Creation colours the bar and starts the worker on
  // state.update_download_url; it returns at once.
  explicit UpdateProgressWindow(ProgramState& state, QWidget* parent = nullptr);
  // Stops a worker still running and waits for it (window events go on
  // meanwhile, so that it can finish what it is showing).
  ~UpdateProgressWindow() override;

  // Each of the three countdown steps (1,000 ms); tests shorten it.
  static void set_countdown_step_ms(int ms);
  static int countdown_step_ms();
  // The program to replace: the running one unless set (tests point it at a
  // file of their own). nullopt goes back to the running one.
  static void set_executable_path(std::optional<std::string> path);
  // How the new program is started: in place of this process unless set.
  using Restart = std::function<Text(const std::string&, const std::vector<std::string>&)>;
  static void set_restart(Restart restart);

  // Used by the worker's view, on the window thread.
  void show_worker_box(const QString& text, const std::function<void()>& closed);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Shared;
  void worker_finished();

  QProgressBar* bar_;
  QLabel* percent_label_;
  QLabel* size_label_;
  QLabel* speed_label_;
  std::shared_ptr<Shared> shared_;
  std::thread worker_;
  QPointer<QMessageBox> worker_box_;
  bool finished_ = false;   // the worker is done: the window may go
  bool asking_ = false;     // the quit question is on the screen
  bool quitting_ = false;   // the user chose to quit; waiting for the worker
  bool destroying_ = false;

  friend class ProgressViewQt;
};

}  // namespace korvani
