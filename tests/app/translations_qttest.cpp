// Qt's standard buttons in Chinese once the tool has installed Qt's own
// translations, and the English ones kept when those files are missing or
// unreadable.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "app/translations_qt.h"
#include "platform/ui_bridge_qt.h"
#include "support/qt_test_support.h"
#include "support/test_support.h"

using namespace korvani;

namespace {

QString q(const char* utf8) { return QString::fromUtf8(utf8); }

QString button_text(QMessageBox::StandardButton which) {
  QMessageBox box(QMessageBox::NoIcon, q("信息："), q("x"), QMessageBox::Ok | QMessageBox::Cancel);
  return box.button(which)->text();
}

bool qt_catalogue_present() {
  return QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                       QStringLiteral("/qtbase_zh_CN.qm"));
}

}  // namespace

class TranslationsTest : public QObject {
  Q_OBJECT

 private slots:
  // Runs before the real catalogues go in: once installed, they stay for the
  // rest of the process.
  void missing_or_unreadable_files_leave_the_english_buttons_data() {
    QTest::addColumn<QByteArray>("qm_bytes");  // empty: no file at all
    QTest::newRow("a folder without the files") << QByteArray();
    QTest::newRow("a file that is not a catalogue") << QByteArray("not a translation\0\x01\x02", 20);
    QTest::newRow("an empty file") << QByteArray("", 0);
  }

  void missing_or_unreadable_files_leave_the_english_buttons() {
    QFETCH(QByteArray, qm_bytes);
    test::TempDir dir;
    const QString folder = QString::fromStdString(dir.path().string());
    if (!qm_bytes.isNull()) {
      QFile file(folder + QStringLiteral("/qtbase_zh_CN.qm"));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(qm_bytes);
    }
    QCOMPARE(install_qt_translations(*qApp, folder), 0);
    QCOMPARE(button_text(QMessageBox::Ok), QStringLiteral("OK"));
    QCOMPARE(button_text(QMessageBox::Cancel), QStringLiteral("Cancel"));
  }

  void qt_catalogues_give_chinese_standard_buttons() {
    if (!qt_catalogue_present()) QSKIP("qtbase_zh_CN.qm is not installed (Debian: qt6-translations-l10n)");
    QVERIFY(install_qt_translations(*qApp) >= 1);
    QCOMPARE(button_text(QMessageBox::Ok), q("确定"));
    QCOMPARE(button_text(QMessageBox::Cancel), q("取消"));
  }

  // The tool's own box, as the windows and the workers show it.
  void the_tools_message_box_reads_the_chinese_ok() {
    if (!qt_catalogue_present()) QSKIP("qtbase_zh_CN.qm is not installed (Debian: qt6-translations-l10n)");
    install_qt_translations(*qApp);
    QWidget context;
    auto seen = std::make_shared<QString>();
    QTimer::singleShot(0, &context, [seen] {
      QMessageBox* box = test::visible_box();
      if (!box) return;
      QList<QAbstractButton*> buttons = box->buttons();
      if (buttons.size() == 1) *seen = buttons.front()->text();
      box->button(QMessageBox::Ok)->click();
    });
    platform::show_message_box(&context, q("目录克隆完成"));
    QCOMPARE(*seen, q("确定"));
  }
};

QTEST_MAIN(TranslationsTest)
#include "translations_qttest.moc"
