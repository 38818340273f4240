// Commands carried out by features outside the shell (movie playback, the
// 360-degree viewer, the 3D Vision output, the JPEG comment dialog and the
// list maker) through the window's feature interfaces; the help web page;
// and the keys that are bound to nothing.
#include <QUrl>
#include <string>

#include "image/file_names.h"
#include "platform/desktop_open.h"
#include "shell/command_table.h"
#include "shell/control_panel.h"
#include "shell/main_window.h"
#include "core/viewer_state.h"

namespace {

constexpr int kHelpPageAddress = 9;

// Movie commands act only on an open movie; without one they do nothing.
void MoviePlayback(MainWindow& w, int id) {
  if (!Viewer.MovieOpen) return;
  if (id == CMD_MOVIE_PAUSE) w.Movie().TogglePause();
  else w.Movie().RestartToggle();
}

void MovieStep(MainWindow& w, int id) {
  // A second step before the first is shown would skip a frame unseen.
  if (!Viewer.MovieOpen || w.Movie().StepPending()) return;
  if (id == CMD_STEP_FORWARD) w.Movie().StepForward();
  else w.Movie().StepBackward();
}

void MovieRate(MainWindow& w, int id) {
  if (!Viewer.MovieOpen) return;
  if (id == CMD_RATE_UP) w.Movie().ChangeRate(0.25);
  else if (id == CMD_RATE_DOWN) w.Movie().ChangeRate(-0.25);
  else w.Movie().SetRate(id - CMD_RATE_FIRST + 1);
  // The rate is shown beside the movie's name until it is back to 1.
  std::string rate = RateText(w.Movie().PlaybackRate());
  w.SetTitle(rate.empty() ? w.TitleText() : w.TitleText() + "  " + rate);
}

void JpegComment(MainWindow& w, int) {
  // Only JPEG files can take a comment; a movie has no file to write to.
  // The user is told why rather than left with a key that does nothing.
  const char* why = nullptr;
  if (Viewer.MovieOpen) why = "動画にはコメントを書き込めません。";
  else if (Viewer.ShownLeftPath.empty()) why = "表示中のファイルがありません。";
  else if (!FileKindMatches(Viewer.ShownLeftPath, JpegKind))
    why = "コメントを書き込めるのはJPEGファイル（.jpg .jpeg .jps）だけです。";
  if (why) {
    std::string text = why;
    if (!Viewer.ShownLeftPath.empty()) text += "\n" + Viewer.ShownLeftPath;
    w.Dialogs().Message(&w, text, MenuTextOf(CMD_JPEG_COMMENT), false);
    return;
  }
  if (w.Comments().EditComment(&w, Viewer.ShownLeftPath) != 0)
    w.DispatchCommand(CMD_RELOAD_ITEM);  // shows the new comment
}

void MakeList(MainWindow& w, int) { w.Lists().MakeList(&w); }

void Show360(MainWindow& w, int) {
  if (Viewer.MovieOpen) w.Movie().CloseMovie();
  w.Panorama().Show(Viewer.OpenPath, Viewer.n360swap != 0);
}

void WebHelp(MainWindow& w, int) {
  std::string address = LoadText(kHelpPageAddress);
  OpenWithDesktop(&w, QUrl(QString::fromStdString(address)), [&w, address] {
    w.Dialogs().Message(
        &w, "ページを開けませんでした。ブラウザーが見つかりません。\n" + address,
        MenuTextOf(CMD_WEB_HELP), true);
  });
}

// Bound keys without a command: taken and dropped, without the title's
// report of a missing feature that an unknown command gets.
void Unused(MainWindow&, int) {}

constexpr CommandHandlerRow kHandlers[] = {
    {CMD_WEB_HELP, CMD_WEB_HELP, WebHelp},
    {CMD_MAKE_LIST, CMD_MAKE_LIST, MakeList},
    {CMD_MOVIE_PAUSE, CMD_MOVIE_RESTART, MoviePlayback},
    {CMD_STEP_FORWARD, CMD_STEP_BACKWARD, MovieStep},
    {CMD_RATE_UP, CMD_RATE_DOWN, MovieRate},
    {CMD_RATE_FIRST, CMD_RATE_LAST, MovieRate},
    {CMD_JPEG_COMMENT, CMD_JPEG_COMMENT, JpegComment},
    {CMD_SHOW_360, CMD_SHOW_360, Show360},
    {CMD_UNUSED_G, CMD_UNUSED_G, Unused},
    {CMD_UNUSED_CTRL_ARROW_FIRST, CMD_UNUSED_CTRL_ARROW_LAST, Unused},
    {CMD_UNUSED_D, CMD_UNUSED_D, Unused},
    {CMD_UNUSED_B, CMD_UNUSED_B, Unused},
};

}  // namespace

std::span<const CommandHandlerRow> LaterFeatureCommandHandlers() {
  return kHandlers;
}

