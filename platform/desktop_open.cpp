#include "platform/desktop_open.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>
#include <memory>

namespace {

constexpr int kPollMs = 100;
constexpr int kPatienceMs = 15000;

// Reads the exit status the detached shell wrote; -1 while it has not.
int WrittenStatus(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return -1;
  QByteArray text = file.readAll().trimmed();
  bool ok = false;
  int status = text.toInt(&ok);
  return ok ? status : -1;
}

}  // namespace

void OpenWithDesktop(QObject* context, const QUrl& url,
                     std::function<void()> failed) {
  QString opener = QStandardPaths::findExecutable("xdg-open");
  if (opener.isEmpty()) {
    if (!QDesktopServices::openUrl(url) && failed) failed();
    return;
  }
  // The status file exists empty until the shell writes xdg-open's status;
  // once we stop waiting it is gone, and the shell writes nothing.
  QTemporaryFile marker(QDir::tempPath() + "/duoramic-open-XXXXXX");
  marker.setAutoRemove(false);
  if (!marker.open()) {
    if (!QDesktopServices::openUrl(url) && failed) failed();
    return;
  }
  QString status = marker.fileName();
  marker.close();
  const QString script =
      "\"$0\" \"$1\" >/dev/null 2>&1; s=$?; [ -e \"$2\" ] && echo $s > \"$2\"";
  if (!QProcess::startDetached("/bin/sh", {"-c", script, opener,
                                           url.toString(QUrl::FullyEncoded),
                                           status})) {
    QFile::remove(status);
    if (!QDesktopServices::openUrl(url) && failed) failed();
    return;
  }
  auto* timer = new QTimer(context);
  auto waited = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, timer,
                   [timer, status, waited, failed = std::move(failed)] {
                     int code = WrittenStatus(status);
                     *waited += kPollMs;
                     if (code < 0 && *waited < kPatienceMs) return;
                     QFile::remove(status);
                     timer->deleteLater();
                     if (code > 0 && failed) failed();
                   });
  timer->start(kPollMs);
}
