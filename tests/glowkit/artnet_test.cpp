// ArtDmx encoding and decoding, byte for byte and through Wireshark's Art-Net
// dissector as an independent reader; DMX universe printing.

#include "glowkit/artnet.h"
#include "glowkit/dmx.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

using namespace ArtNet;
using Bytes = std::vector<uint8_t>;

namespace {

// The 16 header bytes of a packet with sequence 5, physical 1, universe 0x0123.
const Bytes head{'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x50, 0x00, 0x0E, 5, 1, 0x23, 0x01};

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

ArtDmx packet(const Bytes& data)
{
    ArtDmx p(head + Bytes{0, 0});
    p.data = data;
    return p;
}

std::string hexOf(const Bytes& bytes)
{
    std::string out;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
}

} // namespace

TEST(ArtDmx, EncodesTheWireFormAndDecodesItBack)
{
    Bytes large(513);
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = uint8_t(i * 7);
    struct Row {
        Bytes data;
        Bytes expected; // after the 16 header bytes
    };
    const std::vector<Row> rows{
        {{}, {0, 2, 0, 0}},            // padded to the shortest length
        {{7}, {0, 2, 7, 0}},
        {{7, 8, 9}, {0, 3, 7, 8, 9}},  // odd lengths stay odd
        {large, Bytes{0x02, 0x01} + large},
    };
    for (const Row& row : rows) {
        const Bytes wire = packet(row.data).encode();
        EXPECT_EQ(hexOf(wire), hexOf(head + row.expected)) << row.data.size();

        const Decoder::Result r = Decoder::decode(wire);
        EXPECT_EQ(r.code, Decoder::Dmx);
        EXPECT_EQ(r.consumed, wire.size());
        EXPECT_EQ(hexOf(r.packet.encode()), hexOf(wire));
        EXPECT_EQ(r.packet.head.sequence, 5);
        EXPECT_EQ(r.packet.head.subUni, 0x23);
    }
}

TEST(ArtDmx, RefusesMoreDataThanTheLengthFieldHolds)
{
    EXPECT_EQ(packet(Bytes(65535)).encode().size(), 18u + 65535u);
    EXPECT_THROW(packet(Bytes(65536)).encode(), std::length_error);
}

TEST(ArtDmx, ConstructorChecksLengthsOnlyAndKeepsTheHeaderAsItStands)
{
    EXPECT_THROW(ArtDmx(Bytes(head.begin(), head.end()) + Bytes{0}), std::bad_array_new_length);
    EXPECT_THROW(ArtDmx(head + Bytes{0, 3, 1, 2}), std::bad_array_new_length);

    Bytes foreign = head + Bytes{0, 2, 9, 9, 0xEE}; // trailing byte ignored
    foreign[0] = 'B';
    foreign[8] = 0x00;
    foreign[9] = 0x20;
    const ArtDmx p(foreign);
    EXPECT_EQ(p.data, (Bytes{9, 9}));
    foreign.pop_back();
    EXPECT_EQ(hexOf(p.encode()), hexOf(foreign));
}

TEST(ArtNetDecoder, SortsForeignAndMalformedInput)
{
    auto with = [](size_t at, uint8_t value) {
        Bytes b = head + Bytes{0, 2, 1, 2};
        b[at] = value;
        return b;
    };
    struct Row {
        const char* name;
        Bytes bytes;
        uint32_t code;
        size_t consumed;
    };
    const std::vector<Row> rows{
        {"header only, length 0", head + Bytes{0, 0}, Decoder::Dmx, 18},
        {"bytes past the data", head + Bytes{0, 1, 5, 6, 7}, Decoder::Dmx, 21},
        {"length 512, 100 bytes", head + Bytes{2, 0} + Bytes(100), Decoder::NotArtNet, 0},
        {"header cut short", head + Bytes{0}, Decoder::NotArtNet, 0},
        {"shorter than an ID and version", Bytes(head.begin(), head.begin() + 11), Decoder::NotArtNet, 0},
        {"NUL of the ID missing", with(7, ' '), Decoder::NotArtNet, 0},
        {"protocol version 15", with(11, 15), Decoder::NotArtNet, 0},
        {"protocol version 0x010E", with(10, 1), Decoder::NotArtNet, 0},
        {"OpCode 0x2000", with(9, 0x20), Decoder::OtherOp, 0},
        {"OpCode 0x0050 (byte order)", [&] {
             Bytes b = with(8, 0x50);
             b[9] = 0;
             return b;
         }(), Decoder::OtherOp, 0},
    };
    for (const Row& row : rows) {
        const Decoder::Result r = Decoder::decode(row.bytes);
        EXPECT_EQ(r.code, row.code) << row.name;
        EXPECT_EQ(r.consumed, row.consumed) << row.name;
    }
}

// Wireshark reads the encoded packets from a capture file.
TEST(ArtDmx, WiresharkDissectorReadsTheEncodedPackets)
{
    if (std::system("command -v tshark >/dev/null 2>&1 && command -v text2pcap >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark or text2pcap is not installed";

    Bytes full(512);
    for (size_t i = 0; i < full.size(); ++i)
        full[i] = uint8_t(255 - i);
    const std::vector<Bytes> datas{{}, {7}, {7, 8, 9}, full};

    namespace fs = std::filesystem;
    const fs::path dir = fs::path(testing::TempDir()) / ("artnet-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    {
        std::ofstream dump(dir / "packets.txt"); // one packet a line, at offset 0
        for (size_t n = 0; n < datas.size(); ++n) {
            ArtDmx p = packet(datas[n]);
            p.head.sequence = uint8_t(n + 1);
            p.head.net = 0x7F;
            dump << "000000";
            for (uint8_t b : p.encode())
                dump << ' ' << hexOf({b});
            dump << '\n';
        }
    }
    const std::string pcap = (dir / "packets.pcap").string();
    ASSERT_EQ(std::system(("text2pcap -q -4 127.0.0.1,127.0.0.1 -u 6454,6454 '" + (dir / "packets.txt").string() +
                           "' '" + pcap + "' >/dev/null 2>&1")
                              .c_str()),
              0);
    const std::string command = "tshark -r '" + pcap +
                                "' -T fields -E separator=';' -e artnet.header.id -e artnet.header.opcode "
                                "-e artnet.header.protver -e artnet.output.sequence -e artnet.output.physical "
                                "-e artnet.output.universe -e artnet.output.length -e dmx_chan.data_filter 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, pipe))
        out.append(buf, n);
    EXPECT_EQ(::pclose(pipe), 0);
    fs::remove_all(dir);

    std::string expected;
    for (size_t n = 0; n < datas.size(); ++n) {
        Bytes sent = datas[n];
        sent.resize(std::max<size_t>(sent.size(), 2));
        expected += "Art-Net;0x5000;14;" + std::to_string(n + 1) + ";1;" + std::to_string(0x7F23) + ";" +
                    std::to_string(sent.size()) + ";" + hexOf(sent) + "\n";
    }
    EXPECT_EQ(out, expected);
}

TEST(DmxUniverse, PrintsTheChannelsThatAreNotZero)
{
    std::ostringstream os;
    os << Dmx::Universe{{0, 255, 0, 3}} << '|' << Dmx::Universe{} << '|';
    EXPECT_EQ(os.str(), "Universe: @2=255 @4=3 |Universe: |");
}
