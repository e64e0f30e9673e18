// ctest-labels: threaded
// TessCal reader against streams built independently by the python3 oracle.

#include "glowkit/tesscalread.h"

#include "tesscal_testutil.h"

#include <cstring>
#include <thread>

using namespace TessCal;
using namespace tesscaltest;

namespace {

struct Result {
    int status = -1;
    CalData data;
    CalSets sets;
    Output printed;
};

Result readBytes(const std::string& bytes, CalData start = {})
{
    Result r;
    r.data = std::move(start);
    r.printed = captured([&] {
        std::istringstream is(bytes);
        r.status = ReadCalData(is, r.data, r.sets, 5);
    });
    return r;
}

int validate(const std::string& bytes, Output* printed = nullptr)
{
    int status = -1;
    Output o = captured([&] {
        std::istringstream is(bytes);
        status = ValidateCalData(is);
    });
    if (printed)
        *printed = o;
    return status;
}

} // namespace

TEST(TessCalRead, FullStreamFillsEveryRecord)
{
    const Result r = readBytes(oracle("full"));
    ASSERT_EQ(r.status, 0) << r.printed.err;
    EXPECT_EQ(r.sets.mask, 0xFFu);
    const CalData& d = r.data;

    EXPECT_EQ(d.header.word, 1u);
    EXPECT_EQ(d.header.pixfmt, 3u);
    EXPECT_EQ(d.header.width, 2u);
    EXPECT_EQ(d.header.height, 1u);

    EXPECT_EQ(d.batchID, "batch-7"); // the bank-1 "banked" record was skipped
    EXPECT_EQ(d.tileID.raw, (std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(d.tileID.a, 7u);
    EXPECT_EQ(d.tileID.b, 8u);
    EXPECT_EQ(d.tileID.c, 9.5f);
    EXPECT_EQ(d.tileID.d, 10u);
    EXPECT_EQ(d.procInfo.w1, 11u);
    EXPECT_EQ(d.procInfo.w2, 0x1122334455667788u);
    EXPECT_EQ(d.procInfo.w3, 13u);
    EXPECT_EQ(d.procInfo.w4, 14u);
    EXPECT_EQ(d.brightness, 250.5f);
    EXPECT_EQ(d.defaultGamut[1].y, 0.60f);
    EXPECT_EQ(d.defaultWhite.x, 0.3127f);
    EXPECT_EQ(d.idealGamut[2].Z, 9.0f);
    ASSERT_EQ(d.measTemp.size(), 2u);
    EXPECT_EQ(d.measTemp[1].tag, 6u);
    EXPECT_EQ(d.measTemp[1].v, (std::array<uint32_t, 3>{24, 25, 26}));
    ASSERT_EQ(d.pixelsXYZ.size(), 2u);
    EXPECT_EQ(d.pixelsXYZ[1][2].Z, 17.5f);
    ASSERT_EQ(d.olutXYY.size(), 2u);
    EXPECT_EQ(d.olutXYY[1][2].Y, 117.0f);
    EXPECT_EQ(d.olutXYY[1][3].Y, 0.0f); // S5 = 3 in the stream
    EXPECT_EQ(d.calTemplate, "tmpl text");
    EXPECT_TRUE(d.lowGray.is16);
    ASSERT_EQ(d.lowGray.entries.size(), 2u);
    EXPECT_EQ(d.lowGray.entries[1].v, (std::array<uint16_t, 3>{0x8001, 0xFFFF, 6}));
    EXPECT_EQ(d.olutID, "olut");
    EXPECT_EQ(d.olutProcInfo.w1, 31u);
    EXPECT_EQ(d.olutProcInfo.w2, 32u);
    EXPECT_EQ(d.olutProcInfo.w3, 0u);
    EXPECT_EQ(d.olutGamut[1].x, 0.265f);
    EXPECT_EQ(d.olutWhite.y, 0.32f);
    ASSERT_EQ(d.olutDat.size(), 2u);
    EXPECT_EQ(d.olutDat[1].v, (std::array<uint16_t, 5>{4, 5, 6, 0, 0}));
    EXPECT_EQ(d.olutRef[2].Y, 208.0f);
    EXPECT_EQ(d.olutIShaper, (std::vector<uint16_t>{10, 20, 30}));
    EXPECT_EQ(d.olutOShaper, (std::vector<uint16_t>{40, 50}));
    EXPECT_EQ(d.factoryMatrix[1].Y, 1.25f);
    EXPECT_EQ(d.factoryLowGray.v, (std::array<int16_t, 3>{-1, 2, -3}));
    ASSERT_EQ(d.badPixels.size(), 2u);
    EXPECT_EQ(d.badPixels[1].x, 65535u);
    EXPECT_EQ(d.badPixels[1].attr2, 10u);

    EXPECT_EQ(d.mesh.name, "mesh");
    EXPECT_EQ(d.mesh.width, 2u);
    EXPECT_EQ(d.mesh.height, 1u);
    EXPECT_EQ(d.mesh.geometry, (std::array<float, 4>{0.5f, 0.5f, 2, 1}));
    EXPECT_EQ(d.mesh.value, (std::array<float, 2>{0.25f, 0.75f}));
    EXPECT_EQ(d.mesh.planes[0], (std::vector<uint16_t>{0x8000, 0xFFFF}));
    EXPECT_TRUE(d.mesh.planes[1].empty());
    EXPECT_EQ(d.mesh.planes[2], (std::vector<uint16_t>{1, 2}));

    // Unknown records kept in reading order with the reader's source; the
    // deleted one dropped.
    ASSERT_EQ(d.unknown.size(), 2u);
    EXPECT_EQ(d.unknown[0].key, 0x0003000Fu);
    EXPECT_EQ(d.unknown[0].len, 4u);
    EXPECT_EQ(std::memcmp(d.unknown[0].data.get(), "\xde\xad\xbe\xef", 4), 0);
    EXPECT_EQ(d.unknown[0].source, 5u);
    EXPECT_EQ(d.unknown[1].key, 0x00000002u);
    EXPECT_NE(r.printed.err.find("*** INFO L588: Dropping deleted KLV ID: 0x00030003, xPixelXYZCmd\n"),
              std::string::npos);
    EXPECT_NE(r.printed.err.find("*** WARN L608: Unknown KLV ID: 0x0003000f, len: 4\n"), std::string::npos);
}

TEST(TessCalRead, FailuresGiveTheirStatusAndExactLine)
{
    struct Case {
        const char* name;
        int status;
    };
    // Counts the meshes handed on: none of these streams holds a whole one.
    struct Spy : Read {
        using Read::Read;
        int meshes = 0;
        void CBMeshCorr(MeshCorr&&) override { ++meshes; }
    };
    for (const Case& c : {Case{"hdr8", 1}, Case{"badmagic", 2}, Case{"empty", 1}, Case{"pixfmt2", 4},
                          Case{"pixfmt6", 4}, Case{"crcbad", 1}, Case{"filler_flipped", 1}, Case{"mesh_huge", 1},
                          Case{"mesh_short", 1}, Case{"mesh_cut", 1}, Case{"endtag", 3}, Case{"cut_header", 1},
                          Case{"cut_header_end", 1}, Case{"cut_klv_header", 1}, Case{"cut_payload", 1},
                          Case{"cut_skipped", 1}, Case{"totlen_short", 1}}) {
        SCOPED_TRACE(c.name);
        Output o;
        std::istringstream is(oracle(c.name));
        Spy reader(is);
        int status = -1;
        o = captured([&] { status = reader.read(); });
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(reader.meshes, 0);
        EXPECT_EQ(o.err, oracleErr(c.name));
        EXPECT_EQ(o.out, "");
    }
}

TEST(TessCalRead, HeaderLengthAndFillerVariants)
{
    for (const char* name : {"hdr12", "filler"}) {
        const Result r = readBytes(oracle(name));
        EXPECT_EQ(r.status, 0) << name << r.printed.err;
        EXPECT_EQ(r.data.brightness, 2.0f) << name;
        EXPECT_EQ(r.printed.err, "") << name;
    }

    // A left-over byte inside the block is reported and skipped.
    const Result t = readBytes(oracle("trailing"));
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(t.printed.err, oracleErr("trailing"));
    EXPECT_EQ(t.data.brightness, 2.0f);
}

TEST(TessCalRead, TruncatedAnywhereFailsCleanly)
{
    const std::string full = oracle("full");
    for (size_t n = 0; n < full.size(); ++n) {
        const Result r = readBytes(full.substr(0, n));
        ASSERT_EQ(r.status, 1) << "cut at " << n;
        // Announced sets are taken back: nothing of any set survives.
        EXPECT_TRUE(r.data.batchID.empty() && r.data.pixelsXYZ.empty() && !r.data.mesh.hasData()) << n;
    }
    // Cut inside the CRC: the exact lines.
    const Result r = readBytes(full.substr(0, full.size() - 2));
    const std::string tail = "*** ERROR L1007: EOF\n*** ERROR L246: EOF on CRC\n";
    ASSERT_GE(r.printed.err.size(), tail.size());
    EXPECT_EQ(r.printed.err.substr(r.printed.err.size() - tail.size()), tail);
}

TEST(TessCalRead, CorruptedByteFailsTheCrc)
{
    const std::string full = oracle("full");
    // Every byte between magic and CRC is covered: flip a sample of them.
    for (size_t at = 4; at + 4 < full.size(); at += 37) {
        std::string bad = full;
        bad[at] = char(bad[at] ^ 0x40);
        EXPECT_NE(readBytes(bad).status, 0) << at;
    }
}

TEST(TessCalRead, EndTagTakesBackAnnouncedSetsOnly)
{
    CalData start;
    start.brightness = 9;
    start.factoryMatrix[0].X = 4;
    const Result r = readBytes(oracle("endtag"), start);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.sets.mask, 0x41u); // sets 0 and 6 announced
    EXPECT_EQ(r.data.batchID, "");
    EXPECT_EQ(r.data.brightness, 0.0f);
    // Sets without a marker keep what was read or held before.
    EXPECT_EQ(r.data.factoryLowGray.v, (std::array<int16_t, 3>{4, 5, 6}));
    EXPECT_EQ(r.data.factoryMatrix[0].X, 4.0f);

    // Without a header the same end tag closes the block cleanly.
    CalData d;
    std::istringstream is(oracle("block_endtag"));
    ReadCB reader(is, d);
    int status = -1;
    const Output o = captured([&] { status = reader.read_klv_block(); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(d.olutID, "x");
    EXPECT_EQ(reader.announced().mask, 0x08u);
    EXPECT_EQ(o.err, "");
}

TEST(TessCalRead, UnknownRecordsUpToTheSizeLimitAreKept)
{
    const Result r = readBytes(oracle("unknown_sizes"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.printed.err, oracleErr("unknown_sizes"));
    ASSERT_EQ(r.data.unknown.size(), 2u);
    EXPECT_EQ(r.data.unknown[0].key, 0x00031234u);
    EXPECT_EQ(r.data.unknown[0].len, 65536u);
    EXPECT_EQ(r.data.unknown[0].data[65535], 255);
    EXPECT_EQ(r.data.unknown[1].key, 0x00800001u);
    EXPECT_EQ(r.data.unknown[1].data[0], 5);
}

TEST(TessCalRead, ProcessInformationLengths)
{
    const Result r = readBytes(oracle("procinfo"));
    ASSERT_EQ(r.status, 0) << r.printed.err;
    EXPECT_EQ(r.data.procInfo.w1, 1u);
    EXPECT_EQ(r.data.procInfo.w2, 2u);
    EXPECT_EQ(r.data.procInfo.w3, 3u);
    EXPECT_EQ(r.data.procInfo.w4, 4u);
    EXPECT_EQ(r.data.olutProcInfo.w1, 5u);
    EXPECT_EQ(r.data.olutProcInfo.w2, 6u);
    EXPECT_EQ(r.data.olutProcInfo.w3, 0u);
    EXPECT_EQ(r.data.olutProcInfo.w4, 0u);

    // 13 to 19 bytes: the first two words; the rest is skipped.
    for (int n = 13; n <= 19; ++n) {
        const Result p = readBytes(oracle("procinfo_" + std::to_string(n)));
        ASSERT_EQ(p.status, 0) << n << p.printed.err;
        EXPECT_EQ(p.printed.err, "") << n;
        EXPECT_EQ(p.data.procInfo.w1, 1u) << n;
        EXPECT_EQ(p.data.procInfo.w2, 2u) << n;
        EXPECT_EQ(p.data.procInfo.w3 + p.data.procInfo.w4, 0u) << n;
        EXPECT_EQ(p.data.brightness, 2.0f) << n;
    }
}

TEST(TessCalRead, FirstMarkerOfASetClearsIt)
{
    CalData start;
    start.batchID = "old";
    start.brightness = 5;
    start.badPixels.resize(3);
    start.unknown.push_back(UnknownKLV{0x00000002, 0, {}, 0});
    start.unknown.push_back(UnknownKLV{0x00010011, 0, {}, 0});
    const Result r = readBytes(oracle("markers"), start);
    ASSERT_EQ(r.status, 0) << r.printed.err;
    EXPECT_EQ(r.data.batchID, "new");
    EXPECT_EQ(r.data.brightness, 0.0f); // cleared; its bank-1 record skipped
    EXPECT_TRUE(r.data.badPixels.empty());
    ASSERT_EQ(r.data.unknown.size(), 1u); // the set-0 unknown went with its set
    EXPECT_EQ(r.data.unknown[0].key, 0x00010011u);
    EXPECT_EQ(r.sets.mask, 0x41u); // no set 11

    Output o;
    EXPECT_EQ(validate(oracle("markers"), &o), 0);
    EXPECT_EQ(o.out, "Total Length:112,  Header Length:9, Header Position:10\n"
                     "Header Width:0, Header Height:0\n"
                     "Key:BadPixels, Bytes:6, Bank:1, Start@:32\n"
                     "Key:CalSet, Bytes:2, Bank:0, Start@:47\n"
                     "Set: 6/BadPixels, first: 1\n"
                     "Key:CalSet, Bytes:2, Bank:0, Start@:58\n"
                     "Set: 0/HighGray, first: 1\n"
                     "Key:CalSet, Bytes:2, Bank:0, Start@:69\n"
                     "Set: 0/HighGray, first: 1\n"
                     "Key:CalBatchID, Bytes:5, Bank:0, Start@:80\n"
                     "Key:CalSet, Bytes:2, Bank:0, Start@:94\n"
                     "Set: 0/HighGray, first: 0\n"
                     "Key:CalBrightness, Bytes:4, Bank:1, Start@:105\n"
                     "Key:CalSet, Bytes:2, Bank:0, Start@:118\n"
                     "Set: 11/???, first: 1\n"
                     "KLV CRC Good\n");
    EXPECT_EQ(o.err, "");
}

TEST(TessCalRead, VerboseTraceOfUnknownKeysAndCrcMismatch)
{
    Output o;
    EXPECT_EQ(validate(oracle("unknown_sizes"), &o), 0);
    EXPECT_NE(o.out.find("Key:Unknown[0x00800001], Bytes:1, Bank:0, Start@:"), std::string::npos);

    EXPECT_EQ(validate(oracle("crcbad"), &o), 1);
    const std::string good = oracle("crcbad");
    char line[64];
    std::snprintf(line, sizeof line, "KLV CRC mismatch 0x%08x != 0x%08x\n", be32(good, good.size() - 4),
                  be32(good, good.size() - 4) ^ 0x100);
    EXPECT_NE(o.out.find(line), std::string::npos) << o.out;
    EXPECT_EQ(o.err, ""); // the mismatch goes to the trace only
}

TEST(TessCalRead, RepeatedListRecords)
{
    const Result r = readBytes(oracle("repeats"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.printed.err, oracleErr("repeats"));
    ASSERT_EQ(r.data.pixelsXYZ.size(), 2u);
    EXPECT_EQ(r.data.pixelsXYZ[0][2].Z, 2.0f); // replaced by index
    EXPECT_EQ(r.data.pixelsXYZ[1][0].X, 1.0f);
    ASSERT_EQ(r.data.measTemp.size(), 2u); // appended
    EXPECT_EQ(r.data.measTemp[1].v[2], 6u);
    EXPECT_FALSE(r.data.lowGray.is16); // the second table replaced the first
    ASSERT_EQ(r.data.lowGray.entries.size(), 1u);
    EXPECT_EQ(r.data.lowGray.entries[0].v, (std::array<uint16_t, 3>{7, 8, 9}));
    ASSERT_EQ(r.data.badPixels.size(), 1u);
    EXPECT_EQ(r.data.badPixels[0].x, 1u);
}

TEST(TessCalRead, CountsWithoutPixels)
{
    const Result r = readBytes(oracle("nopixels"));
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.data.lowGray.entries.size(), 2u);
    EXPECT_EQ(r.data.lowGray.entries[1].v, (std::array<uint16_t, 3>{3, 4, 5}));
    EXPECT_TRUE(r.data.pixelsXYZ.empty());
    EXPECT_TRUE(r.data.olutXYY.empty());
}

TEST(TessCalRead, LowGreyCountStopsAtThePixels)
{
    const Result r = readBytes(oracle("lowgray_over"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.printed.err, "");
    ASSERT_EQ(r.data.lowGray.entries.size(), 2u); // four in the record, two pixels
    EXPECT_EQ(r.data.lowGray.entries[1].v, (std::array<uint16_t, 3>{4, 5, 6}));
}

TEST(TessCalRead, MeshPlanesFollowThePixelFormat)
{
    Result r = readBytes(oracle("mesh_fmt1"));
    ASSERT_EQ(r.status, 0) << r.printed.err;
    EXPECT_EQ(r.data.mesh.name, "m1");
    EXPECT_EQ(r.data.mesh.planes[0], (std::vector<uint16_t>{0, 1, 0x8000, 0xFFFF}));
    for (int p = 1; p < 5; ++p)
        EXPECT_TRUE(r.data.mesh.planes[p].empty());
    EXPECT_EQ(r.data.mesh.reserved, 7u);
    EXPECT_EQ(r.data.mesh.value[1], 6.0f);

    r = readBytes(oracle("mesh_fmt5"));
    ASSERT_EQ(r.status, 0) << r.printed.err;
    EXPECT_EQ(r.data.mesh.planes[0], (std::vector<uint16_t>{1}));
    EXPECT_TRUE(r.data.mesh.planes[1].empty());
    EXPECT_EQ(r.data.mesh.planes[2], (std::vector<uint16_t>{3}));
    EXPECT_EQ(r.data.mesh.planes[4], (std::vector<uint16_t>{5}));

    const std::string worked = oracle("worked");
    EXPECT_EQ(worked.size(), 88u);
    r = readBytes(worked);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.sets.mask, 0x80u);
    EXPECT_FALSE(r.data.mesh.hasData());
}

TEST(TessCalRead, MeshSizesBeyondTheRecordAreRefused)
{
    // Width and height of 2^32 - 1 must neither allocate nor crash.
    CalData start;
    start.mesh.name = "kept until the marker";
    const Result r = readBytes(oracle("mesh_huge"), start);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.printed.err, oracleErr("mesh_huge"));
    EXPECT_FALSE(r.data.mesh.hasData());

    const Result s = readBytes(oracle("mesh_short"));
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.printed.err, oracleErr("mesh_short"));
}

TEST(TessCalRead, ZeroKeyDeletedKeyAndDriverParameters)
{
    struct Spy : Read {
        using Read::Read;
        std::vector<DriverPar> pars;
        void CBDriverPar(const DriverPar& p) override { pars.push_back(p); }
    };
    std::istringstream is(oracle("zero_deleted"));
    Spy spy(is);
    int status = -1;
    const Output o = captured([&] { status = spy.read(); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(o.err, oracleErr("zero_deleted"));
    EXPECT_TRUE(spy.pars.empty()); // unknown type: no callback

    std::istringstream full(oracle("full"));
    Spy all(full);
    captured([&] { status = all.read(); });
    EXPECT_EQ(status, 0);
    ASSERT_EQ(all.pars.size(), 1u);
    EXPECT_EQ(all.pars[0].name, "gain");
    EXPECT_EQ(std::get<float>(all.pars[0].value), 1.5f);
}

TEST(TessCalRead, ReentrantAcrossThreads)
{
    const std::string full = oracle("full");
    std::vector<std::thread> threads;
    std::vector<int> statuses(6, -1);
    std::vector<std::string> names(6);
    testing::internal::CaptureStderr();
    for (size_t i = 0; i < statuses.size(); ++i)
        threads.emplace_back([&, i] {
            for (int k = 0; k < 20; ++k) {
                std::istringstream is(full);
                CalData d;
                CalSets sets;
                statuses[i] = ReadCalData(is, d, sets);
                names[i] = d.mesh.name;
            }
        });
    for (auto& t : threads)
        t.join();
    testing::internal::GetCapturedStderr();
    for (size_t i = 0; i < statuses.size(); ++i) {
        EXPECT_EQ(statuses[i], 0);
        EXPECT_EQ(names[i], "mesh");
    }
}
