// ctest-labels: threaded
// TessCal vocabulary, CRC-32 and colour math.

#include "glowkit/tesscal.h"
#include "glowkit/tesscalmath.h"

#include <boost/crc.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <thread>

using namespace TessCal;

TEST(TessCalVocabulary, KeysetFollowsItsRulesInOrder)
{
    struct Case {
        uint32_t key, set;
    };
    const Case cases[] = {
        {0x00000000, 9},  // key 0 before anything else
        {0x00010001, 10}, {0x00020001, 10}, {0x00030002, 10}, {0x00030003, 10}, {0x00030010, 10},
        {0x00040002, 10}, {0x00050001, 10}, {0x00050002, 10}, {0x00050003, 10},
        // set-0 keys whose upper half says otherwise
        {0x00010002, 0}, {0x00010003, 0}, {0x00010004, 0}, {0x00010010, 0}, {0x00030001, 0},
        {0x00030004, 0}, {0x00030008, 0},
        {0x00030005, 2}, // LowGray8
        {0xFFFF0001, 9}, {0xFFFFFFFF, 9}, {0xFFFF0000, 9},
        {0xFFFE0000, 11}, {0x00080000, 11}, {0x00800001, 11},
        {0x0007FFFF, 7}, {0x00070001, 7}, {0x00060000, 6}, {0x00050004, 5}, {0x00040001, 4},
        {0x0003000F, 3}, {0x00030006, 3}, {0x00020002, 2}, {0x00010012, 1}, {0x00010011, 1},
        {0x00000001, 0}, {0x00000002, 0}, {0x0000FFFF, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(keyset(c.key), c.set) << std::hex << c.key;
}

TEST(TessCalVocabulary, NamesOfKeysSetsAndPixelFormats)
{
    EXPECT_STREQ(keyname(0), "CalEmpty");
    EXPECT_STREQ(keyname(0x00070001), "CalMeshCorr");
    EXPECT_STREQ(keyname(0xFFFF0001), "CalSet");
    EXPECT_STREQ(keyname(0xFFFFFFFF), "EndTag");
    EXPECT_STREQ(keyname(0x00050003), "xBankMeta");
    EXPECT_STREQ(keyname(0x0003000E), "OLUTID");
    EXPECT_EQ(keyname(0x00000002), nullptr);
    EXPECT_EQ(keyname(0x0003000F), nullptr);

    int named = 0;
    for (uint32_t hi : {0x0000u, 0x0001u, 0x0002u, 0x0003u, 0x0004u, 0x0005u, 0x0006u, 0x0007u, 0xFFFFu})
        for (uint32_t lo = 0; lo < 0x20; ++lo)
            named += keyname((hi << 16) | lo) != nullptr;
    named += keyname(0xFFFFFFFF) != nullptr;
    EXPECT_EQ(named, 38);

    const char* sets[] = {"HighGray", "Driver", "LowGray", "OLUT", "FactCorrHigh", "FactCorrLow", "BadPixels",
                          "FactCorrMesh"};
    for (uint32_t n = 0; n < 8; ++n)
        EXPECT_STREQ(setname(n), sets[n]);
    EXPECT_EQ(setname(8), nullptr);

    const uint32_t subpix[] = {0, 1, 0, 3, 4, 5, 0, 0};
    for (uint32_t f = 0; f < 8; ++f)
        EXPECT_EQ(PixFmtSubPix(f), subpix[f]) << f;
    EXPECT_EQ(PixFmtSubPix(0x103), 0u);
}

TEST(TessCalVocabulary, CalSetsVisitsSelectedSetsAscending)
{
    CalSets s{0x800000A5u, 3};
    std::vector<uint32_t> seen;
    s.foreach([&](uint32_t n) { seen.push_back(n); });
    EXPECT_EQ(seen, (std::vector<uint32_t>{0, 2, 5, 7}));
}

TEST(TessCalCrc, MatchesTheZlibChecksumAndBoost)
{
    EXPECT_EQ(crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32("", 0), 0u);

    std::mt19937 rng(7);
    for (size_t n : {1u, 2u, 255u, 4096u}) {
        std::vector<uint8_t> data(n);
        for (auto& b : data)
            b = uint8_t(rng());
        boost::crc_32_type ref;
        ref.process_bytes(data.data(), data.size());
        EXPECT_EQ(crc32(data.data(), data.size()), ref.checksum());

        // Byte by byte, as the reader folds skipped bytes.
        uint32_t reg = CrcInit;
        for (uint8_t b : data)
            reg = crc32_update(reg, b);
        EXPECT_EQ(~reg, ref.checksum());
    }
}

TEST(TessCalCrc, TableIsBuiltOnceAcrossThreads)
{
    std::vector<std::thread> threads;
    std::vector<const void*> tables(8);
    for (size_t i = 0; i < tables.size(); ++i)
        threads.emplace_back([&tables, i] { tables[i] = &crc32_table(); });
    for (auto& t : threads)
        t.join();
    for (const void* t : tables)
        EXPECT_EQ(t, tables[0]);
    EXPECT_EQ(crc32_table()[1], 0x77073096u);
}

// Expected values below were computed independently in double precision
// (python3) from the formulas of the colour conversions.

namespace {

void expectNear(const PixMeasXYZ& m, const double (&e)[3][3], double tol)
{
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(m[i].X, e[i][0], tol) << "row " << i;
        EXPECT_NEAR(m[i].Y, e[i][1], tol) << "row " << i;
        EXPECT_NEAR(m[i].Z, e[i][2], tol) << "row " << i;
    }
}

PixMeasXYZ matrix(const double (&e)[3][3])
{
    PixMeasXYZ m;
    for (int i = 0; i < 3; ++i)
        m[i] = {float(e[i][0]), float(e[i][1]), float(e[i][2])};
    return m;
}

} // namespace

TEST(TessCalColour, XyyAndXyzConversions)
{
    const XYZ d65 = xyy2xyz(XYY{0.3127f, 0.3290f, 1.0f});
    EXPECT_NEAR(d65.X, 0.9504559270516716, 1e-6);
    EXPECT_EQ(d65.Y, 1.0f);
    EXPECT_NEAR(d65.Z, 1.0890577507598784, 1e-6);
    const XYZ d65b = xyy2xyz(wp_d65, 1.0f);
    EXPECT_EQ(d65b.X, d65.X);
    EXPECT_EQ(d65b.Z, d65.Z);

    const XYZ black = xyy2xyz(XYY{0.3f, 0.0f, 5.0f}); // y = 0
    EXPECT_EQ(black.X, 0.0f);
    EXPECT_EQ(black.Y, 0.0f);
    EXPECT_EQ(black.Z, 0.0f);

    const XYY zero = xyz2xyy(XYZ{0, 0, 0});
    EXPECT_EQ(zero.x, 0.0f);
    EXPECT_EQ(zero.y, 0.0f);
    EXPECT_EQ(zero.Y, 0.0f);
    const XYY grey = xyz2xyy(XYZ{1, 1, 1});
    EXPECT_FLOAT_EQ(grey.x, 1.0f / 3);
    EXPECT_FLOAT_EQ(grey.y, 1.0f / 3);
    EXPECT_EQ(grey.Y, 1.0f);

    // Per channel: three converted, the rest ignored or zero.
    PixMeasXYY in;
    in[0] = {0.64f, 0.33f, 2.0f};
    in[1] = {0.30f, 0.60f, 3.0f};
    in[2] = {0.15f, 0.06f, 0.5f};
    in[3] = {0.5f, 0.5f, 9.0f};
    const PixMeasXYZ xyz = xyy2xyz(in);
    EXPECT_NEAR(xyz[0].X, 0.64 * 2 / 0.33, 1e-5);
    EXPECT_NEAR(xyz[2].Z, (1 - 0.15 - 0.06) * 0.5 / 0.06, 1e-5);
    const PixMeasXYY back = xyz2xyy(xyz);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(back[i].x, in[i].x, 1e-6);
        EXPECT_NEAR(back[i].y, in[i].y, 1e-6);
        EXPECT_NEAR(back[i].Y, in[i].Y, 1e-6);
    }
    EXPECT_EQ(back[3].Y, 0.0f);
    EXPECT_EQ(back[4].x, 0.0f);
}

