#include "platform/ui/pasteboard.h"

#include "platform/services/pasteboard_formats.h"

#include <QBuffer>
#include <QImageReader>
#include <QMimeData>
#include <QMutex>
#include <QMutexLocker>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

// Lists provided types among its formats and asks each provider once, from any thread.
class Pasteboard::ProvidingData final : public QMimeData {
 public:
  void addProvider(const QString& type, Provider provider) {
    QMutexLocker lock(&mMutex);
    auto entry = std::make_shared<Entry>();
    entry->provider = std::move(provider);
    mProviders[type] = std::move(entry);
  }
  QStringList formats() const override {
    QStringList all = QMimeData::formats();
    QMutexLocker lock(&mMutex);
    for (const auto& [type, entry] : mProviders)
      if (!all.contains(type)) all << type;
    return all;
  }
  bool hasFormat(const QString& type) const override { return formats().contains(type); }

 protected:
  QVariant retrieveData(const QString& type, QMetaType preferred) const override {
    std::shared_ptr<Entry> entry;
    {
      QMutexLocker lock(&mMutex);
      auto it = mProviders.find(type);
      if (it != mProviders.end()) entry = it->second;
    }
    if (!entry) return QMimeData::retrieveData(type, preferred);
    // Asked once; readers meanwhile wait for the same answer (the mutex is not held while
    // the provider runs, so it may block without stalling other types).
    std::call_once(entry->once, [&] { entry->value = entry->provider ? entry->provider() : QByteArray(); });
    return entry->value;
  }

 private:
  struct Entry {
    Provider provider;
    std::once_flag once;
    QByteArray value;
  };
  mutable QMutex mMutex;  // guards mProviders
  std::map<QString, std::shared_ptr<Entry>> mProviders;
};

Pasteboard::Pasteboard() : mOwned(new ProvidingData), mData(mOwned) {}
Pasteboard::Pasteboard(const QMimeData* data) : mData(data) {}
Pasteboard::~Pasteboard() { delete mOwned; }

void Pasteboard::setData(const QString& type, const QByteArray& data) {
  if (mOwned) mOwned->setData(type, data);
}

void Pasteboard::setDataProvider(const QString& type, Provider provider) {
  if (mOwned) mOwned->addProvider(type, std::move(provider));
}

void Pasteboard::setString(const QString& text) { setData(QString::fromLatin1(kPasteboardTypeText), text.toUtf8()); }

void Pasteboard::setURLs(const QList<QUrl>& urls) {
  setData(QString::fromLatin1(kPasteboardTypeURIList), pasteboardformats::writeURIList(urls));
}

QStringList Pasteboard::types() const { return mData ? mData->formats() : QStringList(); }
bool Pasteboard::hasType(const QString& type) const { return mData && mData->hasFormat(type); }
QByteArray Pasteboard::dataForType(const QString& type) const {
  return hasType(type) ? mData->data(type) : QByteArray();
}

QString Pasteboard::string() const {
  return QString::fromUtf8(dataForType(QString::fromLatin1(kPasteboardTypeText)));
}

QList<QUrl> Pasteboard::urls() const {
  return pasteboardformats::readURIList(dataForType(QString::fromLatin1(kPasteboardTypeURIList)));
}

QStringList Pasteboard::localFilePaths() const { return pasteboardformats::localFilePaths(urls()); }

QImage Pasteboard::image() const {
  if (!mData) return {};
  for (const char* type : {"image/png", "image/jpeg"}) {
    QByteArray bytes = dataForType(QString::fromLatin1(type));
    const pasteboardformats::PictureHeader header = pasteboardformats::readPictureHeader(bytes);
    if (!pasteboardformats::isDecodable(header)) continue;
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, header.format);
    QImage picture = reader.read();
    // The decoder may disagree with the header it was promised; its answer is held to the limit too.
    if (!picture.isNull() && qint64(picture.width()) * picture.height() <= pasteboardformats::kMaxPicturePixels)
      return picture;
  }
  // Qt reads another program's "image/…" bytes as image data too, decoding them unchecked; its
  // image data is taken only as a picture this process put there.
  const QStringList formats = types();
  if (std::any_of(formats.begin(), formats.end(), [](const QString& t) { return t.startsWith(QLatin1String("image/")); }))
    return {};
  return mData->hasImage() ? qvariant_cast<QImage>(mData->imageData()) : QImage();
}

QMimeData* Pasteboard::releaseMimeDataForDrag() {
  QMimeData* data = mOwned;
  mOwned = nullptr;
  return data;
}

}  // namespace platform
