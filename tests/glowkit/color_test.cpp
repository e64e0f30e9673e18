// Primary mixer against an independent vertex enumeration (lp_oracle.py), and
// the 8-bit colour utilities.

#include "glowkit/color.h"

#include "formats_testutil.h"

#include <cmath>
#include <sstream>

using namespace formatstest;
using Color::rgb32_t;
using xyY = Color::CIEXYZ::xyY<double>;

namespace {

std::string list(const std::set<std::size_t>& s)
{
    std::string out = "[";
    for (auto i : s)
        out += (out.size() > 1 ? "," : "") + std::to_string(i);
    return out + "]";
}

// The oracle's optimum: empty when it finds the problem infeasible.
std::vector<double> oracle(const std::vector<xyY>& prim, const xyY& target, const std::set<std::size_t>& fixed,
                           const std::set<std::size_t>& objectiveSet, int objective, double total, double& value)
{
    std::ostringstream j;
    j.precision(17);
    j << "'{\"primaries\": [";
    for (std::size_t i = 0; i < prim.size(); ++i)
        j << (i ? "," : "") << "[" << prim[i].x << "," << prim[i].y << "," << prim[i].Y << "]";
    j << "], \"target\": [" << target.x << "," << target.y << "], \"fixed\": " << list(fixed)
      << ", \"objectiveSet\": " << list(objectiveSet) << ", \"objective\": " << objective << ", \"total\": " << total
      << "}'";
    std::istringstream out(python("lp_oracle.py", j.str()));
    std::string first;
    out >> first;
    if (first == "infeasible")
        return {};
    value = std::stod(first);
    std::vector<double> L;
    for (double v; out >> v;)
        L.push_back(v);
    return L;
}

const std::vector<xyY> kRec709{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
const xyY kD65{0.3127, 0.3290, 0.0};

TEST(SolveLPTest, AgreesWithAnIndependentSolution)
{
    const std::vector<xyY> four{{0.69, 0.30, 80.0}, {0.17, 0.70, 300.0}, {0.14, 0.05, 40.0}, {0.31, 0.33, 50.0}};
    std::vector<xyY> darkWhite = four;
    darkWhite[3].Y = 0.0;
    struct Row {
        const char* what;
        std::vector<xyY> prim;
        xyY target;
        std::set<std::size_t> fixed, objectiveSet;
        int objective;
        double total;
    } rows[] = {
        {"rec709 max", kRec709, kD65, {}, {}, 0, 0.0},
        {"rec709 min is all zero", kRec709, kD65, {}, {}, 1, 0.0},
        {"four, max white only", four, kD65, {}, {3}, 0, 0.0},
        {"four, min white with total", four, {0.30, 0.35, 0}, {}, {3, 9}, 1, 120.0},
        {"four, blue fixed", four, kD65, {2}, {}, 0, 0.0},
        {"outside the gamut", kRec709, {0.10, 0.80, 0}, {}, {}, 0, 0.0},
        {"total too large", kRec709, kD65, {}, {}, 0, 5.0},
        // A fixed primary without light adds nothing: a valid problem.
        {"four, dark white fixed", darkWhite, kD65, {3}, {}, 0, 0.0},
        {"four, dark white fixed, with total", darkWhite, {0.30, 0.35, 0}, {3}, {}, 1, 120.0},
    };
    for (const auto& r : rows) {
        double want = 0;
        const auto expected = oracle(r.prim, r.target, r.fixed, r.objectiveSet, r.objective, r.total, want);
        const auto got = Color::solveLP(r.prim, r.target, r.fixed, r.objectiveSet, Color::Objective(r.objective),
                                        r.total);
        ASSERT_EQ(got.empty(), expected.empty()) << r.what;
        if (got.empty())
            continue;
        ASSERT_EQ(got.size(), r.prim.size()) << r.what;
        double value = 0, sx = 0, sy = 0, sum = 0;
        for (std::size_t i = 0; i < got.size(); ++i) {
            const auto& p = r.prim[i];
            EXPECT_GE(got[i], -1e-9) << r.what;
            EXPECT_LE(got[i], p.Y + 1e-9) << r.what;
            if (r.fixed.count(i))
                EXPECT_EQ(got[i], p.Y) << r.what;
            else if (r.objectiveSet.empty() || r.objectiveSet.count(i))
                value += got[i];
            sx += got[i] * (p.x - r.target.x) / p.y;
            sy += got[i] * (p.y - r.target.y) / p.y;
            sum += got[i];
        }
        EXPECT_NEAR(value, want, 1e-6) << r.what;
        EXPECT_NEAR(sx, 0.0, 1e-7) << r.what;
        EXPECT_NEAR(sy, 0.0, 1e-7) << r.what;
        if (r.total != 0) {
            EXPECT_NEAR(sum, r.total, 1e-7) << r.what;
        }
    }
}

TEST(SolveLPTest, RefusesPrimariesItCannotMix)
{
    const double nan = std::nan("");
    const std::vector<std::vector<xyY>> bad{
        {},
        {{0.64, 0.0, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}},
        {{0.64, 0.33, -1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}},
        {{0.64, 0.33, 0.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}},
        {{nan, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}},
        {{0.64, 0.33, INFINITY}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}},
    };
    for (const auto& prim : bad)
        EXPECT_TRUE(Color::solveLP(prim, kD65, {}, {}, Color::Maximize, 0.0).empty());
    // Fixing a primary excuses no light, never negative light.
    EXPECT_TRUE(Color::solveLP(bad[2], kD65, {0}, {}, Color::Maximize, 0.0).empty());
    EXPECT_TRUE(Color::solveLP(bad[5], kD65, {0}, {}, Color::Maximize, 0.0).empty());
    EXPECT_TRUE(Color::solveLP(kRec709, {nan, 0.3, 0}, {}, {}, Color::Maximize, 0.0).empty());
    // Every primary fixed: nothing to solve, the mixture is what it is.
    EXPECT_TRUE(Color::solveLP(kRec709, kD65, {0, 1, 2}, {}, Color::Maximize, 0.0).empty());
}

TEST(ColorUtilitiesTest, WheelFadeBlendAndFade)
{
    const std::pair<std::uint8_t, rgb32_t> wheel[] = {
        {0, 0xFF0000}, {42, 0xFFFF00}, {43, 0xFAFF00}, {85, 0x00FF00}, {86, 0x00FF06},
        {127, 0x00FFFF}, {170, 0x0000FF}, {171, 0x0600FF}, {212, 0xFF00FF}, {255, 0xFF0006}};
    for (const auto& [p, c] : wheel)
        EXPECT_EQ(Color::ColorWheel(p), c) << int(p);

    EXPECT_EQ(Color::ColorFade(0xFFFFFF, 128), 0x808080u);
    EXPECT_EQ(Color::ColorFade(0x12FF80, 0), 0u);

    // Channels rising and falling reach b at t = 255.
    EXPECT_EQ(Color::ColorBlend(0x0300FF, 0x00FF00, 255), 0x00FF00u);
    EXPECT_EQ(Color::ColorBlend(0x0300FF, 0x00FF00, 0), 0x0300FFu);
    EXPECT_EQ(Color::ColorBlend(0x000010, 0x640000, 128), 0x320008u);

    EXPECT_EQ(Color::fade(0, 100, 5, 0, 10), 50);
    EXPECT_EQ(Color::fade(100, 0, 3, 0, 10), 70);
    EXPECT_EQ(Color::fade(-10, 10, 1, 0, 3), -4);
    EXPECT_EQ(Color::fade(7, 100, 5, 4, 4), 7);
    EXPECT_EQ(Color::fade(0, 2000000000, 0, -2000000000, 2000000000), 1000000000);
}

TEST(ColorUtilitiesTest, GradientSteps)
{
    Color::Gradient g;
    EXPECT_EQ(g.getColor(10), 0u);
    g.addStep(10, 0x000000);
    g.addStep(138, 0xFF0080);
    g.addStep(200, 0x00FF00);
    EXPECT_EQ(g.getColor(0), 0x000000u);
    EXPECT_EQ(g.getColor(74), 0x7F003F);  // t = 127
    EXPECT_EQ(g.getColor(138), 0xFF0080u);
    EXPECT_EQ(g.getColor(169), 0x807F41u); // t = 127: red falls, green rises, blue falls
    EXPECT_EQ(g.getColor(255), 0x00FF00u);

    for (int i = 0; i < 8; ++i)
        g.addStep(static_cast<std::uint8_t>(210 + i), 0x123456);
    g.addStep(250, 0xFFFFFF); // eleventh: ignored
    EXPECT_EQ(g.count(), 10);
    EXPECT_EQ(g.getColor(255), 0x123456u);

    Color::Gradient::Step steps[12];
    for (int i = 0; i < 12; ++i)
        steps[i] = {static_cast<std::uint8_t>(12 - i), static_cast<rgb32_t>(i)};
    g.setSteps(steps, 12);
    EXPECT_EQ(g.count(), 10);
    EXPECT_EQ(g.getColor(8), 0u); // out of order: no pair holds it
    g.clearSteps();
    EXPECT_EQ(g.getColor(8), 0u);
}

} // namespace
