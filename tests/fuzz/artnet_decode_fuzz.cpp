// libFuzzer target: arbitrary bytes through the Art-Net decoder.
//
// A decoded ArtDmx must have used the whole input and must encode to bytes
// that decode again to the same packet; the packet constructor may refuse
// input only by its documented exception.

#include "glowkit/artnet.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> bytes(data, data + size);
    const ArtNet::Decoder::Result r = ArtNet::Decoder::decode(bytes);
    if (r.code > ArtNet::Decoder::OtherOp || (r.code != ArtNet::Decoder::Dmx && r.consumed != 0))
        std::abort();
    if (r.code == ArtNet::Decoder::Dmx) {
        if (r.consumed != size || r.packet.data.size() != size_t(r.packet.length))
            std::abort();
        const std::vector<uint8_t> again = r.packet.encode();
        const ArtNet::Decoder::Result r2 = ArtNet::Decoder::decode(again);
        if (r2.code != ArtNet::Decoder::Dmx || r2.packet.encode() != again)
            std::abort();
    }
    try {
        const ArtNet::ArtDmx p(bytes);
        (void)p.encode();
    } catch (const std::bad_array_new_length&) {
    }
    return 0;
}
