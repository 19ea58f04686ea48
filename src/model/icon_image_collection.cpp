#include "model/icon_image_collection.h"

#include "platform/core/dispatch.h"
#include "platform/core/quit_waiters.h"
#include "platform/services/qt_regular_file.h"
#include "platform/services/resources.h"

#include <atomic>

namespace orrery {

namespace {

QString readCatalogue() {
  QByteArray bytes;
  if (platform::readRegularFile(platform::pathForResource(QStringLiteral("emoji_list"), QStringLiteral("txt")),
                                platform::kMaxInstalledFileBytes, &bytes) != platform::RegularFileRead::Read)
    return {};
  return QString::fromUtf8(bytes);
}

// Drawing in the background uses the fonts of the application: a quit stops it and waits for
// the picture being drawn, so nothing draws once the application is gone.
struct BackgroundDrawing {
  platform::DispatchGroup running;
  std::atomic<bool> stopped{false};
};

BackgroundDrawing& backgroundDrawing() {
  static BackgroundDrawing* drawing = [] {
    auto* made = new BackgroundDrawing;
    platform::addQuitWaiter("icon pictures", [made] {
      made->stopped = true;
      made->running.wait(platform::Millis(10000));
    });
    return made;
  }();
  return *drawing;
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
  BackgroundDrawing& drawing = backgroundDrawing();
  if (drawing.stopped) return;
  drawing.running.enter();
  platform::globalQueue(platform::QueuePriority::Background)
      .async([all = std::move(all), done = std::move(done), &drawing]() mutable {
        for (const IconImagePtr& icon : all) {
          if (drawing.stopped) break;
          icon->image();
        }
        if (done && !drawing.stopped) platform::mainQueue().async(std::move(done));
        drawing.running.leave();
      });
}

}  // namespace orrery
