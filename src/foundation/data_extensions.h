#pragma once
// The zlib stream pair (RFC 1950) that wraps every native document file.

#include <QByteArray>

#include <optional>

namespace orrery::dataext {

// No stream inflates beyond this: far more than any map, small enough to refuse a bomb.
inline constexpr qsizetype kMaxInflatedSize = qsizetype(1) << 30;

// One zlib stream at the default level; empty input is returned unchanged (empty, not a
// stream). Nothing on failure.
std::optional<QByteArray> zlibDeflate(const QByteArray& data);

// The bytes of one zlib stream; empty input is returned unchanged. Nothing for a truncated
// or corrupt stream, or one that would inflate beyond `maxOutput` bytes.
std::optional<QByteArray> zlibInflate(const QByteArray& data, qsizetype maxOutput = kMaxInflatedSize);

}  // namespace orrery::dataext
