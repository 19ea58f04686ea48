#pragma once
// Draws the pictures of many discs at once on several threads: a view whose first frame shows
// a hundred new discs (a drill into a big idea, or back out to it) would otherwise lay out a
// hundred titles in that one frame. The calling thread draws too, and every picture is shown
// before the call returns, so nothing can change between drawing and showing. A disc whose
// look was drawn before shows the kept picture. Discs that need no new picture, discs covered
// by others, discs a view draws and a handful are left to their own display.
// Main thread only.

#include <vector>

namespace orrery {

class PlanetLayer;

namespace discpictures {

// Fewer discs than this draw faster on the calling thread than helpers take to start.
inline constexpr int kConcurrentFrom = 8;

void drawConcurrently(const std::vector<PlanetLayer*>& discs);

}  // namespace discpictures
}  // namespace orrery
