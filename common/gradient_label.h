#pragma once
// The gradient header and section labels of both programs' dialogs: a
// horizontal run of 255 bands from a start colour towards an end colour,
// with one line of text over it. This part computes the bands; the window
// layer paints them.
#include <cstdint>
#include <vector>

namespace quindo {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

inline constexpr int kGradientBands = 255;

struct GradientBand {
  int left = 0;   // first column
  int right = 0;  // one past the last column
  Rgb colour;
};

// The bands for a client area from `left` to `left + width`. Band i covers
// trunc(i * step) to trunc((i + 1) * step) with step = width / 255, and its
// channels are trunc(start + (end - start) * i / 255); the last band stops
// one step short of the end colour.
std::vector<GradientBand> GradientBands(int left, int width, Rgb start, Rgb end);

enum class LabelAlignment { Left = 0, Centre = 1, Right = 2 };

struct GradientStyle {
  Rgb start;
  Rgb end;
  Rgb text;
  LabelAlignment alignment = LabelAlignment::Left;
  int margin = 10;
};

// The dialogs' two styles: the white header band and the blue section label.
GradientStyle HeaderLabelStyle();
GradientStyle SectionLabelStyle();

}  // namespace quindo
