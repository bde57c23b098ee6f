#pragma once
// The second window: choose the supplier platform the back end is connected
// to, log into its front end, and hand over to the catalog window.
#include <QWidget>
#include <vector>

#include "app/program_state.h"
#include "supplier/supplier_login.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace korvani {

class SupplierLoginWindow : public QWidget {
  Q_OBJECT

 public:
  // Creates and shows the window, then fetches the platform list and fills
  // the host list and the platform table.
  static SupplierLoginWindow* open(ProgramState& state);

  explicit SupplierLoginWindow(ProgramState& state, QWidget* parent = nullptr);

  // The platform table as creation filled it (also shown, out of sight, in
  // `超级列表框1`).
  const std::vector<PlatformRow>& platform_table() const { return platform_table_; }

 private:
  void run_creation_steps();
  void log_in();

  ProgramState& state_;
  std::vector<PlatformRow> platform_table_;

  QComboBox* host_box_ = nullptr;
  QLineEdit* account_edit_ = nullptr;
  QLineEdit* password_edit_ = nullptr;
  QPushButton* login_button_ = nullptr;
  QTreeWidget* platform_view_ = nullptr;
};

}  // namespace korvani
