// kelmora-icons: writes the program's icon into a folder laid out as an icon theme,
//   <folder>/scalable/apps/<name>.svg and <folder>/<N>x<N>/apps/<name>.png,
// from the same drawing the program uses for its windows.
//
//   kelmora-icons <folder> <name>
#include <QDir>
#include <QFile>
#include <cstdio>

#include "widgets/LogoArt.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kelmora-icons <folder> <name>\n");
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  const QString name = QString::fromLocal8Bit(argv[2]);
  const auto prepare = [&](const QString& sub) {
    const QString folder = root + QLatin1Char('/') + sub + QStringLiteral("/apps");
    if (!QDir().mkpath(folder)) {
      std::fprintf(stderr, "kelmora-icons: cannot create %s\n", qPrintable(folder));
      std::exit(1);
    }
    return folder + QLatin1Char('/') + name;
  };

  QFile svg(prepare(QStringLiteral("scalable")) + QStringLiteral(".svg"));
  if (!svg.open(QIODevice::WriteOnly | QIODevice::Truncate) || svg.write(logoart::BadgeSvg().toUtf8()) < 0) {
    std::fprintf(stderr, "kelmora-icons: cannot write %s\n", qPrintable(svg.fileName()));
    return 1;
  }
  svg.close();
  for (const int pixels : {16, 24, 32, 48, 64, 128, 256}) {
    const QString path = prepare(QStringLiteral("%1x%1").arg(pixels)) + QStringLiteral(".png");
    if (!logoart::BadgeIcon(pixels).save(path, "PNG")) {
      std::fprintf(stderr, "kelmora-icons: cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
