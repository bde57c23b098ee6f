#pragma once
// A run of the program with nobody at the screen (the package check starts
// the installed program offscreen) must still learn that a window came up,
// and end the run the way a user would, by closing it. Both hooks are off
// unless the environment asks for them:
//   KORVANI_REPORT_WINDOWS=1  "<name> shown" on stderr when the window is
//                             first shown, "<name> closed" when it is gone
//   KORVANI_CLOSE_AFTER_MS=N  the window is closed N ms after it was shown
class QWidget;
class QString;

namespace korvani {

void watch_window_for_checks(QWidget* window, const QString& name);

}  // namespace korvani
