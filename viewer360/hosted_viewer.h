// The hosted viewer: a frameless modal dialog over the whole primary screen
// showing one web page.  Keys reach the dialog's key handler before the
// page; the ones it does not take go on to the page.
#pragma once

#ifdef DUORAMIC_HAS_WEBENGINE

#include <QDialog>
#include <QUrl>
#include <functional>

class QWebEngineView;

class HostedViewerDialog : public QDialog {
 public:
  // `keys` gets each key press (a Qt::Key) and answers whether it took it.
  HostedViewerDialog(QWidget* owner, std::function<bool(int key)> keys);
  ~HostedViewerDialog() override;

  void Navigate(const QUrl& page);
  QWebEngineView* View() const { return view_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWebEngineView* view_;
  std::function<bool(int)> keys_;
};

#endif  // DUORAMIC_HAS_WEBENGINE
