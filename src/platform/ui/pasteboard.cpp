#include "platform/ui/pasteboard.h"

#include <QBuffer>
#include <QImageReader>
#include <QMimeData>
#include <QMutex>
#include <QMutexLocker>

#include <map>
#include <memory>
#include <mutex>

namespace platform {
namespace {
// A picture on a pasteboard is decoded only below this many pixels.
constexpr qint64 kMaxPicturePixels = 64LL * 1024 * 1024;
}  // namespace

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
  QByteArray list;
  for (const QUrl& url : urls) list += url.toEncoded() + "\r\n";
  setData(QString::fromLatin1(kPasteboardTypeURIList), list);
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
  QList<QUrl> found;
  const QByteArray list = dataForType(QString::fromLatin1(kPasteboardTypeURIList));
  for (QByteArray line : list.split('\n')) {
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) return {};
    found << url;
  }
  return found;
}

QStringList Pasteboard::localFilePaths() const {
  QStringList paths;
  for (const QUrl& url : urls())
    if (url.isLocalFile() && !url.toLocalFile().isEmpty()) paths << url.toLocalFile();
  return paths;
}

QImage Pasteboard::image() const {
  if (!mData) return {};
  if (mData->hasImage()) return qvariant_cast<QImage>(mData->imageData());
  for (const char* type : {"image/png", "image/jpeg"}) {
    QByteArray bytes = dataForType(QString::fromLatin1(type));
    if (bytes.isEmpty()) continue;
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > kMaxPicturePixels) continue;
    QImage picture = reader.read();
    if (!picture.isNull()) return picture;
  }
  return {};
}

QMimeData* Pasteboard::releaseMimeDataForDrag() {
  QMimeData* data = mOwned;
  mOwned = nullptr;
  return data;
}

}  // namespace platform
