// RevNetTool client against a stand-in receiver on loopback: the exact bytes
// of every request, sequence numbers, reply checks and conversions,
// discovery.

#include "revnet_fake.h"

#include <boost/system/system_error.hpp>

using namespace RevNetTool;
using namespace revnettest;

namespace {

const Mac mac{0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
const std::string macHex = "00 1B 2C 3D 4E 5F";

// Answers every request well, with a value chosen by command and parameter.
Answer goodReceiver(const Request& r)
{
    const char c = char(r.header.command);
    switch (uint16_t(r.header.parameter)) {
    case 1: return {reply(r, 0, c == 'G' ? hex("00 01 02 03") : Bytes{})};
    case 2: return {reply(r, 0, hex("00 00 10 00"))};
    case 3: return {reply(r, 0, hex("72 65 00 70"))}; // "re\0p"
    case 5: return {reply(r, 0, c == 'G' ? hex("12 34 56 78") : Bytes{})};
    case 6: return {reply(r, 0, c == 'G' ? hex("01 2C") : Bytes{})};
    case 8: return {reply(r, 0, hex("03 6F 6B"))};
    default: return {reply(r, 0)};
    }
}

template <class V>
V valueOf(const Result<V>& r)
{
    EXPECT_EQ(errorOf(r), Error{});
    return std::holds_alternative<V>(r) ? std::get<V>(r) : V{};
}

} // namespace

TEST(RevNetToolClient, SendsEachRequestAndReadsItsValue)
{
    FakeReceiver fake(goodReceiver);
    Client client("127.0.0.1", fake.port());

    std::vector<endor::big<uint16_t>> wide;
    for (uint16_t i = 0; i < 300; ++i)
        wide.push_back(uint16_t(0x0100 + i));

    valueOf(client.Ping());
    EXPECT_EQ(valueOf(client.GetVersion()), 0x00010203u);
    EXPECT_EQ(valueOf(client.GetUptime()), 4096u);
    EXPECT_EQ(valueOf(client.GetDeviceReport()), std::string("re\0p", 4));
    valueOf(client.SetPattern<uint8_t>(mac, 9, {1, 2, 0xFE}));
    valueOf(client.SetPattern<uint16_t>(mac, 7, wide));
    EXPECT_EQ(valueOf(client.GetBypass(mac)), 0x12345678u);
    valueOf(client.SetBypass({mac, 0x01020304}));
    EXPECT_EQ(valueOf(client.GetBrightness(mac)), 300u);
    valueOf(client.SetBrightness({mac, 0x0A0B}));
    valueOf(client.SetReboot(mac));
    const SystemTestStatus test = valueOf(client.GetSystemTest(mac));
    EXPECT_EQ(test.status, 3);
    EXPECT_EQ(test.text, "ok");

    // Magic, length, version 1, sequence, command, status FF, parameter.
    Bytes wideRequest = hex("5A B8 2E 7A 02 6D 01 05 53 FF 00 04" + macHex + "07 2C 02");
    for (uint16_t i = 0; i < 300; ++i)
        wideRequest = wideRequest + Bytes{uint8_t((0x100 + i) >> 8), uint8_t(0x100 + i)};
    const std::vector<Bytes> expected{
        hex("5A B8 2E 7A 00 0C 01 00 50 FF 00 01"),
        hex("5A B8 2E 7A 00 0C 01 01 47 FF 00 01"),
        hex("5A B8 2E 7A 00 0C 01 02 47 FF 00 02"),
        hex("5A B8 2E 7A 00 0C 01 03 47 FF 00 03"),
        hex("5A B8 2E 7A 00 18 01 04 53 FF 00 04" + macHex + "09 03 01 01 02 FE"),
        wideRequest, // 300 elements: count 44, width 2, all 600 bytes
        hex("5A B8 2E 7A 00 12 01 06 47 FF 00 05" + macHex),
        hex("5A B8 2E 7A 00 16 01 07 53 FF 00 05" + macHex + "01 02 03 04"),
        hex("5A B8 2E 7A 00 12 01 08 47 FF 00 06" + macHex),
        hex("5A B8 2E 7A 00 14 01 09 53 FF 00 06" + macHex + "0A 0B"),
        hex("5A B8 2E 7A 00 16 01 0A 53 FF 00 07" + macHex + "C4 71 2E 5D"),
        hex("5A B8 2E 7A 00 12 01 0B 47 FF 00 08" + macHex),
    };
    const auto got = fake.requests();
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(hexOf(got[i].raw), hexOf(expected[i])) << "request " << i;
}

TEST(RevNetToolClient, SequenceNumbersWrapAndAFailedRequestUsesItsNumber)
{
    // The fourth reply echoes the wrong number.
    int n = 0;
    FakeReceiver fake([&n](const Request& r) {
        Answer a{reply(r, 0)};
        if (n++ == 3)
            a.bytes[7] = uint8_t(r.header.sequence + 1);
        return a;
    });
    Client client("127.0.0.1", fake.port());
    for (int i = 0; i < 258; ++i)
        EXPECT_EQ(errorOf(client.Ping()), (i == 3 ? Error{5, 0, 0} : Error{})) << "ping " << i;
    const auto got = fake.requests();
    ASSERT_EQ(got.size(), 258u);
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].header.sequence, uint8_t(i));
}

