// The entry point of the hosted viewer's library.  Qt WebEngine and the
// libraries under it take tens of milliseconds for the dynamic loader
// alone, so the viewer keeps them out of its start-up and loads this
// library the first time a 360 item is shown.
#include <QDialog>
#include <QUrl>
#include <functional>

#include "viewer360/hosted_viewer.h"
#include "viewer360/hosted_viewer_library.h"

extern "C" Q_DECL_EXPORT QDialog* DuoramicOpenHostedViewer(
    QWidget* owner, const std::function<bool(int)>* keys, const QUrl* page) {
  auto* dialog = new HostedViewerDialog(owner, *keys);
  dialog->Navigate(*page);
  return dialog;
}
