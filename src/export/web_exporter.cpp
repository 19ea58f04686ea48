#include "export/web_exporter.h"

#include "export/image_exporter.h"
#include "export/text_exporter.h"
#include "export/tree_walk.h"
#include "export/zip/zip_archive.h"
#include "foundation/logging.h"
#include "model/file_utils.h"
#include "platform/core/dispatch.h"
#include "platform/services/resources.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <vector>

namespace orrery {

namespace {

// What a failed step reports: the file and the system's reason.
struct StepError {
  QString message;
};

MyResultPtr failure(const QString& message) {
  logLine(QStringLiteral("Web export failed: %1").arg(message));
  return MyResult::error(QString(), message);
}

bool writeData(const QByteArray& data, const QString& path, QString* error) {
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit()) return true;
  *error = QStringLiteral("%1: %2").arg(path, file.errorString());
  return false;
}

const char* modeWord(WebExportStyle style) {
  switch (style) {
    case 1: return "embedded";
    case 2: return "fullpage";
    default: return "presentation";
  }
}

bool isPlainFileName(const QString& name) {
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]{0,99}$"));
  return plain.match(name).hasMatch();
}

}  // namespace

platform::SerialQueue& WebExporter::queue() {
  static platform::SerialQueue* queue = new platform::SerialQueue("orrery.webexporter");
  return *queue;
}

WebExporter::PictureNames WebExporter::pictureNamesFor(const Idea& root) {
  PictureNames names;
  QSet<QString> taken;  // lower case: the archive may be unpacked where case does not count
  qint64 generated = 0;
  walkTree(root, 0, [&](const Idea& idea, qint64 /*level*/) {
    if (idea.image().isNull() && idea.bigImageData().isEmpty()) return;
    QString name = idea.identifier();
    if (!isPlainFileName(name) || taken.contains(name.toLower())) {
      do {
        name = QStringLiteral("picture-%1").arg(++generated);
      } while (taken.contains(name.toLower()));
    }
    taken.insert(name.toLower());
    names.insert(&idea, name);
  });
  return names;
}

QString WebExporter::hexStringForColor(const Idea& idea) {
  if (!idea.color()) return QStringLiteral("#000000");
  const RGBAValues& c = idea.color()->rgba();
  // Components are 0 … 255 already; truncated.
  auto byte = [](double v) { return std::clamp(static_cast<int>(v), 0, 255); };
  return QString::asprintf("#%02X%02X%02X", byte(c.r), byte(c.g), byte(c.b));
}

QJsonObject WebExporter::exportIdea(const Idea& root, const PictureNames& names) {
  // Built bottom-up with an explicit stack: each record is finished when its children are.
  std::vector<QJsonObject> open;
  std::vector<QJsonArray> children;
  QJsonObject result;
  walkTree(
      root, 0,
      [&](const Idea& idea, qint64 /*level*/) {
        QJsonObject record;
        record.insert(QStringLiteral("elemtype"), static_cast<qint64>(idea.ideaType()));
        record.insert(QStringLiteral("identifier"), idea.identifier());
        if (idea.hasText()) record.insert(QStringLiteral("text"), idea.text());
        if (idea.hasColor()) record.insert(QStringLiteral("bgcolor"), hexStringForColor(idea));
        if (idea.hasNote()) record.insert(QStringLiteral("note"), idea.note());
        if (idea.hasIcon() && idea.iconImage()) record.insert(QStringLiteral("icon"), idea.iconImage()->name());
        if (idea.hasURL()) record.insert(QStringLiteral("url"), idea.URL());
        const QString base = names.value(&idea);
        if (!idea.image().isNull() && !base.isEmpty()) record.insert(QStringLiteral("image"), imageNameFor(base));
        if (!idea.bigImageData().isEmpty() && !base.isEmpty())
          record.insert(QStringLiteral("bigImage"), bigImageNameFor(base));
        if (idea.isLink()) record.insert(QStringLiteral("linkedIdea"), idea.linkedIdentifier());
        open.push_back(record);
        children.emplace_back();
      },
      [&](const Idea& /*idea*/, qint64 /*level*/) {
        QJsonObject record = std::move(open.back());
        record.insert(QStringLiteral("ideas"), children.back());
        open.pop_back();
        children.pop_back();
        if (children.empty()) result = record;
        else children.back().append(record);
      });
  return result;
}

QString WebExporter::createDataJS(const QJsonObject& record, WebExportStyle style) {
  return QStringLiteral("globalOrreryData = { \"rootIdea\": ") +
         QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact)) +
         QStringLiteral(",\n\"mode\": \"%1\" };").arg(QLatin1String(modeWord(style)));
}

QString WebExporter::processResourceTemplate(const QString& name, const QString& type,
                                             const QList<std::pair<QString, QString>>& params, QString* error) {
  const QString path = platform::pathForResource(name, type);
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
    ORRERY_SOFT_ASSERT(false, "+[WebExporter processResourceTemplate:ofType:params:]");
    *error = QStringLiteral("%1.%2: %3").arg(name, type,
                                             path.isEmpty() ? QStringLiteral("missing") : file.errorString());
    return {};
  }
  QString text = QString::fromUtf8(file.readAll());
  for (const auto& [key, value] : params) text.replace(key, value);
  return text;
}

