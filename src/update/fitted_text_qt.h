#pragma once
// The update windows' labels are as narrow as their layouts make them (70 px
// for the speed, 92 px for the version): a long text is drawn smaller rather
// than cut off.
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QString>

namespace korvani {

inline void set_fitted_text(QLabel* label, const QString& text) {
  QFont font = label->parentWidget() ? label->parentWidget()->font() : label->font();
  int pixels = QFontInfo(font).pixelSize();
  font.setPixelSize(pixels);
  while (pixels > 7 && QFontMetrics(font).horizontalAdvance(text) > label->width()) font.setPixelSize(--pixels);
  label->setFont(font);
  label->setText(text);
}

}  // namespace korvani
