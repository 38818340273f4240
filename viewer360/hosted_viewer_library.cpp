#include "viewer360/hosted_viewer_library.h"

#include <string>

#include "shell/program_library.h"

// Qt WebEngine, loaded after the application started, makes the OpenGL
// context it shares with the application's windows by itself (and sets
// Qt::AA_ShareOpenGLContexts): the application need not make it at start.
OpenHostedViewerFunction LoadHostedViewer(const QString& path,
                                          QString* error) {
  std::string reason;
  auto open = reinterpret_cast<OpenHostedViewerFunction>(ResolveProgramLibrary(
      "libduoramic_hosted360.so", kOpenHostedViewerSymbol, path.toStdString(),
      &reason));
  if (!open && error) *error = QString::fromStdString(reason);
  return open;
}
