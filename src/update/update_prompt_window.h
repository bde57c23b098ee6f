#pragma once
// The version check at start-up and the window that offers the update.
#include <QWidget>

#include "app/program_state.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace korvani {

// Run while the main window is being created. True: the main window goes on
// as usual (same version, no update channel, or no version to be read).
// False: another version was announced; the main window has been hidden, the
// prompt has run (and the update with it, when chosen), and the program is
// to end.
bool check_version(ProgramState& state, QWidget* main_window);

// Opens `window` modal and returns once it has been destroyed.
void run_modal(QWidget* window);

class UpdatePromptWindow : public QWidget {
  Q_OBJECT
 public:
  // Creation fetches the version page again and fills the notes and label.
  explicit UpdatePromptWindow(ProgramState& state, QWidget* parent = nullptr);

 private:
  void update_now();

  ProgramState& state_;
  QPlainTextEdit* notes_;
  QLabel* version_label_;
  QPushButton* later_button_;
  QPushButton* now_button_;
};

}  // namespace korvani
