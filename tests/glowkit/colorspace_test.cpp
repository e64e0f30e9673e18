// FITS captures: folders of astropy-written images with decoy names, missing
// and mis-sized images.

#include "glowkit/colorspace.h"

#include "formats_testutil.h"

#include <cstring>

using namespace formatstest;

namespace {

class CapturesTest : public ScratchTest {
protected:
    // Images are written together by one python run (write()).
    void image(const std::string& name, int rows, int cols, const std::string& expr, int planes = 1)
    {
        pending += " '" + path(name) + "' " + std::to_string(rows) + " " + std::to_string(cols) + " '" + expr + "' "
                   + std::to_string(planes);
    }
    void write()
    {
        python("fits_fixture.py", pending);
        pending.clear();
    }
    // X, Y, Z of one colour; Y = 10·colour + r + c, X = 2Y, Z = Y + 1.
    void colour(char c, const std::string& id, int rows = 2, int cols = 3)
    {
        const std::string y = std::to_string(10 * (c == 'R' ? 1 : c == 'G' ? 2 : 3)) + " + r + c";
        image(std::string(1, c) + "_X_" + id + ".fit", rows, cols, "2 * (" + y + ")");
        image(std::string(1, c) + "_Y_" + id + ".fit", rows, cols, y);
        image(std::string(1, c) + "_Z_" + id + ".fit", rows, cols, y + " + 1");
    }

    std::string pending;
};

TEST_F(CapturesTest, ReadsEveryIdOfTheFolderAndSkipsDecoys)
{
    for (char c : {'R', 'G', 'B'}) {
        colour(c, "m1");
        colour(c, "");
    }
    write();
    for (const char* decoy : {"R-X_d.fit", "W_X_d.fit", "R_Q_d.fit", "R_X_d.fits", "r_X_d.fit"})
        spit(path(decoy), "not a FITS file");
    std::filesystem::create_directory(path("G_Y_dir.fit"));

    std::map<std::string, Cal::Data> got;
    const auto out = captured([&] { got = ColorSpace::Handler().readCaptures(dir); });
    EXPECT_EQ(out.err, "");
    ASSERT_EQ(got.size(), 2u);
    ASSERT_TRUE(got.count("") && got.count("m1"));
    EXPECT_EQ(out.out.find(path("R_X_.fit") + "\n" + path("R_Y_.fit") + "\n" + path("R_Z_.fit") + "\n" + path("G_X_.fit")),
              0u);

    const Cal::Data& d = got.at("m1");
    EXPECT_EQ(d.moduleWidth, 3u);
    EXPECT_EQ(d.moduleHeight, 2u);
    ASSERT_EQ(d.pixels.size(), 2u);
    ASSERT_EQ(d.pixels[1].size(), 3u);
    // Pixel (1, 2) of green: Y = 23, X = 46, Z = 24.
    ASSERT_EQ(d.pixels[1][2].size(), 3u);
    EXPECT_FLOAT_EQ(d.pixels[1][2][1].Cx, 46.0f / 93);
    EXPECT_FLOAT_EQ(d.pixels[1][2][1].Cy, 23.0f / 93);
    EXPECT_FLOAT_EQ(d.pixels[1][2][1].Lv, 23.0f);
    EXPECT_EQ(d.pixels[1][2][1].WaveLength, 0.0f);
    EXPECT_FLOAT_EQ(d.pixels[0][0][2].Lv, 30.0f);
}

TEST_F(CapturesTest, BrokenIdsAreReportedAndLeftOut)
{
    for (char c : {'R', 'G', 'B'})
        colour(c, "good");
    image("R_X_lone.fit", 2, 3, "1"); // its Y image is missing
    for (char c : {'R', 'G', 'B'})
        colour(c, "small");
    image("G_Z_small.fit", 1, 3, "1"); // smaller than its X image
    for (char c : {'R', 'G', 'B'})
        colour(c, "cube");
    image("B_Y_cube.fit", 2, 3, "1", 2); // three axes
    colour('R', "mixed");
    colour('G', "mixed", 3, 3);             // another size than red
    colour('B', "mixed");
    write();
    // A header that announces 10^12 pixels in a file of two blocks.
    std::string head;
    for (const char* card : {"SIMPLE  =                    T", "BITPIX  =                  -32",
                             "NAXIS   =                    2", "NAXIS1  =              1000000",
                             "NAXIS2  =              1000000", "END"})
        head += std::string(card).append(80 - std::strlen(card), ' ');
    spit(path("R_X_vast.fit"), head.append(2880 - head.size(), ' ') + std::string(2880, '\0'));

    std::map<std::string, Cal::Data> got;
    const auto out = captured([&] { got = ColorSpace::Handler().readCaptures(dir); });
    EXPECT_EQ(got.size(), 2u);
    EXPECT_TRUE(got.count("good"));
    EXPECT_EQ(got.at("mixed").pixels[0][0].size(), 2u); // green refused by addChannel
    // The cube's Y image reads as "wrong size!", an empty plane smaller than X.
    EXPECT_EQ(out.err, "wrong size!\n"
                       "Failed reading captures for id cube: Y or Z image of colour B smaller than its X image\n"
                       "Failed reading captures for idlone\n"
                       "Cal::Data::addChannel: incorrect size!\n"
                       "Failed reading captures for id small: Y or Z image of colour G smaller than its X image\n"
                       "Failed reading captures for id vast: " + path("R_X_vast.fit")
                           + " holds less data than its header announces\n");
}

} // namespace
