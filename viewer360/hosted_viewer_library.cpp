#include "viewer360/hosted_viewer_library.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QStringList>

#ifndef DUORAMIC_PLUGIN_RELATIVE_DIR
#define DUORAMIC_PLUGIN_RELATIVE_DIR "../lib/duoramic"
#endif

OpenHostedViewerFunction LoadHostedViewer(const QString& path,
                                          QString* error) {
  QStringList candidates;
  if (!path.isEmpty()) {
    candidates << path;
  } else {
    // Beside the program in a build tree; below the library folder once
    // installed.  Never the loader's search path: a library of the same
    // name elsewhere is not ours.
    const QString name = "libduoramic_hosted360.so";
    QDir program(QCoreApplication::applicationDirPath());
    candidates << program.filePath(name)
               << QDir::cleanPath(program.filePath(
                      DUORAMIC_PLUGIN_RELATIVE_DIR "/" + name));
  }
  QStringList reasons;
  for (const QString& candidate : candidates) {
    QLibrary library(candidate);
    auto open = reinterpret_cast<OpenHostedViewerFunction>(
        library.resolve(kOpenHostedViewerSymbol));
    if (open) return open;  // QLibrary keeps it loaded
    reasons << library.errorString();
  }
  if (error) *error = reasons.join("; ");
  return nullptr;
}