TEST(TessCalColour, MatrixArithmetic)
{
    const double a[3][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 10}};
    const double m[3][3] = {{2, 1, 0.5}, {0.25, 3, 1}, {1, 0.5, 4}};
    const double am[3][3] = {{5.5, 8.5, 14.5}, {15.25, 22.0, 31.0}, {26.0, 36.0, 51.5}};
    expectNear(matrix(a) * matrix(m), am, 1e-5);

    const double minv[3][3] = {{0.5333333333333333, -0.17391304347826086, -0.02318840579710145},
                               {0.0, 0.34782608695652173, -0.08695652173913043},
                               {-0.13333333333333333, 0.0, 0.26666666666666666}};
    expectNear(~matrix(m), minv, 1e-6);

    const double singular[3][3] = {{1, 2, 3}, {2, 4, 6}, {0, 1, 1}};
    const double zero[3][3] = {};
    expectNear(~matrix(singular), zero, 0);

    const double at[3][3] = {{1, 4, 7}, {2, 5, 8}, {3, 6, 10}};
    expectNear(cal_transpose(matrix(a)), at, 0);

    const XYZ v{1, 2, 3};
    const XYZ mv = matrix(a) * v;
    EXPECT_FLOAT_EQ(mv.X, 14);
    EXPECT_FLOAT_EQ(mv.Y, 32);
    EXPECT_FLOAT_EQ(mv.Z, 53);
    EXPECT_FLOAT_EQ((v * XYZ{4, 5, 6}), 32);
    const XYZ sum = v + v * 0.5f;
    EXPECT_FLOAT_EQ(sum.Z, 4.5f);
    const double half[3][3] = {{0.5, 1, 1.5}, {2, 2.5, 3}, {3.5, 4, 5}};
    expectNear(matrix(a) * 0.5f, half, 0);
    EXPECT_EQ(cal_det(1, 2, 3, 4), -2.0);
}