TEST(RevNetToolClient, RefusesAPayloadTheLengthFieldCannotHoldAndSendsNothing)
{
    FakeReceiver fake(goodReceiver);
    Client client("127.0.0.1", fake.port());
    // 9 + 2 x 32758 bytes is two more than a message can carry.
    EXPECT_EQ(errorOf(client.SetPattern<uint16_t>(mac, 1, std::vector<endor::big<uint16_t>>(32758))),
              (Error{1, 0, 0}));
    EXPECT_EQ(errorOf(client.SetPattern<uint16_t>(mac, 1, std::vector<endor::big<uint16_t>>(32757))), Error{});
    EXPECT_EQ(errorOf(client.Ping()), Error{});
    const auto got = fake.requests();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].raw.size(), 65535u);
    EXPECT_EQ(uint16_t(got[0].header.length), 65535u);
    EXPECT_EQ(got[0].header.sequence, 1);
    EXPECT_EQ(got[1].header.sequence, 2);
}

TEST(RevNetToolClient, ReplyFaultsBecomeErrors)
{
    using Op = std::function<Error(Client&)>;
    const Op ping = [](Client& c) { return errorOf(c.Ping()); };
    const Op version = [](Client& c) { return errorOf(c.GetVersion()); };
    const Op systemTest = [](Client& c) { return errorOf(c.GetSystemTest(mac)); };
    // Byte offsets in a reply: 0 magic, 6 version, 7 sequence, 8 command, 11 parameter.
    auto patched = [](uint8_t status, Bytes payload, size_t at, uint8_t value) {
        return [=](const Request& r) {
            Answer a{reply(r, status, payload)};
            a.bytes[at] = value;
            return a;
        };
    };
    auto plain = [](uint8_t status, Bytes payload) {
        return [=](const Request& r) { return Answer{reply(r, status, payload)}; };
    };
    struct Row {
        const char* name;
        Op op;
        FakeReceiver::Script answer;
        Error expected;
    };
    const std::vector<Row> rows{
        {"magic is checked before the payload is read and before the version", version, [](const Request& r) {
             Answer a{reply(r, 0, hex("00 00 00 01")), true};
             a.bytes.resize(12);
             a.bytes[0] = 0x5B;
             a.bytes[6] = 2;
             return a;
         }, {3, 0, 0}},
        {"version before the status", version, patched(254, {}, 6, 2), {4, 0, 0}},
        {"sequence plus one", ping, patched(0, {}, 7, 1), {5, 0, 0}},
        {"another command", version, patched(0, hex("00 00 00 01"), 8, 'S'), {6, 0, 0}},
        {"another parameter", version, patched(0, hex("00 00 00 01"), 11, 2), {7, 0, 0}},
        {"status before the parameter", version, patched(7, hex("00 00 00 01"), 11, 2), {0, 7, 0}},
        {"status 254 without room for a code", version, plain(254, hex("00 00 01")), {0, 254, 0}},
        {"status 254 with a code", version, plain(254, hex("00 00 01 02 FF")), {0, 254, 258}},
        {"a value one byte short", version, plain(0, hex("00 00 01")), {8, 0, 0}},
        {"a value one byte long", version, plain(0, hex("00 00 00 01 02")), {9, 0, 0}},
        {"a ping answered with a payload", ping, plain(0, hex("00")), {9, 0, 0}},
        {"a system test without its status byte", systemTest, plain(0, {}), {8, 0, 0}},
        {"closed inside the header", ping, [](const Request& r) {
             Bytes b = reply(r, 0);
             b.resize(5);
             return Answer{b, true};
         }, {2, 0, 0}},
        {"closed inside the payload", version, [](const Request& r) {
             Bytes b = reply(r, 9, hex("00 00 00 00 00 00 00 00"));
             b.resize(15);
             return Answer{b, true};
         }, {2, 9, 0}},
    };
    for (const Row& row : rows) {
        FakeReceiver fake(row.answer);
        Client client("127.0.0.1", fake.port());
        EXPECT_EQ(row.op(client), row.expected) << row.name;
    }
}

