// TessCal file handler: mesh streams against the python3 oracle, round trips
// and refusals.

#include "glowkit/tesscalfile.h"

#include "tesscal_testutil.h"

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>

using namespace tesscaltest;
using TessCalFile::Handler;
using TessCalFile::Mesh;

namespace {

using Plane = std::vector<std::vector<float>>;

// The same planes as the oracle's MESH_ONE, MESH_TWO and MESH_THREE.
Mesh meshOne()
{
    return Mesh{"m", {Plane(2, std::vector<float>(3, 1.0f))}, {0.5f, 0.5f, 3, 2}, 0.25f};
}

Mesh meshTwo()
{
    return Mesh{"two", {Plane{{0.5f, 1.5f}}, Plane{{1.0f, 0.25f}}}, {1, 2, 3, 4}, 0.05f};
}

Mesh meshThree()
{
    return Mesh{"Veltrano continuous",
                {Plane{{0.0f, 0.5f, 1.0f, 1.999f}, {0.25f, 0.75f, 1.25f, 1.75f}, {0.125f, 0.375f, 0.625f, 0.875f}},
                 Plane{{2.5f, -0.25f, 1.5f, 1.0f}, {1.0f, 1.0f, 1.0f, 1.0f}, {0.0001f, 1.99999f, 0.9999f, 1.0001f}},
                 Plane{std::vector<float>(4, 1.0f), std::vector<float>(4, 0.5f), std::vector<float>(4, 1.5f)}},
                {0.5f, 0.5f, 2, 1},
                1.0f};
}

struct Written {
    std::string bytes;
    bool failed = false;
    Output printed;
};

Written write(const Mesh& m)
{
    Written w;
    std::ostringstream os;
    w.printed = captured([&] { Handler().writeStream(m, os); });
    w.failed = os.fail();
    w.bytes = os.str();
    return w;
}

Mesh readMesh(const std::string& bytes, Output* printed = nullptr)
{
    Mesh m;
    std::istringstream is(bytes);
    const Output o = captured([&] { m = Handler().readStreamMesh(is); });
    if (printed)
        *printed = o;
    return m;
}

void expectEmpty(const Mesh& m)
{
    EXPECT_EQ(m.name, "");
    EXPECT_TRUE(m.planes.empty());
    EXPECT_EQ(m.geometry, (std::array<float, 4>{}));
    EXPECT_EQ(m.value, 0.0f);
}

} // namespace

TEST(TessCalFileMesh, ExactBytesOfSmallMeshes)
{
    for (const auto& [name, mesh] : {std::pair{"mesh_one", meshOne()}, std::pair{"mesh_two", meshTwo()},
                                     std::pair{"mesh_three", meshThree()}}) {
        SCOPED_TRACE(name);
        const Written w = write(mesh);
        EXPECT_FALSE(w.failed);
        EXPECT_EQ(w.printed.err, "");
        EXPECT_EQ(w.bytes, oracle(name));
    }
    EXPECT_EQ(write(meshOne()).bytes.size(), 99u);
}

TEST(TessCalFileMesh, ReadsBackWhatItWrote)
{
    const Mesh one = readMesh(write(meshOne()).bytes);
    EXPECT_EQ(one.name, "m");
    EXPECT_EQ(one.planes, meshOne().planes);
    EXPECT_EQ(one.geometry, meshOne().geometry);
    EXPECT_EQ(one.value, 0.25f);

    // Gains come back to within one step, clamped to [0, 65535/32768].
    const Mesh in = meshThree();
    const Mesh three = readMesh(write(in).bytes);
    ASSERT_EQ(three.planes.size(), 3u);
    for (size_t p = 0; p < 3; ++p) {
        ASSERT_EQ(three.planes[p].size(), 3u);
        for (size_t r = 0; r < 3; ++r) {
            ASSERT_EQ(three.planes[p][r].size(), 4u);
            for (size_t c = 0; c < 4; ++c) {
                const float g = std::clamp(in.planes[p][r][c], 0.0f, 65535.0f / 32768);
                EXPECT_LE(three.planes[p][r][c], g);
                EXPECT_GT(three.planes[p][r][c], g - 1.0f / 32768);
            }
        }
    }
    EXPECT_EQ(three.planes[1][0][0], 65535.0f / 32768); // 2.5 saturates
    EXPECT_EQ(three.planes[1][0][1], 0.0f);             // -0.25 saturates
    EXPECT_EQ(three.planes[0][0][3], 65503.0f / 32768); // 1.999 is 0xFFDF

    // A two-plane mesh is written with three presence bytes (1, 1, 0) and
    // comes back with its two planes.
    const Mesh two = readMesh(write(meshTwo()).bytes);
    ASSERT_EQ(two.planes.size(), 2u);
    EXPECT_EQ(two.planes, meshTwo().planes);
    EXPECT_EQ(two.value, 0.05f);
}

