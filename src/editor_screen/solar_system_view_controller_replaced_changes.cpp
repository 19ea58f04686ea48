// Changes of this instance that another instance replaced with its own values on saving: the
// tree this instance held keeps them as a new document beside this one, and the user hears
// which ideas changed under them and where their version is.

#include "editor_screen/solar_system_view_controller.h"

#include "foundation/globals.h"
#include "foundation/views/custom_alert_view.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace orrery {

namespace {

QString localized(const char* key, const char* defaultText) {
  return Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString::fromLatin1(defaultText));
}

// A local file gets a sibling named for what it holds; a cloud document a new document of its
// location, as a new document there is made.
std::shared_ptr<IdeaDocument> copyBeside(const IdeaDocument& doc) {
  if (doc.location() == DocumentLocationLocalFile) {
    const QFileInfo file(doc.filePath());
    const QString stem = file.completeBaseName() + QLatin1Char(' ') + localized("ReplacedChanges:CopySuffix", "(replaced changes)");
    const QString suffix = file.suffix().isEmpty() ? QString() : QLatin1Char('.') + file.suffix();
    QString path = file.dir().filePath(stem + suffix);
    for (int n = 2; QFileInfo::exists(path); ++n) path = file.dir().filePath(stem + QStringLiteral(" %1").arg(n) + suffix);
    return IdeaDocument::createWithIdentifier(IdeaDocument::docIdentifierFromPath(path, DocumentLocationLocalFile));
  }
  if (doc.location() == DocumentLocationICloud) return IdeaDocument::createWithFileName(QString(), DocumentLocationICloud);
  return nullptr;
}

// The idea as the user knows it: its title, else what it shows instead of one.
QString nameForAlert(const Idea* idea) {
  auto quoted = [](const QString& text) { return QStringLiteral("\u201C%1\u201D").arg(text); };
  if (!idea) return localized("ReplacedChanges:GoneIdea", "an idea deleted since");
  if (!idea->text().isEmpty()) return quoted(idea->text());
  if (idea->ideaType() == IdeaTypeURL && !idea->URL().isEmpty()) return quoted(idea->URL());
  if (idea->ideaType() == IdeaTypeImage) return localized("ReplacedChanges:Picture", "a picture");
  if (const IconImagePtr icon = idea->iconImage())
    return localized("ReplacedChanges:IdeaWithIcon", "the idea with the icon %1").arg(icon->symbol());
  return localized("ReplacedChanges:UntitledIdea", "an idea without a title");
}

}  // namespace

void SolarSystemViewController::tellAboutReplacedChanges() {
  if (!mDoc) return;
  IdeaDocument::ReplacedChanges replaced = mDoc->takeReplacedChanges();
  // Values of ours another instance replaced are named as we had them; ideas we deleted that
  // another instance kept for an edit made there, as the map holds them now.
  QStringList names, keptNames;
  for (const IdeaMergeConflict& change : replaced.changes) {
    const bool deletion = change.what == QLatin1String("deleted");
    IdeaPtr former =
        replaced.formerTree ? replaced.formerTree->findIdeaInSubTreeWithIdentifier(change.identifier) : nullptr;
    IdeaPtr now = mRootIdea ? mRootIdea->findIdeaInSubTreeWithIdentifier(change.identifier) : nullptr;
    const QString name = nameForAlert(deletion ? (now ? now : former).get() : (former ? former : now).get());
    QStringList& list = deletion ? keptNames : names;
    if (!list.contains(name)) list << name;
  }
  if (names.isEmpty() && keptNames.isEmpty()) return;
  std::weak_ptr<SolarSystemViewController> weak = self();
  auto tell = [weak, names, keptNames](const QString& copyName) {
    auto me = weak.lock();
    if (!me) return;
    QStringList sentences;
    if (!names.isEmpty()) {
      sentences << localized("ReplacedChanges:Message",
                             "Another instance of Orrery saved its own changes over yours in %1.")
                       .arg(names.join(QStringLiteral(", ")));
      sentences << (copyName.isEmpty()
                        ? localized("ReplacedChanges:NotKept", "Your version could not be kept.")
                        : localized("ReplacedChanges:Kept", "Your version is kept in \u201C%1\u201D.").arg(copyName));
    }
    if (!keptNames.isEmpty())
      sentences << localized("ReplacedChanges:DeletionUndone",
                             "Another window of Orrery edited what you deleted, so it was kept: %1.")
                       .arg(keptNames.join(QStringLiteral(", ")));
    const QString title = names.isEmpty() ? localized("ReplacedChanges:DeletionUndoneTitle", "A deleted idea was kept")
                                          : localized("ReplacedChanges:Title", "Your changes were replaced");
    CustomAlertView alert(title, sentences.join(QLatin1Char(' ')));
    alert.addButton(localized("Choice.Close", "Close"), CAVButton::kOrdinary, nullptr);
    alert.showFromWindow(me->myWindow());
  };
  // A deletion undone keeps nothing of ours: our version is the map without the idea.
  auto copy = names.isEmpty() ? nullptr : copyBeside(*mDoc);
  if (!copy || !replaced.formerTree) {
    tell(QString());
    // Told: the file stops naming it. A version that could not be kept is told again at the
    // next open.
    if (names.isEmpty()) saveCounted();
    return;
  }
  copy->setIdea(replaced.formerTree->deepCopyWithNewIdentifiersNoExternalLinks());
  // A cloud document is named by its root idea: the copy's name says what it holds, and differs
  // from the map's, where the title has room for more.
  const QString suffix = QLatin1Char(' ') + localized("ReplacedChanges:CopySuffix", "(replaced changes)");
  if (copy->location() != DocumentLocationLocalFile && copy->idea() &&
      copy->idea()->text().size() + suffix.size() <= DocumentLimits::kMaxTextLength)
    copy->idea()->setText(copy->idea()->text() + suffix);
  const QDateTime now = QDateTime::currentDateTimeUtc();
  copy->setDateCreated(now);
  copy->setDateModified(now);
  PersistenceController::singleton().createDocument(copy, [weak, copy, tell](DocumentToken token) {
    if (token >= 1) PersistenceController::singleton().releaseDocument(copy, token, nullptr);
    tell(token >= 1 ? copy->documentWindowName() : QString());
    // The file stops naming what this instance has now taken.
    if (auto me = weak.lock(); me && token >= 1) me->saveCounted();
  });
}

}  // namespace orrery
