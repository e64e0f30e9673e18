// Pushing a data set to a stand-in receiver: the phases and their bytes, the
// chunks reassembled from their offsets, the CRC-32 checked with zlib, wrong
// push states, transaction errors and outcomes, refused streams.

#include "revnet_fake.h"

#include <zlib.h>

#include <random>
#include <sstream>

using namespace RevNetTool;
using namespace revnettest;

namespace {

const Mac mac{0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};
const std::string macHex = "02 00 5E 10 20 30";
constexpr auto type = PushDataSetRequest::Type{0x21};

PushDataSetRequest phaseOf(const Request& r)
{
    PushDataSetRequest p;
    EXPECT_GE(r.payload.size(), sizeof p);
    std::memcpy(&p, r.payload.data(), std::min(sizeof p, r.payload.size()));
    return p;
}

Bytes be32(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

// A receiver that takes every phase and reports success at the first poll,
// unless the test's override answers a request (numbered from 0) itself.
using Override = std::function<std::optional<Answer>(const Request&, size_t index)>;
FakeReceiver::Script pushReceiver(Override override = {})
{
    return [override, index = size_t(0)](const Request& r) mutable {
        const size_t i = index++;
        if (override)
            if (auto a = override(r, i))
                return *a;
        if (r.header.command == Command::Get)
            return Answer{reply(r, 0)};
        static const uint8_t states[] = {0, 1, 1, 2, 3};
        return Answer{reply(r, 0, {states[uint8_t(phaseOf(r).phase) % 5], 0})};
    };
}

Bytes randomBytes(size_t n)
{
    std::mt19937 gen{unsigned(n)};
    Bytes b(n);
    for (auto& x : b)
        x = uint8_t(gen());
    return b;
}

} // namespace

TEST(RevNetToolPushData, SendsAStreamInWholeChunksWithItsCrc)
{
    for (const size_t size : {size_t(0), size_t(1000), PushChunkSize, PushChunkSize + 1, 3 * PushChunkSize + 17}) {
        SCOPED_TRACE(size);
        const Bytes data = randomBytes(size);
        FakeReceiver fake(pushReceiver());
        {
            Client client("127.0.0.1", fake.port());
            std::istringstream in(std::string(data.begin(), data.end()));
            EXPECT_EQ(errorOf(client.PushData(mac, 0x42, type, in)), Error{});
        }
        const auto got = fake.requests();
        const size_t chunks = (size + PushChunkSize - 1) / PushChunkSize;
        ASSERT_EQ(got.size(), 3 + chunks + 1); // start, data, end, commit, poll
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i].header.sequence, i);

        EXPECT_EQ(hexOf(got[0].raw), hexOf(hex("5A B8 2E 7A 00 21 01 00 53 FF 00 09" + macHex +
                                               "21 01 00 00 00 42 00") + be32(uint32_t(size)) + be32(0)));
        Bytes reassembled(size);
        for (size_t i = 1; i <= chunks; ++i) {
            const PushDataSetRequest p = phaseOf(got[i]);
            EXPECT_EQ(got[i].raw.size(), 65535u);
            EXPECT_EQ(p.phase, PushDataSetRequest::Phase::Data);
            EXPECT_EQ(p.type, type);
            EXPECT_EQ(p.argument, 0x42);
            const size_t offset = (i - 1) * PushChunkSize;
            ASSERT_EQ(p.offset, offset);
            ASSERT_EQ(p.value, std::min(PushChunkSize, size - offset));
            std::copy_n(got[i].payload.begin() + sizeof p, size_t(p.value), reassembled.begin() + offset);
        }
        EXPECT_TRUE(reassembled == data);

        const uint32_t crc = uint32_t(crc32(0, data.data(), uInt(data.size())));
        EXPECT_EQ(hexOf(got[chunks + 1].payload),
                  hexOf(hex(macHex + "21 03 00 00 00 42 00") + be32(crc) + be32(0)));
        EXPECT_EQ(hexOf(got[chunks + 2].payload), hexOf(hex(macHex + "21 04 00 00 00 42 00") + be32(0) + be32(0)));
        EXPECT_EQ(hexOf(got[chunks + 3].raw), hexOf(hex("5A B8 2E 7A 00 13 01") + Bytes{uint8_t(chunks + 3)} +
                                                    hex("47 FF 00 09" + macHex + "00")));
    }
}

TEST(RevNetToolPushData, EndsAtAWrongStateAnErrorOrAFailedOutcome)
{
    // Two chunks: requests 0 start, 1 and 2 data, 3 end, 4 commit, 5 and later polls.
    auto at = [](size_t which, std::function<Answer(const Request&)> answer) -> Override {
        return [=](const Request& r, size_t i) -> std::optional<Answer> {
            return i == which ? std::optional(answer(r)) : std::nullopt;
        };
    };
    auto with = [](uint8_t status, Bytes payload) {
        return [=](const Request& r) { return Answer{reply(r, status, payload)}; };
    };
    struct Row {
        const char* name;
        Override override;
        Error expected;
        size_t sent;
    };
    const std::vector<Row> rows{
        {"start answered with state 0", at(0, with(0, {0, 0})), {6, 0, 0}, 1},
        {"first chunk answered with state 2", at(1, with(0, {2, 0})), {6, 0, 2}, 2},
        {"end state reply too long", at(3, with(0, {2, 0, 0})), {9, 0, 0}, 4},
        {"commit refused with a code", at(4, with(254, hex("00 00 00 09"))), {0, 254, 9}, 5},
        {"outcome 0", at(5, with(0, {0})), {}, 6},
        {"outcome 4", at(5, with(0, {4, 9})), {0, 0, 4}, 6},
        {"poll refused", at(5, with(3, {})), {0, 3, 0}, 6},
        {"busy, then done", at(5, with(StatusBusy, {})), {}, 7},
    };
    const Bytes data = randomBytes(PushChunkSize + 1);
    for (const Row& row : rows) {
        FakeReceiver fake(pushReceiver(row.override));
        {
            Client client("127.0.0.1", fake.port());
            std::istringstream in(std::string(data.begin(), data.end()));
            EXPECT_EQ(errorOf(client.PushData(mac, 0, type, in)), row.expected) << row.name;
        }
        EXPECT_EQ(fake.requests().size(), row.sent) << row.name;
    }
}

TEST(RevNetToolPushData, RefusesStreamsWithoutASizeThatFits)
{
    struct HugeBuf : std::streambuf { // 4 GiB of nothing
        off_type at = 0;
        pos_type seekoff(off_type off, std::ios::seekdir dir, std::ios::openmode) override
        {
            at = off + (dir == std::ios::end ? off_type(1) << 32 : dir == std::ios::cur ? at : 0);
            return pos_type(at);
        }
    } huge;
    struct PipeBuf : std::streambuf { // cannot seek
    } pipe;
    FakeReceiver fake(pushReceiver());
    {
        Client client("127.0.0.1", fake.port());
        for (std::streambuf* buf : {static_cast<std::streambuf*>(&huge), static_cast<std::streambuf*>(&pipe)}) {
            std::istream in(buf);
            EXPECT_EQ(errorOf(client.PushData(mac, 0, type, in)), (Error{1, 0, 0}));
        }
    }
    EXPECT_TRUE(fake.requests().empty());
}
