// Writes the manager's icon as PNG files for the desktop's icon theme:
// FOLDER/SIZExSIZE/apps/NAME.png for each size given (the hicolor layout).
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

#include "ui/artwork.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: dravion-render-icons FOLDER NAME SIZE...\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const QString name = QString::fromLocal8Bit(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const int size = QString::fromLatin1(argv[i]).toInt();
    if (size < 16 || size > 1024) {
      std::fprintf(stderr, "dravion-render-icons: bad size %s\n", argv[i]);
      return 2;
    }
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
    if (!QDir().mkpath(dir) ||
        !dravion::ui::AppIconImage(size).save(QStringLiteral("%1/%2.png").arg(dir, name))) {
      std::fprintf(stderr, "dravion-render-icons: cannot write in %s\n", qPrintable(dir));
      return 1;
    }
  }
  return 0;
}
