#pragma once
// Extensions of the string type: file-name cleaning for exports and dragged files, path
// joining, URL and XML escaping, and the case functions of the JSON coder. Lengths and
// indexes count UTF-16 units.

#include <QString>

namespace orrery::stringext {

// The title without whitespace, illegal characters (non-characters, unassigned code
// points, lone surrogates), symbols, ":" and "/", cut to at most `maxLength` UTF-16 units
// without splitting a character.
QString createProperFileNameWithMaxLenght(const QString& title, qsizetype maxLength);

// The two parts joined as path components with one separator.
QString concatPath(const QString& first, const QString& second);

// True when both are null, or both non-null with the same text.
bool areEqual(const QString& first, const QString& second);

// Case-sensitive; an empty suffix gives true.
bool endsWith(const QString& text, const QString& suffix);

// Query-string encoding of the UTF-8 bytes: unreserved characters stay, a space becomes
// "+", every other byte "%XX".
QString urlencode(const QString& text);

// Literal, case-sensitive; an empty needle gives false.
bool containsStringBackport(const QString& text, const QString& needle);

// Upper case by the rules of the user's current locale.
QString localUppercaseString(const QString& text);

// "&", double quote, "'", ">" and "<" replaced by their entities.
QString xmlSimpleEscapeString(const QString& text);
// The same in place; returns the argument.
QString& xmlSimpleEscape(QString& text);
// The text without what an XML or HTML document cannot carry: C0 controls other than tab and
// line breaks, lone surrogates, U+FFFE and U+FFFF.
QString xmlCharactersOnly(const QString& text);

// First character lower-cased / capitalised; the rest unchanged. Empty stays empty.
QString camelcaseString(const QString& text);
QString capitalizeFirstLetterString(const QString& text);

}  // namespace orrery::stringext
