#include "viewer360/viewer_files.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "image/file_data.h"
#include "image/panorama_canvas.h"
#include "image/stereo_still.h"
#include "image/stereo_writer.h"
#include "viewer360/page_text.h"

namespace {

QByteArray Resource(const char* name) {
  QFile file(QStringLiteral(":/viewer360/") + QLatin1String(name));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

bool WriteWhole(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  bool ok = file.write(bytes) == bytes.size();
  return file.flush() && ok;
}

// The folder exists as a real folder of ours that nobody else can enter,
// made so when it is ours but too open.
bool MakePrivateFolder(const QString& folder) {
  QByteArray name = QFile::encodeName(folder);
  if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info;
  if (::lstat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      info.st_uid != ::getuid())
    return false;
  if ((info.st_mode & 0077) != 0 && ::chmod(name.constData(), 0700) != 0)
    return false;
  return true;
}

}  // namespace

int WriteViewerFiles(const std::string& folder, const std::string& path,
                     int n360mode, int swap) {
  QByteArray pageTemplate = Resource("theta.html");
  QByteArray script = Resource("thview3dkv.js");
  QByteArray three = Resource("three.min.js");
  if (pageTemplate.isEmpty() || script.isEmpty() || three.isEmpty())
    return -1;
  std::string page = FillPageTemplate(
      std::string_view(pageTemplate.constData(), pageTemplate.size()),
      PageParametersFor(path, n360mode, swap != 0));
  QString base = QString::fromStdString(folder);
  if (!base.endsWith('/')) base += '/';
  bool ok = WriteWhole(base + kViewerPageName,
                       QByteArray(page.data(), static_cast<qsizetype>(page.size())));
  ok = WriteWhole(base + "thview3dkv.js", script) && ok;
  ok = WriteWhole(base + "three.min.js", three) && ok;
  return ok ? 0 : -1;
}

std::string PanoramaPictureFor(const std::string& folder,
                               const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes) ||
      !IsStereoStillData(bytes.data(), bytes.size()))
    return path;
  StereoStill still;
  if (!DecodeStereoStill(bytes.data(), bytes.size(), still)) return path;
  Picture picture = still.info.panorama
                        ? PanoramaCanvas(still.left, still.right,
                                         *still.info.panorama)
                        : JoinSideBySide(still.left, still.right);
  std::vector<uint8_t> jpeg;
  std::string error;
  if (!picture || !EncodeJpeg(picture, kStereoJpegQuality, true, jpeg, error))
    return path;
  // A new name each time: the page's browser would show a cached picture
  // under the old one.
  static int written = 0;
  QString base = QString::fromStdString(folder);
  if (!base.endsWith('/')) base += '/';
  if (written > 0)
    QFile::remove(base + QString("stereo-still-%1.jpg").arg(written));
  QString name = base + QString("stereo-still-%1.jpg").arg(++written);
  if (!WriteWhole(name, QByteArray(reinterpret_cast<const char*>(jpeg.data()),
                                   static_cast<qsizetype>(jpeg.size()))))
    return path;
  return QFile::encodeName(name).toStdString();
}

std::string ViewerFolder() {
  // Qt only answers with a runtime folder that is the user's and 0700.
  // Without XDG_RUNTIME_DIR it would make one under /tmp; the cache folder
  // in the user's home is safer then.
  QString parent;
  if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
    parent = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (parent.isEmpty())
    parent = QStandardPaths::writableLocation(
        QStandardPaths::GenericCacheLocation);
  if (parent.isEmpty() || !QDir().mkpath(parent)) return {};
  QString folder = parent + "/duoramic-360";
  if (!MakePrivateFolder(folder)) return {};
  return QFile::encodeName(folder + '/').toStdString();
}
