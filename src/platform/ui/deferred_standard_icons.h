#pragma once
// Qt's styles make their standard icons from image files as soon as a widget asks for one (a
// window's menu bar asks for its overflow arrow when it is made), and the first image file
// read has Qt load every image-format plug-in, each with its codec libraries, to ask which of
// them reads it. With this style installed a standard icon reads its file only when it is
// first drawn or measured, so a start whose first frame draws none loads no plug-in.

namespace platform {

// Wraps the application's style; call once the application object exists.
void installDeferredStandardIcons();

}  // namespace platform
