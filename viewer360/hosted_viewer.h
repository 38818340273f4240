// The hosted viewer: a frameless modal dialog, full screen on the output of
// the window that opens it, showing one web page.  Keys reach the dialog's key handler before the
// page; the ones it does not take go on to the page.
#pragma once

#ifdef DUORAMIC_HAS_WEBENGINE

#include <QDialog>
#include <QPointer>
#include <QUrl>
#include <functional>

class QScreen;
class QWebEngineView;

class HostedViewerDialog : public QDialog {
 public:
  // `keys` gets each key press (a Qt::Key) and answers whether it took it.
  HostedViewerDialog(QWidget* owner, std::function<bool(int key)> keys);
  ~HostedViewerDialog() override;

  void Navigate(const QUrl& page);
  QWebEngineView* View() const { return view_; }

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWebEngineView* view_;
  std::function<bool(int)> keys_;
  QPointer<QScreen> screen_;
  // The native window last put in full screen (a rebuilt one is new).
  WId fullScreenWindow_ = 0;
};

#endif  // DUORAMIC_HAS_WEBENGINE
