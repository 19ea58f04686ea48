#include "foundation/data_extensions.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace orrery::dataext {

std::optional<QByteArray> zlibDeflate(const QByteArray& data) {
  if (data.isEmpty()) return data;
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.constData()),
                static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    return std::nullopt;
  out.truncate(static_cast<qsizetype>(size));
  return out;
}

std::optional<QByteArray> zlibInflate(const QByteArray& data, qsizetype maxOutput) {
  if (data.isEmpty()) return data;
  if (maxOutput < 0) return std::nullopt;
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return std::nullopt;

  // One byte of room beyond the limit tells a stream that exceeds it from one that ends on it.
  const qsizetype limit = maxOutput + 1;
  const qsizetype length = data.size();
  // The floor never rises above the limit: a cap below 63 would otherwise cross the bounds.
  QByteArray out(std::clamp<qsizetype>(length + length / 2, std::min<qsizetype>(64, limit), limit), Qt::Uninitialized);
  qsizetype consumed = 0;
  qsizetype produced = 0;
  int rc = Z_OK;
  for (;;) {
    if (produced == out.size()) {
      if (out.size() >= limit) break;
      out.resize(std::min<qsizetype>(out.size() * 2, limit));
    }
    const auto inChunk = static_cast<uInt>(std::min<qsizetype>(length - consumed, UINT_MAX));
    const auto outChunk = static_cast<uInt>(std::min<qsizetype>(out.size() - produced, UINT_MAX));
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData() + consumed));
    zs.avail_in = inChunk;
    zs.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    zs.avail_out = outChunk;
    rc = inflate(&zs, Z_NO_FLUSH);
    consumed += inChunk - zs.avail_in;
    produced += outChunk - zs.avail_out;
    if (rc != Z_OK) break;
  }
  const bool ended = inflateEnd(&zs) == Z_OK;
  if (rc != Z_STREAM_END || !ended || produced > maxOutput) return std::nullopt;
  out.truncate(produced);
  return out;
}

}  // namespace orrery::dataext
