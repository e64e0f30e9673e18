#pragma once

// Art-Net ArtDmx packets (DMX512 data over UDP) turned into bytes and back.
// Sending and receiving the datagrams is the caller's business.

#include "glowkit/endor.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ArtNet {

namespace Protocol {
inline constexpr uint16_t OpDmx = 0x5000;
inline constexpr uint16_t Version = 14;
namespace Header {
// "Art-Net" and its terminating NUL.
inline constexpr std::array<uint8_t, 8> Id{'A', 'r', 't', '-', 'N', 'e', 't', '\0'};
} // namespace Header
} // namespace Protocol

class ArtDmx {
public:
#pragma pack(push, 1)
    // The packet's first 16 bytes exactly as they stand on the wire.
    struct Head {
        std::array<uint8_t, 8> id = Protocol::Header::Id;
        endor::little<uint16_t> opCode = Protocol::OpDmx;
        endor::big<uint16_t> protVer = Protocol::Version;
        uint8_t sequence = 0;
        uint8_t physical = 0;
        uint8_t subUni = 0;
        uint8_t net = 0;
    };
#pragma pack(pop)
    static_assert(sizeof(Head) == 16);

    // Bytes in front of the data.
    static constexpr size_t HeaderSize = sizeof(Head) + 2;
    // Most data bytes the length field can say.
    static constexpr size_t MaxData = 0xFFFF;

    // A packet from received bytes. The first 16 bytes are taken as they
    // stand (ID, OpCode and version are not checked); the data are the Length
    // bytes after the header and anything beyond them is ignored. Throws
    // std::bad_array_new_length when the bytes are shorter than the header or
    // than the header and the data it announces.
    explicit ArtDmx(const std::vector<uint8_t>& bytes);

    // The wire form. Fewer than two data bytes are padded to two with zeros
    // (the shortest length the protocol allows); longer data keep their
    // length, odd or even. Throws std::length_error for more data than the
    // length field can say.
    std::vector<uint8_t> encode() const;

    Head head;
    endor::big<uint16_t> length = 0; // as received
    std::vector<uint8_t> data;

private:
    friend class Decoder;
    ArtDmx() = default;
};

class Decoder {
public:
    enum Code : uint32_t {
        Dmx = 0,      // an ArtDmx packet, decoded
        NotArtNet = 1, // not Art-Net of protocol version 14, or malformed
        OtherOp = 2,   // Art-Net of another OpCode
    };

    struct Result {
        ArtDmx packet;       // meaningful only when code is Dmx
        uint32_t code = NotArtNet;
        size_t consumed = 0; // the whole input when code is Dmx, else 0
    };

    // Never throws for short or foreign input.
    static Result decode(const std::vector<uint8_t>& bytes);
};

} // namespace ArtNet
