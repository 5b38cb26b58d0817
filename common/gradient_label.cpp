#include "common/gradient_label.h"

namespace quindo {

namespace {

uint8_t Blend(uint8_t start, uint8_t end, int i) {
  // The exact value start + (end - start) * i / 255 cut towards zero; it is
  // never negative, so that is the floor of the quotient.
  const int numerator = (end - start) * i;
  int quotient = numerator / kGradientBands;
  if (numerator % kGradientBands != 0 && numerator < 0) --quotient;
  return static_cast<uint8_t>(start + quotient);
}

}  // namespace

std::vector<GradientBand> GradientBands(int left, int width, Rgb start, Rgb end) {
  std::vector<GradientBand> bands;
  bands.reserve(kGradientBands);
  const float step = static_cast<float>(width) / static_cast<float>(kGradientBands);
  for (int i = 0; i < kGradientBands; ++i) {
    GradientBand band;
    band.left = left + static_cast<int>(static_cast<float>(i) * step);
    band.right = left + static_cast<int>(static_cast<float>(i + 1) * step);
    band.colour = {Blend(start.r, end.r, i), Blend(start.g, end.g, i), Blend(start.b, end.b, i)};
    bands.push_back(band);
  }
  return bands;
}

GradientStyle HeaderLabelStyle() { return {{255, 255, 255}, {255, 255, 255}, {0, 0, 0}}; }

GradientStyle SectionLabelStyle() { return {{50, 50, 255}, {150, 150, 240}, {255, 255, 255}}; }

}  // namespace quindo
