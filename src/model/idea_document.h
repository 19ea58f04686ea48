#pragma once
// One mind-map document: an identifier that says where it lives, the root idea, its dates,
// the instance mark of the process that last wrote its file, and the tokens of the parties
// that have it open. For temporary and local documents it is also the storage engine: open,
// create, save and close go through its file presenter with coordinated file access.
// Main thread only, except where said.

#include "model/document_location.h"

#include "platform/core/dispatch.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <set>

namespace orrery {

class Idea;
class IdeaFilePresenter;

class IdeaDocument : public std::enable_shared_from_this<IdeaDocument> {
 public:
  using TokenCompletion = std::function<void(DocumentToken)>;
  using BoolCompletion = std::function<void(bool)>;

  // An empty document (no tokens, no idea); location and path come from the identifier.
  static std::shared_ptr<IdeaDocument> createWithIdentifier(const QString& identifier);
  // A document for a path (a bare file name outside local files) in a location; an empty
  // path gets a new file name.
  static std::shared_ptr<IdeaDocument> createWithFileName(const QString& path, DocumentLocation location);
  ~IdeaDocument();
  IdeaDocument(const IdeaDocument&) = delete;
  IdeaDocument& operator=(const IdeaDocument&) = delete;

  // Identifiers and names. Local-file identifiers hold the canonical absolute path, so two
  // spellings of one file give one identifier.
  static QString docIdentifierFromPath(const QString& path, DocumentLocation location);
  static QString pathFromIdentifier(const QString& identifier);
  static DocumentLocation locationFromIdentifier(const QString& identifier);
  static QString createNewDocFileName();
  static bool fileNamingSchemeMatches(const QString& fileName);
  static DocumentToken nextToken();

  const QString& docIdentifier() const { return mDocIdentifier; }
  // The identifier string itself, as the storage engines use it.
  const QString& fileURL() const { return mDocIdentifier; }
  DocumentLocation location() const { return mLocation; }
  const QString& filePath() const { return mFilePath; }
  bool isTempFile() const { return mLocation == DocumentLocationTemp; }
  bool inCloud() const { return mLocation == DocumentLocationICloud; }
  QString localFileName() const;
  // For local files the file URL; otherwise the identifier read as a URL (invalid if it is none).
  QUrl representativeURL() const;
  bool refersToURL(const QUrl& url) const;
  const QString& appInstance() const { return mAppInstance; }
  const QString& lastUserFriendlyError() const { return mLastUserFriendlyError; }
  bool inConflict() const { return false; }
  bool canBeDeleted() const { return true; }
  void resolvePotentialConflict() {}
  QString description() const;

  const std::shared_ptr<Idea>& idea() const { return mIdea; }
  void setIdea(std::shared_ptr<Idea> idea) { mIdea = std::move(idea); }
  const QDateTime& dateCreated() const { return mDateCreated; }
  void setDateCreated(const QDateTime& date) { mDateCreated = date; }
  const QDateTime& dateModified() const { return mDateModified; }
  void setDateModified(const QDateTime& date) { mDateModified = date; }

  // The queue that carries this document's file writes: the persistence facade's, handed over
  // when the facade makes or takes the document (it must outlive the document). A document
  // nobody handed one to makes a queue of its own at its first write.
  void setWorkQueue(platform::Queue* queue) { mWorkQueue = queue; }
  platform::Queue& workQueue();

  QString exportFileName() const;
  QString documentWindowName() const;

  // Storage. Completions run on the main queue.
  void openFromURL(const QUrl& url, TokenCompletion completion);
  void createAtURL(const QUrl& url, TokenCompletion completion);
  void updateWithToken(DocumentToken token, BoolCompletion completion);
  void closeWithToken(DocumentToken token, BoolCompletion completion);
  bool goodToken(DocumentToken token) const { return token >= 1 && mTokens.count(token) > 0; }
  // True while a presenter is held, i.e. between a successful open or create and the return
  // of the last token.
  bool isOpen() const { return mFilePresenter != nullptr; }
  size_t tokenCount() const { return mTokens.size(); }
  // Reads the file into this document without tokens.
  void readFromURL(const QUrl& url, BoolCompletion completion);
  // Writes the compressed document to a file on the persistence work queue; the bytes are
  // taken now, on the calling thread.
  void writeToLocalFileAt(const QUrl& url, BoolCompletion completion);

  // Codec. The exports are empty for a document without a root idea.
  QByteArray exportAsPureJSONData() const;
  QByteArray exportAsOrreryData() const;
  bool loadFromJSONData(const QByteArray& data, DocumentError* error = nullptr);
  bool loadFromOrreryData(const QByteArray& data, DocumentError* error = nullptr);
  bool loadFromOPMLData(const QByteArray& data, DocumentError* error = nullptr);

 private:
  IdeaDocument(QString identifier, DocumentLocation location, QString path);
  bool fail(int code, const char* key, const char* defaultText, DocumentError* error);
  void createAttempt(const QUrl& url, DocumentToken token, int attemptsLeft, TokenCompletion completion);
  void takeNewFileName();
  QString ideaDescription() const;

  QString mDocIdentifier;
  DocumentLocation mLocation = DocumentLocationTemp;
  QString mFilePath;
  std::set<DocumentToken> mTokens;
  std::shared_ptr<IdeaFilePresenter> mFilePresenter;
  QString mAppInstance;
  QString mLastUserFriendlyError;
  std::shared_ptr<Idea> mIdea;
  QDateTime mDateCreated;
  QDateTime mDateModified;
  // The name was made here, not chosen by the user: it may move on when another instance
  // created a file of that name first.
  bool mNameIsOurs = false;
  bool mCreateInFlight = false;
  platform::Queue* mWorkQueue = nullptr;
  std::unique_ptr<platform::SerialQueue> mOwnQueue;
};

}  // namespace orrery
