#include <QApplication>
#include <QStandardPaths>
#include <memory>

#include "app/files_dir.h"
#include "app/main_window.h"
#include "app/program_state.h"

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
  main_window->show();
  return app.exec();
}
