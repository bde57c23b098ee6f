// The version check at start-up and update_prompt_window: when the prompt
// comes, its layout and what it shows, and each way out of it.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/program_state.h"
#include "demo_shop.h"
#include "platform/qt_text_qt.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"
#include "update/update_progress_window.h"
#include "update/update_prompt_window.h"
#include "update/version_check.h"

using korvani::ProgramState;
using korvani::UpdateProgressWindow;
using korvani::UpdatePromptWindow;
using korvani::test::visible_box;
namespace fs = std::filesystem;

namespace {

template <typename T>
T* top_level(const QString& name) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == name && w->isVisible()) return qobject_cast<T*>(w);
  }
  return nullptr;
}

// Runs `step` on the prompt once it is on the screen (the check holds the
// test inside its modal loop meanwhile).
void when_prompt_shows(QObject* context, std::function<void(UpdatePromptWindow*)> step) {
  auto* timer = new QTimer(context);
  QObject::connect(timer, &QTimer::timeout, context, [timer, step] {
    if (auto* prompt = top_level<UpdatePromptWindow>(QStringLiteral("update_prompt_window"))) {
      timer->stop();
      timer->deleteLater();
      step(prompt);
    }
  });
  timer->start(10);
}

}  // namespace

class UpdatePromptWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(shop_.start()); }

  void init() {
    shop_.clear_faults();
    shop_.set_version("1.14");
    shop_.clear_requests();
    korvani::set_version_page_url(shop_.version_page_url());
    state_ = std::make_unique<ProgramState>();
  }

  void cleanupTestCase() {
    korvani::set_version_page_url(std::nullopt);
    UpdateProgressWindow::set_executable_path(std::nullopt);
    UpdateProgressWindow::set_restart({});
  }

  void controls_sit_where_the_layout_puts_them_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::newRow("the release notes fill the top") << QStringLiteral("超级编辑框1") << QStringLiteral("QPlainTextEdit")
                                                   << QRect(8, 8, 350, 176) << QString();
    QTest::newRow("the version label stands bottom left")
        << QStringLiteral("标签1") << QStringLiteral("QLabel") << QRect(8, 192, 92, 24)
        << QStringLiteral("当前版本：1.14");
    QTest::newRow("later comes first") << QStringLiteral("按钮2") << QStringLiteral("QPushButton")
                                       << QRect(181, 192, 80, 24) << QStringLiteral("稍后更新");
    QTest::newRow("now ends the row") << QStringLiteral("按钮1") << QStringLiteral("QPushButton")
                                      << QRect(278, 192, 80, 24) << QStringLiteral("立即更新");
  }

  void controls_sit_where_the_layout_puts_them() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QPointer<UpdatePromptWindow> prompt = new UpdatePromptWindow(*state_);
    prompt->show();
    auto* control = prompt->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->parentWidget(), prompt.data());
    QVERIFY2(control->inherits(kind.toLatin1().constData()), control->metaObject()->className());
    QCOMPARE(control->geometry(), geometry);
    QVERIFY(control->isVisible());
    if (!text.isEmpty()) QCOMPARE(control->property("text").toString(), text);
    delete prompt.data();
  }

  void the_prompt_has_its_caption_and_shows_what_the_page_says_now() {
    state_->version_page_text = "stale";
    shop_.set_version_page(
        "<p>【1.16】</p><div>【1.15】 %E6%96%B0 |http://h.example/k|\nline two</DIV><p>end</p>");
    QPointer<UpdatePromptWindow> prompt = new UpdatePromptWindow(*state_);
    QCOMPARE(prompt->windowTitle(), QStringLiteral("更新提示"));
    QCOMPARE(prompt->size(), QSize(380, 250));
    QCOMPARE(prompt->pos(), QPoint(50, 50));
    QVERIFY(prompt->testAttribute(Qt::WA_DeleteOnClose));
    auto* notes = prompt->findChild<QPlainTextEdit*>(QStringLiteral("超级编辑框1"));
    QCOMPARE(notes->toPlainText(), QStringLiteral("【1.15】 新 |http://h.example/k|\nline two"));
    QVERIFY(notes->isReadOnly());
    QCOMPARE(prompt->findChild<QLabel*>(QStringLiteral("标签1"))->text(), QStringLiteral("当前版本：1.15"));
    QCOMPARE(korvani::to_qstring(state_->update_page_text), notes->toPlainText());
    QCOMPARE(state_->version_page_text, std::string("1.15"));
    delete prompt.data();
  }

  void a_page_without_notes_gives_an_empty_prompt() {
    shop_.set_version_page("<p>【1.14】 |http://h.example/k|</p>");
    QPointer<UpdatePromptWindow> prompt = new UpdatePromptWindow(*state_);
    QCOMPARE(prompt->findChild<QPlainTextEdit*>(QStringLiteral("超级编辑框1"))->toPlainText(), QString());
    QCOMPARE(prompt->findChild<QLabel*>(QStringLiteral("标签1"))->text(), QStringLiteral("当前版本："));
    delete prompt.data();
  }

  void a_long_version_is_drawn_smaller_not_cut_off() {
    shop_.set_version_page("<div>【1.14.2-beta】 |http://h.example/k|</DIV>");
    QPointer<UpdatePromptWindow> prompt = new UpdatePromptWindow(*state_);
    auto* label = prompt->findChild<QLabel*>(QStringLiteral("标签1"));
    QCOMPARE(label->text(), QStringLiteral("当前版本：1.14.2-beta"));
    QCOMPARE(label->geometry(), QRect(8, 192, 92, 24));
    QVERIFY(QFontMetrics(label->font()).horizontalAdvance(label->text()) <= label->width());
    delete prompt.data();
  }

  void the_check_lets_the_main_window_go_on_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("requests");
    QTest::newRow("our own version") << QStringLiteral("【1.13】") << 1;
    QTest::newRow("a page naming no version") << QStringLiteral("<html>maintenance</html>") << 1;
    QTest::newRow("a page that cannot be fetched") << QStringLiteral("<500>") << 1;
    QTest::newRow("no update channel in this build") << QStringLiteral("<none>") << 0;
  }

  void the_check_lets_the_main_window_go_on() {
    QFETCH(QString, page);
    QFETCH(int, requests);
    if (page == QStringLiteral("<500>")) {
      shop_.add_fault({"version.html", demo_shop::Fault::status_500});
    } else if (page == QStringLiteral("<none>")) {
      korvani::set_version_page_url("");
    } else {
      shop_.set_version_page(page.toStdString());
    }
    QWidget main_window;
    main_window.show();
    QVERIFY(korvani::check_version(*state_, &main_window));
    QVERIFY(main_window.isVisible());
    QCOMPARE(static_cast<int>(shop_.requests().size()), requests);
    QVERIFY(top_level<QWidget>(QStringLiteral("update_prompt_window")) == nullptr);
  }

  void another_version_hides_the_main_window_and_ends_after_the_prompt_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("way_out");
    QTest::newRow("a newer version, closed with later") << QStringLiteral("【1.14】") << QStringLiteral("later");
    QTest::newRow("an older version, closed by its close box") << QStringLiteral("【1.12】")
                                                               << QStringLiteral("close");
    QTest::newRow("our version and a space") << QStringLiteral("【1.13 】") << QStringLiteral("later");
  }

  void another_version_hides_the_main_window_and_ends_after_the_prompt() {
    QFETCH(QString, page);
    QFETCH(QString, way_out);
    shop_.set_version_page(page.toStdString() + "<div>notes</DIV>");
    QWidget main_window;
    main_window.show();
    bool main_hidden = false;
    bool modal = false;
    when_prompt_shows(this, [&](UpdatePromptWindow* prompt) {
      main_hidden = !main_window.isVisible();
      modal = prompt->isModal() && QApplication::activeModalWidget() == prompt;
      if (way_out == QStringLiteral("later")) {
        prompt->findChild<QPushButton*>(QStringLiteral("按钮2"))->click();
      } else {
        prompt->close();
      }
    });
    QVERIFY(!korvani::check_version(*state_, &main_window));
    QVERIFY(main_hidden);
    QVERIFY(modal);
    QVERIFY(top_level<QWidget>(QStringLiteral("update_prompt_window")) == nullptr);
    // Once for the check, once more when the prompt opened.
    int pages = 0;
    for (const auto& r : shop_.requests()) pages += r.path == "/updates/version.html";
    QCOMPARE(pages, 2);
  }

  void update_now_downloads_replaces_and_ends() {
    korvani::test::TempDir dir;
    const fs::path exe = dir.path() / "korvani-dock";
    korvani::test::write_file(exe, "old program");
    const std::string program = korvani::test::read_file("/bin/true");
    shop_.set_download(program);
    std::vector<std::string> restarts;
    UpdateProgressWindow::set_executable_path(exe.string());
    UpdateProgressWindow::set_countdown_step_ms(1);
    UpdateProgressWindow::set_restart([&](const std::string& path, const std::vector<std::string>&) {
      restarts.push_back(path);
      return korvani::Text();
    });

    bool progress_modal = false;
    when_prompt_shows(this, [&](UpdatePromptWindow* prompt) {
      QTimer::singleShot(0, this, [&] {
        auto* progress = top_level<UpdateProgressWindow>(QStringLiteral("update_progress_window"));
        progress_modal = progress && QApplication::activeModalWidget() == progress;
      });
      prompt->findChild<QPushButton*>(QStringLiteral("按钮1"))->click();
    });
    QWidget main_window;
    QVERIFY(!korvani::check_version(*state_, &main_window));
    QVERIFY(progress_modal);
    QCOMPARE(state_->update_download_url, shop_.download_url());
    QCOMPARE(state_->update_page_text, shop_.download_url());
    QCOMPARE(restarts, std::vector<std::string>{exe.string()});
    QCOMPARE(korvani::test::read_file(exe), program);
    QVERIFY(top_level<QWidget>(QStringLiteral("update_prompt_window")) == nullptr);
    QVERIFY(top_level<QWidget>(QStringLiteral("update_progress_window")) == nullptr);
  }

  void update_now_without_an_address_fails_and_ends() {
    korvani::test::TempDir dir;
    const fs::path exe = dir.path() / "korvani-dock";
    korvani::test::write_file(exe, "old program");
    UpdateProgressWindow::set_executable_path(exe.string());
    shop_.set_version_page("<div>【1.14】 no address here</DIV>");

    QString told;
    bool reachable = false;
    auto* answerer = new QTimer(this);
    connect(answerer, &QTimer::timeout, this, [&told, &reachable, answerer] {
      if (QMessageBox* box = visible_box()) {
        told = box->text();
        // The prompt and the progress window are modal; the box must be the one taking input.
        reachable = QApplication::activeModalWidget() == box;
        answerer->stop();
        answerer->deleteLater();
        box->button(QMessageBox::Ok)->click();
      }
    });
    answerer->start(10);
    when_prompt_shows(this, [](UpdatePromptWindow* prompt) {
      prompt->findChild<QPushButton*>(QStringLiteral("按钮1"))->click();
    });
    QVERIFY(!korvani::check_version(*state_, nullptr));
    QCOMPARE(told, QStringLiteral("不能打开该URL!"));
    QVERIFY(reachable);
    QCOMPARE(korvani::test::read_file(exe), std::string("old program"));
    QCOMPARE(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  }

 private:
  demo_shop::DemoShop shop_;
  std::unique_ptr<ProgramState> state_;
};

QTEST_MAIN(UpdatePromptWindowTest)
#include "update_prompt_window_qttest.moc"
