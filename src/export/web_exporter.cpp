#include "export/web_exporter.h"

#include "export/image_exporter.h"
#include "export/text_exporter.h"
#include "export/tree_walk.h"
#include "export/zip/zip_archive.h"
#include "foundation/logging.h"
#include "model/json_encoder.h"
#include "platform/core/dispatch.h"
#include "platform/services/qt_regular_file.h"
#include "platform/services/resources.h"

#include <QRegularExpression>
#include <QSet>

#include <zlib.h>

#include <algorithm>
#include <future>
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

const char* modeWord(WebExportStyle style) {
  switch (style) {
    case 1: return "embedded";
    case 2: return "fullpage";
    default: return "presentation";
  }
}

// Runs `work` on a default global-queue thread; the future gives its result.
template <typename Result>
std::future<Result> startInBackground(std::function<Result()> work) {
  auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
  std::future<Result> result = task->get_future();
  platform::globalQueue().async([task] { (*task)(); });
  return result;
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

QByteArray WebExporter::createDataJS(const Idea& root, const PictureNames& names, WebExportStyle style) {
  // Written straight into one buffer, each record's keys in the order a JSON object sorts
  // them; the children ("ideas") come between "icon" and "identifier".
  QByteArray out;
  out.reserve(root.calculateWholeTreeSize() * 96 + 64);
  out += "globalOrreryData = { \"rootIdea\": ";
  auto key = [&](const char* name) {
    if (out.back() != '{') out += ',';
    out += '"';
    out += name;
    out += "\":";
  };
  auto string = [&](const char* name, QStringView value) {
    key(name);
    JSONEncoder::appendString(out, value);
  };
  walkTree(
      root, 0,
      [&](const Idea& idea, qint64 /*level*/) {
        out += '{';
        const QString base = names.value(&idea);
        if (idea.hasColor()) string("bgcolor", hexStringForColor(idea));
        if (!idea.bigImageData().isEmpty() && !base.isEmpty()) string("bigImage", bigImageNameFor(base));
        key("elemtype");
        out += QByteArray::number(static_cast<qint64>(idea.ideaType()));
        if (idea.hasIcon() && idea.iconImage()) string("icon", idea.iconImage()->name());
        key("ideas");
        out += '[';
      },
      [&](const Idea& idea, qint64 /*level*/) {
        out += ']';
        string("identifier", idea.identifier());
        const QString base = names.value(&idea);
        if (!idea.image().isNull() && !base.isEmpty()) string("image", imageNameFor(base));
        if (idea.isLink()) string("linkedIdea", idea.linkedIdentifier());
        if (idea.hasNote()) string("note", idea.note());
        if (idea.hasText()) string("text", idea.text());
        if (idea.hasURL()) string("url", idea.URL());
        out += '}';
      },
      [&](const Idea& /*child*/) {
        if (out.back() != '[') out += ',';
      });
  out += ",\n\"mode\": \"";
  out += modeWord(style);
  out += "\" };";
  return out;
}

QString WebExporter::processResourceTemplate(const QString& name, const QString& type,
                                             const QList<std::pair<QString, QString>>& params, QString* error) {
  const QString path = platform::pathForResource(name, type);
  QByteArray bytes;
  QString why = QStringLiteral("missing");
  if (path.isEmpty() || platform::readRegularFile(path, platform::kMaxInstalledFileBytes, &bytes, &why) !=
                            platform::RegularFileRead::Read) {
    ORRERY_SOFT_ASSERT(false, "+[WebExporter processResourceTemplate:ofType:params:]");
    *error = QStringLiteral("%1.%2: %3").arg(name, type, why);
    return {};
  }
  QString text = QString::fromUtf8(bytes);
  for (const auto& [key, value] : params) text.replace(key, value);
  return text;
}

MyResultPtr WebExporter::exportNow(const IdeaPtr& frozen, WebExportStyle style, const QString& destination) {
  // Every entry goes straight into the archive; the bundled scripts and emoji pictures are
  // copied still compressed.
  const QString includeArchive = platform::pathForResource(QStringLiteral("web_include"), QStringLiteral("zip"));
  if (includeArchive.isEmpty()) return failure(QStringLiteral("web_include.zip: missing"));
  const QString emoji =
      style == 0 ? platform::pathForResource(QStringLiteral("web_twemoji"), QStringLiteral("zip")) : QString();
  if (style == 0 && emoji.isEmpty()) return failure(QStringLiteral("web_twemoji.zip: missing"));

  QString error;
  const bool written = ZipArchive::createZipFile(
      destination,
      [&](ZipArchive& archive, QString* why) {
        // The preview is drawn and encoded on a thread of its own while the other entries are
        // written, from a reduced copy: copying resolves links, which caches in the source, so
        // the copy is made here, and the snapshot is only ever read on one thread at a time.
        // What the thread touches it owns: an early return here does not wait for it.
        auto previewError = std::make_shared<QString>();
        std::future<QByteArray> preview = startInBackground<QByteArray>(
            [reduced = frozen->ideaByRestrictingElements(kPreviewIdeaCount), previewError] {
              return ImageExporter::generatePNGImageFromIdea(reduced, /*transparency=*/false, previewError.get());
            });

        // 1. Every picture.
        const PictureNames names = pictureNamesFor(*frozen);
        bool picturesWritten = true;
        walkTree(*frozen, 0, [&](const Idea& idea, qint64 /*level*/) {
          const QString base = names.value(&idea);
          if (!picturesWritten || base.isEmpty()) return;
          if (!idea.image().isNull()) {
            const QByteArray png = idea.image().pngData();
            if (png.isEmpty()) {
              *why = QStringLiteral("%1: the picture cannot be encoded").arg(imageNameFor(base));
              picturesWritten = false;
              return;
            }
            picturesWritten = archive.writeData(png, QLatin1String("files/") + imageNameFor(base), why);
          }
          if (picturesWritten && !idea.bigImageData().isEmpty())
            picturesWritten = archive.writeData(idea.bigImageData(), QLatin1String("files/") + bigImageNameFor(base), why);
        });
        if (!picturesWritten) return false;

        // The record, data.js, is written out and deflated on another thread meanwhile; from
        // here on this one leaves the snapshot alone. Zlib's fastest level: a third of the
        // time for a few per cent more bytes, on the step the export waits for.
        const QString title = frozen->exportTitle();
        std::future<ZipArchive::DeflatedData> data = startInBackground<ZipArchive::DeflatedData>(
            [frozen, names, style] { return ZipArchive::deflate(createDataJS(*frozen, names, style), Z_BEST_SPEED); });

        // 2. The page, its title escaped.
        const QString index = processResourceTemplate(
            QStringLiteral("web_index"), QStringLiteral("html"),
            {{QStringLiteral("{{title}}"), TextExporter::htmlEscape(title)},
             // Only a presentation carries the emoji pictures and their table.
             {QStringLiteral("{{emoji}}"),
              style == 0 ? QStringLiteral("<script src=\"include/twemoji/index.js\"></script>\n") : QString()}},
            why);
        if (!why->isEmpty() || !archive.writeData(index.toUtf8(), QStringLiteral("index.html"), why)) return false;

        // 3. and 4. Scripts and styles; the emoji pictures for a presentation.
        if (!archive.copyEntriesFrom(includeArchive, QString(), why)) return false;
        if (style == 0) {
          if (!archive.copyEntriesFrom(emoji, QStringLiteral("include/"), why)) return false;
        } else {
          // 5. The how-to page.
          const QString howto = processResourceTemplate(QStringLiteral("web_howto"), QStringLiteral("html"), {}, why);
          if (!why->isEmpty() || !archive.writeData(howto.toUtf8(), QStringLiteral("HOW_TO_USE.html"), why))
            return false;
        }

        // 6. The record and the preview.
        if (!archive.writeDeflated(data.get(), QStringLiteral("files/data.js"), why)) return false;
        const QByteArray png = preview.get();
        if (png.isEmpty()) {
          *why = QStringLiteral("preview.png: %1").arg(*previewError);
          return false;
        }
        return archive.writeData(png, QStringLiteral("files/preview.png"), why);
      },
      &error);
  return written ? MyResult::OK() : failure(error);
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
