// The duoramic executable: the application, the settings, the command line
// and the first commands.  Without a display it says so and points at the
// command-line renderer instead of aborting inside Qt.
#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QScreen>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

#include "platform/qt_translations.h"
#include "platform/qt_text_painter.h"
#include "shell/comment_dialog.h"
#include "shell/app_icon.h"
#include "shell/data_folder.h"
#include "shell/file_history.h"
#include "shell/full_screen.h"
#include "shell/list_maker_dialog.h"
#include "shell/main_window.h"
#include "shell/monitors.h"
#include "shell/movie_player.h"
#include "shell/navigation_steps.h"
#include "shell/settings_store.h"
#include "shell/startup.h"
#include "shell/vision3d_output.h"
#include "core/viewer_state.h"
#include "viewer360/panorama_window.h"

namespace {

bool DisplayAvailable() {
  if (std::getenv("QT_QPA_PLATFORM")) return true;
  return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

// The screen a window starts on, as MainWindow::Screen() measures it.
ScreenSize PrimaryScreenSize() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {1920, 1080};
  QSize size = screen->size() * screen->devicePixelRatio();
  return {size.width(), size.height()};
}

}  // namespace

int main(int argc, char** argv) {
  if (!DisplayAvailable()) {
    // The first line is the viewer's usual report of a platform that did
    // not start; the rest says why and what to do instead.
    std::fprintf(stderr,
                 "CoInitialize Failed!\n"
                 "duoramic: no display (neither DISPLAY nor WAYLAND_DISPLAY "
                 "is set).\n"
                 "To render a stereo item without a window, use duoramic-cli, "
                 "for example:\n"
                 "  duoramic-cli render scene.mpo --format DuboisAnaglyph "
                 "--size 1280x720 -o out.png\n"
                 "  duoramic-cli render LEFT.jpg RIGHT.jpg --format 19 "
                 "-o out.png\n"
                 "or run the window with "
                 "QT_QPA_PLATFORM=offscreen.\n");
    return 1;
  }
  // The web engine's browser sandbox cannot run for root and the engine
  // then ends the whole process as the 360 viewer opens; run as root, the
  // viewer goes without that sandbox rather than disappear.
  if (geteuid() == 0 && !std::getenv("QTWEBENGINE_DISABLE_SANDBOX"))
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  // The hosted 360 viewer's web engine, loaded on first use, draws through
  // Qt Quick on OpenGL; it gets its shared OpenGL context when it is loaded
  // (see hosted_viewer_library.cpp), not here: made at start, that context
  // held every first picture back by a quarter of a second.
  setenv("QSG_RHI_BACKEND", "opengl", 0);
  QApplication app(argc, argv);
  app.setWindowIcon(DuoramicIcon());
  // Every text of ours is Japanese; Qt's dialogs follow.
  InstallQtTranslations(app, "ja");
  // Wayland and task bars match the window to its desktop entry by this.
  QGuiApplication::setDesktopFileName("org.duoramic.Duoramic");
  InstallQtTextPainter();
  // The random transition effect draws from rand(): a new series each run.
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  Viewer.MovieState = 3;
  ApplyLaunchMode(LaunchModeFromName(argc > 0 ? argv[0] : ""));
  LoadHistory();
  LoadSettings();
  LoadMonitorSelection();
  EnumerateMonitors();
  ComputeFullScreenRect();
  CommandLineArgs args = ArgumentsFromArgv(argc, argv);
  // Files named relative to the current folder are kept by their full path:
  // the history and the open dialogs outlive that folder.
  for (std::string* arg : {&args.first, &args.second})
    if (!arg->empty() && static_cast<unsigned char>((*arg)[0]) >= 0x20)
      *arg = QFileInfo(QString::fromStdString(*arg))
                 .absoluteFilePath()
                 .toStdString();
  std::string folder =
      DataFolder(QCoreApplication::applicationDirPath().toStdString());

  FirstShow first = DecideFirstShow(args, folder);
  // The first item is read beside the window's own start-up, and a large
  // picture is first drawn from a quick first look while its exact pixels
  // are read: reading it was most of the wait for the first picture.
  // DUORAMIC_FIRST_LOOK=0 turns both off, to time the viewer without.
  const char* firstLookSetting = std::getenv("DUORAMIC_FIRST_LOOK");
  bool firstLook = !(firstLookSetting && firstLookSetting[0] == '0') &&
                   Viewer.StereoType != NvidiaStereo;
  if (firstLook) StartEarlyRead(first, PrimaryScreenSize());

  int status;
  {
    MainWindow window;
    StreamerMoviePlayer movie(window);
    window.SetMovie(&movie);
    JpegCommentDialog comments(window.Dialogs());
    ListMakerDialog lists(window.Dialogs());
    window.SetComments(&comments);
    window.SetLists(&lists);
    Vision3dOutput stereoOutput(window);
    window.SetOutput(&stereoOutput);
    window.HelpFilePath = folder + "/duoramic.html";
    PanoramaWindow panorama(window);
    window.SetPanorama(&panorama);
    // A window that starts full screen is first shown by going full screen:
    // shown here and at once hidden and shown again with its new flags, it
    // could be withdrawn while the window manager was still taking it on,
    // and then stayed unmapped (a black screen) for good.
    if (std::find(first.commands.begin(), first.commands.end(),
                  CMD_FULL_SCREEN_CHOSEN) == first.commands.end())
      window.show();
    ApplyFirstShow(first);
    window.FirstLookAllowed = firstLook;
    for (int id : first.commands) window.PostCommand(id);
    status = app.exec();
    window.close();  // closes the movie while its player still exists
    window.SetMovie(nullptr);
    window.SetOutput(nullptr);
    window.SetPanorama(nullptr);
    window.SetComments(nullptr);
    window.SetLists(nullptr);
  }
  ReleaseQtTextPainterFonts();
  return status;
}
