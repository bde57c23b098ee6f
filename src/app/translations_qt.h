#pragma once
// Qt's own texts (the standard buttons of message boxes and dialogs, the
// browser's context menu) in Chinese, as on a Chinese desktop: every other
// text of the tool is Chinese already.
#include <QString>

class QCoreApplication;

namespace korvani {

// Installs Qt's zh_CN translations from `dir` (Qt's own translations folder
// when empty) on `app`. Answers how many catalogues were installed; none when
// the files are missing or unreadable, and the texts then stay Qt's English.
int install_qt_translations(QCoreApplication& app, const QString& dir = QString());

}  // namespace korvani
