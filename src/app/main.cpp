#include <QApplication>
#include <QStandardPaths>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/files_dir.h"
#include "app/main_window.h"
#include "app/program_state.h"
#include "app/window_report_qt.h"
#include "app/translations_qt.h"
#include "supplier/catalog_window.h"

namespace {

// Runs the exit clean-up however main is left.
struct ExitCleanUp {
  korvani::ProgramState& state;
  ~ExitCleanUp() { state.release(); }
};

std::string utf8_of(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("korvani-dock"));
  QCoreApplication::setApplicationVersion(QStringLiteral(KORVANI_OWN_VERSION));
  // The desktop entry the package installs; a Wayland desktop finds the
  // program's name and icon in the menu through it.
  QGuiApplication::setDesktopFileName(QStringLiteral("korvani-dock"));
  // Before the first window, so that its boxes already say "确定".
  korvani::install_qt_translations(app);

  korvani::ProgramState state;
  state.shared_regex = std::make_unique<korvani::RegexObject>();
  ExitCleanUp clean_up{state};

  state.files_dir = korvani::resolve_files_dir(
      utf8_of(QCoreApplication::applicationDirPath()),
      utf8_of(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)));

  auto* main_window = new korvani::MainWindow(state);
  if (!main_window->carries_on()) {
    // The update branch ran during the window's creation.
    delete main_window;
    return 0;
  }
  korvani::watch_window_for_checks(main_window, QStringLiteral("main_window"));
  main_window->show();
  const int code = app.exec();

  // A docking run whose window has gone stops at its next step; give the
  // request in flight a moment to end. One still under way then must not
  // have the process-wide HTTP client torn down beneath it by the static
  // destructors, so the program ends without them.
  for (int i = 0; i < 20 && korvani::CatalogWindow::running_docking_runs() > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (korvani::CatalogWindow::running_docking_runs() > 0) {
    state.release();
    std::fflush(nullptr);
    std::quick_exit(code);
  }
  return code;
}
