#pragma once
// Every text this program puts on the clipboard or the selection (a copy or a cut from a field,
// text selected there) is offered as "text/plain;charset=utf-8" too, with its exact bytes:
// another program that reads only Qt's plain-text types gets the text through Qt's UTF-8
// reading, which drops a leading U+FEFF, while that type carries it (see
// platform/services/utf8_text.h). Main thread only.

namespace platform {

// Once the QGuiApplication exists; later calls do nothing.
void offerExactTextOnTheClipboard();

}  // namespace platform
