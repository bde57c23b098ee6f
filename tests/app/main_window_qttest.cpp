// main_window as the user first sees it: its layout, texts and banner, and
// that closing it ends the program.
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QtTest>
#include <memory>

#include "app/main_window.h"
#include "app/program_state.h"
#include "demo_shop.h"
#include "support/qt_test_support.h"
#include "update/update_prompt_window.h"
#include "update/version_check.h"

using korvani::MainWindow;
using korvani::ProgramState;

// Stands in for the system's browser: QDesktopServices hands it the address.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened.append(url); }
};

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    window_ = new MainWindow(state_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
  }

  void controls_sit_where_the_layout_puts_them_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    const QString window = QStringLiteral("main_window");
    QTest::newRow("the address label stands left of the address box")
        << QStringLiteral("透明标签1") << window << QStringLiteral("QLabel") << QRect(17, 11, 152, 32)
        << QStringLiteral("后台地址（加上http://）：");
    QTest::newRow("the address box spans the top row")
        << QStringLiteral("编辑框_后台地址") << window << QStringLiteral("QLineEdit") << QRect(176, 16, 456, 24)
        << QStringLiteral("卡盟后台地址 加上http://");
    QTest::newRow("the log-in button ends the top row")
        << QStringLiteral("按钮1") << window << QStringLiteral("QPushButton") << QRect(656, 16, 80, 24)
        << QStringLiteral("立即登陆");
    QTest::newRow("the sponsor group runs across the window")
        << QStringLiteral("分组框1") << window << QStringLiteral("QGroupBox") << QRect(8, 48, 776, 80)
        << QStringLiteral("软件广告赞助商：");
    QTest::newRow("the banner sits inside the sponsor group")
        << QStringLiteral("广告一") << QStringLiteral("分组框1") << QStringLiteral("QLabel") << QRect(16, 24, 120, 48)
        << QString();
    QTest::newRow("the browser fills the rest of the window")
        << QStringLiteral("超文本浏览框1") << window << QStringLiteral("QWebEngineView") << QRect(0, 136, 784, 440)
        << QString();
  }

  void controls_sit_where_the_layout_puts_them() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QString, kind);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    auto* control = window_->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->parentWidget()->objectName(), parent);
    QVERIFY2(control->inherits(kind.toLatin1().constData()), control->metaObject()->className());
    QCOMPARE(control->geometry(), geometry);
    QVERIFY(control->isVisible());
    if (auto* group = qobject_cast<QGroupBox*>(control)) {
      QCOMPARE(group->title(), text);
    } else if (!text.isEmpty()) {
      QCOMPARE(control->property("text").toString(), text);
    }
  }

  void the_window_has_its_caption_size_and_place() {
    QCOMPARE(window_->windowTitle(), QStringLiteral("korvani-dock 卡盟对接助手 V1.13"));
    QCOMPARE(window_->size(), QSize(793, 604));
    QCOMPARE(window_->pos(), QPoint(50, 50));
    QVERIFY(window_->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(window_->carries_on());
  }

  void the_banner_shows_our_picture_and_opens_the_project_page() {
    auto* banner = window_->findChild<QLabel*>(QStringLiteral("广告一"));
    QVERIFY(banner);
    QVERIFY(!banner->pixmap().isNull());

    const QUrl project(QStringLiteral(KORVANI_PROJECT_URL));
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(project.scheme(), &catcher, "open");
    QTest::mouseClick(banner, Qt::RightButton);
    QVERIFY2(catcher.opened.isEmpty(), "only the left button opens the page");
    QTest::mouseClick(banner, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(project.scheme());
    QCOMPARE(catcher.opened, QList<QUrl>{project});
  }

  void the_browser_keeps_nothing_on_disk() {
    auto* view = window_->findChild<QWebEngineView*>(QStringLiteral("超文本浏览框1"));
    QVERIFY(view);
    QVERIFY(view->page()->profile()->isOffTheRecord());
    QVERIFY(view->page()->profile() != QWebEngineProfile::defaultProfile());
  }

  void the_version_check_decides_whether_the_window_carries_on_data() {
    QTest::addColumn<QString>("announced");
    QTest::addColumn<bool>("carries_on");
    QTest::newRow("the page names our own version") << QStringLiteral("1.13") << true;
    QTest::newRow("the page names another version") << QStringLiteral("1.14") << false;
  }

  void the_version_check_decides_whether_the_window_carries_on() {
    QFETCH(QString, announced);
    QFETCH(bool, carries_on);
    demo_shop::DemoShop shop;
    QVERIFY(shop.start());
    shop.set_version(announced.toStdString());
    korvani::set_version_page_url(shop.version_page_url());

    // The user answers the prompt with "稍后更新".
    bool prompted = false;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* prompt = qobject_cast<korvani::UpdatePromptWindow*>(w);
        if (!prompt || !prompt->isVisible()) continue;
        prompted = true;
        if (auto* later = prompt->findChild<QPushButton*>(QStringLiteral("按钮2"))) later->click();
      }
    });
    answer.start(20);

    ProgramState state;
    auto window = std::make_unique<MainWindow>(state);
    answer.stop();
    korvani::set_version_page_url(std::nullopt);

    QCOMPARE(window->carries_on(), carries_on);
    QCOMPARE(prompted, !carries_on);
    QVERIFY(!window->isVisible());
  }

  void closing_the_window_ends_the_program() {
    // Closing the fixture's window may not end anything: the test window below
    // has to be the last one.
    delete window_.data();

    ProgramState state;
    QPointer<MainWindow> window = new MainWindow(state);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(korvani::test::close_in_event_loop(window).exit_code, 0);
    QTRY_VERIFY(window.isNull());
  }

 private:
  ProgramState state_;
  QPointer<MainWindow> window_;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_qttest.moc"
