#include "model/icon_image_collection.h"

#include "platform/core/dispatch.h"
#include "platform/services/resources.h"

#include <QFile>

namespace orrery {

namespace {

QString readCatalogue() {
  QFile file(platform::pathForResource(QStringLiteral("emoji_list"), QStringLiteral("txt")));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

}  // namespace

IconImageCollection& IconImageCollection::instance() {
  static IconImageCollection* collection = [] {
    auto* made = new IconImageCollection(readCatalogue());
    made->preRenderImages();
    return made;
  }();
  return *collection;
}

IconImageCollection::IconImageCollection(const QString& catalogueText) {
  QString category = QStringLiteral("UNKNOWN");
  std::vector<IconImagePtr> icons;
  auto close = [&] {
    if (!icons.empty()) {
      mIconsByCategory.insert(category, std::move(icons));
      mCategories.append(category);
    }
    icons.clear();
  };
  for (const QString& line : catalogueText.split(QLatin1Char('\n'))) {
    if (line.startsWith(QLatin1Char('#'))) {
      close();
      category = line.mid(1);
      continue;
    }
    const QStringList fields = line.split(QLatin1Char(';'));
    if (fields.size() >= 4) icons.push_back(std::make_shared<IconImage>(fields[1], category, fields[0]));
  }
  close();
}

const std::vector<IconImagePtr>& IconImageCollection::iconImagesByCategory(const QString& category) const {
  static const std::vector<IconImagePtr> kNone;
  const auto it = mIconsByCategory.constFind(category);
  return it == mIconsByCategory.constEnd() ? kNone : *it;
}

void IconImageCollection::preRenderImages(std::function<void()> done) const {
  std::vector<IconImagePtr> all;
  for (const QString& category : mCategories) {
    const auto& icons = mIconsByCategory[category];
    all.insert(all.end(), icons.begin(), icons.end());
  }
  platform::globalQueue(platform::QueuePriority::Background)
      .async([all = std::move(all), done = std::move(done)]() mutable {
        for (const IconImagePtr& icon : all) icon->image();
        if (done) platform::mainQueue().async(std::move(done));
      });
}

}  // namespace orrery
