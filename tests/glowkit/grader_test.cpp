// Statistics images: PNG and FITS files checked with pngcheck, fitsverify and
// independent python readers; the blur against a numpy reference.

#include "glowkit/grader.h"

#include "formats_testutil.h"

#include <cmath>
#include <sstream>

using namespace formatstest;

namespace {

std::vector<double> numbers(const std::string& text)
{
    std::istringstream is(text);
    std::vector<double> v;
    for (std::string t; is >> t;)
        v.push_back(std::stod(t));
    return v;
}

// Width, height and greys of a PNG file, after pngcheck accepted it.
std::vector<double> png(const std::string& file)
{
    std::string out;
    EXPECT_EQ(run("pngcheck -v '" + file + "'", out), 0) << out;
    return numbers(python("image_oracle.py", "png '" + file + "'"));
}

// BITPIX, NAXIS, NAXIS1, NAXIS2 and the values of a FITS file, after fitsverify accepted it.
std::vector<double> fitsFile(const std::string& file)
{
    std::string out;
    EXPECT_EQ(run("fitsverify -q '" + file + "'", out), 0) << out;
    return numbers(python("image_oracle.py", "fits '" + file + "'"));
}

// Channel 1 of capture k: a 2 x 3 module wall of 4 x 4 cells, values
// rising across and down, different per capture.
Cal::Data capture(int k, std::size_t rows = 8, std::size_t cols = 12)
{
    Cal::Data d;
    for (int ch = 0; ch < 3; ++ch) {
        Vector2D<float> p(rows, std::vector<float>(cols));
        for (std::size_t r = 0; r < rows; ++r)
            for (std::size_t c = 0; c < cols; ++c)
                p[r][c] = ch == 1 ? 10.0f + float(r) + 0.5f * float(c) + float(k * ((r * 7 + c * 3) % 5)) : 1.0f;
        d.addYChannel(p);
    }
    return d;
}

using GraderFilesTest = ScratchTest;

TEST_F(GraderFilesTest, PngGreysAndFitsLayout)
{
    const Grader g;
    const float nan = std::nanf("");
    struct Row {
        Vector2D<float> plane;
        float lo, hi;
        std::vector<double> greys;
    } rows[] = {
        {{{0, 5, 10}, {2.5f, nan, 7.5f}}, 0, 0, {0, 127, 255, 63, 0, 191}},
        {{{3, 3}, {3, 3}}, 0, 0, {0, 0, 0, 0}},          // constant plane: lo = hi
        {{{0, 0}}, 0, 0, {0, 0}},
        {{{-4, -2}}, 0, 0, {0, 127}},                     // hi never below 0
        {{{2, -1}, {0.5f, 1}}, 0, 1, {254, 1, 127, 255}}, // outside the range: low 8 bits
    };
    for (const auto& r : rows) {
        g.writePng(r.plane, path("p.png"), r.lo, r.hi);
        std::vector<double> want{double(r.plane[0].size()), double(r.plane.size())};
        want.insert(want.end(), r.greys.begin(), r.greys.end());
        EXPECT_EQ(png(path("p.png")), want);
    }

    g.writeFits({{1.5f, -2, 3}, {4, 5, 6.25f}}, path("f.fits"));
    EXPECT_EQ(fitsFile(path("f.fits")), (std::vector<double>{-32, 2, 3, 2, 1.5, -2, 3, 4, 5, 6.25}));
    g.writeFits({{7}}, "!" + path("f.fits")); // "!" replaces the file
    EXPECT_EQ(fitsFile(path("f.fits")), (std::vector<double>{-32, 2, 1, 1, 7}));
}

TEST_F(GraderFilesTest, AverageBlurredMatchesAReferenceBlur)
{
    const Grader g;
    const Grader::Captures caps{{"m1", capture(0)}, {"m2", capture(1)}, {"m3", capture(2)}};
    Vector2D<float> result;
    const auto out = captured([&] { result = g.averageBlurred(caps, 3, 2, 1, 3, dir); });
    EXPECT_EQ(out.out, "averaged 1 of 3\naveraged 2 of 3\naveraged 3 of 3\nblur done\npixel average done\n");
    EXPECT_EQ(out.err, "");
    for (const char* f : {"m1_original_G.png", "m3_original_G.png", "average_G.png", "average_blur_G.png"})
        EXPECT_EQ(png(path(f)).size(), 2u + 8 * 12) << f;

    const auto avg = fitsFile(path("average_G.fits"));
    ASSERT_EQ(avg.size(), 4u + 8 * 12);
    EXPECT_FLOAT_EQ(avg[5], 13.5f); // pixel (0, 1): 10.5 + 3k averaged over k = 0, 1, 2
    const auto blurred = fitsFile(path("average_blur_G.fits"));
    const auto want = numbers(python("image_oracle.py", "blur '" + path("average_G.fits") + "' 3 3 2"));
    ASSERT_EQ(want.size(), 8u * 12);
    double mean = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_NEAR(blurred[4 + i], want[i], 1e-4) << i;
        mean += blurred[4 + i] / want.size();
    }
    ASSERT_EQ(result.size(), 8u);
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_NEAR(result[i / 12][i % 12], blurred[4 + i] / mean, 1e-5);

    // An even kernel is asymmetric (one more column after the pixel than before).
    g.writeFits(g.gaussianBlur(capture(2).slice(1), 4, 3, 2), path("b4.fits"));
    g.writeFits(capture(2).slice(1), path("in.fits"));
    const auto even = fitsFile(path("b4.fits"));
    const auto evenWant = numbers(python("image_oracle.py", "blur '" + path("in.fits") + "' 4 3 2"));
    for (std::size_t i = 0; i < evenWant.size(); ++i)
        EXPECT_NEAR(even[4 + i], evenWant[i], 1e-4) << i;
}

