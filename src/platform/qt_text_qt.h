#pragma once
// The one crossing between the program's code-page texts and Qt's strings.
// Windows convert here and nowhere else, so no byte ever turns into a QString
// by a silent cast.
#include <QString>

#include "text/text.h"

namespace korvani {

inline QString to_qstring(const Text& text) {
  return QString::fromUtf8(ansi_to_utf8(text));
}

inline Text to_text(const QString& text) {
  return utf8_to_ansi(text.toUtf8().toStdString());
}

}  // namespace korvani