TEST(TessCalFileMesh, SmallerOfTheTwoValuesIsRead)
{
    std::string bytes = oracle("mesh_one");
    // The second value copy sits 4 bytes before the reserved word, which
    // precedes the presence byte and the six samples.
    const size_t second = bytes.size() - 4 - 12 - 1 - 4 - 4;
    ASSERT_EQ(be32(bytes, second), 0x3E800000u); // 0.25
    bytes.replace(second, 4, std::string("\x3E\x00\x00\x00", 4)); // 0.125
    // Re-seal the CRC.
    const uint32_t crc = TessCal::crc32(bytes.data(), bytes.size() - 4);
    for (int i = 0; i < 4; ++i)
        bytes[bytes.size() - 4 + size_t(i)] = char(crc >> (24 - 8 * i));
    EXPECT_EQ(readMesh(bytes).value, 0.125f);
}

TEST(TessCalFileMesh, RefusedMeshesWriteNothingAndFailTheStream)
{
    Mesh nan = meshOne();
    nan.planes[0][1][2] = std::numeric_limits<float>::quiet_NaN();
    Written w = write(nan);
    EXPECT_TRUE(w.failed);
    EXPECT_EQ(w.bytes, "");
    EXPECT_EQ(w.printed.err, "TessCal mesh plane 0 holds a gain that is not a number\nTessCal Write error\n");

    Mesh shortRow = meshThree();
    shortRow.planes[1][2].pop_back();
    w = write(shortRow);
    EXPECT_TRUE(w.failed);
    EXPECT_EQ(w.bytes, "");
    EXPECT_EQ(w.printed.err, "TessCal mesh plane 1 is not 3 rows of 4 cells\nTessCal Write error\n");

    Mesh fewerRows = meshThree();
    fewerRows.planes[2].pop_back();
    EXPECT_TRUE(write(fewerRows).failed);

    Mesh longRow = meshOne();
    longRow.planes[0][1].push_back(1.0f);
    EXPECT_TRUE(write(longRow).failed);

    Mesh six = meshOne();
    six.planes.resize(6, six.planes[0]);
    w = write(six);
    EXPECT_TRUE(w.failed);
    EXPECT_EQ(w.bytes, "");

    // A stream that cannot take the bytes.
    std::ostringstream closed;
    closed.setstate(std::ios::badbit);
    const Output o = captured([&] { Handler().writeStream(meshOne(), closed); });
    EXPECT_TRUE(closed.fail());
    EXPECT_EQ(o.err, "*** ERROR L1070: Write Error\n*** ERROR L981: KLV lengths don't add up: 0, 72\n"
                     "TessCal Write error\n");
}

TEST(TessCalFileMesh, FourAndFivePlanesAndNoPlanes)
{
    Mesh four = meshOne();
    four.planes.resize(4, four.planes[0]);
    const Written w4 = write(four);
    ASSERT_FALSE(w4.failed);
    EXPECT_EQ(uint8_t(w4.bytes[14]), 4);
    EXPECT_EQ(readMesh(w4.bytes).planes.size(), 4u);

    Mesh five = meshOne();
    five.planes.resize(5, five.planes[0]);
    EXPECT_EQ(readMesh(write(five).bytes).planes.size(), 5u);

    Mesh none{"empty", {}, {1, 1, 1, 1}, 2};
    const Written w0 = write(none);
    ASSERT_FALSE(w0.failed);
    EXPECT_EQ(uint8_t(w0.bytes[14]), 3);
    const Mesh back = readMesh(w0.bytes);
    EXPECT_EQ(back.name, "empty");
    EXPECT_TRUE(back.planes.empty());
    EXPECT_EQ(back.value, 2.0f);
}

TEST(TessCalFileMesh, UnreadableStreamsGiveAnEmptyMesh)
{
    Output o;
    expectEmpty(readMesh("not a stream at all", &o));
    EXPECT_EQ(o.err, "*** ERROR L187: Unknown magic: 0x6e6f7420\nTessCal Parse error\n");

    std::string cut = oracle("mesh_three");
    cut.pop_back();
    expectEmpty(readMesh(cut, &o));
    EXPECT_EQ(o.err.substr(o.err.size() - 20), "TessCal Parse error\n");

    // A stream without the set-7 marker holds no mesh for this purpose.
    expectEmpty(readMesh(oracle("w_empty_set0"), &o));
    EXPECT_EQ(o.err, "TessCal does not contain a mesh\n");

    // A present plane after an absent one would move into its place.
    expectEmpty(readMesh(oracle("mesh_gap_middle"), &o));
    EXPECT_EQ(o.err, "TessCal mesh plane 2 follows an absent plane\n");
    expectEmpty(readMesh(oracle("mesh_gap_first"), &o));
    EXPECT_EQ(o.err, "TessCal mesh plane 1 follows an absent plane\n");

    // Meshes are read up to 4096 cells a side.
    struct Size {
        size_t width, height;
        const char* err;
    };
    for (const Size& size : {Size{1, 4096, ""}, Size{4096, 2, ""},
                             Size{1, 4097, "TessCal mesh of 1 x 4097 cells is larger than 4096 x 4096\n"},
                             Size{4097, 1, "TessCal mesh of 4097 x 1 cells is larger than 4096 x 4096\n"}}) {
        SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
        const Mesh big{"big", {Plane(size.height, std::vector<float>(size.width, 0.5f))}, {}, 1};
        const Mesh back = readMesh(write(big).bytes, &o);
        EXPECT_EQ(o.err, size.err);
        EXPECT_EQ(back.planes.size(), *size.err ? 0u : 1u);
        if (!*size.err)
            EXPECT_EQ(back.planes, big.planes);
    }
}

