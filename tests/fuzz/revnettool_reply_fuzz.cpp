// libFuzzer target: arbitrary bytes as a RevNetTool reply (a 12-byte header
// and its payload) through the client's checks and every value conversion,
// and as an announcement through the discovery printer.

#include "glowkit/revnettool.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

using namespace RevNetTool;

namespace {

template <class V>
void convert(const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> copy = payload;
    const Result<V> r = Client::ConvertFromPayload<V>(copy);
    if (const auto* e = std::get_if<Error>(&r))
        if (e->parseStatus != ParseStatus::PayloadShort && e->parseStatus != ParseStatus::PayloadLong)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < sizeof(Header))
        return 0;
    Header header;
    std::memcpy(&header, data, sizeof header);
    const std::vector<uint8_t> payload(data + sizeof header, data + size);

    const Command commands[] = {Command::Ping, Command::Get, Command::Set, Command::Announce};
    const ParameterID parameters[] = {ParameterID::Version, ParameterID::PushData, ParameterID::Announcement};
    for (Command c : commands)
        for (ParameterID p : parameters) {
            const Error e = Client::Validate(c, p, header.sequence, header, payload);
            if (e.parseStatus > ParseStatus::BadParameter || (e.parseStatus == 0 && e.responseStatus == 0 &&
                                                               e.responseCode != 0))
                std::abort();
        }

    convert<std::monostate>(payload);
    convert<endor::big<uint32_t>>(payload);
    convert<endor::big<uint16_t>>(payload);
    convert<std::string>(payload);
    convert<SystemTestStatus>(payload);
    convert<PushDataSetResponse>(payload);
    convert<std::optional<PushDataGetResponse>>(payload);

    if (payload.size() >= sizeof(DiscoveryPayload)) {
        DiscoveryPayload announced;
        std::memcpy(&announced, payload.data(), sizeof announced);
        std::ostringstream os;
        Client::PrintDiscovery(os, announced);
    }
    return 0;
}
