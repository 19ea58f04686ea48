#pragma once
// Conversion of theme colours between red-green-blue (0..255) and hue-saturation-value
// (hue in degrees, saturation and value 0..1) components. Alpha is carried over unchanged.

namespace orrery {

struct RGBAValues {
  double r = 0, g = 0, b = 0, a = 1;
};

struct HSVAValues {
  double h = 0, s = 0, v = 0, a = 1;
};

class ColorSpaceConverter {
 public:
  ColorSpaceConverter() = delete;
  static void RGB(const RGBAValues& rgb, HSVAValues& hsv);
  // Hues of 360 or more count as 0; negative hues are taken modulo 360.
  static void HSV(const HSVAValues& hsv, RGBAValues& rgb);
};

}  // namespace orrery
