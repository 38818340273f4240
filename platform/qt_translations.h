// Qt's own texts (the buttons and labels of its file dialogs and message
// boxes) in the language of the rest of the window.
#pragma once

class QCoreApplication;
class QTranslator;

// Loads Qt's catalogue for `language` ("ja") from Qt's translations folder
// and installs it on `app`, which owns it; null when the catalogue is not
// there (Debian ships it in qt6-translations-l10n): Qt's English stays.
QTranslator* InstallQtTranslations(QCoreApplication& app, const char* language);
