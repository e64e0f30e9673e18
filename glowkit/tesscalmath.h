#pragma once

// Colour math on the TessCal value groups: xyY/XYZ conversions, 3x3 matrix
// arithmetic on PixMeasXYZ (row i = XYZ of channel i), target primaries from a
// white point and a gamut, ideal-gamut reduction and list averages.
// Single precision unless noted; every function is pure.

#include "glowkit/tesscal.h"

#include <vector>

namespace TessCal {

// Primaries red, green, blue.
inline constexpr PixXY gamut_709{{{{0.64f, 0.33f}, {0.30f, 0.60f}, {0.15f, 0.06f}}}};
inline constexpr PixXY gamut_p3{{{{0.68f, 0.32f}, {0.265f, 0.69f}, {0.15f, 0.06f}}}};
inline constexpr PixXY gamut_2020{{{{0.708f, 0.292f}, {0.170f, 0.797f}, {0.131f, 0.046f}}}};
inline constexpr XY wp_d65{0.3127f, 0.3290f};

XYZ xyy2xyz(const XYY& v);
XYZ xyy2xyz(const XY& xy, float Y);
XYY xyz2xyy(const XYZ& v);
// Channels 0..2 converted; channels 3 and 4 ignored (or zero in the result).
PixMeasXYZ xyy2xyz(const PixMeasXYY& v);
PixMeasXYY xyz2xyy(const PixMeasXYZ& v);

XYZ operator*(const XYZ& v, float f);
XYZ operator+(const XYZ& a, const XYZ& b);
// Dot product.
float operator*(const XYZ& a, const XYZ& b);
// Component i = row i of m dotted with v.
XYZ operator*(const PixMeasXYZ& m, const XYZ& v);
PixMeasXYZ operator*(const PixMeasXYZ& a, const PixMeasXYZ& b);
PixMeasXYZ operator*(const PixMeasXYZ& m, float f);
// Inverse (computed in double); the zero matrix when the determinant is 0.
PixMeasXYZ operator~(const PixMeasXYZ& m);

double cal_det(double a, double b, double c, double d);
PixMeasXYZ cal_transpose(const PixMeasXYZ& m);

// XYZ of the three target primaries whose full drive gives `white` at
// luminance `Y`.
PixMeasXYZ cal_targets2xyz(float Y, const XY& white, const PixXY& primaries);

// Reduces `ideal` to what the measured `gamut` can produce without driving
// any channel above full; an all-zero ideal becomes the gamut.
void cal_ideal(PixMeasXYZ& ideal, const PixMeasXYZ& gamut);

// Mean of every float over the list (compensated summation); zeros when empty.
PixMeasXYZ cal_avg(const std::vector<PixMeasXYZ>& list);
PixMeasXYY cal_avg(const std::vector<PixMeasXYY>& list);

} // namespace TessCal
