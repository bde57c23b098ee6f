#include "supplier/supplier_login_window.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "platform/qt_text_qt.h"
#include "platform/ui_bridge_qt.h"
#include "supplier/catalog_window.h"
#include "web/web_request.h"

namespace korvani {

namespace {

QLabel* transparent_label(QWidget* parent, const QString& name, const QString& text,
                          const QRect& geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setAutoFillBackground(false);
  label->setAttribute(Qt::WA_TranslucentBackground);
  label->setGeometry(geometry);
  return label;
}

}  // namespace

SupplierLoginWindow* SupplierLoginWindow::open(ProgramState& state) {
  auto* window = new SupplierLoginWindow(state);
  window->show();
  window->run_creation_steps();
  return window;
}

SupplierLoginWindow::SupplierLoginWindow(ProgramState& state, QWidget* parent)
    : QWidget(parent), state_(state) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("对接卡盟前台账号"));
  setFixedSize(319, 233);
  move(50, 50);

  host_box_ = new QComboBox(this);
  host_box_->setObjectName(QStringLiteral("组合框1"));
  host_box_->addItem(QStringLiteral("请选择对接的卡盟"));
  host_box_->setGeometry(48, 48, 208, 20);

  transparent_label(this, QStringLiteral("透明标签1"), QStringLiteral("账号"), QRect(8, 88, 32, 24));

  account_edit_ = new QLineEdit(this);
  account_edit_->setObjectName(QStringLiteral("编辑框_账号"));
  account_edit_->setGeometry(48, 88, 208, 24);

  transparent_label(this, QStringLiteral("透明标签2"), QStringLiteral("密码"), QRect(8, 117, 40, 32));

  password_edit_ = new QLineEdit(this);
  password_edit_->setObjectName(QStringLiteral("编辑框_密码"));
  password_edit_->setEchoMode(QLineEdit::Password);
  password_edit_->setGeometry(48, 120, 208, 24);

  login_button_ = new QPushButton(QStringLiteral("登录"), this);
  login_button_->setObjectName(QStringLiteral("按钮1"));
  login_button_->setGeometry(96, 160, 104, 32);
  connect(login_button_, &QPushButton::clicked, this, &SupplierLoginWindow::log_in);

  // The platform table lies below the window's bottom edge: a work table the
  // user never sees.
  platform_view_ = new QTreeWidget(this);
  platform_view_->setObjectName(QStringLiteral("超级列表框1"));
  platform_view_->setRootIsDecorated(false);
  platform_view_->setHeaderLabels({QStringLiteral("序号"), QStringLiteral("网址"), QStringLiteral("ID")});
  platform_view_->header()->setStretchLastSection(false);
  for (int column = 0; column < 3; ++column) platform_view_->setColumnWidth(column, 50);
  platform_view_->setGeometry(32, 256, 248, 72);
}

void SupplierLoginWindow::run_creation_steps() {
  // From here on backend_url names the platform list, for the rest of the run.
  state_.backend_url = platform_list_url(state_.backend_url);
  const Text page =
      percent_decode(web_request(state_.backend_url, 1, date_stamp_field(local_time_now())));

  if (!state_.shared_regex) state_.shared_regex = std::make_unique<RegexObject>();
  RegexObject& regex = *state_.shared_regex;
  platform_table_ = platform_rows(regex, page);
  for (const Text& host : offered_hosts(regex, page, platform_table_)) {
    host_box_->addItem(to_qstring(host));
  }
  for (const PlatformRow& row : platform_table_) {
    auto* item = new QTreeWidgetItem(platform_view_);
    item->setText(0, to_qstring(row.number));
    item->setText(1, to_qstring(row.host));
    item->setText(2, to_qstring(row.id));
  }
}

void SupplierLoginWindow::log_in() {
  // Both values are set anew by every press, whatever comes of it.
  const int selected = host_box_->currentIndex();
  state_.supplier_host = selected >= 0 ? to_text(host_box_->itemText(selected)) : Text();
  look_up_supplier_id(platform_table_, state_.supplier_host, state_.supplier_id);

  const Text body = supplier_login_body(to_text(account_edit_->text()), to_text(password_edit_->text()));
  const Text answer = percent_decode(web_request(supplier_login_url(state_.supplier_host), 1, body));

  switch (judge_login_answer(answer)) {
    case LoginVerdict::wrong_password:
      platform::show_message_box(this, QStringLiteral("用户名或密码错误!"));
      return;
    case LoginVerdict::failed:
      platform::show_message_box(this, QStringLiteral("失败"));
      return;
    case LoginVerdict::logged_in:
      hide();
      CatalogWindow::open(state_);
      deleteLater();
      return;
  }
}

}  // namespace korvani
