// The viewer as a native Wayland client of a headless Weston (started by
// under_weston.sh, with screenshots allowed): a picture is shown, full
// screen is the compositor's own state over its panel and back, and a
// movie plays; with two outputs, full screen on both chosen ones.  What is on the output is read back with
// weston-screenshooter, the compositor's own copy of it; the protocol log
// (WAYLAND_DEBUG) is checked by the script, between the markers written
// here on standard error.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "shell/command_table.h"
#include "shell/main_window.h"
#include "shell/full_screen.h"
#include "shell/monitors.h"
#include "shell/movie_player.h"
#include "shell/output_slices.h"
#include "core/viewer_state.h"
#include "stereo/present.h"
#include "stereo/stereo_format.h"
#include "tests/window_test_support.h"

namespace {

void Mark(const char* what) {
  std::fprintf(stderr, "=== %s\n", what);
  std::fflush(stderr);
}

// The output as the compositor shows it.
QImage Screenshot() {
  QTemporaryDir folder;
  QProcess shooter;
  shooter.setWorkingDirectory(folder.path());
  shooter.start("weston-screenshooter", {});
  if (!shooter.waitForFinished(10000) || shooter.exitCode() != 0) {
    ADD_FAILURE() << "weston-screenshooter: "
                  << shooter.readAllStandardError().toStdString();
    return {};
  }
  QStringList shots =
      QDir(folder.path()).entryList({"wayland-screenshot*.png"}, QDir::Files);
  if (shots.size() != 1) {
    ADD_FAILURE() << "weston-screenshooter wrote " << shots.size() << " files";
    return {};
  }
  return QImage(folder.filePath(shots[0])).convertToFormat(QImage::Format_RGB32);
}

QImage Canvas(MainWindow& window) {
  return window.centralWidget()->grab().toImage().convertToFormat(
      QImage::Format_RGB32);
}

bool SameAt(const QImage& screen, const QImage& part, QPoint at) {
  if (at.x() < 0 || at.y() < 0 || at.x() + part.width() > screen.width() ||
      at.y() + part.height() > screen.height())
    return false;
  for (int y = 0; y < part.height(); ++y)
    if (std::memcmp(screen.constScanLine(at.y() + y) + 4 * at.x(),
                    part.constScanLine(y), 4 * size_t(part.width())))
      return false;
  return true;
}

// Where on the output `part` is shown pixel for pixel, if anywhere.
std::optional<QPoint> Find(const QImage& screen, const QImage& part) {
  for (int y = 0; y + part.height() <= screen.height(); ++y)
    for (int x = 0; x + part.width() <= screen.width(); ++x)
      if (screen.pixel(x, y) == part.pixel(0, 0) &&
          SameAt(screen, part, {x, y}))
        return QPoint(x, y);
  return std::nullopt;
}

void ShowFile(MainWindow& window, const std::string& path) {
  Viewer.OpenPath = path;
  window.DispatchCommand(CMD_SHOW_FILE);
}

// A headless Weston has no seat: its windows are never active, so the
// window is driven by commands, not keys.
TEST(WaylandViewer, ShowsAPictureGoesFullScreenAndBackAndPlaysAMovie) {
  ASSERT_EQ(QGuiApplication::platformName(), "wayland");
  QScreen* output = QGuiApplication::primaryScreen();
  QSize outputSize = output->size();
  Viewer = ViewerState();
  ScriptedDialogs dialogs;
  MainWindow window(&dialogs);
  StreamerMoviePlayer player(window);
  window.SetMovie(&player);
  window.resize(640, 480);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  Viewer.StereoType = SideBySide;  // both views show
  ShowFile(window, kSamples + "scene.mpo");

  // Windowed: the picture is on the output, below the compositor's panel.
  QImage canvas;
  std::optional<QPoint> at;
  ASSERT_TRUE(QTest::qWaitFor([&] {
    canvas = Canvas(window);
    at = Find(Screenshot(), canvas);
    return at.has_value();
  }, 15000)) << "the picture never reached the output";
  Screenshot().save(QDir::current().filePath("wayland-windowed.png"));
  EXPECT_GT(at->y(), 0) << "the window covers the panel while windowed";
  QImage windowed = Screenshot();

  // Full screen: the compositor's own state, on this output, covering the
  // panel: the whole output is the canvas.
  Mark("full screen");
  window.DispatchCommand(CMD_FULL_SCREEN_CHOSEN);
  ASSERT_TRUE(Viewer.FullScreen);
  EXPECT_TRUE(QTest::qWaitFor([&] {
    return window.windowHandle()->windowStates() & Qt::WindowFullScreen &&
           window.centralWidget()->size() == outputSize;
  }, 10000)) << "size " << window.centralWidget()->width() << "x"
             << window.centralWidget()->height();
  QImage full;
  EXPECT_TRUE(QTest::qWaitFor([&] {
    canvas = Canvas(window);
    full = Screenshot();
    return canvas.size() == outputSize && SameAt(full, canvas, {0, 0});
  }, 10000)) << "the output is not the canvas";
  full.save(QDir::current().filePath("wayland-full-screen.png"));

  // Back: the panel shows again and the picture is in a window.
  Mark("windowed");
  window.DispatchCommand(CMD_FULL_SCREEN_CHOSEN);
  ASSERT_FALSE(Viewer.FullScreen);
  EXPECT_TRUE(QTest::qWaitFor([&] {
    return !(window.windowHandle()->windowStates() & Qt::WindowFullScreen) &&
           window.centralWidget()->size() != outputSize;
  }, 10000));
  EXPECT_TRUE(QTest::qWaitFor([&] {
    canvas = Canvas(window);
    QImage shot = Screenshot();
    at = Find(shot, canvas);
    return at && SameAt(shot, windowed.copy(0, 0, outputSize.width(), 1),
                        {0, 0});
  }, 10000)) << "the panel or the windowed picture did not come back";

  // A movie plays: the window's part of the output keeps changing.
  Mark("movie");
  const char* movie = std::getenv("DUORAMIC_TEST_MOVIE");
  ASSERT_NE(movie, nullptr) << "under_weston.sh names the movie";
  ShowFile(window, movie);
  ASSERT_TRUE(Viewer.MovieOpen) << window.windowTitle().toStdString();
  QTest::qWait(1500);
  ASSERT_TRUE(at);
  QRect area(*at, window.centralWidget()->size());
  QImage first = Screenshot().copy(area);
  int changes = 0;
  for (int i = 0; i < 5 && changes < 2; ++i) {
    QTest::qWait(400);
    QImage next = Screenshot().copy(area);
    if (next != first) ++changes;
    first = next;
  }
  EXPECT_GE(changes, 2) << "the movie does not move on the output";
  first.save(QDir::current().filePath("wayland-movie.png"));
  Mark("done");
  window.close();  // closes the movie while its player still exists
  window.SetMovie(nullptr);
}

// Two outputs side by side (a nested Weston), both chosen: one full-screen
// window on each, together showing the one composition made at the size of
// both, the same frame on both.
TEST(WaylandViewer, ChosenOutputsEachShowTheirPartOfOneComposition) {
  ASSERT_EQ(QGuiApplication::platformName(), "wayland");
  if (QGuiApplication::screens().size() < 2)
    GTEST_SKIP() << "the compositor has one output";
  Viewer = ViewerState();
  ScriptedDialogs dialogs;
  MainWindow window(&dialogs);
  window.resize(400, 300);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  Viewer.StereoType = SideBySide;
  ShowFile(window, kSamples + "scene.mpo");
  EnumerateMonitors();
  ASSERT_EQ(Viewer.MonitorCount, 2);
  Viewer.MonitorSelected = {true, true};
  QRect both = QGuiApplication::screens()[0]->geometry().united(
      QGuiApplication::screens()[1]->geometry());

  window.DispatchCommand(CMD_FULL_SCREEN_CHOSEN);
  ASSERT_TRUE(Viewer.FullScreen);
  EXPECT_EQ(ToQRect(Viewer.FullScreenRect), both);
  EXPECT_EQ(OutputSliceCount(), 1);
  QImage composition, shot;
  EXPECT_TRUE(QTest::qWaitFor([&] {
    {
      PresentationLock lock(Presentation.lock);
      const Framebuffer& fb = Presentation.frame;
      composition = QImage(reinterpret_cast<const uchar*>(fb.pixels.data()),
                           fb.width, fb.height, fb.width * 4,
                           QImage::Format_RGB32).copy();
    }
    shot = Screenshot();
    return composition.size() == both.size() && shot.size() == both.size() &&
           SameAt(shot, composition, {0, 0});
  }, 15000)) << "composition " << composition.width() << "x"
             << composition.height() << ", output " << shot.width() << "x"
             << shot.height();
  shot.save(QDir::current().filePath("wayland-two-outputs.png"));
  // The picture crosses from one output to the other.
  EXPECT_NE(shot.copy(0, 0, both.width() / 2, both.height()),
            shot.copy(both.width() / 2, 0, both.width() / 2, both.height()));

  window.DispatchCommand(CMD_FULL_SCREEN_CHOSEN);
  ASSERT_FALSE(Viewer.FullScreen);
  EXPECT_EQ(OutputSliceCount(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] {
    return window.centralWidget()->width() < both.width() / 2 &&
           ClientWidth() == window.centralWidget()->width();
  }, 10000)) << "the canvas still composes for both outputs";
}

}  // namespace

int main(int argc, char** argv) {
  return RunWindowTests(argc, argv, /*needsDisplay=*/true);
}
