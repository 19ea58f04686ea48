#include "foundation/color_space_converter.h"

#include <cmath>

namespace orrery {

void ColorSpaceConverter::RGB(const RGBAValues& in, HSVAValues& out) {
  out.a = in.a;
  // Ties favour green over red, and red or green over blue.
  enum { Red, Green, Blue } channel = in.r <= in.g ? Green : Red;
  float maxValue = static_cast<float>(in.r <= in.g ? in.g : in.r);
  if (in.b > maxValue) {
    maxValue = static_cast<float>(in.b);
    channel = Blue;
  }
  out.v = maxValue / 255.0f;
  out.s = 0;
  out.h = 0;
  if (maxValue <= 0) return;
  float minValue = static_cast<float>(in.r <= in.g ? in.r : in.g);
  if (in.b < minValue) minValue = static_cast<float>(in.b);
  const float delta = maxValue - minValue;
  if (delta <= 0) return;
  out.s = delta / maxValue;
  double sector = 0;
  switch (channel) {
    case Red: sector = (in.g - in.b) / delta; break;
    case Green: sector = (in.b - in.r) / delta + 2; break;
    case Blue: sector = (in.r - in.g) / delta + 4; break;
  }
  float hue = static_cast<float>(sector * 60);
  if (hue < 0) hue += 360;
  if (hue >= 360) hue -= 360;
  out.h = hue;
}

void ColorSpaceConverter::HSV(const HSVAValues& in, RGBAValues& out) {
  out.a = in.a;
  if (in.s <= 0) {
    out.r = out.g = out.b = in.v * 255;
    return;
  }
  double hue = in.h;
  if (hue < 0) hue = std::fmod(hue, 360.0) + 360.0;
  const float h = hue >= 360 ? 0.0f : static_cast<float>(hue) / 60.0f;
  const int sector = static_cast<int>(h);
  const float f = h - sector;
  const float v = static_cast<float>(in.v);
  const float s = static_cast<float>(in.s);
  const float p = v * (1 - s);
  const float q = v * (1 - s * f);
  const float t = v * (1 - s * (1 - f));
  float r, g, b;
  switch (sector) {
    case 0: r = v, g = t, b = p; break;
    case 1: r = q, g = v, b = p; break;
    case 2: r = p, g = v, b = t; break;
    case 3: r = p, g = q, b = v; break;
    case 4: r = t, g = p, b = v; break;
    default: r = v, g = p, b = q; break;
  }
  out.r = r * 255.0;
  out.g = g * 255.0;
  out.b = b * 255.0;
}

}  // namespace orrery
