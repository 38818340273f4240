#include "shell/program_library.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QStringList>
#include <mutex>

#ifndef DUORAMIC_PLUGIN_RELATIVE_DIR
#define DUORAMIC_PLUGIN_RELATIVE_DIR "../lib/duoramic"
#endif

namespace {

std::mutex folderMutex;
std::string firstFolder;

}  // namespace

void SetProgramLibraryFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(folderMutex);
  firstFolder = folder;
}

ProgramLibraryFunction ResolveProgramLibrary(const std::string& name,
                                             const char* symbol,
                                             const std::string& path,
                                             std::string* error) {
  QStringList candidates;
  if (!path.empty()) {
    candidates << QString::fromStdString(path);
  } else {
    // By full path only, never the loader's search path: a library of the
    // same name elsewhere is not ours.
    QString file = QString::fromStdString(name);
    {
      std::lock_guard<std::mutex> lock(folderMutex);
      if (!firstFolder.empty())
        candidates << QDir(QString::fromStdString(firstFolder)).filePath(file);
    }
    if (QCoreApplication::instance()) {
      QDir program(QCoreApplication::applicationDirPath());
      candidates << program.filePath(file)
                 << QDir::cleanPath(program.filePath(
                        DUORAMIC_PLUGIN_RELATIVE_DIR "/" + file));
    }
  }
  QStringList reasons;
  for (const QString& candidate : candidates) {
    QLibrary library(candidate);
    if (auto function = library.resolve(symbol))  // stays loaded
      return reinterpret_cast<ProgramLibraryFunction>(function);
    reasons << library.errorString();
  }
  if (error)
    *error = reasons.isEmpty() ? "no place to look for " + name
                               : reasons.join("; ").toStdString();
  return nullptr;
}
