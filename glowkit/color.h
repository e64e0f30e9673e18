#pragma once

// Primary mixer (a linear program solved with GLPK's simplex method) and small
// 8-bit colour utilities for patterns and previews.

#include <cstdint>
#include <set>
#include <span>
#include <vector>

namespace Color {

namespace CIEXYZ {
// Chromaticity x, y (CIE 1931) and luminance Y.
template <typename T>
struct xyY {
    T x = 0;
    T y = 0;
    T Y = 0;
};
} // namespace CIEXYZ

// 0 maximises the objective, every other value minimises it.
enum Objective : int { Maximize = 0, Minimize = 1 };

// Red in bits 16-23, green in bits 8-15, blue in bits 0-7.
using rgb32_t = std::uint32_t;

// How much of each primary to mix so that the mixture has the target's chromaticity.
// Each primary gives its x, y and its largest available Y; a primary in `fixed`
// contributes its whole Y. The objective sums the luminances of the primaries in
// objectiveSet (of all free primaries when it is empty; indices past the primaries are
// ignored). A total other than 0 also fixes the sum of all luminances. The result holds
// one luminance per primary, or is empty when the problem has no optimal solution, when
// a primary's chromaticity y is not a positive finite number, or when its luminance Y
// is not one either (a fixed primary may have Y = 0: it adds nothing to the mixture).
std::vector<double> solveLP(std::span<const CIEXYZ::xyY<double>> primaries, const CIEXYZ::xyY<double>& target,
                            const std::set<std::size_t>& fixed, const std::set<std::size_t>& objectiveSet,
                            Objective objective, double total);

// Multi-step colour ramp over positions 0-255.
class Gradient {
public:
    struct Step {
        std::uint8_t position = 0;
        rgb32_t colour = 0;
    };
    static constexpr std::uint8_t maxSteps = 10;

    void clearSteps();
    // Appends a step unless all ten are in use.
    void addStep(std::uint8_t position, rgb32_t colour);
    // Copies min(n, 10) steps.
    void setSteps(const Step* steps, std::uint8_t n);
    // Colour at a position, blended between the steps around it (steps in ascending
    // position order). 0 without steps or when the steps are out of order.
    rgb32_t getColor(std::uint8_t position) const;

    std::uint8_t count() const { return m_count; }
    const Step& step(std::uint8_t i) const { return m_steps[i]; }

private:
    Step m_steps[maxSteps];
    std::uint8_t m_count = 0;
};

// Each channel moves from a towards b by t/255 (b is reached at t = 255).
rgb32_t ColorBlend(rgb32_t a, rgb32_t b, std::uint8_t t);
// Each channel scaled by k/255.
rgb32_t ColorFade(rgb32_t c, std::uint8_t k);
// Fully saturated hue around the colour wheel.
rgb32_t ColorWheel(std::uint8_t p);
// ColorWheel of a pseudo-random byte.
rgb32_t ColorRandom();
// Maps value in [lo, hi] linearly onto [from, to]; hi = lo gives from.
std::int32_t fade(std::int32_t from, std::int32_t to, std::int32_t value, std::int32_t lo, std::int32_t hi);

} // namespace Color
