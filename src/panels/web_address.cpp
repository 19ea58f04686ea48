#include "panels/web_address.h"

#include "foundation/globals.h"
#include "foundation/string_extensions.h"

#include <QRegularExpression>

namespace orrery::webaddress {

bool isOnlyWhiteSpace(const QString& text) {
  for (QChar c : text)
    if (c != QLatin1Char(' ') && c != QLatin1Char('\t')) return false;
  return true;
}

bool isPotentialURL(const QString& text) {
  static const QRegularExpression pattern(
      QStringLiteral("^\\w+(\\.|:/)[^\\s]+$"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
  return pattern.match(text).hasMatch();
}

bool hasURLTypePrefix(const QString& text) {
  static const QRegularExpression pattern(
      QStringLiteral("^\\w+(://)"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
  return pattern.match(text).hasMatch();
}

QUrl validURLorNil(const QString& text) {
  if (!isPotentialURL(text)) return {};
  // "word:/…" names its own scheme even without the second slash ("file:/etc/passwd"), so it
  // is read as written rather than as a host called "file".
  static const QRegularExpression schemed(QStringLiteral("^\\w+:/"), QRegularExpression::UseUnicodePropertiesOption);
  const QString full = schemed.match(text).hasMatch() ? text : QStringLiteral("http://") + text;
  const QUrl url(full, QUrl::StrictMode);
  if (!url.isValid() || url.host().isEmpty()) return {};
  const QString scheme = url.scheme().toLower();
  if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) return {};
  return url;
}

QUrl searchURL(const QString& words, const QString& host) {
  return searchURL(words, QUrl(QStringLiteral("https://") + host));
}

QUrl searchURL(const QString& words, const QUrl& engine) {
  return QUrl(engine.toString(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment) +
              QStringLiteral("/search?q=") + stringext::urlencode(words));
}

FieldState stateForTypedText(const QString& text) {
  if (isOnlyWhiteSpace(text)) return kEmpty;
  return isPotentialURL(text) ? kAddressLike : kSearchText;
}

QString actionTitle(FieldState state, bool editingExistingLink) {
  switch (state) {
    case kSearchText: return Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Search"), QStringLiteral("Search"));
    case kAddressLike: return QStringLiteral("Visit");
    case kLoading:
    case kLoaded:
      return editingExistingLink
                 ? Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Change"), QStringLiteral("Change"))
                 : Globals::normalLocalizedStringForKey(QStringLiteral("Choice.Add"), QStringLiteral("Add"));
    case kEmpty: break;
  }
  return {};
}

bool showsOpenInBrowser(FieldState state) { return state >= kAddressLike; }

}  // namespace orrery::webaddress
