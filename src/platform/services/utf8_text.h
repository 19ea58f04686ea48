#pragma once
// Stored UTF-8 read back exactly as it was written. Qt's own UTF-8 readers take a U+FEFF at the
// start of each text they convert for a byte-order mark and drop it (QString::fromUtf8 and so
// fromStdString and QFile::decodeName, every text string QCborValue and QJsonDocument parse,
// QMimeData::text), so a title or a name that begins with one would lose one at every read. Every
// conversion of a stored or pasted value goes through these instead; what the Qt layers read with
// QJsonDocument (absolute paths, the cloud server's answers) never begins with one. Qt Core only;
// any thread.

#include <QByteArrayView>
#include <QString>

class QCborValue;
class QMimeData;

namespace platform {

// The text of `utf8`, a leading U+FEFF kept; invalid sequences become U+FFFD, as in fromUtf8.
QString textFromUtf8(QByteArrayView utf8);

// The text of a CBOR text string as its bytes have it (toString drops a leading U+FEFF of a parsed
// one); empty for any other value.
QString textOfCbor(const QCborValue& value);

// The plain text a clipboard or a drop offers: its "text/plain;charset=utf-8" bytes when it has
// them, else what QMimeData::text reads (null when it offers no text).
QString plainTextOf(const QMimeData& data);

// Adds the exact UTF-8 bytes of the text `data` holds as "text/plain;charset=utf-8", the type
// plainTextOf reads first, unless it has that type or no text. Data this process made only:
// the text is read as it was set.
void offerExactUtf8Text(QMimeData& data);

}  // namespace platform
