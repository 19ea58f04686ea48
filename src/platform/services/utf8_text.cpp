#include "platform/services/utf8_text.h"

#include <QCborStreamReader>
#include <QCborValue>
#include <QMimeData>
#include <QStringDecoder>

namespace platform {

namespace {

constexpr QByteArrayView kUtf8Mark("\xEF\xBB\xBF");
constexpr QLatin1StringView kUtf8PlainText("text/plain;charset=utf-8");

}  // namespace

QString textFromUtf8(QByteArrayView utf8) {
  if (!utf8.startsWith(kUtf8Mark)) return QString::fromUtf8(utf8);
  QStringDecoder decoder(QStringConverter::Utf8,
                         QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
  return decoder.decode(utf8);
}

QString textOfCbor(const QCborValue& value) {
  if (!value.isString()) return {};
  const QByteArray encoded = value.toCbor();
  QCborStreamReader reader(encoded);
  QByteArray utf8;
  QCborStreamReader::StringResult<qsizetype> chunk;
  do {
    const qsizetype before = utf8.size();
    utf8.resize(before + qMax<qsizetype>(reader.currentStringChunkSize(), 0));
    chunk = reader.readStringChunk(utf8.data() + before, utf8.size() - before);
    if (chunk.status == QCborStreamReader::Error) return value.toString();
    utf8.truncate(before + chunk.data);
  } while (chunk.status == QCborStreamReader::Ok);
  return textFromUtf8(utf8);
}

QString plainTextOf(const QMimeData& data) {
  if (data.hasFormat(kUtf8PlainText)) return textFromUtf8(data.data(kUtf8PlainText));
  return data.text();
}

void offerExactUtf8Text(QMimeData& data) {
  if (!data.hasText() || data.hasFormat(kUtf8PlainText)) return;
  data.setData(kUtf8PlainText, data.text().toUtf8());
}

}  // namespace platform
