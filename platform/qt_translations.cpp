#include "platform/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QTranslator* InstallQtTranslations(QCoreApplication& app, const char* language) {
  // "qt_<language>" gathers the catalogues of Qt's modules (qtbase, ...).
  auto* translator = new QTranslator(&app);
  if (!translator->load(QString("qt_") + language,
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return nullptr;
  }
  app.installTranslator(translator);
  return translator;
}
