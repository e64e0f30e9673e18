#include "glowkit/caldata.h"
#include "glowkit/version.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using Cal::Data;
using Cal::EmitterReading;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

// A rows x cols cube whose pixel (r, c) holds three readings; channel k has
// chromaticity (0.3, 0.6) and Lv = 100·k + 10·r + c + 1, WaveLength 600 + k.
Data makeCube(std::size_t rows, std::size_t cols)
{
    Data d;
    for (std::size_t k = 0; k < 3; ++k) {
        Vector2D<EmitterReading> plane(rows, std::vector<EmitterReading>(cols));
        for (std::size_t r = 0; r < rows; ++r)
            for (std::size_t c = 0; c < cols; ++c)
                plane[r][c] = {0.3f, 0.6f, static_cast<float>(100 * k + 10 * r + c + 1), 600.0f + k};
        d.addChannel(plane);
    }
    return d;
}

// A cube whose every reading has Lv 1, so the Lv afterwards is the factor applied.
Data unitCube(std::size_t rows, std::size_t cols)
{
    Data d;
    for (int k = 0; k < 3; ++k)
        d.addYChannel(Vector2D<float>(rows, std::vector<float>(cols, 1.0f)));
    return d;
}

float lv(const Data& d, std::size_t r, std::size_t c, std::size_t k)
{
    return d.pixels[r][c][k].Lv;
}

int lineCount(const std::string& text)
{
    int n = 0;
    for (char ch : text)
        n += ch == '\n';
    return n;
}

} // namespace

TEST(CalVersion, IsTheLibraryVersion)
{
    EXPECT_EQ(glowkit::version(), "0.2");
}

TEST(CalDataAddChannel, SizesAnEmptyCubeAndRefusesOtherShapes)
{
    Data d;
    d.firstModuleColumn = 7;
    d.addYChannel({{1, 2, 3}, {4, 5, 6}});
    ASSERT_EQ(d.pixels.size(), 2u);
    ASSERT_EQ(d.pixels[0].size(), 3u);
    EXPECT_EQ(d.moduleWidth, 3u);
    EXPECT_EQ(d.moduleHeight, 2u);
    EXPECT_EQ(d.firstModuleColumn, 7u); // module numbers are left alone
    EXPECT_EQ(d.pixels[1][2].size(), 1u);
    EXPECT_EQ(d.pixels[1][2][0], (EmitterReading{0, 0, 6, 0}));

    const Data before = d;
    for (const Vector2D<float>& wrong : {Vector2D<float>{{1, 2}, {3, 4}},          // narrower
                                         Vector2D<float>{{1, 2, 3}},               // fewer rows
                                         Vector2D<float>{{1, 2, 3}, {4, 5}},       // ragged
                                         Vector2D<float>{{1, 2, 3}, {4, 5, 6, 7}}}) {
        CaptureStderr();
        d.addYChannel(wrong);
        EXPECT_EQ(GetCapturedStderr(), "Cal::Data::addChannel: incorrect size!\n");
        EXPECT_EQ(d, before);
    }

    // A ragged first plane does not size an empty cube either.
    Data empty;
    CaptureStderr();
    empty.addChannel({{EmitterReading{}}, {}});
    EXPECT_EQ(GetCapturedStderr(), "Cal::Data::addChannel: incorrect size!\n");
    EXPECT_EQ(empty, Data{});

    // Further channels of the right shape go after the first.
    d.addChannel({{{0.1f, 0.2f, 9, 500}, {}, {}}, {{}, {}, {}}});
    EXPECT_EQ(d.pixels[0][0].size(), 2u);
    EXPECT_EQ(d.pixels[0][0][1], (EmitterReading{0.1f, 0.2f, 9, 500}));
}

