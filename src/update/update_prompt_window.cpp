#include "update/update_prompt_window.h"

#include <QEventLoop>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

#include "platform/qt_text_qt.h"
#include "update/fitted_text_qt.h"
#include "update/replace.h"
#include "update/update_progress_window.h"
#include "update/version_check.h"

namespace korvani {

void run_modal(QWidget* window) {
  QPointer<QWidget> alive(window);
  QEventLoop loop;
  QObject::connect(window, &QObject::destroyed, &loop, &QEventLoop::quit);
  window->setWindowModality(Qt::ApplicationModal);
  window->show();
  if (alive) loop.exec();
}

bool check_version(ProgramState& state, QWidget* main_window) {
  // A start right after an update first clears away what the old program left.
  reap_children_left_by_restart();
  const std::string url = version_page_url();
  if (url.empty()) return true;
  state.version_page_text = fetch_version_page(url);
  if (!update_offered(state.version_page_text)) return true;

  if (main_window) main_window->hide();
  run_modal(new UpdatePromptWindow(state));
  return false;
}

UpdatePromptWindow::UpdatePromptWindow(ProgramState& state, QWidget* parent) : QWidget(parent), state_(state) {
  setObjectName(QStringLiteral("update_prompt_window"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("更新提示"));
  setFixedSize(380, 250);
  move(50, 50);

  notes_ = new QPlainTextEdit(this);
  notes_->setObjectName(QStringLiteral("超级编辑框1"));
  notes_->setGeometry(8, 8, 350, 176);
  notes_->setReadOnly(true);

  version_label_ = new QLabel(this);
  version_label_->setObjectName(QStringLiteral("标签1"));
  version_label_->setGeometry(8, 192, 92, 24);

  later_button_ = new QPushButton(QStringLiteral("稍后更新"), this);
  later_button_->setObjectName(QStringLiteral("按钮2"));
  later_button_->setGeometry(181, 192, 80, 24);
  connect(later_button_, &QPushButton::clicked, this, &QWidget::close);

  now_button_ = new QPushButton(QStringLiteral("立即更新"), this);
  now_button_->setObjectName(QStringLiteral("按钮1"));
  now_button_->setGeometry(278, 192, 80, 24);
  connect(now_button_, &QPushButton::clicked, this, &UpdatePromptWindow::update_now);

  // The page is read again: the prompt shows what it says now.
  state_.version_page_text = fetch_version_page(version_page_url());
  const UpdatePrompt prompt = read_update_prompt(state_.version_page_text);
  state_.version_page_text = prompt.release_notes;
  notes_->setPlainText(to_qstring(prompt.release_notes));
  state_.update_page_text = prompt.release_notes;
  state_.version_page_text = prompt.version;
  set_fitted_text(version_label_, to_qstring(version_label_text(prompt.version)));
}

void UpdatePromptWindow::update_now() {
  state_.update_page_text = download_address(state_.update_page_text);
  state_.update_download_url = state_.update_page_text;
  run_modal(new UpdateProgressWindow(state_));
  // The progress window ends the program whatever became of the update.
  close();
}

}  // namespace korvani