// ---------------------------------------------------------------------------
// Calibration cubes

namespace {

// Same construction as the oracle's cube(): reading i of pixel k = row * w + col.
Cal::Data makeCube(size_t w, size_t h, size_t readings)
{
    const float xy[5][2] = {{0.64f, 0.33f}, {0.30f, 0.60f}, {0.15f, 0.06f}, {0.3127f, 0.329f}, {0.2f, 0.7f}};
    Cal::Data d;
    d.pixels.assign(h, std::vector<std::vector<Cal::EmitterReading>>(w));
    for (size_t r = 0; r < h; ++r)
        for (size_t c = 0; c < w; ++c)
            for (size_t i = 0; i < readings; ++i)
                d.pixels[r][c].push_back(
                    {xy[i][0], xy[i][1], 10.0f * float(r * w + c + 1) * float(i + 1), 600.0f + float(i)});
    return d;
}

Cal::Data cubeA()
{
    Cal::Data a = makeCube(3, 2, 3);
    a.pixels[1][1].clear();
    a.pixels[1][2].resize(1);
    a.pixels[0][1][2] = {0.15f, 0.0f, 5.0f, 0.0f};
    return a;
}

std::string writeCube(const Cal::Data& d, Output* printed = nullptr, bool* failed = nullptr)
{
    std::ostringstream os;
    const Output o = captured([&] { Handler().writeStream(d, os); });
    if (printed)
        *printed = o;
    if (failed)
        *failed = os.fail();
    return os.str();
}

Cal::Data readCube(const std::string& bytes, Output* printed = nullptr)
{
    Cal::Data d;
    std::istringstream is(bytes);
    const Output o = captured([&] { d = Handler().readStream(is); });
    if (printed)
        *printed = o;
    return d;
}

// A folder of its own under the system's temporary folder.
struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        path = std::filesystem::temp_directory_path() /
               ("tesscalfile-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

} // namespace

TEST(TessCalFileCube, ExactBytesOfSmallCubes)
{
    Output o;
    EXPECT_EQ(writeCube(cubeA(), &o), oracle("cube_a"));
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(writeCube(makeCube(2, 1, 4)), oracle("cube_four"));
    EXPECT_EQ(writeCube(makeCube(1, 2, 1)), oracle("cube_one"));
    const std::string empty = writeCube(Cal::Data{});
    EXPECT_EQ(empty, oracle("cube_empty"));
    EXPECT_EQ(empty.size(), 67u);
}

TEST(TessCalFileCube, ReadsBackAsOneModule)
{
    const Cal::Data in = cubeA();
    const Cal::Data out = readCube(writeCube(in));
    EXPECT_EQ(out.moduleWidth, 3u);
    EXPECT_EQ(out.moduleHeight, 2u);
    EXPECT_EQ(out.firstModuleColumn + out.lastModuleColumn + out.firstModuleRow + out.lastModuleRow, 0u);
    EXPECT_TRUE(out.minimum.empty() && out.maximum.empty());
    ASSERT_EQ(out.pixels.size(), 2u);
    for (size_t r = 0; r < 2; ++r) {
        ASSERT_EQ(out.pixels[r].size(), 3u);
        for (size_t c = 0; c < 3; ++c) {
            const auto& px = out.pixels[r][c];
            ASSERT_EQ(px.size(), 3u);
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(px[i].WaveLength, 0.0f);
                if (i >= in.pixels[r][c].size() || (r == 0 && c == 1 && i == 2)) {
                    EXPECT_EQ(px[i], Cal::EmitterReading{}) << r << c << i; // missing or black
                    continue;
                }
                const auto& e = in.pixels[r][c][i];
                EXPECT_NEAR(px[i].Cx, e.Cx, 1e-6);
                EXPECT_NEAR(px[i].Cy, e.Cy, 1e-6);
                EXPECT_EQ(px[i].Lv, e.Lv);
            }
        }
    }

