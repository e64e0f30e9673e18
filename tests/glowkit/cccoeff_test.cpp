// Coefficient file: exact bytes written, read back, and the pixel-wise product.

#include "glowkit/cccoeff.h"

#include "formats_testutil.h"

using namespace formatstest;

namespace {

ccCoeffFile::Entry entry(std::uint64_t x, std::uint64_t y, std::array<double, 9> m)
{
    return ccCoeffFile::Entry{x, y, m};
}

constexpr std::array<double, 9> kIdentity{1, 0, 0, 0, 1, 0, 0, 0, 1};

using CoeffFileTest = ScratchTest;

TEST_F(CoeffFileTest, WritesTheTextFormatAndReadsItBack)
{
    const ccCoeffHandler handler;
    struct Row {
        ccCoeffFile set;
        std::string text;
    } rows[] = {
        {{2, 1, {}}, "[T9COEF20]\nwidth=2\nheight=1\n"},
        {{5, 6, {entry(3, 4, kIdentity), entry(0, 1, {-1.5, 0.25, 2, 1e-7, 123456.789, 0, 0, 0, -0.000001})}},
         "[T9COEF20]\nwidth=5\nheight=6\n"
         "3,4,1.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,1.000000\n"
         "0,1,-1.500000,0.250000,2.000000,0.000000,123456.789000,0.000000,0.000000,0.000000,-0.000001\n"},
    };
    for (const auto& row : rows) {
        const std::string file = path("c.txt");
        spit(file, "a longer previous content that must go away entirely........................");
        EXPECT_EQ(handler.writeFile(row.set, file), 0);
        EXPECT_EQ(slurp(file), row.text);

        const ccCoeffFile back = handler.readFile(file);
        EXPECT_EQ(back.width, row.set.width);
        EXPECT_EQ(back.height, row.set.height);
        ASSERT_EQ(back.entries.size(), row.set.entries.size());
        for (std::size_t i = 0; i < back.entries.size(); ++i) {
            EXPECT_EQ(back.entries[i].x, row.set.entries[i].x);
            EXPECT_EQ(back.entries[i].y, row.set.entries[i].y);
            for (int k = 0; k < 9; ++k)
                EXPECT_NEAR(back.entries[i].m[k], row.set.entries[i].m[k], 5e-7);
        }
    }
}

TEST_F(CoeffFileTest, UnreadableOrMalformedFilesGiveAnEmptySetAndOneLine)
{
    const ccCoeffHandler handler;
    auto out = captured([&] { EXPECT_EQ(handler.writeFile({1, 1, {}}, dir + "/missing/c.txt"), -1); });
    EXPECT_EQ(out.err, "Can't open file " + dir + "/missing/c.txt: No such file or directory\n");

    const std::string good = "[T9COEF20]\nwidth=1\nheight=1\n0,0,1,0,0,0,1,0,0,0,1\n";
    const std::string bad[] = {
        "",
        "[T9COEF21]\nwidth=1\nheight=1\n",
        "[T9COEF20]\nheight=1\nwidth=1\n",
        "[T9COEF20]\nwidth=1x\nheight=1\n",
        good + "0,0,1,0,0,0,1,0,0,0\n",       // ten fields
        good + "0,0,1,0,0,0,1,0,0,0,1,5\n",   // twelve
        good + "0,0,1,0,0,0,1,0,0,0,1 \n",    // trailing junk
        good + "\n",
        // Sizes and positions are decimal, as written: no octal, hexadecimal or sign.
        "[T9COEF20]\nwidth=010\nheight=1\n",
        "[T9COEF20]\nwidth=1\nheight=0x10\n",
        "[T9COEF20]\nwidth=+1\nheight=1\n",
        "[T9COEF20]\nwidth=9223372036854775808\nheight=1\n", // beyond "%zi"
        good + "-1,0,1,0,0,0,1,0,0,0,1\n",
        good + "0,07,1,0,0,0,1,0,0,0,1\n",
        good + " 1,0,1,0,0,0,1,0,0,0,1\n",
    };
    for (const auto& text : bad) {
        spit(path("bad.txt"), text);
        ccCoeffFile got{9, 9, {}};
        out = captured([&] { got = handler.readFile(path("bad.txt")); });
        EXPECT_EQ(got, ccCoeffFile{}) << text;
        EXPECT_EQ(std::count(out.err.begin(), out.err.end(), '\n'), 1) << text;
    }
    out = captured([&] { EXPECT_EQ(handler.readFile(path("none.txt")), ccCoeffFile{}); });
    EXPECT_NE(out.err.find("Can't open file"), std::string::npos);
}

TEST(CoeffProductTest, MultipliesPixelByPixelLeftTimesRight)
{
    const std::array<double, 9> a{1, 2, 3, 4, 5, 6, 7, 8, 10};
    const std::array<double, 9> b{0, 1, 0, 0, 0, 1, 1, 0, 0}; // a permutation: a x b moves columns
    const ccCoeffFile left{2, 1, {entry(0, 0, a), entry(1, 0, kIdentity)}};
    const ccCoeffFile right{2, 1, {entry(7, 7, b), entry(8, 8, a), entry(9, 9, a)}};

    const ccCoeffFile p = left * right;
    ASSERT_EQ(p.entries.size(), 2u);
    EXPECT_EQ(p.entries[0], entry(0, 0, {3, 1, 2, 6, 4, 5, 10, 7, 8}));
    EXPECT_EQ(p.entries[1], entry(1, 0, a));
    const ccCoeffFile identities{2, 1, {entry(0, 0, kIdentity), entry(1, 0, kIdentity)}};
    EXPECT_EQ(left * identities, left);

    // Pairing by position needs as many entries on the right, and the same area.
    for (const ccCoeffFile& other : {ccCoeffFile{2, 1, {entry(0, 0, a)}}, ccCoeffFile{1, 2, right.entries}}) {
        ccCoeffFile got;
        const auto out = captured([&] { got = left * other; });
        EXPECT_EQ(got, ccCoeffFile{});
        EXPECT_EQ(std::count(out.err.begin(), out.err.end(), '\n'), 1);
    }
}

} // namespace
