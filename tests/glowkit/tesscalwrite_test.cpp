// TessCal writer: exact bytes against the python3 oracle, round trips through
// the reader, record selection and failure handling.

#include "glowkit/tesscalread.h"
#include "glowkit/tesscalwrite.h"

#include "tesscal_testutil.h"

#include <cmath>
#include <limits>

using namespace TessCal;
using namespace tesscaltest;

namespace {

struct Written {
    int status = -1;
    std::string bytes;
    Output printed;
};

Written writeData(const CalData& d, CalSets sets, uint32_t strcap = 0)
{
    Written w;
    std::ostringstream os;
    w.printed = captured([&] {
        WriteCalData writer(d, sets);
        writer.strcap = strcap;
        w.status = writer(os);
    });
    w.bytes = os.str();
    return w;
}

CalData readData(const std::string& bytes, CalSets* sets = nullptr)
{
    CalData d;
    CalSets s;
    int status = -1;
    const Output o = captured([&] {
        std::istringstream is(bytes);
        status = ReadCalData(is, d, s);
    });
    EXPECT_EQ(status, 0) << o.err;
    if (sets)
        *sets = s;
    return d;
}

CalData withFormat(uint32_t pixfmt)
{
    CalData d;
    d.header.pixfmt = pixfmt;
    return d;
}

// A stream buffer that takes `room` bytes and then refuses.
class FullBuf : public std::streambuf {
public:
    explicit FullBuf(size_t room, bool failSync = false)
        : room_(room)
        , failSync_(failSync)
    {
    }
    std::string data;

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        if (data.size() >= room_)
            return traits_type::eof();
        data.push_back(traits_type::to_char_type(c));
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        const auto k = std::min<std::streamsize>(n, std::streamsize(room_ - std::min(room_, data.size())));
        data.append(s, size_t(k));
        return k;
    }
    int sync() override { return failSync_ ? -1 : 0; }

private:
    size_t room_;
    bool failSync_;
};

} // namespace

TEST(TessCalWrite, FullContentInTheLibraryOrder)
{
    const CalData d = readData(oracle("full"));
    const Written w = writeData(d, CalSets{0xFF, 0});
    EXPECT_EQ(w.status, 0) << w.printed.err;
    EXPECT_EQ(w.printed.err, "");
    EXPECT_EQ(w.bytes, oracle("full_canonical"));

    // Written again from what it reads back: the same bytes.
    EXPECT_EQ(writeData(readData(w.bytes), CalSets{0xFF, 0}).bytes, w.bytes);

    // The counted size is the size of the stream, and a second target gets
    // the same bytes without a new count.
    WriteCalData writer(d, CalSets{0xFF, 0});
    EXPECT_EQ(writer.get_totlen(), w.bytes.size());
    std::ostringstream a, b;
    EXPECT_EQ(writer(a), 0);
    EXPECT_EQ(writer(b), 0);
    EXPECT_EQ(a.str(), w.bytes);
    EXPECT_EQ(b.str(), w.bytes);
}

TEST(TessCalWrite, OnlySelectedSetsAreWritten)
{
    const CalData full = readData(oracle("full"));
    CalSets sets;
    const Written w = writeData(full, CalSets{0x08, 0}); // set 3 only
    ASSERT_EQ(w.status, 0);
    const CalData d = readData(w.bytes, &sets);
    EXPECT_EQ(sets.mask, 0x08u);
    EXPECT_EQ(d.olutID, "olut");
    EXPECT_EQ(d.olutIShaper.size(), 3u);
    EXPECT_TRUE(d.batchID.empty());
    EXPECT_FALSE(d.mesh.hasData());
    ASSERT_EQ(d.unknown.size(), 1u);
    EXPECT_EQ(d.unknown[0].key, 0x0003000Fu);
}

TEST(TessCalWrite, EmptySetsGiveMarkersOnly)
{
    CalData d = withFormat(3);
    d.procInfo.w4 = 0x10000; // third and fourth words are not looked at
    d.procInfo.w3 = 5;
    d.brightness = -0.0f;
    Written w = writeData(d, CalSets{0x01, 0});
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.bytes.size(), 38u);
    EXPECT_EQ(w.bytes, oracle("w_empty_set0"));

    w = writeData(withFormat(3), CalSets{0x80, 0});
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.bytes, oracle("w_empty_set7"));

    // A NaN carries data.
    d.brightness = std::numeric_limits<float>::quiet_NaN();
    w = writeData(d, CalSets{0x01, 0});
    EXPECT_EQ(w.bytes.size(), 38u + 13u);
    EXPECT_TRUE(std::isnan(readData(w.bytes).brightness));
}