    // Four readings: three XYZ per pixel in the stream, a fourth reading of
    // zero when read back.
    const std::string four = writeCube(makeCube(2, 1, 4));
    EXPECT_EQ(uint8_t(four[14]), 4);
    const Cal::Data back = readCube(four);
    ASSERT_EQ(back.pixels[0][1].size(), 4u);
    EXPECT_EQ(back.pixels[0][1][3], Cal::EmitterReading{});
    EXPECT_EQ(back.pixels[0][1][2].Lv, 60.0f);

    // The empty cube.
    const Cal::Data none = readCube(oracle("cube_empty"));
    EXPECT_TRUE(none.pixels.empty());
    EXPECT_EQ(none.moduleWidth, 0u);

    // A cube stream holds no mesh, a mesh stream converts to an empty grid.
    EXPECT_TRUE(readCube(oracle("mesh_one")).pixels.empty());
    Output o;
    expectEmpty(readMesh(oracle("cube_a"), &o));
    EXPECT_EQ(o.err, "TessCal does not contain a mesh\n");
}

TEST(TessCalFileCube, RefusedCubes)
{
    Output o;
    bool failed = false;
    Cal::Data wide;
    wide.pixels.assign(1, std::vector<std::vector<Cal::EmitterReading>>(65536));
    EXPECT_EQ(writeCube(wide, &o, &failed), "");
    EXPECT_TRUE(failed);
    EXPECT_EQ(o.err, "TessCal cube of 65536 x 1 pixels is larger than 65535 x 65535\nTessCal Write error\n");

    Cal::Data ragged = makeCube(3, 2, 3);
    ragged.pixels[1].pop_back();
    EXPECT_EQ(writeCube(ragged, &o, &failed), "");
    EXPECT_TRUE(failed);
    EXPECT_EQ(o.err, "TessCal cube row 1 is not 3 pixels wide\nTessCal Write error\n");

    // Header sizes that the stream does not back with pixels.
    Cal::Data big = readCube(oracle("cube_unbacked"), &o);
    EXPECT_TRUE(big.pixels.empty());
    EXPECT_EQ(o.err, "TessCal cube of 65535 x 65535 pixels carries 0 of them\nTessCal Parse error\n");

    std::string cut = oracle("cube_a");
    cut.resize(cut.size() - 10);
    EXPECT_TRUE(readCube(cut, &o).pixels.empty());
    EXPECT_EQ(o.err.substr(o.err.size() - 20), "TessCal Parse error\n");
}

TEST(TessCalFileCube, FilesAndFolders)
{
    TempDir dir;
    const std::string folder = dir.path.string();
    const Handler h;
    std::map<std::string, Cal::Data> cubes{{"a", makeCube(2, 2, 3)}, {"b", makeCube(1, 1, 1)}};
    h.writeFiles(cubes, folder);

    // Decoys: wrong case, a folder with the suffix, another suffix.
    std::filesystem::copy_file(dir.path / "a.klv", dir.path / "c.KLV");
    std::filesystem::create_directory(dir.path / "d.klv");
    std::filesystem::copy_file(dir.path / "a.klv", dir.path / "e.klv.bak");

    const auto back = h.readFiles(folder);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back.begin()->first, "a");
    EXPECT_EQ(back.at("a").pixels.size(), 2u);
    EXPECT_EQ(back.at("a").pixels[1][1][2].Lv, 120.0f);
    EXPECT_EQ(back.at("b").pixels[0][0].size(), 1u);

    // validateFile prints the trace of the file.
    Output o = captured([&] { h.validateFile(folder + "/b.klv"); });
    EXPECT_EQ(o.out.rfind("Total Length:", 0), 0u);
    EXPECT_NE(o.out.find("KLV CRC Good\n"), std::string::npos);
    std::istringstream is(oracle("crcbad"));
    int status = -1;
    o = captured([&] { status = h.validateStream(is); });
    EXPECT_EQ(status, 1);

    // Files that cannot be opened.
    const std::string missing = folder + "/missing.klv";
    o = captured([&] { EXPECT_TRUE(h.readFile(missing).pixels.empty()); });
    EXPECT_EQ(o.err, "Can't open file " + missing + ": No such file or directory\n");
    o = captured([&] { h.validateFile(missing); });
    EXPECT_EQ(o.err, "Can't open file " + missing + ": No such file or directory\n");
    const std::string nofolder = folder + "/none/x.klv";
    o = captured([&] { h.writeFile(cubes.at("a"), nofolder); });
    EXPECT_EQ(o.err, "Can't open file " + nofolder + ": No such file or directory\n");
    o = captured([&] { EXPECT_TRUE(h.readFiles(folder + "/none").empty()); });
    EXPECT_EQ(o.err.rfind("Can't open folder " + folder + "/none: ", 0), 0u);
}