TEST(TessCalColour, TargetPrimariesAddUpToTheWhite)
{
    const double t709[3][3] = {{0.4123908, 0.212639, 0.0193308},
                               {0.3575843, 0.7151687, 0.1191948},
                               {0.1804808, 0.0721923, 0.9505322}};
    expectNear(cal_targets2xyz(1, wp_d65, gamut_709), t709, 2e-6);

    const double tp3[3][3] = {{0.4865709, 0.2289746, 0.0},
                              {0.2656677, 0.6917385, 0.0451134},
                              {0.1982173, 0.0792869, 1.0439444}};
    expectNear(cal_targets2xyz(1, wp_d65, gamut_p3), tp3, 2e-6);

    const double t2020[3][3] = {{0.636958, 0.2627002, 0.0},
                                {0.1446169, 0.6779981, 0.0280727},
                                {0.168881, 0.0593017, 1.0609851}};
    expectNear(cal_targets2xyz(1, wp_d65, gamut_2020), t2020, 2e-6);

    // Scaled luminance scales every row.
    const PixMeasXYZ t = cal_targets2xyz(100, wp_d65, gamut_709);
    EXPECT_NEAR(t[0].Y + t[1].Y + t[2].Y, 100, 1e-3);

    // A primary with y = 0 contributes nothing (and makes P singular).
    PixXY flat = gamut_709;
    flat[2].y = 0;
    const double zero[3][3] = {};
    expectNear(cal_targets2xyz(1, wp_d65, flat), zero, 0);
}

TEST(TessCalColour, IdealGamutReduction)
{
    const double g[3][3] = {{0.4124, 0.2126, 0.0193}, {0.3576, 0.7152, 0.1192}, {0.1805, 0.0722, 0.9505}};
    const PixMeasXYZ gamut = matrix(g);

    PixMeasXYZ ideal; // all zero: becomes the gamut
    cal_ideal(ideal, gamut);
    expectNear(ideal, g, 1e-7); // the float copy of g

    ideal = gamut; // identity drive: unchanged
    cal_ideal(ideal, gamut);
    expectNear(ideal, g, 1e-6);

    // Drive with a negative entry and a column summing to 1.25.
    const double i0[3][3] = {{0.45912, 0.1836, 0.01124},
                             {0.34246, 0.65431, 0.108245},
                             {0.18016, 0.12928, 0.77232}};
    const double reduced[3][3] = {{0.395904, 0.204096, 0.018528},
                                  {0.338336, 0.652184, 0.108052},
                                  {0.18016, 0.12928, 0.77232}};
    ideal = matrix(i0);
    cal_ideal(ideal, gamut);
    expectNear(ideal, reduced, 2e-6);

    const double singular[3][3] = {{1, 2, 3}, {2, 4, 6}, {0, 1, 1}};
    const double zero[3][3] = {};
    ideal = matrix(i0);
    cal_ideal(ideal, matrix(singular));
    expectNear(ideal, zero, 0);
}

TEST(TessCalColour, AveragesUseCompensatedSums)
{
    EXPECT_EQ(cal_avg(std::vector<PixMeasXYZ>{})[1].Y, 0.0f);
    EXPECT_EQ(cal_avg(std::vector<PixMeasXYY>{})[4].Y, 0.0f);

    PixMeasXYZ one;
    one[2].Z = 7.25f;
    EXPECT_EQ(cal_avg(std::vector<PixMeasXYZ>{one})[2].Z, 7.25f);

    // 1 followed by many values below its float spacing: a plain float sum
    // loses them all, the compensated one keeps them.
    std::vector<PixMeasXYZ> list(10001);
    list[0][0].X = 1.0f;
    for (size_t i = 1; i < list.size(); ++i)
        list[i][0].X = 1e-8f;
    const double expected = (1.0 + 10000 * double(1e-8f)) / 10001;
    EXPECT_NEAR(cal_avg(list)[0].X, expected, 2e-11);

    std::vector<PixMeasXYY> yl(4);
    for (size_t i = 0; i < yl.size(); ++i)
        yl[i][4] = {float(i), 2.0f * i, 0.5f};
    const PixMeasXYY avg = cal_avg(yl);
    EXPECT_FLOAT_EQ(avg[4].x, 1.5f);
    EXPECT_FLOAT_EQ(avg[4].y, 3.0f);
    EXPECT_FLOAT_EQ(avg[4].Y, 0.5f);
}
