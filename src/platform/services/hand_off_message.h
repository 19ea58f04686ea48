#pragma once
// The one message a later launch sends to the running instance: a 4-byte big-endian length,
// then a UTF-8 JSON array of strings. Each string is an absolute path or a sign-in redirect
// ("db-…" URL); the sender makes relative paths absolute and turns file URLs into paths
// before sending, so the receiver never needs the sender's working folder. The receiver
// trusts nothing: whatever reaches the socket is read through `HandOffMessageReader`.
// Qt Core only; any thread.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

namespace handoff {

// A body longer than this is refused before it is buffered.
constexpr qint32 kMaxMessageBytes = 1 << 20;
constexpr int kHeaderBytes = 4;

// Arguments as they travel: paths absolute (against `workingFolder`) and clean, file URLs as
// paths, sign-in redirects as they are; empty arguments, URLs that name no local file and the
// "--" that ends the options are dropped.
QStringList normalizedArguments(const QStringList& arguments, const QString& workingFolder);

// The absolute, clean path of the file `name` names from `workingFolder`: a path, or a file: URL
// of this computer (any case of "file:", fully decoded). Empty when it names no local file: a URL
// of another computer or whose path is empty or holds a NUL. A name is never a Qt resource, even
// one that starts with ":", and a ".." goes up from where the folder before it really is, as the
// system goes, when that folder exists.
QString localPathNamed(const QString& name, const QString& workingFolder);

// The whole message, header included.
QByteArray encodeMessage(const QStringList& arguments);

// The arguments of one message body (without its header); none, with `error` set, when it is
// not a JSON array of acceptable arguments.
std::optional<QStringList> decodeMessage(const QByteArray& body, QString* error = nullptr);

// True for what a sender may hand over: an absolute path (one that starts with "/") without NUL,
// or a sign-in redirect.
bool isAcceptableArgument(const QString& argument);
// A sign-in redirect: a URL whose scheme starts "db-" ("db-<app key>://…"). A file named
// "db-notes.orrery" is a path, not a redirect.
bool isRedirectURL(const QString& argument);

// The arguments split over as few messages as keep each body within kMaxMessageBytes, in
// order (at least one message, so that no arguments still raise the window). An argument too
// long to travel even alone (longer than any path) is left out and named in `dropped`.
QList<QStringList> splitIntoMessages(const QStringList& arguments, QStringList* dropped = nullptr);

}  // namespace handoff

// Collects one message from bytes as they arrive on a connection.
class HandOffMessageReader {
 public:
  enum class State { NeedMore, Complete, Refused };

  // Adds bytes and says where the message stands. Bytes after the message, and any added once
  // Complete or Refused, change nothing: however the bytes are split, the outcome is the same.
  State append(const QByteArray& bytes);
  State state() const { return mState; }
  // The arguments once Complete.
  const QStringList& arguments() const { return mArguments; }
  // Why the message was refused, for the log.
  const QString& error() const { return mError; }

 private:
  State refuse(const QString& why);

  QByteArray mBuffer;
  qint32 mLength = -1;  // the body's length, once the header is in
  State mState = State::NeedMore;
  QStringList mArguments;
  QString mError;
};

}  // namespace platform
