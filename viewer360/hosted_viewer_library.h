// Finds and loads the library that holds the hosted viewer (the web
// engine's window) the first time it is needed.
#pragma once

#include <QString>
#include <functional>

class QDialog;
class QUrl;
class QWidget;

// The library's one entry point: a new dialog of `owner`, showing `page`,
// handing each key press to `keys` first.  The caller owns the dialog.
using OpenHostedViewerFunction = QDialog* (*)(
    QWidget* owner, const std::function<bool(int)>* keys, const QUrl* page);
inline constexpr const char* kOpenHostedViewerSymbol = "DuoramicOpenHostedViewer";

// The entry point of the library at `path`, or, when `path` is empty, of
// "libduoramic_hosted360.so" where the program's libraries are.  Null when
// it cannot be loaded; `error` then says why.
OpenHostedViewerFunction LoadHostedViewer(const QString& path, QString* error);
