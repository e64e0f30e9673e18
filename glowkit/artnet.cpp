#include "glowkit/artnet.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace ArtNet {

ArtDmx::ArtDmx(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() < HeaderSize)
        throw std::bad_array_new_length();
    std::memcpy(&length, bytes.data() + sizeof(Head), sizeof length);
    if (bytes.size() < HeaderSize + length)
        throw std::bad_array_new_length();
    std::memcpy(&head, bytes.data(), sizeof head);
    data.assign(bytes.begin() + HeaderSize, bytes.begin() + HeaderSize + length);
}

std::vector<uint8_t> ArtDmx::encode() const
{
    // All the data go out, so a length that wrapped would make the receiver
    // take the wrong number of channels.
    if (data.size() > MaxData)
        throw std::length_error("ArtDmx: more data than the length field can say");
    const size_t sent = std::max<size_t>(data.size(), 2);
    std::vector<uint8_t> bytes(HeaderSize + sent, 0);
    std::memcpy(bytes.data(), &head, sizeof head);
    const endor::big<uint16_t> wireLength = uint16_t(sent);
    std::memcpy(bytes.data() + sizeof head, &wireLength, sizeof wireLength);
    std::copy(data.begin(), data.end(), bytes.begin() + HeaderSize);
    return bytes;
}

Decoder::Result Decoder::decode(const std::vector<uint8_t>& bytes)
{
    Result result;
    if (bytes.size() < 12 || !std::equal(Protocol::Header::Id.begin(), Protocol::Header::Id.end(), bytes.begin()) ||
        bytes[10] != 0 || bytes[11] != Protocol::Version)
        return result;
    const uint16_t opCode = uint16_t(bytes[8] | bytes[9] << 8);
    if (opCode != Protocol::OpDmx) {
        result.code = OtherOp;
        return result;
    }
    try {
        result.packet = ArtDmx(bytes);
    } catch (const std::bad_array_new_length&) {
        return result;
    }
    result.code = Dmx;
    result.consumed = bytes.size();
    return result;
}

} // namespace ArtNet
