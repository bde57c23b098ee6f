// update_progress_window: its layout, what it shows while the download runs
// and counts down, the quit question, and the messages of a failed update.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/program_state.h"
#include "demo_shop.h"
#include "platform/qt_text_qt.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"
#include "update/progress.h"
#include "update/update_progress_window.h"

using korvani::ProgramState;
using korvani::UpdateProgressWindow;
using korvani::test::visible_box;
namespace fs = std::filesystem;

namespace {

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

}  // namespace

class UpdateProgressWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(shop_.start());
    program_ = korvani::test::read_file("/bin/true");
    QVERIFY(!program_.empty());
  }

  void init() {
    dir_ = std::make_unique<korvani::test::TempDir>();
    exe_ = dir_->path() / "korvani-dock";
    korvani::test::write_file(exe_, "old program");
    fs::permissions(exe_, fs::perms(0755));
    restarts_.clear();
    shop_.clear_faults();
    shop_.set_download(program_);
    state_.update_download_url = korvani::utf8_to_ansi(shop_.download_url());
    UpdateProgressWindow::set_executable_path(exe_.string());
    UpdateProgressWindow::set_restart([this](const std::string& path, const std::vector<std::string>&) {
      restarts_.push_back(path);
      return korvani::Text();
    });
    UpdateProgressWindow::set_countdown_step_ms(1);
  }

  void cleanup() { dir_.reset(); }

  void controls_sit_where_the_layout_puts_them_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::newRow("the bar runs across the top") << QStringLiteral("进度条1") << QStringLiteral("QProgressBar")
                                                << QRect(3, 4, 285, 20) << QString();
    QTest::newRow("the percentage starts at zero")
        << QStringLiteral("标签_已完成百分比") << QStringLiteral("QLabel") << QRect(3, 24, 240, 16)
        << QStringLiteral("已完成：0%");
    QTest::newRow("the total size starts empty") << QStringLiteral("标签_总大小") << QStringLiteral("QLabel")
                                                 << QRect(157, 24, 60, 16) << QStringLiteral("0.00MB");
    QTest::newRow("the speed stands at the right") << QStringLiteral("标签_下载速度") << QStringLiteral("QLabel")
                                                   << QRect(218, 26, 70, 13) << QStringLiteral("0 KB/秒");
  }

  void controls_sit_where_the_layout_puts_them() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    // A download that is slow to answer keeps the initial texts on the screen.
    shop_.add_fault({"korvani-dock", demo_shop::Fault::delay, 800});
    QPointer<UpdateProgressWindow> window = new UpdateProgressWindow(state_);
    window->show();
    auto* control = window->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->parentWidget(), window.data());
    QVERIFY2(control->inherits(kind.toLatin1().constData()), control->metaObject()->className());
    QCOMPARE(control->geometry(), geometry);
    QVERIFY(control->isVisible());
    if (!text.isEmpty()) QCOMPARE(control->property("text").toString(), text);
    delete window.data();  // stops the worker, which gives up the transfer when the answer comes
  }

  void the_window_has_its_caption_size_and_green_bar() {
    shop_.add_fault({"korvani-dock", demo_shop::Fault::delay, 800});
    QPointer<UpdateProgressWindow> window = new UpdateProgressWindow(state_);
    QCOMPARE(window->windowTitle(), QStringLiteral("发现新版本，正在自动更新……"));
    QCOMPARE(window->size(), QSize(296, 71));
    QCOMPARE(window->pos(), QPoint(50, 50));
    QVERIFY(window->testAttribute(Qt::WA_DeleteOnClose));
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("进度条1"));
    QVERIFY(bar);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 10000);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->palette().color(QPalette::Highlight), QColor(0, 255, 0));
    delete window.data();
    QCOMPARE(names_in(dir_->path()), std::set<std::string>{"korvani-dock"});
  }

  void a_whole_download_fills_the_bar_counts_down_and_starts_the_new_program() {
    UpdateProgressWindow::set_countdown_step_ms(300);
    QPointer<UpdateProgressWindow> window = new UpdateProgressWindow(state_);
    window->show();
    auto* percent = window->findChild<QLabel*>(QStringLiteral("标签_已完成百分比"));
    auto* size = window->findChild<QLabel*>(QStringLiteral("标签_总大小"));
    auto* speed = window->findChild<QLabel*>(QStringLiteral("标签_下载速度"));
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("进度条1"));

    QTRY_COMPARE_WITH_TIMEOUT(percent->text(), QStringLiteral("更新完毕，等待3秒自动运行新版本……"), 10000);
    QCOMPARE(bar->value(), 10000);
    QVERIFY(!size->isVisible());
    QVERIFY(!speed->isVisible());
    const auto bytes = static_cast<std::int64_t>(program_.size());
    QCOMPARE(size->text(), korvani::to_qstring(korvani::download_progress(bytes, bytes, 1, bytes).size));
    QVERIFY(speed->text().endsWith(QStringLiteral("KB/秒")));
    QTRY_COMPARE_WITH_TIMEOUT(percent->text(), QStringLiteral("更新完毕，等待2秒自动运行新版本……"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(percent->text(), QStringLiteral("更新完毕，等待1秒自动运行新版本……"), 5000);

    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 5000);
    QCOMPARE(restarts_, std::vector<std::string>{exe_.string()});
    QCOMPARE(korvani::test::read_file(exe_), program_);
    QVERIFY(fs::status(exe_).permissions() == fs::perms(0755));
    QCOMPARE(names_in(dir_->path()), std::set<std::string>{"korvani-dock"});
  }

  void a_failed_download_is_told_and_ends_the_window_data() {
    QTest::addColumn<QString>("arrange");
    QTest::addColumn<QString>("message");
    QTest::newRow("an address that cannot be opened") << QStringLiteral("unreachable")
                                                      << QStringLiteral("不能打开该URL!");
    QTest::newRow("an empty address (a page without bars)") << QStringLiteral("empty")
                                                            << QStringLiteral("不能打开该URL!");
    QTest::newRow("a server error is refused") << QStringLiteral("500") << QStringLiteral("HTTP 500");
    QTest::newRow("a body that is no program is refused")
        << QStringLiteral("text") << QStringLiteral("不是本系统可运行的程序");
    QTest::newRow("a body cut short") << QStringLiteral("stall") << QStringLiteral("读文件出错!");
    QTest::newRow("the program's directory cannot be written")
        << QStringLiteral("unwritable") << QStringLiteral("不能打开本地的文件!");
  }

  void a_failed_download_is_told_and_ends_the_window() {
    QFETCH(QString, arrange);
    QFETCH(QString, message);
    if (arrange == QStringLiteral("unreachable")) {
      state_.update_download_url = "http://" + shop_.unreachable_host() + "/updates/korvani-dock";
    } else if (arrange == QStringLiteral("empty")) {
      state_.update_download_url.clear();
    } else if (arrange == QStringLiteral("500")) {
      shop_.add_fault({"korvani-dock", demo_shop::Fault::status_500});
    } else if (arrange == QStringLiteral("text")) {
      shop_.set_download("<html>moved</html>");
    } else if (arrange == QStringLiteral("stall")) {
      shop_.add_fault({"korvani-dock", demo_shop::Fault::stall, 0, 100});
    } else if (arrange == QStringLiteral("unwritable")) {
      // The kernel refuses new files there, to root as well.
      UpdateProgressWindow::set_executable_path("/sys/korvani-dock");
    }
    QPointer<UpdateProgressWindow> window = new UpdateProgressWindow(state_);
    window->show();
    QTRY_VERIFY_WITH_TIMEOUT(visible_box() != nullptr, 10000);
    QMessageBox* box = visible_box();
    QCOMPARE(box->windowTitle(), QStringLiteral("信息："));
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    // Over the modal window the box has to be modal too, or its OK could not be pressed.
    QVERIFY(box->isModal());
    QVERIFY2(box->text().contains(message), qPrintable(box->text()));
    QVERIFY(window);  // the window waits for the box
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(window.isNull());
    QVERIFY(restarts_.empty());
    QCOMPARE(korvani::test::read_file(exe_), std::string("old program"));
    QCOMPARE(names_in(dir_->path()), std::set<std::string>{"korvani-dock"});
  }

  void the_quit_question_cancel_goes_on_ok_stops() {
    UpdateProgressWindow::set_countdown_step_ms(60000);
    QPointer<UpdateProgressWindow> window = new UpdateProgressWindow(state_);
    window->show();
    auto* percent = window->findChild<QLabel*>(QStringLiteral("标签_已完成百分比"));
    QTRY_COMPARE_WITH_TIMEOUT(percent->text(), QStringLiteral("更新完毕，等待3秒自动运行新版本……"), 10000);

    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    auto answer = [&](QMessageBox::StandardButton choice) {
      QTimer::singleShot(0, this, [&, choice] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        text = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        buttons = box->standardButtons();
        box->button(choice)->click();
      });
    };

    answer(QMessageBox::Cancel);
    window->close();
    QCOMPARE(text, QStringLiteral("退出后将无法更新完成，是否退出？"));
    QCOMPARE(caption, QStringLiteral("询问"));
    QCOMPARE(icon, QMessageBox::Question);
    QCOMPARE(buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QVERIFY(window);
    QVERIFY(window->isVisible());

    answer(QMessageBox::Ok);
    window->close();
    // The minute-long countdown step gives way at once.
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 3000);
    QVERIFY(restarts_.empty());
    QCOMPARE(korvani::test::read_file(exe_), std::string("old program"));
    QCOMPARE(names_in(dir_->path()), std::set<std::string>{"korvani-dock"});
  }

  void quitting_during_the_transfer_cancels_it() {
    shop_.set_download(program_ + std::string(2'000'000, 'x'));
    // Half the body, then a minute of silence: the cancel takes hold while
    // no byte arrives, so the user does not wait out the server; no thread
    // is killed.
    shop_.add_fault({"korvani-dock", demo_shop::Fault::stall, 0, 60000});
    QPointer<UpdateProgressWindow> window = new UpdateProgressWindow(state_);
    window->show();
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("进度条1"));
    QTRY_VERIFY_WITH_TIMEOUT(bar->value() > 0, 10000);
    QVERIFY(bar->value() < 10000);
    QTimer::singleShot(0, this, [] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box) box->button(QMessageBox::Ok)->click();
    });
    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 10000);
    QVERIFY(visible_box() == nullptr);  // quitting is told nothing more
    QVERIFY(restarts_.empty());
    QCOMPARE(korvani::test::read_file(exe_), std::string("old program"));
    QCOMPARE(names_in(dir_->path()), std::set<std::string>{"korvani-dock"});
  }

 private:
  demo_shop::DemoShop shop_;
  std::string program_;
  ProgramState state_;
  std::unique_ptr<korvani::test::TempDir> dir_;
  fs::path exe_;
  std::vector<std::string> restarts_;
};

QTEST_MAIN(UpdateProgressWindowTest)
#include "update_progress_window_qttest.moc"
