#pragma once
// The first window: the back end's address, the embedded browser in which
// the user logs into the back end by hand, and the poll that notices when
// that log-in is done.
#include <QWidget>
#include <memory>

#include "app/program_state.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QGroupBox;

namespace korvani {

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  // Builds the window and runs its creation steps, the version check among
  // them. The window is not shown yet.
  explicit MainWindow(ProgramState& state, QWidget* parent = nullptr);
  ~MainWindow() override;

  // False when the version check took the update branch: the program is to
  // end instead of showing this window.
  bool carries_on() const { return carries_on_; }

  // The wait before each fetch of the main page (5,000 ms); tests shorten it.
  static void set_poll_interval_ms(int ms);
  static int poll_interval_ms();

  static QString caption();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void log_in();

  ProgramState& state_;
  QLabel* address_label_;
  QLineEdit* address_edit_;
  QPushButton* login_button_;
  QGroupBox* sponsor_group_;
  QLabel* banner_;
  QWidget* browser_;
  // Shared with a running poll, which must learn that the window went
  // without touching it.
  std::shared_ptr<bool> closing_ = std::make_shared<bool>(false);
  bool polling_ = false;
  bool restart_ = false;   // the address was corrected during the poll
  bool carries_on_ = true;
};

}  // namespace korvani