TEST(TessCalWrite, EightBitLowGreyKeepsTheLowByte)
{
    CalData d = withFormat(1);
    d.lowGray.is16 = false;
    for (uint16_t v : {0x1234, 0x5678, 0x9ABC})
        d.lowGray.entries.push_back(LowGrayT<>{{v, 0xEEEE, 0xEEEE}});
    const Written w = writeData(d, CalSets{0x04, 0});
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.bytes, oracle("w_lowgray8"));
}

TEST(TessCalWrite, UnknownRecordsBySetOrBySource)
{
    CalData d = withFormat(3);
    std::shared_ptr<const uint8_t[]> bytes(new uint8_t[1]{0x42});
    d.unknown.push_back(UnknownKLV{0x00080001, 1, bytes, 9}); // beyond the set range
    d.unknown.push_back(UnknownKLV{0x00010011, 1, bytes, 0}); // set 1

    auto keys = [](const std::string& stream) {
        std::vector<uint32_t> k;
        for (const auto& u : readData(stream).unknown)
            k.push_back(u.key);
        return k;
    };
    EXPECT_EQ(keys(writeData(d, CalSets{0x02, 0}).bytes), (std::vector<uint32_t>{0x00010011}));
    EXPECT_EQ(keys(writeData(d, CalSets{0x80000000u, 9}).bytes), (std::vector<uint32_t>{0x00080001}));
    EXPECT_EQ(keys(writeData(d, CalSets{0x80000002u, 9}).bytes), (std::vector<uint32_t>{0x00080001, 0x00010011}));
    EXPECT_EQ(keys(writeData(d, CalSets{0x80000001u, 8}).bytes), (std::vector<uint32_t>{}));
    EXPECT_EQ(keys(writeData(d, CalSets{0x000000FDu, 9}).bytes), (std::vector<uint32_t>{}));
}

TEST(TessCalWrite, InvalidPixelFormatWritesNothing)
{
    const Written w = writeData(withFormat(2), CalSets{0xFF, 0});
    EXPECT_EQ(w.status, 4);
    EXPECT_EQ(w.bytes, "");
    EXPECT_EQ(w.printed.err, "*** ERROR L1167: Invalid pixel format: 2\n");
}

TEST(TessCalWrite, InvalidMeshFailsWithoutItsMarker)
{
    CalData d = withFormat(3);
    d.mesh.width = 4;
    d.mesh.height = 3;
    d.mesh.planes[0].assign(10, 0x8000);
    d.batchID = "other content";
    const Written w = writeData(d, CalSets{0x81, 0});
    EXPECT_EQ(w.status, 3);
    EXPECT_EQ(w.bytes, ""); // no set-7 marker that would clear a receiver's mesh
    EXPECT_EQ(w.printed.err, "*** ERROR L925: Invalid mesh size, cc: 0, 10 != 4 x 3\n");

    // The same mesh does not matter when set 7 is not written.
    EXPECT_EQ(writeData(d, CalSets{0x01, 0}).status, 0);

    // A plane past the first one, and planes outside the pixel format.
    d.mesh.planes[0].assign(12, 1);
    d.mesh.planes[2].assign(11, 1);
    EXPECT_EQ(writeData(d, CalSets{0x80, 0}).printed.err, "*** ERROR L925: Invalid mesh size, cc: 2, 11 != 4 x 3\n");
    d.header.pixfmt = 1;
    const Written one = writeData(d, CalSets{0x80, 0});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(readData(one.bytes).mesh.planes[0].size(), 12u);
}

TEST(TessCalWrite, StringLimits)
{
    CalData d = withFormat(3);
    d.batchID.assign(65535, 'b');
    Written w = writeData(d, CalSets{0x01, 0});
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(readData(w.bytes).batchID, d.batchID);

    d.batchID.assign(65536, 'b');
    w = writeData(d, CalSets{0x01, 0});
    EXPECT_EQ(w.status, 3);
    EXPECT_EQ(w.bytes, "");
    EXPECT_EQ(w.printed.err, "*** ERROR L1118: String too long: 65536\n"
                             "*** ERROR L981: KLV lengths don't add up: 20, 65558\n");

    // A smaller cap cuts strings instead.
    w = writeData(d, CalSets{0x01, 0}, 100);
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(readData(w.bytes).batchID, std::string(100, 'b'));

    // The template is raw bytes with a 32-bit length: no string limit.
    d.batchID.clear();
    d.calTemplate.assign(70000, 't');
    w = writeData(d, CalSets{0x01, 0});
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(readData(w.bytes).calTemplate.size(), 70000u);
}

