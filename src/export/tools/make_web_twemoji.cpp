// Build tool: draws every emoji of the catalogue from the emoji font into
// <output>/twemoji/<n>.png and writes <output>/twemoji/index.js, the table from an icon's name
// (what an exported map's records carry) to its picture. The build zips the folder into the
// "web_twemoji" archive that a presentation unpacks beside its page.
//   make_web_twemoji <emoji_list.txt> <output folder>

#include "model/icon_image.h"
#include "model/icon_image_collection.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_web_twemoji <emoji_list.txt> <output folder>\n");
    return 2;
  }
  QFile catalogue(QString::fromLocal8Bit(argv[1]));
  if (!catalogue.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const orrery::IconImageCollection collection(QString::fromUtf8(catalogue.readAll()));
  const QString folder = QString::fromLocal8Bit(argv[2]) + QStringLiteral("/twemoji");
  QDir(folder).removeRecursively();
  if (!QDir().mkpath(folder)) return 1;

  QJsonObject table;
  int count = 0;
  for (const QString& category : collection.categories()) {
    for (const orrery::IconImagePtr& icon : collection.iconImagesByCategory(category)) {
      if (table.contains(icon->name())) continue;
      const QString name = QString::number(++count);
      const QImage picture = orrery::IconImage::createSymbolImage(icon->symbol());
      if (picture.isNull() || !picture.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"), "PNG")) {
        std::fprintf(stderr, "cannot draw %s\n", qPrintable(icon->name()));
        return 1;
      }
      table.insert(icon->name(), name);
    }
  }
  QSaveFile index(folder + QStringLiteral("/index.js"));
  if (!index.open(QIODevice::WriteOnly)) return 1;
  index.write("var orreryEmoji = " + QJsonDocument(table).toJson(QJsonDocument::Compact) + ";\n");
  return index.commit() ? 0 : 1;
}
