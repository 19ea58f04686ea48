#pragma once
// What a drag carries: typed data over a QMimeData. A pasteboard made here owns its data and
// may hold a type whose bytes are made only when a reader first asks (a file written for the
// drop, say); a provider may run on whatever thread the reader uses and is asked once. A
// pasteboard over Qt's drop data only reads it. Readers refuse what they cannot trust: a URI
// list with a line that is no URL gives no paths at all. Main thread, except providers.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QMimeData>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>


namespace platform {

inline constexpr char kPasteboardTypeURIList[] = "text/uri-list";
inline constexpr char kPasteboardTypeText[] = "text/plain";

class Pasteboard {
 public:
  using Provider = std::function<QByteArray()>;

  // An empty pasteboard that owns its data.
  Pasteboard();
  // Reads `data` (Qt's drop data), which it neither owns nor changes.
  explicit Pasteboard(const QMimeData* data);
  ~Pasteboard();
  Pasteboard(const Pasteboard&) = delete;
  Pasteboard& operator=(const Pasteboard&) = delete;

  // Writing (own data only).
  void setData(const QString& type, const QByteArray& data);
  // The bytes of `type` come from `provider` when first read.
  void setDataProvider(const QString& type, Provider provider);
  void setString(const QString& text);
  void setURLs(const QList<QUrl>& urls);

  // Reading. Absent types read empty.
  QStringList types() const;
  bool hasType(const QString& type) const;
  QByteArray dataForType(const QString& type) const;
  QString string() const;
  // Every URL of the URI list; none when a line is not a URL.
  QList<QUrl> urls() const;
  // The local files of the URI list, as absolute paths (see pasteboardformats::localFilePath).
  QStringList localFilePaths() const;
  // A picture carried as PNG/JPEG bytes whose header declares at most
  // pasteboardformats::kMaxPicturePixels, or as image data of this process; null otherwise.
  QImage image() const;

  // Qt's drag takes the data and deletes it with the drag, which may outlive the drop while
  // the receiver reads; the pasteboard reads it until then.
  QMimeData* releaseMimeDataForDrag();
  const QMimeData* mimeData() const { return mData.data(); }

 private:
  class ProvidingData;
  ProvidingData* mOwned = nullptr;  // owned until handed to a drag, then null
  QPointer<const QMimeData> mData;
};

}  // namespace platform
