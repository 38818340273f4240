// Opening a file or web address with the desktop's own program for it.
#pragma once

#include <QUrl>
#include <functional>

class QObject;

// Hands `url` to xdg-open, detached, so that the program it starts outlives
// the viewer.  xdg-open answers at once when it finds nothing to open the
// address with; `failed` then runs on `context`'s thread (while `context`
// lives), also when xdg-open is missing and Qt's own opener refuses too.
// A handler that is still running after a while is taken as success.
void OpenWithDesktop(QObject* context, const QUrl& url,
                     std::function<void()> failed);
