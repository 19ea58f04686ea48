#include "model/idea_identifier_maker.h"

#include "model/idea_identifier_maker_testing.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <limits>

namespace orrery {

namespace {

constexpr std::int64_t kClockSeconds = std::numeric_limits<std::int64_t>::min();
std::atomic<std::int64_t> gPinnedSeconds{kClockSeconds};

// Drawn once, on first use: below 2^52, so that the counter added to it stays below 2^53.
std::uint64_t processBase() {
  static const std::uint64_t base = QRandomGenerator::system()->generate64() >> 12;
  return base;
}

}  // namespace

void setIdentifierSecondsForTesting(std::optional<std::int64_t> seconds) {
  gPinnedSeconds = seconds.value_or(kClockSeconds);
}

std::atomic<std::uint64_t> IdentifierMaker::sCounter{0};

IdentifierMaker::IdentifierMaker() : mBase(processBase()) {
  const std::int64_t pinned = gPinnedSeconds;
  const double seconds =
      pinned == kClockSeconds ? double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 : double(pinned);
  mPrefix = QString::asprintf("id%0.0f_", seconds);
}

QString IdentifierMaker::withNumber(const QString& prefix, std::uint64_t number) {
  return prefix + QString::number(number & kNumberMask);
}

QString IdentifierMaker::prefixOf(const QString& identifier) {
  qsizetype at = 2;
  if (identifier.startsWith(QLatin1String("id")))
    while (at < identifier.size() && identifier.at(at).isDigit() && identifier.at(at).unicode() < 0x80) ++at;
  if (at > 2 && at < identifier.size() && identifier.at(at) == QLatin1Char('_')) return identifier.left(at + 1);
  return QStringLiteral("id0_");
}

}  // namespace orrery
