#pragma once
// What the web-link panel's address field makes of its text: empty, words to search for, or an
// address; the address to load (web pages only) and the search address for words. Pure
// functions, any thread.

#include <QString>
#include <QUrl>
#include <cstdint>

namespace orrery::webaddress {

// Field states: empty, search text, address-like, loading, loaded.
enum FieldState : std::uint64_t { kEmpty = 0, kSearchText = 1, kAddressLike = 2, kLoading = 3, kLoaded = 4 };

inline const QString kDefaultSearchHost = QStringLiteral("www.google.com");

// Nothing left after trimming spaces and tabs (not line breaks) from both ends.
bool isOnlyWhiteSpace(const QString& text);
// A word (letters of any script), then "." or ":/", then non-blank characters only.
bool isPotentialURL(const QString& text);
bool hasURLTypePrefix(const QString& text);
// The web page the text names, or an invalid URL: only http and https load, and text without
// a scheme gets "http://". "file:", "javascript:" and custom schemes give none.
QUrl validURLorNil(const QString& text);
// The engine's result page for the words: https://host/search?q=words, form-encoded.
QUrl searchURL(const QString& words, const QString& host = kDefaultSearchHost);
// The same on an engine given by scheme, host and port.
QUrl searchURL(const QString& words, const QUrl& engine);
// The state typing leaves the field in.
FieldState stateForTypedText(const QString& text);
// The action button's title in a state; empty where the button is hidden.
QString actionTitle(FieldState state, bool editingExistingLink);
bool showsOpenInBrowser(FieldState state);

}  // namespace orrery::webaddress
