#include "platform/services/date_formatter.h"

#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <future>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

namespace {

// One ICU pattern generator per locale, made once (its making reads the locale's data, a few
// milliseconds) and asked under its own lock: asking is not thread-safe.
struct Generator {
  std::mutex mutex;
  std::unique_ptr<icu::DateTimePatternGenerator> icu;  // null when ICU knows no such locale
};

std::shared_future<std::shared_ptr<Generator>> generatorFor(const QLocale& locale, std::launch policy) {
  static std::mutex mutex;
  // Never destroyed: a worker may still be making one as the process ends.
  static auto& generators = *new std::map<QString, std::shared_future<std::shared_ptr<Generator>>>();
  const QString name = locale.name();
  std::lock_guard lock(mutex);
  auto found = generators.find(name);
  if (found != generators.end()) return found->second;
  auto made = std::async(policy, [name] {
    auto generator = std::make_shared<Generator>();
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale icuLocale(name.toLatin1().constData());
    generator->icu.reset(icu::DateTimePatternGenerator::createInstance(icuLocale, status));
    if (U_FAILURE(status)) generator->icu.reset();
    return generator;
  });
  return generators.emplace(name, made.share()).first->second;
}

QString toQString(const icu::UnicodeString& text) {
  return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

// ICU's pattern in Qt's letters. Quoting is the same in both ('…', '' for a quote); the fields
// differ: the stand-alone month L, the day period a and b/B, the weekday E, and years, which Qt
// writes only as two or four digits. A field Qt has no letter for (an era, say) is left out.
QString qtPattern(const QString& pattern) {
  QString out;
  for (qsizetype i = 0; i < pattern.size();) {
    const QChar c = pattern[i];
    qsizetype end = i + 1;
    if (c == QLatin1Char('\'')) {
      while (end < pattern.size() && pattern[end] != QLatin1Char('\'')) ++end;
      out += pattern.mid(i, std::min(end + 1, pattern.size()) - i);
      i = end + 1;
      continue;
    }
    if (!(c >= QLatin1Char('a') && c <= QLatin1Char('z')) && !(c >= QLatin1Char('A') && c <= QLatin1Char('Z'))) {
      out += c;
      ++i;
      continue;
    }
    while (end < pattern.size() && pattern[end] == c) ++end;
    const qsizetype width = end - i;
    switch (c.unicode()) {
      case 'y': case 'u': case 'U': out += width == 2 ? QStringLiteral("yy") : QStringLiteral("yyyy"); break;
      case 'M': case 'L': out += QString(std::min<qsizetype>(width, 4), QLatin1Char('M')); break;
      case 'd': out += QString(std::min<qsizetype>(width, 2), QLatin1Char('d')); break;
      case 'E': case 'c': out += width >= 4 ? QStringLiteral("dddd") : QStringLiteral("ddd"); break;
      case 'H': case 'h': case 'm': case 's': out += QString(std::min<qsizetype>(width, 2), c); break;
      case 'k': out += QString(std::min<qsizetype>(width, 2), QLatin1Char('H')); break;
      case 'K': out += QString(std::min<qsizetype>(width, 2), QLatin1Char('h')); break;
      case 'a': case 'b': case 'B': out += QStringLiteral("AP"); break;
      default: break;
    }
    i = end;
  }
  return out.trimmed();
}

}  // namespace

void prepareDatePatterns(const QLocale& locale) { generatorFor(locale, std::launch::async); }

QString datePatternFromTemplate(const QString& dateTemplate, const QLocale& locale) {
  const std::shared_ptr<Generator> generator = generatorFor(locale, std::launch::deferred).get();
  if (!generator->icu) return dateTemplate;
  std::lock_guard lock(generator->mutex);
  UErrorCode status = U_ZERO_ERROR;
  const icu::UnicodeString skeleton(reinterpret_cast<const char16_t*>(dateTemplate.utf16()),
                                    int32_t(dateTemplate.size()));
  const icu::UnicodeString best = generator->icu->getBestPattern(skeleton, status);
  return U_FAILURE(status) ? dateTemplate : qtPattern(toQString(best));
}

DateFormatter DateFormatter::fromTemplate(const QString& dateTemplate, const QLocale& locale, const QTimeZone& zone) {
  return DateFormatter(datePatternFromTemplate(dateTemplate, locale), locale, zone);
}

QString DateFormatter::stringFromDate(const QDateTime& date) const {
  if (!date.isValid()) return {};
  return mLocale.toString(date.toTimeZone(mZone), mPattern);
}

}  // namespace platform