TEST(RevNetToolClient, ConnectionFailureThrows)
{
    uint16_t closedPort;
    {
        FakeReceiver gone([](const Request& r) { return Answer{reply(r, 0)}; });
        closedPort = gone.port();
    }
    EXPECT_THROW(Client("127.0.0.1", closedPort), boost::system::system_error);
}

namespace {

Bytes announcement(uint8_t status, uint16_t parameter, uint16_t port, const std::string& name)
{
    Header h;
    h.length = 56;
    h.sequence = 0;
    h.command = Command::Announce;
    h.status = status;
    h.parameter = parameter;
    DiscoveryPayload p;
    p.address = {127, 0, 0, 2}; // where nothing listens: the sender is 127.0.0.1
    p.uptime = 123456;
    p.port = port;
    p.maxSize = 1400;
    std::memcpy(p.name.data(), name.data(), std::min(name.size(), p.name.size()));
    Bytes out(56);
    std::memcpy(out.data(), &h, 12);
    std::memcpy(out.data() + 12, &p, 44);
    return out;
}

} // namespace

TEST(RevNetToolClient, DiscoveryConnectsToTheAnnouncingSender)
{
    const std::string longName(32, 'n');
    struct Row {
        const char* name;
        std::function<Bytes(uint16_t tcpPort)> datagram;
        std::string out; // after the first line; "<port>" stands for the TCP port
        std::string err;
        bool connected;
    };
    const std::string found = "Discovery from 127.0.0.1: name tile-7, IPv4 address 127.0.0.2, port <port>, "
                              "uptime 123456 ms, maxSize 1400\n";
    const std::vector<Row> rows{
        {"announcement", [](uint16_t p) { return announcement(0, 0xBEEF, p, "tile-7"); }, found, "", true},
        {"name without NUL", [&](uint16_t p) { return announcement(0, 0xBEEF, p, longName + "xyz"); },
         "Discovery from 127.0.0.1: name " + longName +
             ", IPv4 address 127.0.0.2, port <port>, uptime 123456 ms, maxSize 1400\n",
         "", true},
        {"status set, any parameter", [](uint16_t p) { return announcement(1, 0x1234, p, "tile-7"); }, found, "",
         true},
        {"status clear, wrong parameter", [](uint16_t p) { return announcement(0, 0x1234, p, "tile-7"); }, "",
         "Error: parse status 7, response code 0\n", false},
        {"too short", [](uint16_t p) {
             Bytes b = announcement(0, 0xBEEF, p, "tile-7");
             b.resize(20);
             return b;
         }, "", "Discovery packet too short\n", false},
    };
    for (const Row& row : rows) {
        FakeReceiver fake(goodReceiver);
        const uint16_t udpPort = freeUdpPort();
        Announcer announcer(udpPort, row.datagram(fake.port()));
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        std::unique_ptr<Client> client = std::make_unique<Client>("", udpPort);
        const std::string err = testing::internal::GetCapturedStderr();
        const std::string out = testing::internal::GetCapturedStdout();

        std::string expectedOut = "Looking for RevnetTool server ...\n" + row.out;
        if (auto at = expectedOut.find("<port>"); at != std::string::npos)
            expectedOut.replace(at, 6, std::to_string(fake.port()));
        EXPECT_EQ(out, expectedOut) << row.name;
        EXPECT_EQ(err, row.err) << row.name;
        EXPECT_EQ(errorOf(client->Ping()), (row.connected ? Error{} : Error{1, 0, 0})) << row.name;
        client.reset();
        EXPECT_EQ(fake.requests().size(), row.connected ? 1u : 0u) << row.name;
    }
}
