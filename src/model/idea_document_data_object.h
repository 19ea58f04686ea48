#pragma once
// The top object of a document file: {"ideaDocumentDataObject": {"fileFormatVersion",
// "idea", "dateCreated", "dateModified", "appInstance", "replacedChanges"}}.

#include "model/idea.h"
#include "model/idea_merge.h"
#include "model/keyed_coding.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

namespace orrery {

class IdeaDocumentDataObject final : public KeyedCodable {
 public:
  static constexpr char kClassName[] = "IdeaDocumentDataObject";
  // The version written; 1 to 3 are read alike.
  static constexpr std::int64_t kCurrentFileFormatVersion = 3;

  static std::shared_ptr<IdeaDocumentDataObject> createWithCoder(KeyedDecoder& coder);

  std::int64_t fileFormatVersion = 0;
  IdeaPtr idea;
  QDateTime dateCreated;
  QDateTime dateModified;
  // As read; on writing, the writing process's own mark is stored instead.
  QString appInstance;
  // The mark written; the process's own when empty (set it when encoding off the main thread).
  QString writerMark;
  // Changes of other instances this file's writer replaced with its own, so that the instance
  // that made them can tell its user: "<instance>\t<idea identifier>\t<what>" each. Written
  // only when there are any; older readers skip the member.
  std::vector<IdeaMergeConflict> replacedChanges;

  QString className() const override { return QString::fromLatin1(kClassName); }
  void encodeWithCoder(KeyedEncoder& coder) const override;
};

}  // namespace orrery