TEST(CalDataSubset, CopiesTheWindowAsOneModule)
{
    Data d = makeCube(4, 5);
    d.firstModuleColumn = 2;
    d.lastModuleColumn = 3;
    d.firstModuleRow = 4;
    d.lastModuleRow = 5;
    d.minimum.assign(3, EmitterReading{});
    d.maximum.assign(3, EmitterReading{});

    const Data s = d.subset(1, 2, 3, 2);
    EXPECT_EQ(s.firstModuleColumn, 2u);
    EXPECT_EQ(s.lastModuleColumn, 3u);
    EXPECT_EQ(s.firstModuleRow, 4u);
    EXPECT_EQ(s.lastModuleRow, 5u);
    EXPECT_EQ(s.moduleWidth, 3u);
    EXPECT_EQ(s.moduleHeight, 2u);
    EXPECT_TRUE(s.minimum.empty());
    EXPECT_TRUE(s.maximum.empty());
    ASSERT_EQ(s.pixels.size(), 2u);
    ASSERT_EQ(s.pixels[0].size(), 3u);
    for (std::size_t i = 0; i < 2; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            EXPECT_EQ(s.pixels[i][j], d.pixels[2 + i][1 + j]);
}

TEST(CalDataSubset, ClipsWindowsReachingPastTheGrid)
{
    const Data d = makeCube(4, 5);

    CaptureStderr();
    const Data s = d.subset(3, 1, 10, 2);
    EXPECT_EQ(lineCount(GetCapturedStderr()), 1);
    ASSERT_EQ(s.pixels.size(), 2u);
    ASSERT_EQ(s.pixels[0].size(), 2u);
    EXPECT_EQ(s.moduleWidth, 2u);
    EXPECT_EQ(s.moduleHeight, 2u);
    EXPECT_EQ(s.pixels[1][1], d.pixels[2][4]);

    // Huge sizes must not wrap around.
    const auto huge = std::numeric_limits<std::uint64_t>::max();
    CaptureStderr();
    const Data t = d.subset(4, 3, huge, huge);
    GetCapturedStderr();
    ASSERT_EQ(t.pixels.size(), 1u);
    ASSERT_EQ(t.pixels[0].size(), 1u);
    EXPECT_EQ(t.pixels[0][0], d.pixels[3][4]);

    CaptureStderr();
    const Data outside = d.subset(9, 9, 2, 2);
    EXPECT_EQ(lineCount(GetCapturedStderr()), 1);
    EXPECT_TRUE(outside.pixels.empty());
}

TEST(CalDataFeather, DimsTheBorderOfEveryModule)
{
    // Two modules of 10 columns; red halved on the border, rising to 1 two pixels in.
    Data d = unitCube(3, 20);
    d.feather(10, 3, 2, 0, 0.5f, 1.0f, 1.0f);
    const float expected[10] = {0.5f, 0.75f, 1, 1, 1, 1, 1, 1, 0.75f, 0.5f};
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t c = 0; c < 20; ++c) {
            EXPECT_FLOAT_EQ(lv(d, r, c, 0), expected[c % 10]) << r << "," << c;
            EXPECT_FLOAT_EQ(lv(d, r, c, 1), 1.0f);
            EXPECT_FLOAT_EQ(lv(d, r, c, 2), 1.0f);
        }

    // Both directions: the smaller of the two distances decides.
    Data e = unitCube(6, 6);
    e.feather(6, 6, 2, 2, 1.0f, 0.2f, 1.0f);
    EXPECT_FLOAT_EQ(lv(e, 0, 3, 1), 0.2f);
    EXPECT_FLOAT_EQ(lv(e, 1, 1, 1), 0.6f);
    EXPECT_FLOAT_EQ(lv(e, 1, 2, 1), 0.6f);
    EXPECT_FLOAT_EQ(lv(e, 4, 5, 1), 0.2f);
    EXPECT_FLOAT_EQ(lv(e, 2, 2, 1), 1.0f);
    EXPECT_FLOAT_EQ(lv(e, 3, 2, 1), 1.0f);
    EXPECT_FLOAT_EQ(lv(e, 1, 1, 0), 1.0f);

    // Edges of 0 change nothing.
    Data f = makeCube(4, 4);
    const Data before = f;
    f.feather(2, 2, 0, 0, 0.1f, 0.1f, 0.1f);
    EXPECT_EQ(f, before);
}

