#include "model/idea_document_data_object.h"

#include "foundation/globals.h"
#include "model/idea_identifier_mending.h"

#include <algorithm>
#include <utility>

namespace orrery {

namespace {

const bool registered = KeyedClassRegistry::add<IdeaDocumentDataObject>();

// "<instance>@<installation>", or the instance alone when the installation is not known.
QString ownerText(const QString& instance, const QString& installation) {
  return installation.isEmpty() ? instance : instance + QLatin1Char('@') + installation;
}

// The instance and installation of an owner text.
std::pair<QString, QString> ownerOf(const QString& text) {
  const qsizetype at = text.lastIndexOf(QLatin1Char('@'));
  if (at < 0) return {text, QString()};
  return {text.left(at), text.mid(at + 1)};
}

}  // namespace

std::shared_ptr<IdeaDocumentDataObject> IdeaDocumentDataObject::createWithCoder(KeyedDecoder& coder) {
  (void)registered;
  auto object = std::make_shared<IdeaDocumentDataObject>();
  object->fileFormatVersion = coder.decodeIntForKey("fileFormatVersion");
  object->idea = decodeMendingRepeatedIdentifiers([&] { return coder.decodeObjectOfClassForKey<Idea>("idea"); });
  object->dateCreated = coder.decodeDateForKey("dateCreated");
  object->dateModified = coder.decodeDateForKey("dateModified");
  if (coder.containsValueForKey("appInstance")) object->appInstance = coder.decodeStringForKey("appInstance");
  if (coder.containsValueForKey("appInstallation"))
    object->appInstallation = coder.decodeStringForKey("appInstallation");
  if (coder.containsValueForKey("replacedChanges")) {
    // Position by position; files of earlier versions have no values.
    const QStringList values =
        coder.containsValueForKey("replacedValues") ? coder.decodeStringsForKey("replacedValues") : QStringList();
    const QStringList entries = coder.decodeStringsForKey("replacedChanges");
    for (qsizetype i = 0; i < entries.size(); ++i) {
      const QString& entry = entries[i];
      // The identifier is whatever lies between the first and the last tab.
      const qsizetype first = entry.indexOf(QLatin1Char('\t')), last = entry.lastIndexOf(QLatin1Char('\t'));
      if (first <= 0 || last <= first) continue;
      const auto [instance, installation] = ownerOf(entry.left(first));
      object->replacedChanges.push_back(
          {entry.mid(first + 1, last - first - 1), entry.mid(last + 1), instance, installation, values.value(i)});
    }
  }
  if (coder.containsValueForKey("replacedTrees") && coder.containsValueForKey("replacedTreeOwners")) {
    const QStringList owners = coder.decodeStringsForKey("replacedTreeOwners");
    // Position by position: an element that is no idea leaves its owner without a tree.
    const auto trees = decodeMendingRepeatedIdentifiers([&] { return coder.decodeObjectsForKey("replacedTrees"); });
    for (std::size_t i = 0; i < trees.size() && i < std::size_t(owners.size()); ++i) {
      auto tree = std::dynamic_pointer_cast<Idea>(trees[i]);
      if (!tree) continue;
      const auto [instance, installation] = ownerOf(owners[qsizetype(i)]);
      object->replacedTrees.push_back({instance, installation, std::move(tree)});
    }
  }
  return object;
}

void IdeaDocumentDataObject::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeInt(static_cast<std::int32_t>(fileFormatVersion), "fileFormatVersion");
  coder.encodeObject(idea, "idea");
  coder.encodeDate(dateCreated, "dateCreated");
  coder.encodeDate(dateModified, "dateModified");
  coder.encodeString(writerMark.isEmpty() ? Globals::appInstance() : writerMark, "appInstance");
  coder.encodeString(writerInstallation.isEmpty() ? Globals::appInstallation() : writerInstallation, "appInstallation");
  if (replacedChanges.empty()) return;
  QStringList entries, values;
  for (const IdeaMergeConflict& change : replacedChanges) {
    entries << ownerText(change.instance, change.installation) + QLatin1Char('\t') + change.identifier +
                   QLatin1Char('\t') + change.what;
    values << change.lostValue;
  }
  coder.encodeStrings(entries, "replacedChanges");
  // A member of its own: earlier versions read the entries as they always were.
  if (std::any_of(values.begin(), values.end(), [](const QString& value) { return !value.isEmpty(); }))
    coder.encodeStrings(values, "replacedValues");
  if (replacedTrees.empty()) return;
  QStringList owners;
  std::vector<IdeaPtr> trees;
  for (const ReplacedTree& replaced : replacedTrees) {
    owners << ownerText(replaced.instance, replaced.installation);
    trees.push_back(replaced.tree);
  }
  coder.encodeStrings(owners, "replacedTreeOwners");
  coder.encodeObjects(trees, "replacedTrees");
}

}  // namespace orrery
