#pragma once
// Copies of documents whose edits could not reach their own files when the program was ended
// (a signal at logout, a full disk): kept in the program's data folder, whole and readable as
// any document file, until the next start offers them to the user.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

namespace orrery {

struct EncodedDocument;

// "<data folder>/Recovered Documents"; empty when the data folder is unknown.
QString recoveryFolder();

// Writes `bytes` (a document file's content) as a new copy named after the file at
// `originalPath` and the time, when they open as a document; answers the copy's path, or empty
// with the reason (bytes that are empty or do not read back are not written).
QString keepRecoveryCopy(const QString& originalPath, const QByteArray& bytes, QString* reason = nullptr);
// The same for a document file as the writer made it: one a limit refused gives that reason.
QString keepRecoveryCopy(const QString& originalPath, const EncodedDocument& file, QString* reason = nullptr);

struct RecoveryCopy {
  QString path;
  QString title;   // the map's, as its root idea names it
  QDateTime kept;  // when the copy was written
};

// The copies waiting to be offered, oldest first: those that open as documents. An empty or
// unreadable file there (one a newer version wrote, say) stays where it is and is logged.
std::vector<RecoveryCopy> recoveryCopiesToOffer();
// Their paths.
QStringList recoveryCopies();

// Whether the folder holds a file that may be a copy: a look at names and sizes only, where
// recoveryCopies reads each file whole.
bool mayHaveRecoveryCopies();

}  // namespace orrery