TEST(CalDataGradient, RampsTheInnerRectangle)
{
    Data d = unitCube(2, 8);
    d.gradient(4, 1, 0, 0, false, 0.0f, 1.0f, 2.0f, 2.0f, 1.0f, 1.0f);
    const float ramp[4] = {0.0f, 0.25f, 0.5f, 0.75f};
    for (std::size_t r = 0; r < 2; ++r)
        for (std::size_t c = 0; c < 8; ++c) {
            EXPECT_FLOAT_EQ(lv(d, r, c, 0), ramp[c % 4]);
            EXPECT_FLOAT_EQ(lv(d, r, c, 1), 2.0f);
            EXPECT_FLOAT_EQ(lv(d, r, c, 2), 1.0f);
        }

    // Vertical, with edges left alone.
    Data e = unitCube(6, 6);
    e.gradient(6, 6, 1, 1, true, 1.0f, 2.0f, 1.0f, 1.0f, 1.0f, 1.0f);
    for (std::size_t r = 0; r < 6; ++r)
        for (std::size_t c = 0; c < 6; ++c) {
            const bool inner = r >= 1 && r <= 4 && c >= 1 && c <= 4;
            EXPECT_FLOAT_EQ(lv(e, r, c, 0), inner ? 1.0f + 0.25f * (r - 1) : 1.0f) << r << "," << c;
        }
}

TEST(CalDataGradient, StaysInsideAGridOfPartialModules)
{
    // 5 x 6 grid of 4 x 4 modules: the second module column and row are cut off.
    Data d = unitCube(5, 6);
    d.gradient(4, 4, 0, 0, false, 3.0f, 3.0f, 1.0f, 1.0f, 1.0f, 1.0f);
    for (std::size_t r = 0; r < 5; ++r)
        for (std::size_t c = 0; c < 6; ++c)
            EXPECT_FLOAT_EQ(lv(d, r, c, 0), 3.0f);

    // Edges wider than the module leave nothing to ramp.
    Data e = makeCube(4, 4);
    const Data before = e;
    e.gradient(4, 4, 2, 0, false, 5, 5, 5, 5, 5, 5);
    EXPECT_EQ(e, before);
}

TEST(CalDataModuleSize, FeatherAndGradientRefuseSizesOfZeroOrLess)
{
    Data d = makeCube(3, 3);
    const Data before = d;
    const int sizes[][2] = {{0, 3}, {3, 0}, {-1, 3}, {3, -4}, {0, 0}};
    for (const auto& s : sizes) {
        CaptureStderr();
        d.feather(s[0], s[1], 1, 1, 0.5f, 0.5f, 0.5f);
        EXPECT_EQ(GetCapturedStderr(), "Cal::Data::feather: incorrect module size!\n");
        CaptureStderr();
        d.gradient(s[0], s[1], 0, 0, true, 2, 2, 2, 2, 2, 2);
        EXPECT_EQ(GetCapturedStderr(), "Cal::Data::gradient: incorrect module size!\n");
        EXPECT_EQ(d, before);
    }
}

TEST(CalDataMatrix, MultipliesTheRowVectorXyz)
{
    Data d;
    d.addChannel({{{0.3f, 0.6f, 10.0f, 610.0f}}});
    d.addChannel({{{0.3f, 0.6f, 10.0f, 520.0f}}});
    d.addChannel({{{0.3f, 0.6f, 10.0f, 460.0f}}});
    d.addChannel({{{0.3f, 0.6f, 10.0f, 0.0f}}});
    // X = 5, Y = 10, Z = 5/3. Element (1, 0) adds Y to X' only when (X, Y, Z) is a row vector.
    Matrix<float, 3, 3> m{1, 0, 0,
                          1, 1, 0,
                          0, 0, 1};
    Data e = d;
    e.matrix(m);
    for (std::size_t k = 0; k < 3; ++k) {
        const EmitterReading& r = e.pixels[0][0][k];
        EXPECT_NEAR(r.Cx, 15.0 / (15 + 10 + 5.0 / 3), 1e-6);
        EXPECT_NEAR(r.Cy, 10.0 / (15 + 10 + 5.0 / 3), 1e-6);
        EXPECT_FLOAT_EQ(r.Lv, 10.0f);
        EXPECT_EQ(r.WaveLength, d.pixels[0][0][k].WaveLength);
    }
    EXPECT_EQ(e.pixels[0][0][3], d.pixels[0][0][3]); // channels past blue are not touched

    // Doubling Y: Lv doubles, chromaticity moves towards y.
    Data g = d;
    g.matrix({1, 0, 0, 0, 2, 0, 0, 0, 1});
    EXPECT_NEAR(g.pixels[0][0][1].Cx, 5.0 / (5 + 20 + 5.0 / 3), 1e-6);
    EXPECT_NEAR(g.pixels[0][0][1].Cy, 20.0 / (5 + 20 + 5.0 / 3), 1e-6);
    EXPECT_FLOAT_EQ(g.pixels[0][0][1].Lv, 20.0f);
}

