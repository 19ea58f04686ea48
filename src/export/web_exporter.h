#pragma once
// Writes a map as a self-contained web page or presentation: a zip archive holding the page
// ("index.html", its scripts and styles), "files/data.js" with the whole tree, a preview
// picture and every picture of the map.
//
// The call takes one snapshot of the tree on the calling (main) thread and returns at once.
// Every later step, the reduced copy for the preview among them, reads only that snapshot, in
// one task on the serial queue "orrery.webexporter"; the first failure skips the rest. The
// archive is written beside the destination, entry by entry with nothing staged on disk, and
// renamed over it when complete, so a failure leaves the old file. One completion, on
// the main queue, with OK or an error naming the file and the reason.

#include "foundation/my_result.h"
#include "model/idea.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>

namespace platform {
class SerialQueue;
}

namespace orrery {

// 0 presentation, 1 web page with cover, 2 web page without cover; others as the table says.
using WebExportStyle = std::uint64_t;

class WebExporter {
 public:
  using Completion = std::function<void(const MyResultPtr& result)>;
  // The preview shows whole levels while their running count stays below this.
  static constexpr qint64 kPreviewIdeaCount = 75;

  // Main thread.
  static void saveWebExportFrom(const IdeaPtr& root, WebExportStyle style, const QString& destination,
                                Completion completion);
  static platform::SerialQueue& queue();

  // Picture file names by the idea they belong to: its identifier when that makes a plain file
  // name not used before, otherwise a generated one (two ideas may share an identifier).
  using PictureNames = QHash<const Idea*, QString>;
  static PictureNames pictureNamesFor(const Idea& root);
  // The data.js text (UTF-8): the element records of the idea and its subtree.
  static QByteArray createDataJS(const Idea& root, const PictureNames& names, WebExportStyle style);
  static QString hexStringForColor(const Idea& idea);
  static QString imageNameFor(const QString& base) { return base + QLatin1String("_mini.png"); }
  static QString bigImageNameFor(const QString& base) { return base + QLatin1String(".jpg"); }
  // A bundle template's text with each key replaced by its value; empty with `error` set when
  // the template cannot be read.
  static QString processResourceTemplate(const QString& name, const QString& type,
                                         const QList<std::pair<QString, QString>>& params, QString* error);

  // The whole export, on the calling thread, from copies nobody changes.
  static MyResultPtr exportNow(const IdeaPtr& frozen, WebExportStyle style, const QString& destination);
};

}  // namespace orrery
