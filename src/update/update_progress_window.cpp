#include "update/update_progress_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QProgressBar>
#include <atomic>

#include "platform/qt_text_qt.h"
#include "platform/ui_bridge_qt.h"
#include "update/fitted_text_qt.h"
#include "update/update_run.h"

namespace korvani {

namespace {

int countdown_step = 1000;
std::optional<std::string> executable_override;
UpdateProgressWindow::Restart restart_override;

}  // namespace

struct UpdateProgressWindow::Shared {
  StopSignal stop;
  std::atomic<bool> finished{false};
};

// The worker's hands on the window. The window outlives the worker (its
// destructor waits for it), so the plain pointer stays good; every access is
// carried out on the window's thread.
class ProgressViewQt final : public UpdateProgressView {
 public:
  ProgressViewQt(UpdateProgressWindow* window, StopSignal& stop) : window_(window), stop_(stop) {}

  void show_progress(const ProgressDisplay& display) override {
    platform::run_on_ui_thread(window_, [&] {
      set_fitted_text(window_->speed_label_, to_qstring(display.speed));
      if (display.has_total) {
        window_->bar_->setValue(display.bar);
        set_fitted_text(window_->percent_label_, to_qstring(display.percent));
      }
      set_fitted_text(window_->size_label_, to_qstring(display.size));
    });
  }

  void hide_size_and_speed() override {
    platform::run_on_ui_thread(window_, [&] {
      window_->speed_label_->hide();
      window_->size_label_->hide();
    });
  }

  void set_status_text(const Text& text) override {
    platform::run_on_ui_thread(window_, [&] { set_fitted_text(window_->percent_label_, to_qstring(text)); });
  }

  void show_box(const Text& text) override {
    auto closed = std::make_shared<std::atomic<bool>>(false);
    StopSignal* stop = &stop_;
    const bool shown = platform::run_on_ui_thread(window_, [&] {
      window_->show_worker_box(to_qstring(text), [closed, stop] {
        closed->store(true);
        stop->wake();
      });
    });
    if (shown) stop_.wait_until([&] { return closed->load(); });
  }

 private:
  UpdateProgressWindow* window_;
  StopSignal& stop_;
};

void UpdateProgressWindow::set_countdown_step_ms(int ms) { countdown_step = ms < 0 ? 0 : ms; }
int UpdateProgressWindow::countdown_step_ms() { return countdown_step; }
void UpdateProgressWindow::set_executable_path(std::optional<std::string> path) {
  executable_override = std::move(path);
}
void UpdateProgressWindow::set_restart(Restart restart) { restart_override = std::move(restart); }

UpdateProgressWindow::UpdateProgressWindow(ProgramState& state, QWidget* parent)
    : QWidget(parent), shared_(std::make_shared<Shared>()) {
  setObjectName(QStringLiteral("update_progress_window"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("发现新版本，正在自动更新……"));
  setFixedSize(296, 71);
  move(50, 50);

  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("进度条1"));
  bar_->setGeometry(3, 4, 285, 20);
  bar_->setRange(0, 10000);
  bar_->setValue(0);
  bar_->setTextVisible(false);

  percent_label_ = new QLabel(QStringLiteral("已完成：0%"), this);
  percent_label_->setObjectName(QStringLiteral("标签_已完成百分比"));
  percent_label_->setGeometry(3, 24, 240, 16);

  size_label_ = new QLabel(QStringLiteral("0.00MB"), this);
  size_label_->setObjectName(QStringLiteral("标签_总大小"));
  size_label_->setGeometry(157, 24, 60, 16);

  speed_label_ = new QLabel(QStringLiteral("0 KB/秒"), this);
  speed_label_->setObjectName(QStringLiteral("标签_下载速度"));
  speed_label_->setGeometry(218, 26, 70, 13);

  // The bar drawn green (red 0, green 255, blue 0).
  QPalette palette = bar_->palette();
  palette.setColor(QPalette::Highlight, QColor(0, 255, 0));
  bar_->setPalette(palette);

  UpdateJob job;
  job.download_url = state.update_download_url;
  job.executable_path = executable_override ? *executable_override : running_executable_path();
  job.arguments = running_arguments();
  job.countdown_step_ms = countdown_step;
  if (restart_override) job.restart = restart_override;
  job.stop = &shared_->stop;

  std::shared_ptr<Shared> shared = shared_;
  worker_ = std::thread([this, shared, job = std::move(job)] {
    ProgressViewQt view(this, shared->stop);
    run_update(job, view);
    // Posted, not waited for: the window may be in its destructor, which
    // waits for the flag below while it keeps the events going.
    QMetaObject::invokeMethod(this, [this] { worker_finished(); }, Qt::QueuedConnection);
    shared->finished.store(true);
  });
}

UpdateProgressWindow::~UpdateProgressWindow() {
  destroying_ = true;
  shared_->stop.stop();
  if (worker_box_) delete worker_box_.data();
  if (worker_.joinable()) {
    // The worker may be half-way through a call carried out on this thread.
    while (!shared_->finished.load()) platform::wait_processing_events(10);
    worker_.join();
  }
}

void UpdateProgressWindow::show_worker_box(const QString& text, const std::function<void()>& closed) {
  auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("信息："), text, QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // Modal to the whole program like every message box; without that the
  // modal progress window would hold back the box's own OK button. Only the
  // worker waits on it; the window thread goes on.
  box->setWindowModality(Qt::ApplicationModal);
  connect(box, &QMessageBox::finished, box, [closed] { closed(); });
  worker_box_ = box;
  box->show();
}

void UpdateProgressWindow::worker_finished() {
  if (destroying_ || finished_) return;
  if (worker_.joinable()) worker_.join();
  finished_ = true;
  // An open question box decides when it returns.
  if (!asking_) close();
}

void UpdateProgressWindow::closeEvent(QCloseEvent* event) {
  if (finished_) {
    event->accept();
    return;
  }
  event->ignore();
  if (quitting_ || asking_) return;
  asking_ = true;
  QMessageBox box(QMessageBox::Question, QStringLiteral("询问"), QStringLiteral("退出后将无法更新完成，是否退出？"),
                  QMessageBox::Ok | QMessageBox::Cancel);
  const int answer = box.exec();
  asking_ = false;
  if (answer == QMessageBox::Ok) {
    // The transfer stops at its next piece and the countdown at once; the
    // worker then ends and takes the window with it.
    quitting_ = true;
    shared_->stop.stop();
    hide();
  }
  // The worker ended while the question stood: nothing is left to wait for.
  if (finished_) event->accept();
}

}  // namespace korvani
