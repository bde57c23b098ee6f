#include "app/translations_qt.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace korvani {

int install_qt_translations(QCoreApplication& app, const QString& dir) {
  const QString folder = dir.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : dir;
  int installed = 0;
  // qtbase carries the standard buttons; qtwebengine the browser's menu.
  for (const QString& name : {QStringLiteral("qtbase_zh_CN"), QStringLiteral("qtwebengine_zh_CN")}) {
    auto* translator = new QTranslator(&app);
    if (translator->load(name, folder) && QCoreApplication::installTranslator(translator)) {
      ++installed;
    } else {
      delete translator;
    }
  }
  return installed;
}

}  // namespace korvani
