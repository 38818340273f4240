#include "tests/window_test_support.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "platform/qt_text_painter.h"
#include "shell/command_table.h"
#include "shell/file_history.h"
#include "core/viewer_state.h"
#include "shell/program_library.h"

void ScriptedDialogs::Message(QWidget*, std::string_view text,
                              std::string_view, bool) {
  messages.emplace_back(text);
}

bool ScriptedDialogs::AskYesNo(QWidget*, std::string_view text,
                               std::string_view caption, YesNoPrompt::Icon) {
  questions.push_back(std::string(caption) + ": " + std::string(text));
  return answer;
}

std::string ScriptedDialogs::OpenFile(QWidget*, std::string_view title,
                                      std::span<const char* const> filters,
                                      const std::string& preset,
                                      const std::string& folder, int&,
                                      const OpenFileExtras&) {
  opened.push_back({std::string(title), preset, folder,
                    std::vector<std::string>(filters.begin(), filters.end())});
  if (chosenFiles.empty()) return {};
  std::string file = chosenFiles.front();
  chosenFiles.pop_front();
  return file;
}

int ScriptedDialogs::RunModal(QDialog& dialog) {
  return run ? run(dialog) : QDialog::Rejected;
}

void WindowTest::SetUp() {
  Viewer = ViewerState();
  RecentFiles = FileHistory();
  QSettings("Orlith", "duoramic").clear();
  window_ = std::make_unique<MainWindow>(&dialogs_);
  PrepareWindow();
  window_->show();
  window_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
}

void WindowTest::TearDown() { window_.reset(); }

void WindowTest::Key(int key, Qt::KeyboardModifiers mods) {
  QTest::keyClick(window_.get(), static_cast<Qt::Key>(key), mods);
}

void WindowTest::ShowFile(const std::string& path) {
  Viewer.OpenPath = path;
  Run(CMD_SHOW_FILE);
}

void WindowTest::ShowPair(const std::string& left, const std::string& right) {
  Viewer.LeftPath = left;
  Viewer.RightPath = right;
  Run(CMD_SHOW_PAIR);
}

std::string WindowTest::Title() const {
  return window_->windowTitle().toStdString();
}

int RunWindowTests(int argc, char** argv, bool needsDisplay) {
  ::testing::InitGoogleTest(&argc, argv);
  if (needsDisplay && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    std::fprintf(stderr, "%s needs an X server in DISPLAY or a Wayland "
                 "compositor in WAYLAND_DISPLAY\n", argv[0]);
    return 77;
  }
  // Test discovery runs the offscreen binary without the tests' environment.
  if (!needsDisplay && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  SetProgramLibraryFolder(DUORAMIC_BINARY_DIR);
  QTemporaryDir settings;
  qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     settings.path());
  QApplication app(argc, argv);
  InstallQtTextPainter();
  int result = RUN_ALL_TESTS();
  ReleaseQtTextPainterFonts();
  return result;
}
