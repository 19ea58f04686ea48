#include "foundation/color_space_converter.h"

#include <gtest/gtest.h>

namespace {

using orrery::ColorSpaceConverter;
using orrery::HSVAValues;
using orrery::RGBAValues;

HSVAValues toHSV(double r, double g, double b, double a = 1) {
  HSVAValues out;
  ColorSpaceConverter::RGB({r, g, b, a}, out);
  return out;
}

RGBAValues toRGB(double h, double s, double v, double a = 1) {
  RGBAValues out;
  ColorSpaceConverter::HSV({h, s, v, a}, out);
  return out;
}

TEST(ColorSpaceConverterTest, RgbToHsvReferencePoints) {
  const struct {
    double r, g, b, h, s, v;
  } cases[] = {
      {255, 255, 0, 60, 1, 1},  {0, 0, 0, 0, 0, 0},        {128, 128, 128, 0, 0, 128 / 255.0},
      {255, 0, 0, 0, 1, 1},     {0, 255, 0, 120, 1, 1},    {0, 0, 255, 240, 1, 1},
      {255, 0, 255, 300, 1, 1}, {255, 0, 1, 359.7647, 1, 1}, {0, 255, 255, 180, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.r << "," << c.g << "," << c.b);
    HSVAValues hsv = toHSV(c.r, c.g, c.b, 0.5);
    EXPECT_NEAR(hsv.h, c.h, 1e-3);
    EXPECT_NEAR(hsv.s, c.s, 1e-6);
    EXPECT_NEAR(hsv.v, c.v, 1e-6);
    EXPECT_EQ(hsv.a, 0.5);
    EXPECT_LT(hsv.h, 360);
    EXPECT_GE(hsv.h, 0);
  }
}

TEST(ColorSpaceConverterTest, HsvToRgbSectorsGreysAndTheFullCircle) {
  RGBAValues grey = toRGB(123, 0, 0.5, 0.25);
  EXPECT_DOUBLE_EQ(grey.r, 127.5);
  EXPECT_DOUBLE_EQ(grey.g, 127.5);
  EXPECT_DOUBLE_EQ(grey.b, 127.5);
  EXPECT_EQ(grey.a, 0.25);

  RGBAValues full = toRGB(360, 1, 1);
  RGBAValues zero = toRGB(0, 1, 1);
  EXPECT_DOUBLE_EQ(full.r, zero.r);
  EXPECT_DOUBLE_EQ(full.g, zero.g);
  EXPECT_DOUBLE_EQ(full.b, 0);

  const struct {
    double h, r, g, b;
  } sectors[] = {{0, 255, 0, 0},   {60, 255, 255, 0}, {120, 0, 255, 0}, {180, 0, 255, 255},
                 {240, 0, 0, 255}, {300, 255, 0, 255}, {30, 255, 127.5, 0}};
  for (const auto& c : sectors) {
    RGBAValues rgb = toRGB(c.h, 1, 1);
    EXPECT_NEAR(rgb.r, c.r, 1e-3) << c.h;
    EXPECT_NEAR(rgb.g, c.g, 1e-3) << c.h;
    EXPECT_NEAR(rgb.b, c.b, 1e-3) << c.h;
  }
}

TEST(ColorSpaceConverterTest, RoundTripsOverAGridOfColours) {
  for (int r = 0; r <= 255; r += 17)
    for (int g = 0; g <= 255; g += 15)
      for (int b = 0; b <= 255; b += 51) {
        HSVAValues hsv = toHSV(r, g, b);
        RGBAValues back;
        ColorSpaceConverter::HSV(hsv, back);
        ASSERT_NEAR(back.r, r, 1e-3) << r << "," << g << "," << b;
        ASSERT_NEAR(back.g, g, 1e-3) << r << "," << g << "," << b;
        ASSERT_NEAR(back.b, b, 1e-3) << r << "," << g << "," << b;
      }
}

}  // namespace
