#include "platform/headless_gui.h"

#include <QGuiApplication>

#include <cstdlib>
#include <mutex>

#include "platform/qt_text_painter.h"

namespace {

QtMessageHandler previousHandler = nullptr;

// A tool run as root or from a service has no runtime folder; Qt's notice
// about it would land in every command's error output while nothing here
// uses that folder.
void QuietHandler(QtMsgType type, const QMessageLogContext& context,
                  const QString& message) {
  if (type == QtWarningMsg &&
      message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
    return;
  if (previousHandler) previousHandler(type, context, message);
}

}  // namespace

struct HeadlessGui::Impl final : TextPainter {
  int& argc;
  char** argv;
  std::once_flag started;
  std::unique_ptr<QGuiApplication> app;

  Impl(int& c, char** v) : argc(c), argv(v) {}

  void Start() {
    std::call_once(started, [this] {
      if (QGuiApplication::instance()) return;  // someone else's application
      // Text is only ever drawn into framebuffers here, so the offscreen
      // platform always serves; a platform named for windows (xcb without
      // a display) would abort the program.
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      previousHandler = qInstallMessageHandler(QuietHandler);
      app = std::make_unique<QGuiApplication>(argc, argv);
    });
  }

  void DrawText(Framebuffer& fb, const Rect& clip, int x, int y,
                std::string_view text, const TextStyle& style) override {
    Start();
    QtTextPainter().DrawText(fb, clip, x, y, text, style);
  }
  int TextWidth(std::string_view text, const TextStyle& style) override {
    Start();
    return QtTextPainter().TextWidth(text, style);
  }
};

HeadlessGui::HeadlessGui(int& argc, char** argv, bool lazy)
    : impl_(std::make_unique<Impl>(argc, argv)) {
  if (!lazy) Start();
  SetTextPainter(impl_.get());
}

HeadlessGui::~HeadlessGui() {
  if (CurrentTextPainter() == impl_.get()) SetTextPainter(nullptr);
  ReleaseQtTextPainterFonts();
}

void HeadlessGui::Start() { impl_->Start(); }
