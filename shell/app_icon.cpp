#include "shell/app_icon.h"

#include <QString>

QIcon DuoramicIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
    icon.addFile(QString(":/icons/hicolor/%1x%1/apps/duoramic.png").arg(size),
                 QSize(size, size));
  return icon;
}