TEST(CalDataFixAndSlice, PerPixelFactorsOfOneChannel)
{
    Data d = makeCube(2, 3);
    d.fix(1, {{1, 2, 3}, {0.5f, 0, -1}});
    const Vector2D<float> green = d.slice(1);
    const Vector2D<float> expected = {{101, 204, 309}, {111 * 0.5f, 0, -113}};
    EXPECT_EQ(green, expected);
    EXPECT_EQ(d.slice(0), (Vector2D<float>{{1, 2, 3}, {11, 12, 13}}));

    const Data before = d;
    for (const Vector2D<float>& wrong : {Vector2D<float>{{1, 2, 3}},
                                         Vector2D<float>{{1, 2}, {1, 2}},
                                         Vector2D<float>{{1, 2, 3}, {1}},
                                         Vector2D<float>{}}) {
        CaptureStderr();
        d.fix(0, wrong);
        EXPECT_EQ(GetCapturedStderr(), "Cal::Data::fix: incorrect size!\n");
        EXPECT_EQ(d, before);
    }

    // A channel that no pixel holds: nothing changes, the slice is all 0.
    d.fix(7, {{2, 2, 2}, {2, 2, 2}});
    EXPECT_EQ(d, before);
    EXPECT_EQ(d.slice(7), (Vector2D<float>{{0, 0, 0}, {0, 0, 0}}));
    EXPECT_TRUE(Data{}.slice(0).empty());
}

TEST(CalDataScale, InterpolatesTheCoarseGrid)
{
    // 2 x 2 grid over 4 x 4 pixels, spread 0: bilinear between the cell centres.
    Data d = unitCube(4, 4);
    d.scale(2, {{1, 2}, {3, 4}}, 0.0f);
    const float expected[4][4] = {{1, 1, 1.5f, 2}, {1, 1, 1.5f, 2}, {2, 2, 2.5f, 3}, {3, 3, 3.5f, 4}};
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t c = 0; c < 4; ++c) {
            EXPECT_FLOAT_EQ(lv(d, r, c, 2), expected[r][c]) << r << "," << c;
            EXPECT_FLOAT_EQ(lv(d, r, c, 0), 1.0f);
        }

    // 8 rows: fractional row positions -0.5 .. 1.25 in quarter steps. The plateau of
    // spread 0.5 holds each cell's value for a quarter cell on both sides.
    const float linear[8] = {1, 1, 1, 1.5f, 2, 2.5f, 3, 3};
    const float plateau[8] = {1, 1, 1, 1, 2, 3, 3, 3};
    for (float spread : {0.0f, 0.5f}) {
        Data e = unitCube(8, 1);
        e.scale(0, {{1}, {3}}, spread);
        for (std::size_t r = 0; r < 8; ++r)
            EXPECT_FLOAT_EQ(lv(e, r, 0, 0), spread == 0 ? linear[r] : plateau[r]) << spread << " " << r;
    }

    // Spread 1 switches at the middle between cell centres.
    Data h = unitCube(1, 8);
    h.scale(0, {{1, 3}}, 1.0f);
    EXPECT_EQ(h.slice(0), (Vector2D<float>{{1, 1, 1, 1, 1, 3, 3, 3}}));

    // A grid changing sign blends straight through 0.
    Data s = unitCube(1, 4);
    s.scale(0, {{-1, 1}}, 0.0f);
    EXPECT_EQ(s.slice(0), (Vector2D<float>{{-1, -1, 0, 1}}));

    // A 1 x 1 grid scales every pixel by its value.
    Data one = makeCube(3, 5);
    one.scale(1, {{2.5f}}, 0.3f);
    const Data ref = makeCube(3, 5);
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t c = 0; c < 5; ++c)
            EXPECT_FLOAT_EQ(lv(one, r, c, 1), 2.5f * lv(ref, r, c, 1));
}