TEST_F(GraderFilesTest, PixelAndRelativeAverages)
{
    const Grader g;
    const Grader::Captures caps{{"a", capture(1)}, {"b", capture(3)}};
    const auto avg = g.pixelAverage(caps, 1, dir);
    double sum = 0;
    for (const auto& row : avg)
        for (float v : row)
            sum += v;
    EXPECT_NEAR(sum / (8 * 12), 1.0, 1e-6);
    EXPECT_TRUE(std::filesystem::exists(path("a_original.png")));

    Vector2D<float> rel;
    auto out = captured([&] { rel = g.relativeAverage(caps, 3, 2, 1, 3, dir); });
    EXPECT_EQ(out.out, "processed 1 of 2\nprocessed 2 of 2\n");
    for (const char* f : {"a_original.png", "a_blur.png", "b_relative.png", "relative_avg.png", "relative_stddev.png"})
        EXPECT_TRUE(std::filesystem::exists(path(f))) << f;
    // Every module centre (row 4R + 2, column 4K + 2) of a relative plane is 1.
    const auto relA = fitsFile(path("a_relative.fits"));
    const auto sd = fitsFile(path("relative_stddev.fits"));
    const auto mean = fitsFile(path("relative_avg.fits"));
    for (int R = 0; R < 2; ++R)
        for (int K = 0; K < 3; ++K)
            EXPECT_FLOAT_EQ(relA[4 + (4 * R + 2) * 12 + 4 * K + 2], 1.0f);
    for (std::size_t i = 0; i < 8 * 12; ++i) {
        const double w = std::max(1.0, sd[4 + i] / 0.2);
        EXPECT_NEAR(rel[i / 12][i % 12], mean[4 + i] * (1 - w) + w, 1e-5);
    }

    // One capture: no spread, a plane of ones; kernel 1 copies the plane.
    captured([&] { rel = g.relativeAverage({{"a", capture(1)}}, 3, 2, 1, 1, dir); });
    EXPECT_EQ(rel, Vector2D<float>(8, std::vector<float>(12, 1.0f)));
    const auto p = capture(1).slice(1);
    EXPECT_EQ(g.gaussianBlur(p, 1, 3, 2), p);
}

// Cells taller than wide, wider than tall, and of odd sizes that leave pixels
// outside the last module: every module's centre (row R * cellH + cellH / 2,
// column K * cellW + cellW / 2) of each relative plane reads 1.
TEST_F(GraderFilesTest, RelativePlanesAreOneAtEveryModuleCentre)
{
    const Grader g;
    struct Row {
        std::size_t rows, cols;
        int across, down;
    } rows[] = {
        {8, 12, 2, 4},  // cells of 2 rows x 6 columns
        {8, 12, 6, 2},  // 4 x 2
        {11, 13, 2, 3}, // 3 x 6, with a row and a column left over
    };
    for (const auto& r : rows) {
        const Grader::Captures caps{{"a", capture(1, r.rows, r.cols)}, {"b", capture(4, r.rows, r.cols)}};
        captured([&] { g.relativeAverage(caps, r.across, r.down, 1, 3, dir); });
        const std::size_t cellH = r.rows / std::size_t(r.down);
        const std::size_t cellW = r.cols / std::size_t(r.across);
        for (const char* id : {"a", "b"}) {
            const auto rel = fitsFile(path(std::string(id) + "_relative.fits"));
            ASSERT_EQ(rel.size(), 4 + r.rows * r.cols) << id;
            for (std::size_t R = 0; R < std::size_t(r.down); ++R)
                for (std::size_t K = 0; K < std::size_t(r.across); ++K)
                    EXPECT_FLOAT_EQ(rel[4 + (R * cellH + cellH / 2) * r.cols + K * cellW + cellW / 2], 1.0f)
                        << r.rows << "x" << r.cols << " " << id << " module " << R << "," << K;
        }
    }
}

TEST_F(GraderFilesTest, RefusesInputsItCannotGrade)
{
    const Grader g;
    struct Row {
        const char* what;
        Grader::Captures caps;
        int across, down, channel;
    } rows[] = {
        {"no captures", {}, 3, 2, 0},
        {"channel 3", {{"a", capture(0)}}, 3, 2, 3},
        {"negative channel", {{"a", capture(0)}}, 3, 2, -1},
        {"no modules", {{"a", capture(0)}}, 0, 2, 0},
        {"sizes differ", {{"a", capture(0)}, {"b", capture(0, 8, 10)}}, 3, 2, 0},
    };
    for (const auto& r : rows) {
        for (int op = 0; op < 3; ++op) {
            if (op == 0 && r.across == 0)
                continue; // the plain average has no modules
            Vector2D<float> got{{1}};
            const auto out = captured([&] {
                got = op == 0 ? g.pixelAverage(r.caps, r.channel, dir)
                      : op == 1 ? g.averageBlurred(r.caps, r.across, r.down, r.channel, 3, dir)
                                : g.relativeAverage(r.caps, r.across, r.down, r.channel, 3, dir);
            });
            EXPECT_TRUE(got.empty()) << r.what << " " << op;
            EXPECT_EQ(std::count(out.err.begin(), out.err.end(), '\n'), 1) << r.what << " " << op << out.err;
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    // More modules than pixels: cells of size 0 cannot be blurred.
    const auto out = captured([&] {
        EXPECT_EQ(g.convolve({{1, 2}}, g.gaussianKernel(3), 3, 1), (Vector2D<float>{{0, 0}}));
    });
    EXPECT_EQ(std::count(out.err.begin(), out.err.end(), '\n'), 1);
}

} // namespace
