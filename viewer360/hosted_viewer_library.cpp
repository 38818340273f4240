#include "viewer360/hosted_viewer_library.h"

#include <QCoreApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>
#include <cstdlib>
#include <string>

#include "shell/program_library.h"

// Exported by Qt Gui for exactly this: Qt WebEngine declares it the same way.
QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
QT_END_NAMESPACE

namespace {

// Qt WebEngine renders through an OpenGL context shared with the
// application's windows.  Qt makes that context while the application
// starts when Qt::AA_ShareOpenGLContexts is set, which costs every start of
// the viewer a whole OpenGL start-up (a quarter of a second with llvmpipe)
// for a feature most sessions never open.  Loaded later, the engine finds
// no shared context (it only makes one when loaded before the application
// exists) and crashes as its first view is shown.  So the context is made
// here, on first use, before the engine's library is loaded.
// The web engine refuses WebGL on software OpenGL (Mesa's llvmpipe, as in
// virtual machines and on machines without a GPU driver), and the 360
// viewer then shows nothing but that refusal.  Slow WebGL is better than
// none: on software OpenGL the engine is told to use it anyway, unless the
// user passes the engine flags of their own.
void AllowSoftwareWebGL(QOpenGLContext& context) {
  if (std::getenv("QTWEBENGINE_CHROMIUM_FLAGS")) return;
  QOffscreenSurface surface;
  surface.setFormat(context.format());
  surface.create();
  if (!context.makeCurrent(&surface)) return;
  const auto* renderer = reinterpret_cast<const char*>(
      context.functions()->glGetString(GL_RENDERER));
  std::string name = renderer ? renderer : "";
  context.doneCurrent();
  for (const char* software : {"llvmpipe", "softpipe", "swrast", "SwiftShader"})
    if (name.find(software) != std::string::npos) {
      setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--ignore-gpu-blocklist", 0);
      return;
    }
}

bool ProvideSharedContext(QString* error) {
  if (QOpenGLContext::globalShareContext()) return true;
  auto* context = new QOpenGLContext(QCoreApplication::instance());
  context->setFormat(QSurfaceFormat::defaultFormat());
  if (!context->create()) {
    delete context;
    if (error) *error = "no OpenGL context can be made for the web engine";
    return false;
  }
  qt_gl_set_global_share_context(context);
  AllowSoftwareWebGL(*context);
  return true;
}

}  // namespace

OpenHostedViewerFunction LoadHostedViewer(const QString& path,
                                          QString* error) {
  if (!ProvideSharedContext(error)) return nullptr;
  std::string reason;
  auto open = reinterpret_cast<OpenHostedViewerFunction>(ResolveProgramLibrary(
      "libduoramic_hosted360.so", kOpenHostedViewerSymbol, path.toStdString(),
      &reason));
  if (!open && error) *error = QString::fromStdString(reason);
  return open;
}
