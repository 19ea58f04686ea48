#pragma once
// The top object of a document file: {"ideaDocumentDataObject": {"fileFormatVersion",
// "idea", "dateCreated", "dateModified", "appInstance", "appInstallation", "replacedChanges",
// "replacedValues", "replacedTrees", "replacedTreeOwners"}}.

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
  // The writer's installation, as read; the one written (the process's own when empty).
  QString appInstallation;
  QString writerInstallation;
  // Changes of other instances this file's writer replaced with its own, so that the instance
  // that made them can tell its user: "<instance>[@<installation>]\t<idea identifier>\t<what>"
  // each. Written only when there are any; older readers skip the member, and take an entry
  // of an installation for one of another instance. What tells each loss from another of the
  // same value (IdeaMergeConflict::lostValue) goes in "replacedValues", position by position,
  // which older readers skip.
  std::vector<IdeaMergeConflict> replacedChanges;
  // The trees of the instances named there, as they last wrote them ("replacedTrees", with
  // "replacedTreeOwners" holding "<instance>@<installation>" of each, in order).
  std::vector<ReplacedTree> replacedTrees;

  QString className() const override { return QString::fromLatin1(kClassName); }
  void encodeWithCoder(KeyedEncoder& coder) const override;
};

}  // namespace orrery
