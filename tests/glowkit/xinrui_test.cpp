// XinRui measurement tables: both header forms, CRLF lines, bad lines and
// positions, exact text written, and folders of tables.

#include "glowkit/xinrui.h"

#include "formats_testutil.h"

#include <limits>
#include <sstream>

using namespace formatstest;
using XinRui_Raw::Handler;

namespace {

const std::string kHeader16 = XinRui_Raw::header16;
const std::string kHeader13 = XinRui_Raw::header13;

Cal::Data read(const std::string& text, Output* out = nullptr)
{
    Cal::Data d;
    std::istringstream is(text);
    const Output o = captured([&] { d = Handler().readStream(is); });
    if (out)
        *out = o;
    return d;
}

std::string write(const Cal::Data& d, int precision)
{
    std::ostringstream os;
    captured([&] { Handler().writeStream(d, os, precision); });
    return os.str();
}

// Two modules across (5, 6) and one down (3), 4 x 2 pixels each; only pixel
// (row 1, col 6) of the grid stays unnamed. CRLF line ends, a blank line.
std::string sixteenColumnTable()
{
    std::string t = kHeader16 + "\r\n";
    for (int mc = 5; mc <= 6; ++mc)
        for (int pr = 0; pr < 2; ++pr)
            for (int pc = 0; pc < 4; ++pc) {
                if (mc == 6 && pr == 1 && pc == 2)
                    continue;
                const int v = (mc - 5) * 8 + pr * 4 + pc;
                t += std::to_string(mc) + "\t3\t" + std::to_string(pc) + "\t" + std::to_string(pr) + "\t"
                     + std::to_string(100 + v) + ".25\t0.69\t0.30\t625\t" + std::to_string(300 + v)
                     + "\t0.17\t0.70\t525.5\t" + std::to_string(50 + v) + "\t0.14\t0.05\t465\r\n";
                if (v == 3)
                    t += "\r\n";
            }
    return t;
}

TEST(XinRuiReadTest, PlacesEveryLineInTheModuleGrid)
{
    Output out;
    const Cal::Data d = read(sixteenColumnTable(), &out);
    EXPECT_EQ(out.out, "read 17 lines, 2 x 1 modules, 8 x 2 pixels \n");
    EXPECT_EQ(out.err, "");
    EXPECT_EQ(d.firstModuleColumn, 5u);
    EXPECT_EQ(d.lastModuleColumn, 6u);
    EXPECT_EQ(d.firstModuleRow, 3u);
    EXPECT_EQ(d.lastModuleRow, 3u);
    EXPECT_EQ(d.moduleWidth, 4u);
    EXPECT_EQ(d.moduleHeight, 2u);
    ASSERT_EQ(d.pixels.size(), 2u);
    ASSERT_EQ(d.pixels[0].size(), 8u);
    EXPECT_TRUE(d.pixels[1][6].empty());
    // Module 6, pixel (col 3, row 1): grid (1, 7), v = 15.
    ASSERT_EQ(d.pixels[1][7].size(), 3u);
    EXPECT_EQ(d.pixels[1][7][0], (Cal::EmitterReading{0.69f, 0.30f, 115.25f, 625.0f}));
    EXPECT_EQ(d.pixels[1][7][1], (Cal::EmitterReading{0.17f, 0.70f, 315.0f, 525.5f}));
    EXPECT_EQ(d.pixels[0][0][2], (Cal::EmitterReading{0.14f, 0.05f, 50.0f, 465.0f}));
    EXPECT_EQ(d.minimum[0], (Cal::EmitterReading{0.69f, 0.30f, 100.25f, 625.0f}));
    EXPECT_EQ(d.maximum[2], (Cal::EmitterReading{0.14f, 0.05f, 65.0f, 465.0f}));
}

TEST(XinRuiReadTest, HeaderOnlyAndWrongHeaders)
{
    Output out;
    Cal::Data d = read(kHeader13 + "\r\n", &out);
    EXPECT_EQ(out.out, "read 2 lines, 2 x 2 modules, 0 x 0 pixels \n");
    EXPECT_TRUE(d.pixels.empty());
    EXPECT_EQ(d.firstModuleColumn, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(d.lastModuleRow, 0u);

    d = read(kHeader16 + "\tExtra\n1 1 0 0\n", &out);
    EXPECT_EQ(d, Cal::Data{});
    EXPECT_EQ(out.err, "Incorrect headers: \n" + kHeader16 + "\tExtra\n" + kHeader16 + "\n");
    EXPECT_EQ(out.out, "");
}

TEST(XinRuiReadTest, BadLinesAreReportedAndNeverPlacedWildly)
{
    const std::string t = kHeader13 + "\n"
                          "0 0 0 0 1 0.5 0.4 2 0.3 0.6 3 0.1 0.1\n"
                          "0 0 1 0 7 0.5 zz 9 9 9 9 9 9\n"        // value bad: rest 0, stored
                          "-1 0 0 0 1 0.5 0.4 2 0.3 0.6 3 0.1 0.1\n" // negative position: dropped
                          "0 4000000000 0 0 1 1 1 1 1 1 1 1 1\n"    // absurd position: dropped
                          "0 0 0\n"                                 // positions missing: dropped
                          "1 0 1 1 1 1 1 1 1 1 1 1\n";               // one value short: stored
    Output out;
    const Cal::Data d = read(t, &out);
    EXPECT_EQ(out.out, "bad entry, line 3\nbad entry, line 4\nbad entry, line 5\nbad entry, line 6\n"
                       "bad entry, line 7\nread 8 lines, 2 x 1 modules, 4 x 2 pixels \n");
    ASSERT_EQ(d.pixels.size(), 2u);
    ASSERT_EQ(d.pixels[0].size(), 4u);
    EXPECT_EQ(d.pixels[0][0][0], (Cal::EmitterReading{0.5f, 0.4f, 1.0f, 0.0f}));
    EXPECT_EQ(d.pixels[0][1][0], (Cal::EmitterReading{0.5f, 0.0f, 7.0f, 0.0f}));
    EXPECT_EQ(d.pixels[0][1][1], Cal::EmitterReading{});
    EXPECT_EQ(d.pixels[1][3][2], (Cal::EmitterReading{1.0f, 0.0f, 1.0f, 0.0f}));

    // A grid too large to be a real table is refused whole.
    for (const char* lines : {"0 0 65535 0 1 1 1 1 1 1 1 1 1\n0 0 0 65535 1 1 1 1 1 1 1 1 1\n",
                              // 2^32 x 2^32 pixels, whose product wraps to 0
                              "0 0 65535 65535 1 1 1 1 1 1 1 1 1\n65535 65535 0 0 1 1 1 1 1 1 1 1 1\n"}) {
        const Cal::Data big = read(kHeader13 + "\n" + lines, &out);
        EXPECT_TRUE(big.pixels.empty());
        EXPECT_NE(out.err.find("too large"), std::string::npos);
    }
}

// A few lines far apart span a grid out of all proportion to the file: refused
// before the grid is allocated.
TEST(XinRuiReadTest, GridsFarLargerThanTheirLinesAreRefused)
{
    const std::string v = " 1 0.5 0.4 2 0.3 0.6 3 0.1 0.1\n";
    struct Row {
        const char* what;
        std::string lines;
        bool refused;
    } rows[] = {
        {"two pixels 4095 apart in one module", "0 0 0 0" + v + "0 0 4095 4095" + v, true},
        {"two modules 4095 apart", "0 0 0 0" + v + "4095 4095 0 0" + v, true},
        {"one long row", "0 0 0 0" + v + "0 0 9 0" + v, true},
        {"a module of 3 x 3 pixels named twice", "0 0 0 0" + v + "0 0 2 2" + v, true},
        {"a module of 2 x 4 pixels named twice", "0 0 0 0" + v + "0 0 1 3" + v, false},
        {"a full module", "0 0 0 0" + v + "0 0 1 0" + v + "0 0 0 1" + v + "0 0 1 1" + v, false},
    };
    for (const auto& r : rows) {
        Output out;
        const Cal::Data d = read(kHeader13 + "\n" + r.lines, &out);
        EXPECT_EQ(d.pixels.empty(), r.refused) << r.what;
        EXPECT_EQ(out.err.find("too sparse") != std::string::npos, r.refused) << r.what << out.err;
    }
}

TEST(XinRuiWriteTest, WritesSixteenColumnsAndSkipsPixelsWithoutReadings)
{
    const std::string t = kHeader13 + "\r\n"
                          "5 3 1 0 123.456 0.69124 0.30 10 0.2 0.7 20.5 0.15 0.06\r\n"
                          "6 3 0 1 1 0.5 0.25 2 0.25 0.5 3 0.125 0.0625\r\n";
    const Cal::Data d = read(t);
    EXPECT_EQ(write(d, 2), kHeader16 + "\n"
                               "5 3 1 0 123.46\t0.6912\t0.3000\t0.0\t10.00\t0.2000\t0.7000\t0.0\t20.50\t0.1500\t0.0600\t0.0\n"
                               "6 3 0 1 1.00\t0.5000\t0.2500\t0.0\t2.00\t0.2500\t0.5000\t0.0\t3.00\t0.1250\t0.0625\t0.0\n");
    // Written text reads back to a cube that writes the same text.
    EXPECT_EQ(write(read(write(d, 2)), 2), write(d, 2));

    std::ostringstream os;
    captured([&] { Handler().writeStream(d, os, 3); });
    EXPECT_EQ(os.precision(), 1);
}

using XinRuiFolderTest = ScratchTest;

TEST_F(XinRuiFolderTest, FoldersOfTablesByIdWithDecoys)
{
    const Cal::Data a = read(sixteenColumnTable());
    const Cal::Data b = read(kHeader13 + "\n0 0 0 0 1 0.5 0.4 2 0.3 0.6 3 0.1 0.1\n");
    auto out = captured([&] { Handler().writeFiles({{"a", a}, {"b 2", b}}, dir, 4); });
    EXPECT_EQ(out.out, "writing " + path("XinRui_Raw_a.txt") + " ...\nwriting " + path("XinRui_Raw_b 2.txt") + " ...\n");
    spit(path("XinRui_Raw_c.txt.bak"), "x");
    spit(path("xinrui_Raw_d.txt"), "x");
    std::filesystem::create_directory(path("XinRui_Raw_e.txt"));

    std::map<std::string, Cal::Data> got;
    out = captured([&] { got = Handler().readFiles(dir); });
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got.at("a").pixels, a.pixels);
    EXPECT_EQ(got.at("b 2").pixels, b.pixels);
    EXPECT_EQ(out.err, "");

    out = captured([&] {
        EXPECT_EQ(Handler().readFile(path("none.txt")), Cal::Data{});
        Handler().writeFile(a, path("no/such/x.txt"), 2);
    });
    EXPECT_EQ(out.err, "Can't open file " + path("none.txt") + ": No such file or directory\n"
                       "Can't open file " + path("no/such/x.txt") + ": No such file or directory\n");
}

} // namespace