TEST(CalDataScale, RefusesUnusableGrids)
{
    Data d = makeCube(3, 3);
    const Data before = d;
    for (const Vector2D<float>& grid : {Vector2D<float>{}, Vector2D<float>{{}}, Vector2D<float>{{}, {1}},
                                        Vector2D<float>{{1, 2}, {3}}}) {
        CaptureStderr();
        d.scale(0, grid, 0.0f);
        EXPECT_EQ(GetCapturedStderr(), "Cal::Data::scale: incorrect grid!\n");
        EXPECT_EQ(d, before);
    }
    CaptureStderr();
    d.scale(0, {{2}}, std::nanf(""));
    EXPECT_EQ(GetCapturedStderr(), "Cal::Data::scale: incorrect grid!\n");
    EXPECT_EQ(d, before);

    // A channel past the readings of every pixel changes nothing.
    d.scale(3, {{2}}, 0.0f);
    EXPECT_EQ(d, before);
    // Nor does scaling a cube without pixels.
    Data empty;
    empty.scale(0, {{2}}, 0.0f);
    EXPECT_EQ(empty, Data{});
}

namespace {

// Pixel (r, c) of a 5 x 5 cube; every channel's reading is (0.3, 0.6, Y) with Y = r·5 + c + 1,
// so X = Y/2 and Z = Y/6.
Data discCube()
{
    Data d;
    for (int k = 0; k < 3; ++k) {
        Vector2D<EmitterReading> plane(5, std::vector<EmitterReading>(5));
        for (int r = 0; r < 5; ++r)
            for (int c = 0; c < 5; ++c)
                plane[r][c] = {0.3f, 0.6f, static_cast<float>(r * 5 + c + 1) * (k + 1), 0};
        d.addChannel(plane);
    }
    return d;
}

void expectAverageY(const Cal::Totals& t, double y)
{
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR(t.xyz[k][0], y * (k + 1) / 2, 1e-4);
        EXPECT_NEAR(t.xyz[k][1], y * (k + 1), 1e-4);
        EXPECT_NEAR(t.xyz[k][2], y * (k + 1) / 6, 1e-4);
    }
}

} // namespace

TEST(CalDataTotals, AveragesDiscsAndRectangles)
{
    const Data d = discCube();

    // Radius 0: the whole grid wherever the centre is.
    for (std::uint64_t pos : {0u, 2u, 1000u}) {
        const Cal::Totals all = d.totals(pos, pos, 0.0f);
        EXPECT_EQ(all.count, 25u);
        expectAverageY(all, 13.0);
    }

    // Discs around (column 2, row 1): radius 1 is a cross, 1.5 the 3 x 3 square,
    // 2 adds the four pixels two steps away (one of them clipped at the top).
    struct Disc { float radius; std::uint64_t count; double average; };
    for (const Disc& c : {Disc{1.0f, 5, 8.0}, Disc{1.5f, 9, 8.0}, Disc{2.0f, 12, (8.0 * 9 + 6 + 10 + 18) / 12}}) {
        const Cal::Totals t = d.totals(2, 1, c.radius);
        EXPECT_EQ(t.count, c.count) << c.radius;
        expectAverageY(t, c.average);
    }
    // In the corner, clipped on two sides.
    const Cal::Totals corner = d.totals(0, 0, 1.0f);
    EXPECT_EQ(corner.count, 3u);
    expectAverageY(corner, (1.0 + 2 + 6) / 3);

    // Rectangle with both ends included: w = h = 0 is one pixel, (1, 1) is 2 x 2.
    const Cal::Totals one = d.totals(3, 2, 0, 0);
    EXPECT_EQ(one.count, 1u);
    expectAverageY(one, 14.0);
    const Cal::Totals square = d.totals(1, 0, 1, 1);
    EXPECT_EQ(square.count, 4u);
    expectAverageY(square, (2.0 + 3 + 7 + 8) / 4);
    // Clipped at the last row and column, also for sizes that would wrap.
    const auto huge = std::numeric_limits<std::uint64_t>::max();
    const Cal::Totals tail = d.totals(3, 3, huge, huge);
    EXPECT_EQ(tail.count, 4u);
    expectAverageY(tail, (19.0 + 20 + 24 + 25) / 4);
}

