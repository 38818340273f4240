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

// Resolves the entry point of the library at `path`, or, when `path` is
// empty, of "libduoramic_hosted360.so" beside the executable or in the
// installed library folder.  Null when it cannot be loaded; `error` then
// says why.  A library once loaded stays loaded.
OpenHostedViewerFunction LoadHostedViewer(const QString& path, QString* error);