TEST(TessCalWrite, TooManyTemperaturesAreRefused)
{
    CalData d = withFormat(3);
    d.measTemp.resize(255);
    EXPECT_EQ(writeData(d, CalSets{0x01, 0}).status, 0);
    d.measTemp.resize(256);
    const Written w = writeData(d, CalSets{0x01, 0});
    EXPECT_EQ(w.status, 3);
    EXPECT_EQ(w.bytes, "");
}

TEST(TessCalWrite, StreamFailureAnywhereIsReportedOnce)
{
    const CalData d = readData(oracle("full"));
    const std::string good = oracle("full_canonical");
    std::vector<size_t> rooms;
    for (size_t room = 0; room + 4 < good.size(); room += (room < 64 ? 1 : 29))
        rooms.push_back(room);
    for (size_t room = good.size() - 4; room < good.size(); ++room)
        rooms.push_back(room); // inside the CRC
    for (size_t room : rooms) {
        FullBuf buf(room);
        std::ostream os(&buf);
        int status = -1;
        const Output o = captured([&] { status = WriteCalData(d, CalSets{0xFF, 0})(os); });
        EXPECT_EQ(status, 3) << room;
        EXPECT_EQ(buf.data, good.substr(0, room)) << room;
        if (room + 4 >= good.size()) {
            // The CRC write fails, and so does the flush after it.
            EXPECT_EQ(o.err, "*** ERROR L1070: Write Error\n*** ERROR L989: Write Error\n") << room;
            continue;
        }
        EXPECT_EQ(o.err.rfind("*** ERROR L1070: Write Error\n", 0), 0u) << room << o.err;
        EXPECT_EQ(o.err.find("Write Error", 20), std::string::npos) << room << o.err;
    }

    // Failure only when flushing.
    FullBuf buf(good.size(), true);
    std::ostream os(&buf);
    int status = -1;
    const Output o = captured([&] { status = WriteCalData(d, CalSets{0xFF, 0})(os); });
    EXPECT_EQ(status, 3);
    EXPECT_EQ(buf.data, good);
    EXPECT_EQ(o.err, "*** ERROR L989: Write Error\n");
}

TEST(TessCalWrite, RecordMethodsComputeTheirLengths)
{
    // The list form and the count-then-entries form write the same bytes.
    std::ostringstream a, b;
    Write wa(a), wb(b);
    Header h;
    h.pixfmt = 4;
    wa.CBHeader(h, 0, 0);
    wb.CBHeader(h, 0, 0);
    std::vector<LUT3DEnt> dat(3);
    dat[1].v = {1, 2, 3, 4, 5};
    EXPECT_EQ(wa.CBOLUTDat(dat), 0);
    EXPECT_EQ(wb.CBOLUTDatNum(3), 0);
    for (uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(wb.CBOLUTDatData(i, dat[i]), 0);
    EXPECT_EQ(a.str(), b.str());
    EXPECT_EQ(be32(a.str(), 23), Key::OLUTDat);
    EXPECT_EQ(be32(a.str(), 27), 3u * 2 * 4);

    DriverPar p{"speed", uint64_t(1) << 40};
    EXPECT_EQ(wa.CBDriverPar(p), 0);
    EXPECT_EQ(be32(a.str(), 23 + 9 + 24 + 4), 5u + 7 + 4);
    EXPECT_EQ(wa.CBEndTag(), 0);
    EXPECT_EQ(wa.CBDone(), 0);
    EXPECT_EQ(wa.blklen(), 24u + 9 + 9 + 16 + 9);

    // The header carries only the low byte and low 16 bits.
    std::ostringstream c;
    Write wc(c);
    Header big;
    big.pixfmt = 0x103;
    big.width = 0x12345;
    big.height = 0x10002;
    wc.CBHeader(big, 0, 0);
    EXPECT_EQ(c.str().substr(14, 5), std::string("\x03\x23\x45\x00\x02", 5));
}