TEST(CalDataTotals, NothingToAverageGivesZeroCount)
{
    const Data d = discCube();
    const Cal::Totals zero;
    struct Case { const char* what; Cal::Totals t; };
    CaptureStderr();
    const Case cases[] = {
        {"rectangle right of the grid", d.totals(5, 0, 2, 2)},
        {"rectangle below the grid", d.totals(0, 9, 0, 0)},
        {"disc far outside", d.totals(100, 100, 3.0f)},
        {"disc at the largest column", d.totals(std::numeric_limits<std::uint64_t>::max(), 2, 3.0f)},
        {"negative radius", d.totals(2, 2, -1.0f)},
        {"radius not a number", d.totals(2, 2, std::nanf(""))},
        {"empty cube, disc", Data{}.totals(0, 0, 0.0f)},
        {"empty cube, rectangle", Data{}.totals(0, 0, 3, 3)},
    };
    const std::string err = GetCapturedStderr();
    EXPECT_EQ(lineCount(err), 8);
    EXPECT_NE(err.find("Cal::Data::totals: no pixels to average!"), std::string::npos);
    for (const Case& c : cases)
        EXPECT_EQ(c.t, zero) << c.what;

    // A huge radius takes everything.
    EXPECT_EQ(d.totals(2, 2, std::numeric_limits<float>::infinity()).count, 25u);
}

TEST(CalDataMissingReadings, EveryOperationSkipsWhatIsNotThere)
{
    // Row 0 complete; (1, 0) without readings, (1, 1) with red only,
    // (1, 2) with three readings, (1, 3) with two. Row 2 is shorter than row 0.
    Data d = makeCube(2, 4);
    d.pixels[1][0].clear();
    d.pixels[1][1].resize(1);
    d.pixels[1][3].resize(2);
    d.pixels.push_back({{EmitterReading{0.3f, 0.6f, 6, 0}, EmitterReading{0.3f, 0.6f, 6, 0},
                         EmitterReading{0.3f, 0.6f, 6, 0}}});

    Data e = d;
    e.feather(2, 2, 1, 1, 0.5f, 0.5f, 0.5f);
    e.gradient(2, 1, 0, 0, false, 2, 2, 2, 2, 2, 2);
    e.matrix({1, 0, 0, 0, 1, 0, 0, 0, 1});
    e.fix(2, Vector2D<float>(3, std::vector<float>(4, 2.0f)));
    e.scale(1, {{3}}, 0.0f);
    e.addYChannel(Vector2D<float>(3, std::vector<float>(4, 9.0f)));
    EXPECT_TRUE(e.pixels[1][0].size() == 1 && e.pixels[1][0][0].Lv == 9.0f);
    EXPECT_EQ(e.pixels[1][1].size(), 2u);
    EXPECT_EQ(e.pixels[2].size(), 1u);
    // Every pixel of this cube is a module border at 2 x 2, so feather halves and
    // gradient doubles: the red Lv is back where it was.
    EXPECT_NEAR(e.pixels[1][1][0].Lv, d.pixels[1][1][0].Lv, 1e-4);
    EXPECT_NEAR(e.pixels[1][3][1].Lv, d.pixels[1][3][1].Lv * 3, 1e-3);
    EXPECT_NEAR(e.pixels[1][2][2].Lv, d.pixels[1][2][2].Lv * 2, 1e-3);

    const Vector2D<float> blue = d.slice(2);
    ASSERT_EQ(blue.size(), 3u);
    EXPECT_EQ(blue[1][0], 0.0f);
    EXPECT_EQ(blue[1][3], 0.0f);
    EXPECT_EQ(blue[2], (std::vector<float>{6, 0, 0, 0}));

    // Totals count only pixels with all three readings.
    EXPECT_EQ(d.totals(0, 0, 0.0f).count, 4u + 1u + 1u);
    EXPECT_EQ(d.totals(0, 1, 3, 1).count, 2u);
    const Data s = d.subset(1, 1, 3, 2);
    ASSERT_EQ(s.pixels.size(), 2u);
    EXPECT_EQ(s.pixels[0][0].size(), 1u);
    EXPECT_TRUE(s.pixels[1][0].empty());
}