MyResultPtr WebExporter::exportNow(const IdeaPtr& frozen, WebExportStyle style, const QString& destination) {
  const QString staging = FileUtil::temporaryDirectoryForFile();
  if (staging.isEmpty()) return failure(QStringLiteral("the staging folder cannot be created"));
  struct Cleanup {
    QString folder;
    ~Cleanup() { QDir(folder).removeRecursively(); }
  } cleanup{staging};

  QString error;
  const QString include = FileUtil::createDirectory(QStringLiteral("include"), staging);
  const QString files = FileUtil::createDirectory(QStringLiteral("files"), staging);
  if (include.isEmpty() || files.isEmpty()) return failure(QStringLiteral("%1: folders cannot be created").arg(staging));

  // 1. The record, data.js and every picture.
  const PictureNames names = pictureNamesFor(*frozen);
  const QString dataJS = createDataJS(exportIdea(*frozen, names), style);
  bool picturesWritten = true;
  walkTree(*frozen, 0, [&](const Idea& idea, qint64 /*level*/) {
    const QString base = names.value(&idea);
    if (!picturesWritten || base.isEmpty()) return;
    if (!idea.image().isNull()) {
      const QByteArray png = idea.image().pngData();
      if (png.isEmpty()) {
        error = QStringLiteral("%1: the picture cannot be encoded").arg(imageNameFor(base));
        picturesWritten = false;
        return;
      }
      picturesWritten = writeData(png, files + QLatin1Char('/') + imageNameFor(base), &error);
    }
    if (picturesWritten && !idea.bigImageData().isEmpty())
      picturesWritten = writeData(idea.bigImageData(), files + QLatin1Char('/') + bigImageNameFor(base), &error);
  });
  if (!picturesWritten) return failure(error);
  if (!writeData(dataJS.toUtf8(), files + QLatin1String("/data.js"), &error)) return failure(error);

  // 2. The page, its title escaped.
  const QString index = processResourceTemplate(
      QStringLiteral("web_index"), QStringLiteral("html"),
      {{QStringLiteral("{{title}}"), TextExporter::htmlEscape(frozen->exportTitle())},
       // Only a presentation carries the emoji pictures and their table.
       {QStringLiteral("{{emoji}}"),
        style == 0 ? QStringLiteral("<script src=\"include/twemoji/index.js\"></script>\n") : QString()}},
      &error);
  if (!error.isEmpty() || !writeData(index.toUtf8(), staging + QLatin1String("/index.html"), &error))
    return failure(error);

  // 3. and 4. Scripts and styles; the emoji pictures for a presentation.
  ZipError zipError;
  const QString includeArchive = platform::pathForResource(QStringLiteral("web_include"), QStringLiteral("zip"));
  if (includeArchive.isEmpty()) return failure(QStringLiteral("web_include.zip: missing"));
  if (!ZipArchive::unzipFileAtPath(includeArchive, staging, &zipError))
    return failure(QStringLiteral("web_include.zip: %1").arg(zipError.description));
  if (style == 0) {
    const QString emoji = platform::pathForResource(QStringLiteral("web_twemoji"), QStringLiteral("zip"));
    if (emoji.isEmpty()) return failure(QStringLiteral("web_twemoji.zip: missing"));
    if (!ZipArchive::unzipFileAtPath(emoji, include, &zipError))
      return failure(QStringLiteral("web_twemoji.zip: %1").arg(zipError.description));
  } else {
    // 5. The how-to page.
    const QString howto = processResourceTemplate(QStringLiteral("web_howto"), QStringLiteral("html"), {}, &error);
    if (!error.isEmpty() || !writeData(howto.toUtf8(), staging + QLatin1String("/HOW_TO_USE.html"), &error))
      return failure(error);
  }

  // 6. The preview.
  QString previewError;
  const QByteArray png = ImageExporter::generatePNGImageFromIdea(frozen->ideaByRestrictingElements(kPreviewIdeaCount),
                                                                 /*transparency=*/false, &previewError);
  if (png.isEmpty()) return failure(QStringLiteral("preview.png: %1").arg(previewError));
  if (!writeData(png, files + QLatin1String("/preview.png"), &error)) return failure(error);

  // 7. The archive.
  if (!ZipArchive::createZipFileAtPath(destination, staging, &error)) return failure(error);
  return MyResult::OK();
}

void WebExporter::saveWebExportFrom(const IdeaPtr& root, WebExportStyle style, const QString& destination,
                                    Completion completion) {
  auto finish = [completion](MyResultPtr result) {
    if (completion) platform::mainQueue().async([completion, result] { completion(result); });
  };
  if (!ORRERY_SOFT_ASSERT(root && !destination.isEmpty(), "+[WebExporter saveWebExportFrom:style:intoURL:onCompletion:]")) {
    finish(failure(root ? QStringLiteral("no file to write to") : QStringLiteral("no map to export")));
    return;
  }
  // The snapshot is taken now: an edit after this call is not exported.
  IdeaPtr frozen = root->snapshotCopy();
  queue().async([frozen, style, destination, finish] { finish(exportNow(frozen, style, destination)); });
}

}  // namespace orrery
